// The chain the CANopen gateway works in, for tests on the wire:
//
//   requester module -> gateway (via module) -> CAN interface -> TCP ->
//   simulated gateway with CANopen nodes of an independent stack
//
// The requester is a plain module that registered the gateway for "canusb";
// linking it to the CAN interface makes the framework place a gateway
// between the two. The test thread plays the module host: module signals
// are delivered while the test waits (QTRY_*, waitFor...).
#pragma once

#include "simgateway.h"
#include "zormodcanopengateway.h"
#include "zormodule.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>

// What reaches the requester from its gateway.
class GatewayRecorder : public QObject
{
    Q_OBJECT
public:
    QList<ZorMessage> messages() const;
    QList<ZorMessage> ofType(int type) const;
    void clear();

signals:
    void recorded();

public slots:
    void record(const ZorMessage &message);

private:
    mutable std::mutex mutex;
    QList<ZorMessage> list;
};

class GatewayRig : public QObject
{
    Q_OBJECT
public:
    GatewayRig();
    ~GatewayRig() override;

    // Starts the simulated gateway with these arguments and builds the chain
    // with one requester ("Node1") on the CAN interface "CAN1". Protocol waits
    // of the gateway are made short.
    bool start(const QStringList &simArguments);
    // A further requester with its own gateway on the same CAN interface.
    ZorModCanOpenGateway *addRequester(const QString &label, GatewayRecorder *recorder);

    // Sends an interview from the requester and waits for its end (any state
    // but KS_WAITING); an invalid message (KM_UNDEFINED) after timeoutMs.
    ZorMessage interview(const QString &lines, int timeoutMs = 5000);
    ZorMessage interviewFrom(ZorModule *requester, GatewayRecorder &recorder, const QString &lines,
                             int timeoutMs = 5000);
    // Sends a message from the requester to its gateway.
    void send(const ZorMessage &message, ZorModule *from = nullptr);
    // Waits for a message of this type at the requester; KM_UNDEFINED when
    // none came within timeoutMs. Messages seen before `after` are skipped.
    ZorMessage waitFor(int type, int timeoutMs = 5000, int after = 0);
    // Runs the event loop until the condition holds (checked whenever a
    // message reaches the recorder, and every 10 ms) or timeoutMs passed.
    static bool waitUntil(GatewayRecorder &recorder, const std::function<bool()> &condition, int timeoutMs);

    // The frames the CAN interface put on the bus since the last mark, as
    // the simulated gateway logs them ("t62f823ff6000d0070000").
    QStringList sentFrames();
    void markBus() { busMark = sim.mark(); }

    SimGateway sim;
    GatewayRecorder fromGateway;
    // What the first gateway sends its CAN interface.
    GatewayRecorder toCanInterface;
    ZorModule *requester() const { return m_requester.get(); }
    ZorModule *canInterface() const { return m_can.get(); }
    ZorModCanOpenGateway *gateway() const { return m_gateway; }

private:
    struct ModuleDeleter { void operator()(ZorModule *m) const; };
    std::unique_ptr<ZorModule, ModuleDeleter> m_can;
    std::unique_ptr<ZorModule, ModuleDeleter> m_requester;
    QList<ZorModule *> extraRequesters;
    ZorModCanOpenGateway *m_gateway = nullptr;
    int busMark = 0;
    int canClient = -1;
};
