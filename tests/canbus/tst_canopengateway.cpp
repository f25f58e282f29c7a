// The CANopen gateway on the wire: a requester's SDO and NMT lines become
// frames on the simulated bus, the nodes of an independent CANopen stack
// answer, and the requester gets its lines completed; boot-up and emergency
// frames come up as messages.
#include "gatewayrig.h"
#include "zortest.h"

#include <QtTest>

namespace {

const QStringList Nodes = {"--node", "1", "--node", "2", "--node", "5", "--node", "47"};

QString resultOf(const ZorMessage &answer)
{
    return answer.data().toString();
}

} // namespace

class TestCanOpenGateway : public QObject
{
    Q_OBJECT
private slots:
    void writeGoesOnTheWireAndIsAnswered()
    {
        GatewayRig rig;
        QVERIFY2(rig.start(Nodes), qPrintable(rig.sim.errorString()));
        rig.markBus();
        const ZorMessage answer = rig.interview("SDOWriteObject:1000:0:47,60ffh,0h,integer32,2000");
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(resultOf(answer), QStringLiteral("SDOWriteObject:1000:0:47,60ffh,0h,integer32,2000:47,60ffh,0h,ok"));
        QCOMPARE(rig.sentFrames(), QStringList({"t62f823ff6000d0070000"}));
        QCOMPARE(rig.sim.nodeValue(47, 0x60ff, 0), QByteArray::fromHex("d0070000"));
    }
};

ZOR_TEST(TestCanOpenGateway)
#include "tst_canopengateway.moc"
