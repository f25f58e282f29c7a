// ZorModRemoteControl (type "remotecontrol"): lets programs on other
// computers talk to the modules of a project over TCP, in the modules' own
// messages (ZorMessage) written as text.
//
// Server mode ("RemoteControlConnection" "SERVER:<port>", ":<port>"): every
// message a client sends goes down to the slave modules; every message the
// slaves send up goes to all clients. Client mode ("<host>:<port>"): the
// module stands in for the module tree of another instance: requests from
// its master side go to that server, and what the server sends goes up.
//
// Received texts: "zorclient:" followed by text form 3 (id, origin,
// recipient, type, state, data; the answer carries the id back), anything
// else text form 1 (recipient, type, state, data). Sent texts: text form 4
// (origin or recipient, type, state, data), or "zorclient:" and form 3 in
// client mode and, in server mode, once any client has used that form. The
// framing is ZorRcNetworking's. KM_SNIFFER_SET, KM_SNIFFER_MSG and
// KM_APPLICATION_CONTROL never leave; "RemoteControlMsgFilter" holds wildcard
// patterns (comma-separated, any case) of texts that are not sent either.
//
// "RemoteControlMode" 1 switches networking on, 0 off. A socket error, a
// listen failure or a client connection not made within 10 s shows as status
// 1000 with an "error:" text; a new attempt follows 5 s later while the mode
// stays on.
//
// Reaching the project from the network is guarded:
//   RemoteControlBindAddress  the server listens on 127.0.0.1 unless this
//                             names another address ("any" or "0.0.0.0":
//                             every IPv4 interface)
//   RemoteControlSecret       when set, the first message of every
//                             connection must be this text
//   RemoteControlAllowControl a request from the network may read anything,
//                             but one that runs code, writes files or
//                             downloads (guardedRequests(): script and
//                             file-path properties, recording files, script
//                             control, downloads, messages for the main
//                             window) is refused (KS_REJECT, with the reason
//                             in the log) unless this is "1"
//   RemoteControlIdleTimeout  seconds after which a client that sent
//                             nothing is closed (default 300; 0: never)
//
// What the slaves report once a second (KS_INFO KM_STATUS) goes to the
// clients only when it changed; and at most a few hundred messages a second
// show in the log ("remoteIn:  ", "remoteOut: ", each cut to a readable
// length), the rest counted in one line a second.
// The states are in the namespace RemoteControl (zormodremotecontrolstates.h).
#pragma once

#include "zormodule.h"

#include <atomic>

class ZorRcNetworking;

class ZorModRemoteControl : public ZorModule
{
    Q_OBJECT
public:
    explicit ZorModRemoteControl(QObject *parent = nullptr);
    ~ZorModRemoteControl() override;

    QString acceptedSlaveTypes() const override;
    // In client mode everything from the master side goes to the states,
    // which forward it to the server.
    bool bypassInputFilter() const override;
    Macho::StateRef rootStateRef() const override;

    // --- used by the states, in the module thread
    ZorRcNetworking *networking() const { return m_networking; }
    void setClientMode(bool on) { m_clientMode = on; }
    void sendServerCommand(int command) { emit serverSignal(command); }
    // The wait in Error before a new attempt (5000 ms; any thread).
    int retryDelayMs() const { return m_retryDelayMs; }
    void setRetryDelayMs(int ms) { m_retryDelayMs = ms; }
    // The requests from the network that are refused unless
    // "RemoteControlAllowControl" allows them: the one list of them (the
    // help page shows it too). `applies` null: every request of the type.
    struct GuardedRequest
    {
        int msgType;
        const char *which;    // which of that type, as the help page says it
        const char *reason;   // why, for the log
        bool (*applies)(const ZorMessage &message);
    };
    static const QList<GuardedRequest> &guardedRequests();
    // Why a message from the network is refused unless allowed ("it would
    // run code"); empty when it is free to pass.
    static QString guardReason(const ZorMessage &message);

    static const QString ModeProperty;
    static const QString ConnectionProperty;
    static const QString FilterProperty;
    static const QString BindAddressProperty;
    static const QString SecretProperty;
    static const QString AllowControlProperty;
    static const QString IdleTimeoutProperty;

signals:
    void serverSignal(int command);

private:
    std::atomic<bool> m_clientMode{false};
    std::atomic<int> m_retryDelayMs{5000};
    ZorRcNetworking *m_networking;
};

// Creator for the project's module registry ("remotecontrol").
ZorModule *createRemoteControlModule(QObject *parent);
