// CAN over TCP: reaches a network CAN gateway, a TCP server speaking the
// ASCII adapter protocol (ZorAsciiAdapterProtocol) on a plain stream. Port
// text "ip:port", e.g. "192.168.1.20:5000".
//
// The driver has no thread: everything happens inside the calls of the CAN
// interface module, which polls takeRx every cycle. takeRx waits at most
// 10 ms for data, parses what arrived and sends the status poll "F\r" about
// every 500 ms. When the gateway drops the connection, takeRx returns false
// but the driver stays not failed and tries to reconnect about every 4 s
// (reconnectInterval), sending its opening lines again; frames then flow
// without a new open. The gateway echoes the frames it sends ("e" lines),
// which arrive flagged 0x80. When more frames arrived than one bank holds,
// takeRx hands over a full bank and keeps the rest for the next call, so
// reading again while count equals capacity loses nothing.
//
// Opening asks the gateway for time stamps ("Z1") when the time-stamp mode
// is on; a frame that arrives without one (mode 0, or a gateway that ignores
// "Z") is stamped with the milliseconds since open at reception, so every
// received frame carries a time. A failed connection names the socket's
// reason ("Network error: Connection refused"), or "connection closed by the
// gateway" when the gateway ended a connection it had taken; a connection
// lost while open is told as the status text for as long as it lasts.
#pragma once

#include "zorabstractcandriver.h"
#include "zorasciiadapterprotocol.h"
#include "zortxstampclock.h"

#include <QElapsedTimer>
#include <QString>

class QTcpSocket;

class ZorCanDriverTarnNet : public ZorAbstractCanDriver
{
public:
    static constexpr int Capacity = 512;

    // Status bits this driver sets (it writes no status text).
    enum : quint32 {
        StatusCommandError = 0x100, // the gateway sent BEL
        StatusConnectionLost = 0x400,
    };

    ZorCanDriverTarnNet();
    ~ZorCanDriverTarnNet() override;

    // Of the arguments only portText and bitRate are used. A bit rate the
    // adapter protocol cannot represent exactly fails the open.
    bool open(const QString &portText, int bitRate, int debugLevel, int reserved,
              int timestampMode) override;
    void close() override;
    bool takeRx(int &count) override;
    bool rxFrame(int index, QByteArray &record) override;
    bool queueTx(QByteArray &record) override;
    bool flushTx(bool fromModule) override;
    // Empty while the connection stands; while it is lost, why and that it
    // is tried again ("Connection lost, trying again every 4 s: Network
    // error: connection closed by the gateway (host:port)"); once after it
    // came back, "Connection restored (host:port)". No bits.
    bool statusText(QString &text, int &statusBits) override;
    // Empty while ok; "Network error: <the socket's reason> (host:port)",
    // "Network error" when no reason is known, or the bit-rate refusal.
    QString lastErrorText() override;
    bool echoesTx() override { return true; }
    bool notFailed() override { return m_ok || m_down; }
    bool isOpen() override { return m_opened; }
    bool failed() override { return !notFailed(); }
    int capacity() override { return Capacity; }

    // Pacing, in ms; tests make them short.
    void setReconnectInterval(int ms) { m_reconnectInterval = ms; }
    int reconnectInterval() const { return m_reconnectInterval; }
    void setConnectTimeout(int ms) { m_connectTimeout = ms; }
    int connectTimeout() const { return m_connectTimeout; }
    void setPollInterval(int ms) { m_pollInterval = ms; }
    int pollInterval() const { return m_pollInterval; }
    // takeRx waits for data in the thread's event dispatcher and stops
    // waiting as soon as this says true (the module's wake-up interrupts the
    // dispatcher), so that a module's new work is not held up.
    void setWaitInterrupt(const std::function<bool()> &interrupted) override { m_interrupted = interrupted; }

    // Connected and the opening lines went out.
    bool isConnected() const { return m_connected; }
    // The connection was lost and is being re-established.
    bool isReconnecting() const { return m_down; }

private:
    bool connectToGateway();
    void disconnectFromGateway(bool skipCloseCommand);
    void discardPending(int waitMs);
    void waitForData();
    void stampAtReception();
    QString networkErrorText(const QString &reason) const;
    QString lostConnectionReason() const;

    bool m_opened = false;
    QByteArray m_initCommands;
    QByteArray m_closeCommand;
    QByteArray m_pollCommand;
    ZorAsciiAdapterProtocol m_protocol;
    VSCAN_MSG m_rxBank[Capacity];
    VSCAN_MSG m_txStaging[Capacity];
    int m_rxCount = 0;
    int m_txCount = 0;
    quint32 m_statusFlags = 0;
    QElapsedTimer m_pollTimer;
    ZorTxStampClock m_txStamp;
    QTcpSocket *m_socket = nullptr;
    QElapsedTimer m_reconnectTimer;
    QString m_host;
    int m_port = 0;
    bool m_connected = false;
    bool m_down = false;
    bool m_ok = true;
    bool m_restored = false;   // reconnected; told once by statusText
    QString m_errorText;
    QElapsedTimer m_rxClock;   // since open: the stamp of frames the gateway did not stamp
    int m_timestampMode = 1;

    int m_reconnectInterval = 4000;
    int m_connectTimeout = 8000;
    int m_pollInterval = 500;
    std::function<bool()> m_interrupted;
};
