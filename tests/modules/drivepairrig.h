// Two CiA 402 drives on the simulated bus (nodes 2 and 3 of the independent
// stack, "drive=1") with their drive modules "DriveA" and "DriveB", and the
// application module under test above them:
//
//   test (as master) -> module under test -> DriveA, DriveB (drive modules)
//   -> CANopen gateways -> CAN interface "CAN1" -> TCP -> simulated gateway
//
// The test thread plays the module host: it owns every module object, so the
// links' queued signals are delivered while the test waits (waitUntil).
// What the module under test sends up is in `fromModule`, what it sends to
// its slaves in `toDrives`; each drive's own reports go to `fromDrives` too.
#pragma once

#include "gatewayrig.h"
#include "simgateway.h"
#include "testdommodel.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>

class ZorModCanInterface;
class ZorModPosDrive;

class DrivePairRig : public QObject
{
    Q_OBJECT
public:
    DrivePairRig();
    ~DrivePairRig() override;

    // Starts the gateway, the CAN interface and both drives, and sets the
    // module up as element "Under" of that type with these properties (the
    // inner XML of "properties"), linked to both drives (and, with
    // linkInterface, to the CAN interface). The module is not started yet.
    bool start(ZorModule *module, const QString &type, const QString &propertiesXml = QString(),
               bool linkInterface = false);
    // Starts the module under test's thread.
    void startModule();

    void send(const ZorMessage &message);
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 20000);

    // Both drives started by the test itself and in status 1..999.
    bool startDrives();
    // "DRIVE <node> STATE" of the simulated drive as key=value pairs.
    QMap<QString, QString> driveState(int node);

    // The messages of that type the module under test sent to its slaves,
    // with the milliseconds since start() at which each was delivered.
    QList<QPair<qint64, ZorMessage>> sentToDrives(int type) const;

    ZorModule *module() const { return m_module; }
    ZorModule *drive(int i) const { return m_drives.value(i); }
    ZorModCanInterface *canInterface() const { return m_can; }

    SimGateway sim;
    TestDomModel model;
    GatewayRecorder fromModule;
    GatewayRecorder toDrives;
    GatewayRecorder fromDrives;

signals:
    void toModule(const ZorMessage &message);
    void toDrive(const ZorMessage &message);

private:
    ZorModCanInterface *m_can = nullptr;
    QList<ZorModule *> m_drives;
    ZorModule *m_module = nullptr;
    QElapsedTimer m_clock;
    mutable std::mutex m_timesMutex;
    QMap<int, qint64> m_sentAt;   // message id -> ms since start()
};
