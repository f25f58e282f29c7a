// Binder of one adapter plug-in: loads a buslink_hw_<key> library by path and
// binds its nine entry points (see plugins/common/buslinkplugin.h).
//
// The library is loaded through QLibrary with its default hints, that is
// with local symbol resolution: every plug-in exports the same nine names,
// and each one loaded this way keeps its own. Loading the same path twice in
// one process gives the same copy (the loader counts references), so two
// drivers of one adapter family share the plug-in's port table.
//
// File names: fileNameForKey gives "buslink_hw_<key>" with the platform's
// module suffix and no "lib" prefix (buslink_hw_kvaser.so here,
// buslink_hw_kvaser.dll on Windows); the plug-ins are built under that name
// into Drivers/buslink/ beside the executable.
#pragma once

#include "buslinkplugin.h"

#include <QLibrary>
#include <QString>

class CanPortLibrary
{
public:
    enum BindState { Bound = 0, ExportMissing = 1, NotLoaded = 2 };

    // Keeps the first 1023 characters of path, loads and binds.
    explicit CanPortLibrary(const QString &path);
    ~CanPortLibrary();
    CanPortLibrary(const CanPortLibrary &) = delete;
    CanPortLibrary &operator=(const CanPortLibrary &) = delete;

    // Loads the library and binds the nine entry points in order; stops at
    // the first missing one (those bound so far stay bound).
    int bind();
    int bindState() const { return m_bindState; }
    QString path() const { return m_path; }
    // The loader's message after a failed load or bind (for traces).
    QString loadError() const { return m_loadError; }

    // Forwarders: the entry point's result, or -110 when it is not bound.
    // canPortEcho is bound (a plug-in must export it) but never forwarded.
    int canPortLibraryInit();
    int canPortOpen(int channel, int *port);
    int canPortClose(int port);
    int canPortBitrateSet(int port, int bitRate);
    int canPortGoBusOn(int port);
    int canPortGoBusOff(int port);
    int canPortWrite(int port, int id, const quint8 *data, int length, int flags);
    int canPortRead(int port, int *id, quint8 *data, int *length, int *flags);

    // Frees the library (when loaded) and forgets the entry points.
    void unload();

    // Text of a plug-in result code; "Unknown error" for a code without one.
    static QString canPortErrorText(int code);
    // "buslink_hw_<key>" plus the platform's module suffix.
    static QString fileNameForKey(const QString &key);

private:
    void clearEntryPoints();

    QLibrary m_library;
    int m_bindState = NotLoaded;
    QString m_path;
    QString m_loadError;
    CanPortLibraryInitFn m_init = nullptr;
    CanPortOpenFn m_open = nullptr;
    CanPortCloseFn m_close = nullptr;
    CanPortBitrateSetFn m_bitrateSet = nullptr;
    CanPortEchoFn m_echo = nullptr;
    CanPortGoBusOnFn m_busOn = nullptr;
    CanPortGoBusOffFn m_busOff = nullptr;
    CanPortWriteFn m_write = nullptr;
    CanPortReadFn m_read = nullptr;
};
