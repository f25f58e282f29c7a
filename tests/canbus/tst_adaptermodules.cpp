// A CAN interface module opened on each adapter plug-in carries a CANopen
// exchange to a simulated node: module -> plug-in driver -> plug-in -> the
// maker's library (our stand-in) -> simulated gateway -> node, and back.
#include "caninterfacerig.h"
#include "simgateway.h"
#include "zortest.h"

#include <QtTest>

class TestAdapterModules : public QObject
{
    Q_OBJECT

private slots:
    void sdoReadThroughEveryPlugin_data()
    {
        QTest::addColumn<QString>("key");
        for (const char *key : {"lawicel", "zanthic", "ems", "mhs", "kvaser", "peak", "castor"})
            QTest::newRow(key) << QString::fromLatin1(key);
    }

    void sdoReadThroughEveryPlugin()
    {
        QFETCH(QString, key);
        SimGateway gw;
        QVERIFY2(gw.start({"--node", "5"}), qPrintable(gw.errorString()));
        gw.exportAddress();

        CanInterfaceRig rig;
        rig.start();
        QVERIFY2(rig.open(key + QStringLiteral(":0"), QStringLiteral("500K")),
                 qPrintable(rig.master.infoTexts().join(QLatin1Char('|'))));

        // Device type 1000h of node 5, expedited upload.
        const ZorMessage interview = rig.request(
            KM_INTERVIEW, QStringLiteral("CAN:1000:1:605h,8,40 00 10 00 00 00 00 00:585h,8,4? 00 10 00*"));
        QVERIFY(rig.waitForAnswer(interview));
        const ZorMessage answer = rig.master.answersTo(interview).first();
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        const QString line = answer.data().toString();
        QVERIFY2(line.startsWith(QStringLiteral("CAN:1000:1:605h,8,40 00 10 00 00 00 00 00:585h,8,4")), qPrintable(line));
        QVERIFY2(line.endsWith(QStringLiteral(" 00 10 00 92 01 02 00")), qPrintable(line));

        rig.request(KM_COMM_CLOSE);
        QVERIFY(rig.waitForStatus(0));
    }
};

ZOR_TEST(TestAdapterModules)
#include "tst_adaptermodules.moc"
