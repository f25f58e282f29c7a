// The chain a node module works in, for tests on the wire:
//
//   test (as master) -> node module -> gateway (via module) -> CAN interface
//   -> TCP -> simulated gateway with CANopen nodes of an independent stack
//
// The module under test (a node, drive or network manager module) is set up
// on the element "Node1" of a small project model, so that it has its label,
// type and stored properties as in a project, and linked to the CAN
// interface "CAN1" like the module host does; the framework puts the CANopen
// gateway between the two. The test thread plays the module host and the
// master: it sends requests to the module and records what the module sends
// up (fromModule) and down (toSlaves). Everything is delivered while the
// test waits (waitUntil, request, waitForStatus).
#pragma once

#include "gatewayrig.h"
#include "simgateway.h"
#include "testdommodel.h"

#include <QObject>
#include <QStringList>

class ZorModCanInterface;

class NodeRig : public QObject
{
    Q_OBJECT
public:
    NodeRig();
    ~NodeRig() override;

    // Starts the simulated gateway with these arguments and the chain below
    // the module, which the rig takes over. propertiesXml is the inner XML of
    // the module's "properties" element (<NodeId>5</NodeId>...).
    bool start(const QStringList &simArguments, ZorModule *module, const QString &type,
               const QString &propertiesXml = QString());
    // The same with the given module as the only slave instead of the CAN
    // interface (linked directly: a test double of the gateway).
    bool startWithSlave(ZorModule *slave, ZorModule *module, const QString &type,
                        const QString &propertiesXml = QString());

    // Sends a message to the module as its master does.
    void send(const ZorMessage &message);
    // Sends a request and waits for its answer (the same message in any
    // state but KS_REQUEST); KM_UNDEFINED after timeoutMs.
    ZorMessage request(const ZorMessage &message, int timeoutMs = 10000);
    // The answer to a request sent earlier, when it has come.
    ZorMessage answerTo(const ZorMessage &request) const;
    ZorMessage waitForAnswer(const ZorMessage &request, int timeoutMs = 10000);
    // Waits until the module's last reported status and text are these (an
    // empty text: any text).
    bool waitForStatus(int status, const QString &text = QString(), int timeoutMs = 10000);
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000);

    // What the module reported last (KM_STATUS, KM_INFOTEXT) and every text
    // in order.
    int status() const;
    QString infoText() const;
    QStringList infoTexts() const;
    // The data texts of the requests of that type the module sent down.
    QStringList sentDown(int type) const;

    ZorModule *module() const { return m_module; }
    ZorModule *canInterface() const;
    ZorModCanOpenGateway *gateway() const;

    SimGateway sim;
    TestDomModel model;
    GatewayRecorder fromModule;
    GatewayRecorder toSlaves;

signals:
    void toModule(const ZorMessage &message);

private:
    bool setUpModule(ZorModule *module, const QString &type, const QString &propertiesXml);

    ZorModule *m_module = nullptr;
    ZorModule *m_slave = nullptr;
};
