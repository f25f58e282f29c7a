// The data-log module live on the wire: through the CANopen gateway that
// the framework puts in front of its CAN interface, it has a simulated node
// (independent CANopen stack) sampled cyclically, fills one shared series
// per channel, reports the ids and the per-second summary, and records
// CR LF lines that read back to the samples of the series.
#include "datalogtesting.h"
#include "simgateway.h"
#include "testdommodel.h"
#include "zormodcaninterface.h"
#include "zormodcanopengateway.h"
#include "zormoddatalog.h"
#include "zortest.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

using ModulePtr = std::unique_ptr<ZorModule, ZorModuleDeleter>;

const QString Position = QStringLiteral("001.6064h.00h");
const QString Small = QStringLiteral("001.2003h.00h");
const QString Unsampled = QStringLiteral("001.2000h.00h");

int valueCount(int id)
{
    DataLogSeries *series = SharedDataRegistry::lock(id, 1000);
    if (!series)
        return -1;
    const int n = series->valueCount();
    SharedDataRegistry::unlock(id);
    return n;
}

float lastValue(int id)
{
    DataLogSeries *series = SharedDataRegistry::lock(id, 1000);
    if (!series)
        return -1;
    const float v = series->lastValue().value();
    SharedDataRegistry::unlock(id);
    return v;
}

} // namespace

class TestDataLogLive : public QObject
{
    Q_OBJECT

private slots:
    void samplesStoredSummarisedAndRecorded()
    {
        ZorMessage::registerMetaType();
        ZorModCanOpenGateway::registerCreator();
        QTemporaryDir dir;
        SimGateway sim;
        QVERIFY2(sim.start({"--node", "1"}), qPrintable(sim.errorString()));
        QVERIFY(sim.command("NODE PUT 1 6064 0 10 27 00 00"));   // 10000

        ModulePtr can(new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb")));
        can->setProperty(QStringLiteral("Port"), sim.address(), false);
        can->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
        can->start();

        TestDomModel model;
        model.addModule("datalog", "Scope");
        auto *dataLog = new ZorModDataLog;
        ModulePtr owner(dataLog);
        QVERIFY(dataLog->setupZorModule(model.moduleIndex("Scope"), &model));
        PanelSide panel;
        connect(dataLog, &ZorModule::slaveOut, this, [&panel](const ZorMessage &m) { panel.record(m); },
                Qt::DirectConnection);
        dataLog->start();
        dataLog->connectSlave(can.get());
        QVERIFY(qobject_cast<ZorModCanOpenGateway *>(dataLog->viaModuleFor("CAN1")));
        const auto send = [&](int type, const QString &data) {
            const ZorMessage m(type, KS_REQUEST, data);
            dataLog->slaveIn(m);
            return m;
        };
        QTRY_COMPARE_WITH_TIMEOUT(panel.lastInfoText(), QStringLiteral("Idle"), 10000);

        const QString recording = dir.filePath("live.csv");
        const ZorMessage record = send(KM_DAQ_CONTROL, "1," + recording);
        send(KM_START, QString());
        const ZorMessage config = send(KM_DAQ_CONFIG, Position + ",pos,integer32,Software,100,1\n"
                                                     + Small + ",small,integer8,Software,100,1\n"
                                                     + Unsampled + ",u8,unsigned8,Off,100,1\n");
        QTRY_VERIFY_WITH_TIMEOUT(!panel.ofType(KM_DAQ_CONFIG, KS_ANSWER).isEmpty(), 10000);
        const ZorMessage confirmed = panel.ofType(KM_DAQ_CONFIG, KS_ANSWER).first();
        QCOMPARE(confirmed, config);
        QStringList confirmedLines = confirmed.data().toString().split('\n', Qt::SkipEmptyParts);
        confirmedLines.sort();
        QCOMPARE(confirmedLines, QStringList({Unsampled + ",u8,unsigned8,Off,100,1", Small + ",small,integer8,Software,100,1",
                                              Position + ",pos,integer32,Software,100,1"}));
        QVERIFY(confirmed.data().toString().endsWith('\n'));
        QVERIFY(!panel.ofType(KM_DAQ_CONTROL, KS_ANSWER).isEmpty());
        QCOMPARE(panel.ofType(KM_DAQ_CONTROL, KS_ANSWER).first(), record);

        // Flagged objects have their series at once.
        QTRY_COMPARE_WITH_TIMEOUT(panel.sharedIds().keys(), QStringList({Unsampled, Small, Position}), 10000);
        const QMap<QString, int> ids = panel.sharedIds();
        QTRY_VERIFY_WITH_TIMEOUT(valueCount(ids.value(Position)) >= 3, 10000);
        QCOMPARE(lastValue(ids.value(Position)), 10000.0f);
        QVERIFY(sim.command("NODE PUT 1 6064 0 f6 ff ff ff"));   // -10
        QTRY_COMPARE_WITH_TIMEOUT(lastValue(ids.value(Position)), -10.0f, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(valueCount(ids.value(Small)) >= 3, 10000);
        QCOMPARE(lastValue(ids.value(Small)), -2.0f);

        // The per-second summary: each sampled channel's last value.
        const QRegularExpression summaryLine(
            "^001\\.6064h\\.00h,\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3},-10\\.000$");
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QString &text : panel.dataOf(KM_DAQ_DATA, KS_INFO)) {
                    const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
                    if (lines.size() == 2 && lines.at(0).startsWith(Small + ",") && lines.at(0).endsWith(",-2.000")
                        && summaryLine.match(lines.at(1)).hasMatch())
                        return true;
                }
                return false;
            }(),
            10000);

        send(KM_STOP, QString());
        QTRY_COMPARE_WITH_TIMEOUT(panel.lastStatus(), 0, 10000);
        send(KM_DAQ_CONTROL, "2");
        QTRY_COMPARE_WITH_TIMEOUT(panel.lastInfoText(), QStringLiteral("Idle"), 10000);

        // The recording holds exactly what the series hold, line for line.
        QFile file(recording);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count("\r\n"), bytes.count('\n'));
        QMap<QString, QStringList> recorded;
        for (const QString &line : QString::fromLatin1(bytes).split("\r\n", Qt::SkipEmptyParts))
            recorded[DataLogSample::channelOfLine(line)] << line;
        QCOMPARE(recorded.keys(), QStringList({Small, Position}));
        QCOMPARE(recorded.value(Position), seriesLines(ids.value(Position), Position));
        QCOMPARE(recorded.value(Small), seriesLines(ids.value(Small), Small));
        QCOMPARE(valueCount(ids.value(Unsampled)), 0);
        for (const QString &line : recorded.value(Position)) {
            const DataLogSample back(line);
            QVERIFY2(back.value() == 10000.0f || back.value() == -10.0f, qPrintable(line));
        }
        owner.reset();
        can.reset();
    }
};

ZOR_TEST(TestDataLogLive)
#include "tst_dataloglive.moc"
