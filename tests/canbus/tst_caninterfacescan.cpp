// Bit-rate scan of the CAN interface module against the simulated gateway,
// whose bus only carries frames of channels opened at its own bit rate.
#include "caninterfacerig.h"
#include "simgateway.h"
#include "zortest.h"

#include <QtTest>
#include <functional>

namespace {

void quickScan(CanInterfaceRig &rig, int listenMs)
{
    ZorModCanInterface::ScanTiming timing;
    timing.probeDelayMs = 20;
    timing.listenMs = listenMs;
    timing.pauseMs = 10;
    rig.module()->setScanTiming(timing);
}

int indexOf(const QList<ZorMessage> &messages, const std::function<bool(const ZorMessage &)> &test)
{
    for (int i = 0; i < messages.size(); ++i)
        if (test(messages.at(i)))
            return i;
    return -1;
}

} // namespace

class TestCanInterfaceScan : public QObject
{
    Q_OBJECT
private slots:
    void findsTheBitRateOfTheBus()
    {
        SimGateway gw;
        QVERIFY2(gw.start({"--bitrate", "250k", "--node", "5"}), qPrintable(gw.errorString()));
        CanInterfaceRig rig;
        quickScan(rig, 300);
        rig.setProperty(QStringLiteral("Port"), gw.address());
        rig.setProperty(QStringLiteral("ScanBaudList"), QStringLiteral("1000000,500000,250000"));
        rig.start();
        const ZorMessage opening = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForStatus(1010));
        const ZorMessage second = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForAnswer(opening, 10000));
        QVERIFY(rig.waitForAnswer(second));

        QCOMPARE(rig.master.infoTexts().mid(1),
                 QStringList({"Bootup msg scan", "Trying baud rate 1M", "Trying baud rate 500K",
                              "Trying baud rate 250K", "Open (250K)"}));
        QCOMPARE(rig.module()->property(QStringLiteral("Baudrate")), QStringLiteral("250K"));
        QCOMPARE(rig.master.statusChanges(), QList<int>({1000, 1010, 1}));
        // Both opening requests are answered once, when the scan has ended.
        const QList<ZorMessage> all = rig.master.messages();
        const int openText = indexOf(all, [](const ZorMessage &m) {
            return m.msgType() == KM_INFOTEXT && m.data().toString() == QLatin1String("Open (250K)");
        });
        for (const ZorMessage &request : {opening, second}) {
            QCOMPARE(rig.master.answersTo(request).size(), 1);
            QCOMPARE(rig.master.answersTo(request).first().msgState(), int(KS_ANSWER));
            QVERIFY(indexOf(all, [&](const ZorMessage &m) { return m == request; }) > openText);
        }
        QVERIFY(indexOf(all, [](const ZorMessage &m) {
                    return m.msgType() == KM_SETPROPERTY && m.data().toString() == QLatin1String("Baudrate=250K");
                }) >= 0);
        // The probe went out at the right rate: reset communication, then start.
        QVERIFY(gw.waitForLine("^BUS c\\d+ t00028200").hasMatch());
        QVERIFY(gw.waitForLine("^BUS c\\d+ t00020100").hasMatch());
    }

    void silentBusEndsTheScanInError()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        CanInterfaceRig rig;
        quickScan(rig, 100);
        rig.setProperty(QStringLiteral("Port"), gw.address());
        rig.setProperty(QStringLiteral("ScanBaudList"), QStringLiteral("500K,125K"));
        rig.start();
        const ZorMessage opening = rig.request(KM_START);
        QVERIFY(rig.waitForAnswer(opening, 10000));
        QCOMPARE(rig.master.answersTo(opening).size(), 1);
        QCOMPARE(rig.master.answersTo(opening).first().msgState(), int(KS_FAIL));
        QCOMPARE(rig.master.infoTexts().mid(1),
                 QStringList({"Bootup msg scan", "Trying baud rate 500K", "Trying baud rate 125K",
                              "Baud rate scan failed"}));
        QTRY_COMPARE(rig.master.lastStatus(), 2000);
        QCOMPARE(rig.module()->property(QStringLiteral("Baudrate")), QStringLiteral("scan"));
    }

    void closingDuringTheScanCancelsTheOpening()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        CanInterfaceRig rig;
        quickScan(rig, 60000);
        rig.setProperty(QStringLiteral("Port"), gw.address());
        rig.start();
        const ZorMessage opening = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForInfoText(QStringLiteral("Trying baud rate 1M")));

        // Nothing is sent while the bit rate is unknown.
        const ZorMessage frame =
            rig.request(KM_CAN_FRAME, frameRecord(QStringLiteral("601h,8,40 00 10 00 00 00 00 00")));
        QVERIFY(rig.waitForAnswer(frame));
        QCOMPARE(rig.master.answersTo(frame).first().msgState(), int(KS_FAIL));

        const ZorMessage close = rig.request(KM_COMM_CLOSE);
        QVERIFY(rig.waitForAnswer(close));
        QVERIFY(rig.waitForAnswer(opening));
        QCOMPARE(rig.master.answersTo(opening).size(), 1);
        QCOMPARE(rig.master.answersTo(opening).first().msgState(), int(KS_CANCEL));
        QTRY_COMPARE(rig.master.lastStatus(), 0);
        QCOMPARE(rig.module()->property(QStringLiteral("Baudrate")), QStringLiteral("scan"));
    }
};

ZOR_TEST(TestCanInterfaceScan)
#include "tst_caninterfacescan.moc"
