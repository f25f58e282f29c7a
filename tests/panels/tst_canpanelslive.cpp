// The CAN monitor and the CAN sender on a real CAN interface module, against
// the simulated gateway with one CANopen node: the monitor on the module's
// master side, the sender on its slave side, as the project wires them.
#include "simgateway.h"
#include "zorcontentcanmonitor.h"
#include "zorcontentcansender.h"
#include "zormodcaninterface.h"
#include "zortempsettings.h"
#include "zortest.h"

#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

#include <memory>

namespace {

// Rows of the monitor's table as "ID|Data|Dir".
QStringList shownFrames(const ZorContentCanmonitor &monitor)
{
    const QAbstractItemModel *model = monitor.tableView()->model();
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row)
        rows << model->index(row, 2).data().toString() + '|' + model->index(row, 3).data().toString()
                    + '|' + model->index(row, 4).data().toString();
    return rows;
}

int indexOfPrefix(const QStringList &rows, const QString &prefix, int from = 0)
{
    for (int i = from; i < rows.size(); ++i)
        if (rows.at(i).startsWith(prefix))
            return i;
    return -1;
}

} // namespace

class TestCanPanelsLive : public QObject
{
    Q_OBJECT

    std::unique_ptr<ZorTest::TempSettings> settings;

private slots:
    void initTestCase()
    {
        settings = std::make_unique<ZorTest::TempSettings>();
        ZorMessage::registerMetaType();
    }

    void heartbeatsAndAPlayedSdoRead()
    {
        SimGateway gw;
        QVERIFY2(gw.start({"--node", "1 heartbeat=100"}), qPrintable(gw.errorString()));
        std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> module(
            new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb")));
        module->setProperty("Port", gw.address(), false);
        module->setProperty("Baudrate", "250K", false);

        ZorContentCanmonitor monitor;
        QVERIFY(monitor.tableModel()->setDecoder("CANopen"));
        ZorContentCanSender sender;
        connect(&monitor, &ZorPanel::msgOut, module.get(), &ZorModule::masterIn);
        connect(module.get(), &ZorModule::masterOut, &monitor, &ZorPanel::msgIn);
        connect(&sender, &ZorPanel::msgOut, module.get(), &ZorModule::slaveIn);
        connect(module.get(), &ZorModule::slaveOut, &sender, &ZorPanel::msgIn);
        module->start();

        auto *box = sender.findChild<QComboBox *>("comboBoxSeq");
        auto *editor = sender.findChild<QPlainTextEdit *>("plainTextEditSeq");
        box->addItem("01: Read device type");
        editor->setPlainText("; read the device type\n"
                             "send 601h,8,40 00 10 00 00 00 00 00\n"
                             "wait 581h,8,4? 00 10 00*,2000");
        sender.findChild<QAction *>("actionPlay")->trigger();

        // The request goes out as TX, the node answers (an expedited upload of
        // the device type), heartbeats keep coming (pre-operational: 7f).
        QStringList rows;
        QTRY_VERIFY_WITH_TIMEOUT(
            (rows = shownFrames(monitor), indexOfPrefix(rows, "581h|") >= 0
                                              && indexOfPrefix(rows, "701h|7f|") >= 0),
            10000);
        const int request = indexOfPrefix(rows, "601h|");
        QCOMPARE(rows.at(request), QStringLiteral("601h|40 00 10 00 00 00 00 00|TX"));
        const int reply = indexOfPrefix(rows, "581h|");
        QVERIFY(reply > request);
        QCOMPARE(rows.at(reply), QStringLiteral("581h|42 00 10 00 92 01 02 00|RX"));
        const QAbstractItemModel *table = monitor.tableView()->model();
        // Every row has its direction, every received one a time: the
        // gateway's stamps ("TimestampMode" 1), rising from heartbeat to
        // heartbeat.
        int lastStamp = -1;
        for (int row = 0; row < table->rowCount(); ++row) {
            const QString dir = table->index(row, 4).data().toString();
            QVERIFY(dir == "TX" || dir == "RX");
            if (dir == "TX")
                continue;
            bool isNumber = false;
            const int stamp = table->index(row, 1).data().toString().toInt(&isNumber);
            QVERIFY2(isNumber, qPrintable(rows.at(row)));
            if (rows.at(row).startsWith("701h|")) {
                QVERIFY(stamp >= lastStamp || lastStamp - stamp > 30000); // 16-bit wrap
                lastStamp = stamp;
            }
        }
        QCOMPARE(table->index(reply, 5).data().toString(),
                 QStringLiteral("SDO answer node 1: read 1000h:00 = 00020192h"));

        // The sequence was stored in the module, and the player ran it to its end.
        QCOMPARE(module->property("SendSequence0"), editor->toPlainText());
        QTRY_VERIFY_WITH_TIMEOUT(sender.findChild<QAction *>("actionPlay")->isEnabled(), 5000);
        QVERIFY(sender.findChild<QAction *>("actionStop")->isChecked());
    }
};

ZOR_TEST(TestCanPanelsLive)
#include "tst_canpanelslive.moc"
