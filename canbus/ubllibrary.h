// Binding of the adapter maker's USB bootloader library, loaded by name at
// run time while ZorCanDriverBrenko updates the adapter's firmware.
//
// Construction loads the library and binds its six entry points in a fixed
// order; loadResult() tells how far it got: 0 all bound, 1 an entry point
// is missing (the ones found before it stay bound), 2 the library could not
// be loaded. Construction then calls mcUblInit when it is bound;
// destruction calls mcUblShutdown and unloads. Each wrapper calls its entry
// point when it is bound; unbound, connectAndProgram gives false, getStatus
// 0 and the others do nothing.
#pragma once

#include <QByteArray>
#include <QLibrary>
#include <QString>

class UblLibrary
{
public:
    // Bootloader statuses (getStatus) the driver acts on.
    enum Status {
        StatusStarted = 2,
        StatusErasing = 3,
        StatusProgramming = 4,
        StatusVerifying = 5,
        StatusStartingFirmware = 6,
        StatusError = 8,
    };

    // path: the library file, with or without its suffix.
    explicit UblLibrary(const QString &path);
    ~UblLibrary();
    UblLibrary(const UblLibrary &) = delete;
    UblLibrary &operator=(const UblLibrary &) = delete;

    int loadResult() const { return m_loadResult; }

    bool connectAndProgram(const QByteArray &path, int vendorId, int productId);
    void disconnect();
    void messagePump();
    int getStatus();

private:
    void bindEntryPoints();

    using VoidFn = void (*)();
    using ConnectFn = qint32 (*)(const char *, qint32, qint32);
    using StatusFn = qint32 (*)();

    QLibrary m_library;
    int m_loadResult = 2;
    VoidFn m_init = nullptr;
    VoidFn m_shutdown = nullptr;
    ConnectFn m_connectAndProgram = nullptr;
    VoidFn m_disconnect = nullptr;
    VoidFn m_messagePump = nullptr;
    StatusFn m_getStatus = nullptr;
};
