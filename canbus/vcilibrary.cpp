#include "vcilibrary.h"

#include <QCoreApplication>
#include <QFileInfo>

struct VciLibrary::EntryPoints
{
    vciInitializeFn vciInitialize = nullptr;
    vciFormatErrorFn vciFormatError = nullptr;
    vciGetVersionFn vciGetVersion = nullptr;
    vciEnumDeviceOpenFn vciEnumDeviceOpen = nullptr;
    vciEnumDeviceNextFn vciEnumDeviceNext = nullptr;
    vciEnumDeviceCloseFn vciEnumDeviceClose = nullptr;
    vciEnumDeviceResetFn vciEnumDeviceReset = nullptr;
    vciDeviceOpenFn vciDeviceOpen = nullptr;
    vciDeviceCloseFn vciDeviceClose = nullptr;
    canControlOpenFn canControlOpen = nullptr;
    canControlCloseFn canControlClose = nullptr;
    canControlGetCapsFn canControlGetCaps = nullptr;
    canControlInitializeFn canControlInitialize = nullptr;
    canControlResetFn canControlReset = nullptr;
    canControlStartFn canControlStart = nullptr;
    canChannelOpenFn canChannelOpen = nullptr;
    canChannelCloseFn canChannelClose = nullptr;
    canChannelInitializeFn canChannelInitialize = nullptr;
    canChannelActivateFn canChannelActivate = nullptr;
    canChannelPeekMessageFn canChannelPeekMessage = nullptr;
    canChannelPostMessageFn canChannelPostMessage = nullptr;
    canChannelWaitRxEventFn canChannelWaitRxEvent = nullptr;
    canChannelWaitTxEventFn canChannelWaitTxEvent = nullptr;
    canChannelReadMessageFn canChannelReadMessage = nullptr;
    canChannelSendMessageFn canChannelSendMessage = nullptr;
};

namespace {

QString defaultLibrary()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/platform/libvcinpl.so");
    return QFileInfo::exists(beside) ? beside : QStringLiteral("vcinpl");
}

template <typename Fn>
bool bind(QLibrary &library, const char *name, Fn &fn)
{
    fn = reinterpret_cast<Fn>(library.resolve(name));
    return fn != nullptr;
}

} // namespace

VciLibrary::VciLibrary(const QString &fileName)
    : m_library(fileName.isEmpty() ? defaultLibrary() : fileName), m_fn(new EntryPoints)
{
    if (!m_library.load())
        return;
    m_loadResult = 1;
    EntryPoints &f = *m_fn;
    // In this order; the first one missing stops the binding.
    if (bind(m_library, "vciInitialize", f.vciInitialize)
        && bind(m_library, "vciFormatError", f.vciFormatError)
        && bind(m_library, "vciGetVersion", f.vciGetVersion)
        && bind(m_library, "vciEnumDeviceOpen", f.vciEnumDeviceOpen)
        && bind(m_library, "vciEnumDeviceNext", f.vciEnumDeviceNext)
        && bind(m_library, "vciEnumDeviceClose", f.vciEnumDeviceClose)
        && bind(m_library, "vciEnumDeviceReset", f.vciEnumDeviceReset)
        && bind(m_library, "vciDeviceOpen", f.vciDeviceOpen)
        && bind(m_library, "vciDeviceClose", f.vciDeviceClose)
        && bind(m_library, "canControlOpen", f.canControlOpen)
        && bind(m_library, "canControlClose", f.canControlClose)
        && bind(m_library, "canControlGetCaps", f.canControlGetCaps)
        && bind(m_library, "canControlInitialize", f.canControlInitialize)
        && bind(m_library, "canControlReset", f.canControlReset)
        && bind(m_library, "canControlStart", f.canControlStart)
        && bind(m_library, "canChannelOpen", f.canChannelOpen)
        && bind(m_library, "canChannelClose", f.canChannelClose)
        && bind(m_library, "canChannelInitialize", f.canChannelInitialize)
        && bind(m_library, "canChannelActivate", f.canChannelActivate)
        && bind(m_library, "canChannelPeekMessage", f.canChannelPeekMessage)
        && bind(m_library, "canChannelPostMessage", f.canChannelPostMessage)
        && bind(m_library, "canChannelWaitRxEvent", f.canChannelWaitRxEvent)
        && bind(m_library, "canChannelWaitTxEvent", f.canChannelWaitTxEvent)
        && bind(m_library, "canChannelReadMessage", f.canChannelReadMessage)
        && bind(m_library, "canChannelSendMessage", f.canChannelSendMessage)) {
        m_loadResult = 0;
    }
}

