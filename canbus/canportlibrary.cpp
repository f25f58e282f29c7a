#include "canportlibrary.h"

#include <QCoreApplication>

CanPortLibrary::CanPortLibrary(const QString &path) : m_path(path.left(1023))
{
    m_bindState = bind();
}

CanPortLibrary::~CanPortLibrary()
{
    unload();
}

void CanPortLibrary::clearEntryPoints()
{
    m_init = nullptr;
    m_open = nullptr;
    m_close = nullptr;
    m_bitrateSet = nullptr;
    m_echo = nullptr;
    m_busOn = nullptr;
    m_busOff = nullptr;
    m_write = nullptr;
    m_read = nullptr;
}

namespace {
template <typename Fn>
bool resolve(QLibrary &library, const char *name, Fn &target)
{
    target = reinterpret_cast<Fn>(library.resolve(name));
    return target != nullptr;
}
}

int CanPortLibrary::bind()
{
    clearEntryPoints();
    m_loadError.clear();
    if (m_library.isLoaded())
        m_library.unload();
    // Default load hints: symbols stay local to this library.
    m_library.setFileName(m_path);
    if (!m_library.load()) {
        m_loadError = m_library.errorString();
        return NotLoaded;
    }
    const bool all = resolve(m_library, "canPortLibraryInit", m_init)
                     && resolve(m_library, "canPortOpen", m_open)
                     && resolve(m_library, "canPortClose", m_close)
                     && resolve(m_library, "canPortBitrateSet", m_bitrateSet)
                     && resolve(m_library, "canPortEcho", m_echo)
                     && resolve(m_library, "canPortGoBusOn", m_busOn)
                     && resolve(m_library, "canPortGoBusOff", m_busOff)
                     && resolve(m_library, "canPortWrite", m_write)
                     && resolve(m_library, "canPortRead", m_read);
    if (!all) {
        m_loadError = m_library.errorString();
        return ExportMissing;
    }
    return Bound;
}

int CanPortLibrary::canPortLibraryInit()
{
    return m_init ? m_init() : BUSLINK_NOT_IMPLEMENTED;
}

int CanPortLibrary::canPortOpen(int channel, int *port)
{
    return m_open ? m_open(channel, port) : BUSLINK_NOT_IMPLEMENTED;
}

int CanPortLibrary::canPortClose(int port)
{
    return m_close ? m_close(port) : BUSLINK_NOT_IMPLEMENTED;
}

int CanPortLibrary::canPortBitrateSet(int port, int bitRate)
{
    return m_bitrateSet ? m_bitrateSet(port, bitRate) : BUSLINK_NOT_IMPLEMENTED;
}

int CanPortLibrary::canPortGoBusOn(int port)
{
    return m_busOn ? m_busOn(port) : BUSLINK_NOT_IMPLEMENTED;
}

int CanPortLibrary::canPortGoBusOff(int port)
{
    return m_busOff ? m_busOff(port) : BUSLINK_NOT_IMPLEMENTED;
}

int CanPortLibrary::canPortWrite(int port, int id, const quint8 *data, int length, int flags)
{
    return m_write ? m_write(port, id, data, length, flags) : BUSLINK_NOT_IMPLEMENTED;
}

int CanPortLibrary::canPortRead(int port, int *id, quint8 *data, int *length, int *flags)
{
    return m_read ? m_read(port, id, data, length, flags) : BUSLINK_NOT_IMPLEMENTED;
}

void CanPortLibrary::unload()
{
    clearEntryPoints();
    if (m_library.isLoaded())
        m_library.unload();
}

QString CanPortLibrary::canPortErrorText(int code)
{
    // Codes of the CANopen layer that older plug-ins shared the table with.
    static const struct {
        int code;
        const char *text;
    } canopenCodes[] = {
        {-1, "Argument error."},
        {-2, "Unexpected SCS."},
        {-3, "Unexpected CCS."},
        {-4, "Timeout occurred."},
        {-5, "Message not processed."},
        {-6, "Toggle error."},
        {-7, "Buffer too small."},
        {-8, "Object mismatch."},
        {-9, "Application buffer is out of range."},
        {-10, "Remote node abort."},
        {-11, "Out of memory."},
        {-12, "Application-defined error occurred."},
        {-13, "Command spec unknown or invalid."},
        {-14, "Internal state error."},
        {-15, "Node ID out of range."},
        {-18, "EDS/DCF file not found."},
    };
    for (const auto &c : canopenCodes) {
        if (c.code == code)
            return QString::fromLatin1(c.text);
    }
    return QString::fromLatin1(buslinkResultText(code));
}

QString CanPortLibrary::fileNameForKey(const QString &key)
{
#if defined(Q_OS_WIN)
    static const QString suffix = QStringLiteral(".dll");
#else
    static const QString suffix = QStringLiteral(".so");
#endif
    return QStringLiteral("buslink_hw_") + key + suffix;
}
