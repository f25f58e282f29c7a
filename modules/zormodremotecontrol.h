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
//   RemoteControlAllowControl requests that run scripts or programs, download
//                             to drives or reach the main window
//                             (KM_SCRIPT_CONTROL, KM_DRIVE_DOWNLOAD_START,
//                             KM_MASTER_OUT, KM_APPLICATION_CONTROL,
//                             KM_DIALOG) are refused from the network
//                             (KS_REJECT) unless this is "1"
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
    // Types of the requests that are refused from the network unless
    // "RemoteControlAllowControl" allows them.
    static bool isGuardedType(int msgType);

    static const QString ModeProperty;
    static const QString ConnectionProperty;
    static const QString FilterProperty;
    static const QString BindAddressProperty;
    static const QString SecretProperty;
    static const QString AllowControlProperty;

signals:
    void serverSignal(int command);

private:
    std::atomic<bool> m_clientMode{false};
    std::atomic<int> m_retryDelayMs{5000};
    ZorRcNetworking *m_networking;
};

// Creator for the project's module registry ("remotecontrol").
ZorModule *createRemoteControlModule(QObject *parent);
