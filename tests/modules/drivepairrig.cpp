#include "drivepairrig.h"

#include "zormodcaninterface.h"
#include "zormodposdrive.h"

#include <QTest>

DrivePairRig::DrivePairRig()
{
    ZorModCanOpenGateway::registerCreator();
}

DrivePairRig::~DrivePairRig()
{
    // Masters first: each stops what it drives before its slaves go.
    if (m_module)
        m_module->stop();
    for (ZorModule *d : qAsConst(m_drives))
        d->stop();
    if (m_can)
        m_can->stop();
    delete m_module;
    qDeleteAll(m_drives);
    delete m_can;
}

bool DrivePairRig::start(ZorModule *module, const QString &type, const QString &propertiesXml, bool linkInterface)
{
    m_module = module;
    m_clock.start();
    if (!sim.start({QStringLiteral("--node"), QStringLiteral("2 drive=1"), QStringLiteral("--node"),
                    QStringLiteral("3 drive=1")}))
        return false;
    const QString inner = propertiesXml.isEmpty() ? QString()
                                                  : QStringLiteral("<properties>%1</properties>").arg(propertiesXml);
    model.setXml(TestDomModel::projectXml(
        {{QStringLiteral("canusb"), QStringLiteral("CAN1")},
         {QStringLiteral("drive_canopen"), QStringLiteral("DriveA"), QStringLiteral("drive on node 2"),
          QStringLiteral("<properties><NodeId>2</NodeId></properties>")},
         {QStringLiteral("drive_canopen"), QStringLiteral("DriveB"), QStringLiteral("drive on node 3"),
          QStringLiteral("<properties><NodeId>3</NodeId></properties>")},
         {type, QStringLiteral("Under"), QStringLiteral("module under test"), inner}}));

    m_can = new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb"));
    m_can->setProperty(QStringLiteral("Port"), sim.address(), false);
    m_can->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
    m_can->start();
    for (const QString &label : {QStringLiteral("DriveA"), QStringLiteral("DriveB")}) {
        auto *drive = new ZorModPosDrive;
        drive->setTiming(ZorModNode::ResultHold, 600);
        m_drives << drive;
        if (!drive->setupZorModule(model.moduleIndex(label), &model) || !drive->addSlave(m_can))
            return false;
        connect(this, &DrivePairRig::toDrive, drive, &ZorModule::slaveIn);
        connect(drive, &ZorModule::slaveOut, &fromDrives, &GatewayRecorder::record, Qt::DirectConnection);
        drive->start();
    }
    if (!module->setupZorModule(model.moduleIndex(QStringLiteral("Under")), &model))
        return false;
    for (ZorModule *d : qAsConst(m_drives))
        module->addSlave(d);
    if (linkInterface)
        module->addSlave(m_can);
    connect(this, &DrivePairRig::toModule, module, &ZorModule::slaveIn);
    connect(module, &ZorModule::slaveOut, &fromModule, &GatewayRecorder::record, Qt::DirectConnection);
    connect(module, &ZorModule::masterOut, this, [this](const ZorMessage &m) {
        std::lock_guard<std::mutex> lock(m_timesMutex);
        m_sentAt.insert(m.msgId(), m_clock.elapsed());
    }, Qt::DirectConnection);
    connect(module, &ZorModule::masterOut, &toDrives, &GatewayRecorder::record, Qt::DirectConnection);
    return true;
}

void DrivePairRig::startModule()
{
    m_module->start();
}

void DrivePairRig::send(const ZorMessage &message)
{
    emit toModule(message);
}

bool DrivePairRig::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool DrivePairRig::startDrives()
{
    const ZorMessage start(KM_DRIVE_START, KS_REQUEST);
    emit toDrive(start);
    return waitUntil([&] {
        int answered = 0;
        for (const ZorMessage &m : fromDrives.messages())
            answered += m == start && m.msgState() == KS_ANSWER;
        return answered == m_drives.size();
    }, 30000);
}

QMap<QString, QString> DrivePairRig::driveState(int node)
{
    QMap<QString, QString> values;
    for (const QString &pair : sim.query(QStringLiteral("DRIVE %1 STATE").arg(node)).split(QLatin1Char(' '))) {
        const int eq = pair.indexOf(QLatin1Char('='));
        if (eq > 0)
            values.insert(pair.left(eq), pair.mid(eq + 1));
    }
    return values;
}

QList<QPair<qint64, ZorMessage>> DrivePairRig::sentToDrives(int type) const
{
    QList<QPair<qint64, ZorMessage>> list;
    std::lock_guard<std::mutex> lock(m_timesMutex);
    for (const ZorMessage &m : toDrives.ofType(type))
        list.append({m_sentAt.value(m.msgId()), m});
    return list;
}
