// Binding of the IXXAT VCI library ("vcinpl"), loaded by name at run time
// for ZorCanDriverIxxat: from the platform folder beside the executable
// when it is there, else through the system's library search.
//
// The 25 entry points are bound in a fixed order; loadResult() tells how far
// it got: 0 all bound, 1 an entry point is missing (those after it stay
// unbound), 2 the library could not be loaded. Each wrapper returns the
// library's result, or 0xE0010002 ("Not implemented.") when its entry point
// is unbound. Destruction unloads the library.
#pragma once

#include "vcinpl.h"

#include <QLibrary>
#include <QString>

class VciLibrary
{
public:
    static constexpr quint32 NotImplemented = 0xE0010002u;

    // fileName: the library, by default "vcinpl".
    explicit VciLibrary(const QString &fileName = QString());
    ~VciLibrary();
    VciLibrary(const VciLibrary &) = delete;
    VciLibrary &operator=(const VciLibrary &) = delete;

    int loadResult() const { return m_loadResult; }
    // The library's file when it was loaded.
    QString fileName() const { return m_library.fileName(); }

    quint32 vciInitialize();
    quint32 vciFormatError(quint32 code, char *text256);
    quint32 vciGetVersion(quint32 &major, quint32 &minor);
    quint32 vciEnumDeviceOpen(VCI_HANDLE &enumeration);
    quint32 vciEnumDeviceNext(VCI_HANDLE enumeration, VciDeviceInfo &info);
    quint32 vciEnumDeviceClose(VCI_HANDLE enumeration);
    quint32 vciDeviceOpen(quint64 objectId, VCI_HANDLE &device);
    quint32 vciDeviceClose(VCI_HANDLE device);
    quint32 canControlOpen(VCI_HANDLE device, quint32 line, VCI_HANDLE &control);
    quint32 canControlClose(VCI_HANDLE control);
    quint32 canControlGetCaps(VCI_HANDLE control, VciCanCaps &caps);
    quint32 canControlInitialize(VCI_HANDLE control, quint8 mode, quint8 btr0, quint8 btr1);
    quint32 canControlReset(VCI_HANDLE control);
    quint32 canControlStart(VCI_HANDLE control, bool start);
    quint32 canChannelOpen(VCI_HANDLE device, quint32 line, bool exclusive, VCI_HANDLE &channel);
    quint32 canChannelClose(VCI_HANDLE channel);
    quint32 canChannelInitialize(VCI_HANDLE channel, quint16 rxSize, quint16 rxThreshold,
                                 quint16 txSize, quint16 txThreshold);
    quint32 canChannelActivate(VCI_HANDLE channel, bool activate);
    quint32 canChannelPeekMessage(VCI_HANDLE channel, VciCanMessage &message);
    quint32 canChannelWaitRxEvent(VCI_HANDLE channel, quint32 timeoutMs);
    quint32 canChannelSendMessage(VCI_HANDLE channel, quint32 timeoutMs, const VciCanMessage &message);

private:
    QLibrary m_library;
    int m_loadResult = 2;
    struct EntryPoints;
    EntryPoints *m_fn;
};