VciLibrary::~VciLibrary()
{
    if (m_library.isLoaded())
        m_library.unload();
    delete m_fn;
}

#define VCI_CALL(name, ...) (m_fn->name ? m_fn->name(__VA_ARGS__) : NotImplemented)

quint32 VciLibrary::vciInitialize() { return VCI_CALL(vciInitialize); }
quint32 VciLibrary::vciFormatError(quint32 code, char *text256) { return VCI_CALL(vciFormatError, code, text256); }
quint32 VciLibrary::vciGetVersion(quint32 &major, quint32 &minor) { return VCI_CALL(vciGetVersion, &major, &minor); }
quint32 VciLibrary::vciEnumDeviceOpen(VCI_HANDLE &enumeration) { return VCI_CALL(vciEnumDeviceOpen, &enumeration); }
quint32 VciLibrary::vciEnumDeviceNext(VCI_HANDLE enumeration, VciDeviceInfo &info)
{
    return VCI_CALL(vciEnumDeviceNext, enumeration, &info);
}
quint32 VciLibrary::vciEnumDeviceClose(VCI_HANDLE enumeration) { return VCI_CALL(vciEnumDeviceClose, enumeration); }
quint32 VciLibrary::vciDeviceOpen(quint64 objectId, VCI_HANDLE &device) { return VCI_CALL(vciDeviceOpen, objectId, &device); }
quint32 VciLibrary::vciDeviceClose(VCI_HANDLE device) { return VCI_CALL(vciDeviceClose, device); }
quint32 VciLibrary::canControlOpen(VCI_HANDLE device, quint32 line, VCI_HANDLE &control)
{
    return VCI_CALL(canControlOpen, device, line, &control);
}
quint32 VciLibrary::canControlClose(VCI_HANDLE control) { return VCI_CALL(canControlClose, control); }
quint32 VciLibrary::canControlGetCaps(VCI_HANDLE control, VciCanCaps &caps) { return VCI_CALL(canControlGetCaps, control, &caps); }
quint32 VciLibrary::canControlInitialize(VCI_HANDLE control, quint8 mode, quint8 btr0, quint8 btr1)
{
    return VCI_CALL(canControlInitialize, control, mode, btr0, btr1);
}
quint32 VciLibrary::canControlReset(VCI_HANDLE control) { return VCI_CALL(canControlReset, control); }
quint32 VciLibrary::canControlStart(VCI_HANDLE control, bool start) { return VCI_CALL(canControlStart, control, start ? 1 : 0); }
quint32 VciLibrary::canChannelOpen(VCI_HANDLE device, quint32 line, bool exclusive, VCI_HANDLE &channel)
{
    return VCI_CALL(canChannelOpen, device, line, exclusive ? 1 : 0, &channel);
}
quint32 VciLibrary::canChannelClose(VCI_HANDLE channel) { return VCI_CALL(canChannelClose, channel); }
quint32 VciLibrary::canChannelInitialize(VCI_HANDLE channel, quint16 rxSize, quint16 rxThreshold, quint16 txSize,
                                         quint16 txThreshold)
{
    return VCI_CALL(canChannelInitialize, channel, rxSize, rxThreshold, txSize, txThreshold);
}
quint32 VciLibrary::canChannelActivate(VCI_HANDLE channel, bool activate)
{
    return VCI_CALL(canChannelActivate, channel, activate ? 1 : 0);
}
quint32 VciLibrary::canChannelPeekMessage(VCI_HANDLE channel, VciCanMessage &message)
{
    return VCI_CALL(canChannelPeekMessage, channel, &message);
}
quint32 VciLibrary::canChannelWaitRxEvent(VCI_HANDLE channel, quint32 timeoutMs)
{
    return VCI_CALL(canChannelWaitRxEvent, channel, timeoutMs);
}
quint32 VciLibrary::canChannelSendMessage(VCI_HANDLE channel, quint32 timeoutMs, const VciCanMessage &message)
{
    return VCI_CALL(canChannelSendMessage, channel, timeoutMs, &message);
}
