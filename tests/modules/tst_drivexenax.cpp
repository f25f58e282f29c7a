// The Xenax linear-drive module against a scripted controller on loopback
// TCP: the initialisation script of each operation mode in order, jogging and
// position moves, the poll rhythm, controller errors and failing commands,
// the traffic log, shutting down, and the built-in simulator.
#include "moduletesting.h"
#include "rcclient.h"
#include "scriptedlinearcontroller.h"
#include "zormoddrivexenax.h"
#include "zortest.h"

using X = ZorModDriveXenax;

namespace {

const QString Poll[] = {QStringLiteral("TS"), QStringLiteral("TP")};

// The commands without the polls of status and position.
QStringList motionCommands(const QStringList &commands)
{
    QStringList kept;
    for (const QString &c : commands)
        if (c != Poll[0] && c != Poll[1])
            kept << c;
    return kept;
}

} // namespace

class TestDriveXenax : public QObject
{
    Q_OBJECT

    TestDomModel *model = nullptr;
    ZorModDriveXenax *drive = nullptr;
    ModulePtr owner;
    MasterRecorder master;

    void set(const QString &name, const QString &value) { drive->setProperty(name, value, false); }
    void start(const QString &endpoint, int mode)
    {
        set(X::CommChannel, endpoint);
        set(X::OperationMode, QString::number(mode));
        drive->start();
        requestTo(drive, KM_DRIVE_START);
    }
    bool waitForOperating()
    {
        return QTest::qWaitFor([this] { return master.infoTexts().join('|').contains("Operating"); },
                               20000);
    }
    // Sets a property as the panel does.
    void setByPanel(const QString &name, const QString &value)
    {
        requestTo(drive, KM_SETPROPERTY, X::propertyKey(name) + QLatin1Char('=') + value);
    }
    bool waitForPolls(ScriptedLinearController &controller, int count)
    {
        const int target = controller.commands().count(Poll[0]) + count;
        return QTest::qWaitFor([&] { return controller.commands().count(Poll[0]) >= target; }, 10000);
    }
    // The value of the module's last change notice of a property; with
    // `before`, the last one ahead of the last notice of that property.
    QString lastNotice(const QString &name, const QString &before = QString()) const
    {
        const QString key = X::propertyKey(name) + QLatin1Char('=');
        const QString stop = before.isEmpty() ? QString() : X::propertyKey(before) + QLatin1Char('=');
        QList<ZorMessage> notices;
        for (const ZorMessage &m : master.ofType(KM_SETPROPERTY))
            if (m.msgState() == KS_INFO)
                notices << m;
        int end = notices.size();
        if (!stop.isEmpty())
            while (end > 0 && !notices.at(end - 1).data().toString().startsWith(stop))
                --end;
        for (int i = end - (stop.isEmpty() ? 1 : 2); i >= 0; --i)
            if (notices.at(i).data().toString().startsWith(key))
                return notices.at(i).data().toString().mid(key.size());
        return QString();
    }
    QList<double> positions() const
    {
        QList<double> values;
        for (const ZorMessage &m : master.ofType(KM_GET_ACTUAL_POSITION))
            values << m.data().toDouble();
        return values;
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        model = new TestDomModel;
        model->addModule("drive_xenax", "X1");
        drive = new ZorModDriveXenax;
        owner.reset(drive);
        master.clear();
        QVERIFY(drive->setupZorModule(model->moduleIndex("X1"), model));
        master.attach(drive);
    }
    void cleanup()
    {
        owner.reset();
        delete model;
    }

