#include "ubllibrary.h"

UblLibrary::UblLibrary(const QString &path)
    : m_library(path)
{
    if (!m_library.load()) {
        m_loadResult = 2;
        return;
    }
    m_loadResult = 1;
    bindEntryPoints();
    if (m_init)
        m_init();
}

void UblLibrary::bindEntryPoints()
{
    // In this order; the first one missing stops the binding.
    if (!(m_init = reinterpret_cast<VoidFn>(m_library.resolve("mcUblInit"))))
        return;
    if (!(m_shutdown = reinterpret_cast<VoidFn>(m_library.resolve("mcUblShutdown"))))
        return;
    if (!(m_connectAndProgram = reinterpret_cast<ConnectFn>(m_library.resolve("mcUblConnectAndProgram"))))
        return;
    if (!(m_disconnect = reinterpret_cast<VoidFn>(m_library.resolve("mcUblDisconnect"))))
        return;
    if (!(m_messagePump = reinterpret_cast<VoidFn>(m_library.resolve("mcUblMessagePump"))))
        return;
    if (!(m_getStatus = reinterpret_cast<StatusFn>(m_library.resolve("mcUblGetStatus"))))
        return;
    m_loadResult = 0;
}

UblLibrary::~UblLibrary()
{
    if (m_shutdown)
        m_shutdown();
    if (m_library.isLoaded())
        m_library.unload();
}

bool UblLibrary::connectAndProgram(const QByteArray &path, int vendorId, int productId)
{
    return m_connectAndProgram && m_connectAndProgram(path.constData(), vendorId, productId) != 0;
}

void UblLibrary::disconnect()
{
    if (m_disconnect)
        m_disconnect();
}

void UblLibrary::messagePump()
{
    if (m_messagePump)
        m_messagePump();
}

int UblLibrary::getStatus()
{
    return m_getStatus ? m_getStatus() : 0;
}
