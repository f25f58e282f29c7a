#include "noderig.h"

#include "zormodcaninterface.h"

NodeRig::NodeRig()
{
    ZorModCanOpenGateway::registerCreator();
}

NodeRig::~NodeRig()
{
    // The module first: it stops its gateway, which works through the slave.
    if (m_module)
        m_module->stop();
    if (m_slave)
        m_slave->stop();
    delete m_module;
    delete m_slave;
}

bool NodeRig::setUpModule(ZorModule *module, const QString &type, const QString &propertiesXml)
{
    m_module = module;
    const QString inner = propertiesXml.isEmpty() ? QString()
                                                  : QStringLiteral("<properties>%1</properties>").arg(propertiesXml);
    model.setXml(TestDomModel::projectXml({{QStringLiteral("canusb"), QStringLiteral("CAN1")},
                                           {type, QStringLiteral("Node1"), QStringLiteral("node under test"), inner}}));
    if (!module->setupZorModule(model.moduleIndex(QStringLiteral("Node1")), &model))
        return false;
    connect(this, &NodeRig::toModule, module, &ZorModule::slaveIn);
    connect(module, &ZorModule::slaveOut, &fromModule, &GatewayRecorder::record, Qt::DirectConnection);
    connect(module, &ZorModule::masterOut, &toSlaves, &GatewayRecorder::record, Qt::DirectConnection);
    module->start();
    return true;
}

bool NodeRig::start(const QStringList &simArguments, ZorModule *module, const QString &type,
                    const QString &propertiesXml)
{
    if (!sim.start(simArguments))
        return false;
    auto *can = new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb"));
    m_slave = can;
    can->setProperty(QStringLiteral("Port"), sim.address(), false);
    can->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
    can->start();
    if (!setUpModule(module, type, propertiesXml) || !module->addSlave(can))
        return false;
    ZorModCanOpenGateway *g = gateway();
    if (!g)
        return false;
    g->setTiming(ZorModCanOpenGateway::LssSwitchWait, 50);
    g->setTiming(ZorModCanOpenGateway::ScanSettle, 300);
    g->setTiming(ZorModCanOpenGateway::ScanProbeWait, 500);
    return true;
}

bool NodeRig::startWithSlave(ZorModule *slave, ZorModule *module, const QString &type,
                             const QString &propertiesXml)
{
    m_slave = slave;
    slave->start();
    if (!setUpModule(module, type, propertiesXml))
        return false;
    module->connectSlave(slave);
    return true;
}

ZorModule *NodeRig::canInterface() const
{
    return m_slave;
}

ZorModCanOpenGateway *NodeRig::gateway() const
{
    return m_module && m_slave ? qobject_cast<ZorModCanOpenGateway *>(m_module->viaModuleFor(m_slave->label()))
                               : nullptr;
}

void NodeRig::send(const ZorMessage &message)
{
    emit toModule(message);
}

ZorMessage NodeRig::answerTo(const ZorMessage &request) const
{
    const QList<ZorMessage> all = fromModule.messages();
    for (const ZorMessage &m : all) {
        if (m == request && !m.isRequest())
            return m;
    }
    return ZorMessage(KM_UNDEFINED, KS_INFO);
}

ZorMessage NodeRig::waitForAnswer(const ZorMessage &request, int timeoutMs)
{
    ZorMessage answer(KM_UNDEFINED, KS_INFO);
    waitUntil([&] {
        answer = answerTo(request);
        return answer.msgType() != KM_UNDEFINED;
    }, timeoutMs);
    return answer;
}

ZorMessage NodeRig::request(const ZorMessage &message, int timeoutMs)
{
    send(message);
    return waitForAnswer(message, timeoutMs);
}

bool NodeRig::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    return GatewayRig::waitUntil(fromModule, condition, timeoutMs);
}

bool NodeRig::waitForStatus(int wanted, const QString &text, int timeoutMs)
{
    return waitUntil([&] { return status() == wanted && (text.isEmpty() || infoText() == text); }, timeoutMs);
}

int NodeRig::status() const
{
    const QList<ZorMessage> reports = fromModule.ofType(KM_STATUS);
    for (int i = reports.size() - 1; i >= 0; --i) {
        if (reports.at(i).msgState() == KS_INFO && reports.at(i).origin() == QLatin1String("Node1"))
            return reports.at(i).data().toInt();
    }
    return -1;
}

QString NodeRig::infoText() const
{
    const QStringList texts = infoTexts();
    return texts.isEmpty() ? QString() : texts.last();
}

QStringList NodeRig::infoTexts() const
{
    QStringList texts;
    for (const ZorMessage &m : fromModule.ofType(KM_INFOTEXT)) {
        if (m.msgState() == KS_INFO && m.origin() == QLatin1String("Node1"))
            texts << m.data().toString();
    }
    return texts;
}

QStringList NodeRig::sentDown(int type) const
{
    QStringList texts;
    for (const ZorMessage &m : toSlaves.ofType(type)) {
        if (m.isRequest())
            texts << m.data().toString();
    }
    return texts;
}