    void initScriptRunsInOrder_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("modeText");
        QTest::addColumn<QStringList>("script");
        const QStringList homing = {"EVT1", "HORM", "EVT0", "TS", "SP10000", "AC100000"};
        QTest::newRow("standard") << 0 << "Init" << (QStringList{"", "MD0", "CCM0"} + homing);
        QTest::newRow("cogging compensation")
            << 1 << "Init CCM" << (QStringList{"", "MD0", "CCM0"} + homing + QStringList{"CCM1"});
        QTest::newRow("reference run")
            << 2 << "CCM Reference Run"
            << (QStringList{"", "MD0", "CCM0"} + homing
                + QStringList{"G-5000", "TS", "SP1000", "CRD25000", "TS", "CCM1"});
        QTest::newRow("step/direction")
            << 3 << "Init"
            << (QStringList{"", "MD0", "ICP1", "CCM0"} + homing + QStringList{"PQ", "MD2", "PWC"});
        QTest::newRow("no init") << 4 << "Skip Init" << QStringList();
    }
    void initScriptRunsInOrder()
    {
        QFETCH(int, mode);
        QFETCH(QString, modeText);
        QFETCH(QStringList, script);
        ScriptedLinearController controller;
        controller.setMoveDurationMs(0);
        set(X::TargetPositionMin, QStringLiteral("-5"));
        set(X::TargetPositionMax, QStringLiteral("20"));
        start(controller.endpoint(), mode);
        QVERIFY(waitForOperating());
        QVERIFY(master.infoTexts().contains(modeText));
        QVERIFY(waitForPolls(controller, 2));

        // In the modes with cogging compensation nothing moves.
        const bool ccm = mode == 1 || mode == 2;
        setByPanel(X::TargetPosition, QStringLiteral("5"));
        setByPanel(X::TargetVelocity, QStringLiteral("3"));
        QVERIFY(waitForPolls(controller, 3));
        const QStringList commands = controller.commands();
        QCOMPARE(commands.mid(0, script.size()), script);
        QCOMPARE(commands.at(script.size()), Poll[0]);
        const QStringList motion = motionCommands(commands.mid(script.size()));
        QCOMPARE(motion.isEmpty(), ccm);
        QTRY_COMPARE(master.lastInfoText(), ccm ? QStringLiteral("CCM On") : QStringLiteral("Moving"));
    }

    void jogsAndMoves()
    {
        ScriptedLinearController controller;
        controller.setMoveDurationMs(100);
        set(X::TargetPositionMin, QStringLiteral("-10"));
        start(controller.endpoint(), 4);
        QVERIFY(waitForOperating());
        QVERIFY(waitForPolls(controller, 1));

        struct Step { const char *velocity; QStringList sent; };
        const Step steps[] = {{"5", {"SM", "SP5000", "JP"}}, {"8", {"SP8000"}}, {"-2", {"SM", "SP2000", "JN"}},
                              {"0", {"SM"}}};
        for (const Step &step : steps) {
            controller.clearCommands();
            setByPanel(X::TargetVelocity, QString::fromLatin1(step.velocity));
            QVERIFY(waitForPolls(controller, 2));
            QCOMPARE(motionCommands(controller.commands()), step.sent);
        }
        // Ending the jog leaves the target where the slider was last seen.
        QCOMPARE(lastNotice(X::TargetPosition), lastNotice(X::ActualPosition, X::TargetPosition));

        controller.clearCommands();
        setByPanel(X::TargetPosition, QStringLiteral("12.5"));
        QTRY_COMPARE(motionCommands(controller.commands()), QStringList({"SP10000", "G12500"}));
        QTRY_COMPARE(drive->property(X::ActualPosition), QStringLiteral("12.5000"));

        // While the controller reports moving, a new target waits.
        controller.setForcedStatus(2);
        QVERIFY(waitForPolls(controller, 2));
        controller.clearCommands();
        requestTo(drive, KM_DRIVE_GO_TO_EXTENDED, QStringLiteral("-50"));
        QTRY_COMPARE(drive->property(X::TargetPosition), QStringLiteral("-10.0000"));
        QVERIFY(waitForPolls(controller, 3));
        QCOMPARE(motionCommands(controller.commands()), QStringList());
        // A negative target goes out as 0.
        controller.setForcedStatus(0);
        QTRY_COMPARE(motionCommands(controller.commands()), QStringList({"SP10000", "G0"}));
    }

    void pollsStatusThenPosition()
    {
        ScriptedLinearController controller;
        start(controller.endpoint(), 4);
        QVERIFY(waitForOperating());
        QVERIFY(waitForPolls(controller, 6));
        const QList<ScriptedLinearController::Command> log = controller.commandLog();
        QList<qint64> statusPolls;
        for (int i = 0; i + 1 < log.size(); ++i) {
            if (log.at(i).text != Poll[0])
                continue;
            QCOMPARE(log.at(i + 1).text, Poll[1]);
            statusPolls << log.at(i).atMs;
        }
        // One poll per 100 ms update interval. The times are those of arrival
        // at the controller, so one late arrival brings the next one closer:
        // the spacing is judged over all polls.
        QVERIFY(statusPolls.size() >= 5);
        const qint64 mean = (statusPolls.last() - statusPolls.first()) / (statusPolls.size() - 1);
        QVERIFY2(mean >= 90, qPrintable(QString::number(mean)));
        QVERIFY(!positions().isEmpty());
    }

    void controllerErrorsAndTheLog()
    {
        ScriptedLinearController controller;
        start(controller.endpoint(), 4);
        QVERIFY(waitForOperating());
        controller.setErrorNumber(42);
        controller.setForcedStatus(9);
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Xenax Error #42"));
        QCOMPARE(master.lastStatus(), 1000);

        setByPanel(X::ManualCommand, QStringLiteral("TE"));
        QTRY_COMPARE(drive->property(X::ManualCommandAnswer), QStringLiteral("TE[CR][LF]42[CR][LF]"));
        controller.setRefused(QStringLiteral("XX"));
        setByPanel(X::ManualCommand, QStringLiteral("XX"));
        QTRY_COMPARE(drive->property(X::ManualCommandAnswer), QStringLiteral("Error: Command not recognized"));
        QTRY_VERIFY(master.log().contains(QStringLiteral("RX: TE\r\n42\r\n>")));
        const QString log = master.log();
        QVERIFY(log.contains(QStringLiteral("TX: TE\r")));
        for (const char *poll : {"TX: TS", "RX: TS", "TX: TP", "RX: TP"})
            QVERIFY2(!log.contains(QLatin1String(poll)), poll);

        // Stopping quits the power and disconnects.
        controller.clearCommands();
        requestTo(drive, KM_DRIVE_STOP);
        QTRY_COMPARE(master.lastStatus(), 0);
        QStringList sent = motionCommands(controller.commands());
        sent.removeAll(QStringLiteral("TE"));
        QCOMPARE(sent, QStringList({"PQ", "MD0"}));
        const QStringList texts = master.infoTexts();
        QCOMPARE(texts.mid(texts.size() - 3), QStringList({"Power Quit", "Disconnecting", "Idle"}));
    }

    void failingCommandsEndInError_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("text");
        QTest::newRow("silent controller") << true << "Error: Timeout";
        QTest::newRow("unknown command") << false << "Error: Command not recognized";
    }
    void failingCommandsEndInError()
    {
        QFETCH(bool, silent);
        QFETCH(QString, text);
        ScriptedLinearController controller;
        if (silent)
            controller.setSilent(QStringLiteral("MD0"));
        else
            controller.setRefused(QStringLiteral("MD0"));
        start(controller.endpoint(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(master.lastStatus(), 2000, 15000);
        QTRY_COMPARE(master.lastInfoText(), text);
        QVERIFY(!controller.commands().contains(QStringLiteral("CCM0")));

        // From Error, start tries again and stop goes to Idle.
        controller.setSilent(QStringLiteral("MD0"), false);
        controller.setRefused(QStringLiteral("MD0"), false);
        requestTo(drive, KM_DRIVE_START);
        QVERIFY(waitForOperating());
        requestTo(drive, KM_STOP);
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Idle"));
    }

    void refusedConnection()
    {
        const QString closed = QStringLiteral("127.0.0.1:%1").arg(RcClient::freePort());
        start(closed, 0);
        QTRY_COMPARE_WITH_TIMEOUT(master.lastStatus(), 2000, 10000);
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Error connect %1").arg(closed));
        requestTo(drive, KM_DRIVE_STOP);
        QTRY_COMPARE(master.lastStatus(), 0);
    }

    void simulatorApproachesTheTargetInSteps()
    {
        set(X::UpdateInterval, QStringLiteral("20"));
        start(QStringLiteral("sim"), 0);
        QVERIFY(waitForOperating());
        QVERIFY(master.infoTexts().contains(QStringLiteral("SIM Init")));
        QTRY_VERIFY(master.log().contains(QStringLiteral("SIM: wait @H")));
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("SIM On"));

        master.clear();
        setByPanel(X::TargetPosition, QStringLiteral("10"));
        // The slider rests within two increments of a target.
        auto near = [](double value, double target) { return qAbs(value - target) <= 0.0025; };
        auto arrived = [&] {
            for (double p : positions())
                if (near(p, 10.0))
                    return true;
            return false;
        };
        QTRY_VERIFY(arrived());
        QVERIFY(master.infoTexts().contains(QStringLiteral("SIM Moving")));
        // PositionVelocity 10 mm/s: one tenth of it per position poll.
        QList<double> all = positions();
        int first = 0;
        while (all.at(first) < 0.5)
            ++first;
        QList<double> steps;
        for (int i = first; i < all.size() && steps.size() < 10; ++i)
            steps << all.at(i);
        for (int i = 0; i < steps.size(); ++i)
            QVERIFY2(near(steps.at(i), i + 1), qPrintable(QString::number(steps.at(i), 'f', 4)));
        const int settled = first + steps.size();

        // At rest, a noise of up to two increments either way.
        QTRY_VERIFY_WITH_TIMEOUT(positions().size() >= settled + 80, 20000);
        bool below = false;
        bool above = false;
        for (double p : positions().mid(settled)) {
            QVERIFY2(p >= 9.998 && p <= 10.002, qPrintable(QString::number(p, 'f', 4)));
            below = below || p < 10.0;
            above = above || p > 10.0;
        }
        QVERIFY(below && above);
    }
};

ZOR_TEST(TestDriveXenax)
#include "tst_drivexenax.moc"
