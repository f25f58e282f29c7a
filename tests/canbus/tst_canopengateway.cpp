// The CANopen gateway on the wire: a requester's SDO and NMT lines become
// frames on the simulated bus, the nodes of an independent CANopen stack
// answer, and the requester gets its lines completed; boot-up and emergency
// frames come up as messages.
#include "gatewayrig.h"
#include "zorsdochannels.h"
#include "zortest.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

const QStringList Nodes = {"--node", "1",  "--node", "2", "--node", "5", "--node", "47", "--node", "6 silent=1",
                           "--node", "48 sdodelay=200"};

QString resultOf(const ZorMessage &answer)
{
    return answer.data().toString();
}

// The answer part of a completed line: everything after its fourth colon.
QString answerPart(const ZorMessage &answer)
{
    return resultOf(answer).section(QLatin1Char(':'), 4);
}

} // namespace

class TestCanOpenGateway : public QObject
{
    Q_OBJECT

    GatewayRig *rig = nullptr;

private slots:
    void initTestCase()
    {
        rig = new GatewayRig;
        QVERIFY2(rig->start(Nodes), qPrintable(rig->sim.errorString()));
    }

    void cleanupTestCase()
    {
        delete rig;
    }

    void init()
    {
        rig->markBus();
        rig->fromGateway.clear();
    }

    void writeGoesOnTheWireAndIsAnswered()
    {
        const ZorMessage answer = rig->interview("SDOWriteObject:1000:0:47,60ffh,0h,integer32,2000");
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(resultOf(answer), QStringLiteral("SDOWriteObject:1000:0:47,60ffh,0h,integer32,2000:47,60ffh,0h,ok"));
        QCOMPARE(rig->sentFrames(), QStringList({"t62f823ff6000d0070000"}));
        QCOMPARE(rig->sim.nodeValue(47, 0x60ff, 0), QByteArray::fromHex("d0070000"));
    }

    void abortIsReportedWithItsCode_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("result");
        QTest::newRow("write, no such object")
            << "SDOWriteObject:1000:0:47,5fffh,0h,integer32,1" << "47,5fffh,0h,error code 06020000h";
        QTest::newRow("write, read-only")
            << "SDOWriteObject:1000:0:47,2007h,0h,unsigned32,1" << "47,2007h,0h,error code 06010002h";
        QTest::newRow("read, write-only")
            << "SDOReadObject:1000:0:47,2008h,0h,unsigned32" << "47,2008h,0h,unsigned32,error code 06010001h";
        QTest::newRow("read, no such subindex")
            << "SDOReadObject:1000:0:47,2010h,3h,unsigned32" << "47,2010h,3h,unsigned32,error code 06090011h";
    }

    void abortIsReportedWithItsCode()
    {
        QFETCH(QString, line);
        QFETCH(QString, result);
        const ZorMessage answer = rig->interview(line);
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QCOMPARE(resultOf(answer), line + QLatin1Char(':') + result);
    }

    void readsDecodeByType_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("result");
        // 4-byte objects are answered 42h (no size), smaller ones 4Fh / 4Bh.
        QTest::newRow("device type") << "SDOReadObject:1000:0:1,1000h,0h,unsigned32"
                                     << "1,1000h,0h,unsigned32,131474";
        QTest::newRow("integer32") << "SDOReadObject:1000:0:1,2005h,0h,integer32" << "1,2005h,0h,integer32,-100000";
        QTest::newRow("unsigned16") << "SDOReadObject:1000:0:1,2001h,0h,unsigned16" << "1,2001h,0h,unsigned16,4660";
        QTest::newRow("integer16") << "SDOReadObject:1000:0:1,2004h,0h,integer16" << "1,2004h,0h,integer16,-300";
        QTest::newRow("integer8") << "SDOReadObject:1000:0:1,2003h,0h,integer8" << "1,2003h,0h,integer8,-2";
        QTest::newRow("numbers in any notation") << "SDOReadObject:1000:0:0x1,0x2002,0b0,unsigned32"
                                                 << "1,2002h,0h,unsigned32,305419896";
        // Segmented upload, every Latin-1 byte kept (80h included).
        QTest::newRow("visible string, 28 bytes")
            << "SDOReadObject:1000:0:1,1008h,0h,visible_string"
            << QString::fromLatin1("1,1008h,0h,visible_string,Sim Drive \xc4\xd6\xdc-\xe9 \xb5m/s\xb2 25\xb0" "C \x80");
        QTest::newRow("visible string, expedited") << "SDOReadObject:1000:0:1,1009h,0h,visible_string"
                                                   << "1,1009h,0h,visible_string,HW 1.0";
    }

    void readsDecodeByType()
    {
        QFETCH(QString, line);
        QFETCH(QString, result);
        const ZorMessage answer = rig->interview(line);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answerPart(answer), result);
    }

    // An expected value is compared as a number, whatever its notation.
    void expectedValueInAnyNotation_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("state");
        QTest::newRow("0h matches zero") << "SDOReadObject:1000:0:1,1001h,0h,unsigned8:1,1001h,0h,unsigned8,0h"
                                         << int(KS_ANSWER);
        QTest::newRow("hex") << "SDOReadObject:1000:0:1,1000h,0h,unsigned32:1,1000h,0h,unsigned32,20192h"
                             << int(KS_ANSWER);
        QTest::newRow("signed bit pattern") << "SDOReadObject:1000:0:1,2003h,0h,integer8:1,2003h,0h,integer8,0xfe"
                                            << int(KS_ANSWER);
        QTest::newRow("other value") << "SDOReadObject:300:0:1,1001h,0h,unsigned8:1,1001h,0h,unsigned8,1"
                                     << int(KS_TIMEOUT);
    }

    void expectedValueInAnyNotation()
    {
        QFETCH(QString, line);
        QFETCH(int, state);
        QCOMPARE(rig->interview(line).msgState(), state);
    }

    // Values are read as numbers, must fit the type, and go into the frame
    // as bytes; anything else is refused before a frame is sent.
    void writeValues_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("frame");   // empty: refused
        QTest::newRow("u8 decimal") << "unsigned8" << 0x2000 << "255" << "t62f82f002000ff000000";
        QTest::newRow("u8 too big") << "unsigned8" << 0x2000 << "256" << "";
        QTest::newRow("u8 hex too big") << "unsigned8" << 0x2000 << "0x1ff" << "";
        QTest::newRow("u8 negative") << "unsigned8" << 0x2000 << "-1" << "";
        QTest::newRow("i8 lowest") << "integer8" << 0x2003 << "-128" << "t62f82f03200080000000";
        QTest::newRow("i8 below") << "integer8" << 0x2003 << "-129" << "";
        QTest::newRow("i8 bit pattern") << "integer8" << 0x2003 << "ffh" << "t62f82f032000ff000000";
        QTest::newRow("u16 binary") << "unsigned16" << 0x2001 << "0b1010" << "t62f82b0120000a000000";
        QTest::newRow("i16 too big") << "integer16" << 0x2004 << "32768" << "";
        QTest::newRow("u32 largest") << "unsigned32" << 0x2002 << "4294967295" << "t62f823022000ffffffff";
        QTest::newRow("i32 too big") << "integer32" << 0x2005 << "2147483648" << "";
        QTest::newRow("not a number") << "integer32" << 0x2005 << "abc" << "";
        QTest::newRow("expression") << "integer32" << 0x2005 << "1+1" << "";
        QTest::newRow("value macro") << "integer32" << 0x2005 << "canunsigned8(5)" << "";
        QTest::newRow("empty") << "integer32" << 0x2005 << "" << "";
    }

    void writeValues()
    {
        QFETCH(QString, type);
        QFETCH(int, index);
        QFETCH(QString, value);
        QFETCH(QString, frame);
        const QByteArray before = rig->sim.nodeValue(47, index, 0);
        const QString line = QStringLiteral("SDOWriteObject:1000:0:47,%1h,0h,%2,%3").arg(index, 0, 16).arg(type, value);
        const ZorMessage answer = rig->interview(line);
        if (frame.isEmpty()) {
            QCOMPARE(answer.msgState(), int(KS_FAIL));
            QVERIFY2(answerPart(answer).startsWith(QStringLiteral("47,%1h,0h,error").arg(index, 0, 16)),
                     qPrintable(resultOf(answer)));
            QCOMPARE(rig->sentFrames(), QStringList());
            QCOMPARE(rig->sim.nodeValue(47, index, 0), before);
        } else {
            QCOMPARE(answer.msgState(), int(KS_ANSWER));
            QCOMPARE(rig->sentFrames(), QStringList({frame}));
        }
    }

    // A visible string is written as given (only the type name folds case)
    // by segmented download, and reads back the same.
    void visibleStringIsWrittenAsGiven()
    {
        const QString text = QString::fromLatin1("Hello, W\xf6rld: ABC");
        const QString line = "SDOWriteObject:1000:0:1,2006h,0h,VISIBLE_STRING," + QString(text).remove(':');
        const QString written = QString(text).remove(':');
        const ZorMessage answer = rig->interview(line);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answerPart(answer), QStringLiteral("1,2006h,0h,ok"));
        QCOMPARE(rig->sim.nodeValue(1, 0x2006, 0), written.toLatin1());
        // Initiate with the size, then segments of seven bytes, toggling.
        const QStringList frames = rig->sentFrames();
        QCOMPARE(frames.size(), 4);
        QCOMPARE(frames.at(0), "t601821062000" + QString::number(written.size(), 16).rightJustified(2, '0') + "000000");
        QVERIFY(frames.at(1).startsWith("t601800") && frames.at(2).startsWith("t601810"));
        QCOMPARE(answerPart(rig->interview("SDOReadObject:1000:0:1,2006h,0h,visible_string")),
                 "1,2006h,0h,visible_string," + written);
    }

    void emptyVisibleStringEndsWithAnEmptySegment()
    {
        const ZorMessage answer = rig->interview("SDOWriteObject:1000:0:1,2006h,0h,visible_string,");
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(rig->sentFrames(), QStringList({"t60182106200000000000", "t60180f00000000000000"}));
        QCOMPARE(rig->sim.nodeValue(1, 0x2006, 0), QByteArray());
    }

    void linesTheGatewayRefuses_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("node 0") << "SDOReadObject:1000:0:0,1000h,0h,unsigned32";
        QTest::newRow("node 128") << "SDOReadObject:1000:0:128,1000h,0h,unsigned32";
        QTest::newRow("unknown type") << "SDOReadObject:1000:0:1,1000h,0h,real32";
        QTest::newRow("index no number") << "SDOWriteObject:1000:0:1,xyz,0h,unsigned8,1";
        QTest::newRow("unknown kind") << "SDOFrobnicate:1000:0:1,1000h,0h,unsigned32";
        QTest::newRow("NMT node 128") << "NmtModuleControl:200:0:128,1";
    }

    void linesTheGatewayRefuses()
    {
        QFETCH(QString, line);
        QCOMPARE(rig->interview(line).msgState(), int(KS_REJECT));
        QCOMPARE(rig->sentFrames(), QStringList());
    }

    void nmtFrameAndBootUp()
    {
        const ZorMessage answer = rig->interview("NmtModuleControl:200:0:5,82h");
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(resultOf(answer), QStringLiteral("NmtModuleControl:200:0:5,82h:noresponse"));
        QCOMPARE(rig->sentFrames(), QStringList({"t00028205"}));
        // Node 5 resets its communication and boots.
        const ZorMessage bootUp = rig->waitFor(KM_CANOPEN_BOOTUP);
        QCOMPARE(bootUp.msgType(), int(KM_CANOPEN_BOOTUP));
        QCOMPARE(bootUp.data().toInt(), 5);
        QCOMPARE(bootUp.origin(), QStringLiteral("CAN1_canopen_gateway"));
    }

    void heartbeatIsNoBootUp()
    {
        QVERIFY(rig->sim.inject("t7051" "05"));
        QVERIFY(rig->sim.inject("t7051" "00"));
        QCOMPARE(rig->waitFor(KM_CANOPEN_BOOTUP).data().toInt(), 5);
        QTest::qWait(100);
        QCOMPARE(rig->fromGateway.ofType(KM_CANOPEN_BOOTUP).size(), 1);
    }

    // Remote frames carry no data: a node-guarding request on 705h is no
    // boot-up, a remote frame on 85h no emergency. Frames arrive in order, so
    // once the boot-up after them is reported they have been looked at.
    void remoteFramesReportNothing()
    {
        QVERIFY(rig->sim.inject("r7051"));
        QVERIFY(rig->sim.inject("r0858"));
        QVERIFY(rig->sim.inject("t705100"));
        QCOMPARE(rig->waitFor(KM_CANOPEN_BOOTUP).data().toInt(), 5);
        QCOMPARE(rig->fromGateway.ofType(KM_CANOPEN_BOOTUP).size(), 1);
        QCOMPARE(rig->fromGateway.ofType(KM_CANOPEN_EMERGENCY).size(), 0);
    }

    // Frames on the node's answer COB-ID that belong to no transfer of the
    // gateway (another client's answers and aborts) are neither taken nor
    // answered with an abort: the segmented upload goes on and reads right.
    void strayAnswersAreIgnored()
    {
        QVERIFY(rig->sim.command("NODE SET 5 sdodelay=200"));
        rig->sim.setCursor(rig->sim.mark());
        ZorMessage read(KM_INTERVIEW, KS_REQUEST, "SDOReadObject:5000:0:5,1008h,0h,visible_string");
        read.setOrigin("Node1");
        rig->send(read);
        // While the initiate waits: an abort of another object, a download
        // answer and an upload answer of other objects.
        QVERIFY(rig->sim.waitForLine("^BUS c\\d+ t60584008100000000000$").hasMatch());
        QVERIFY(rig->sim.inject("t58588000600000000206"));
        QVERIFY(rig->sim.inject("t58586008100000000000"));
        QVERIFY(rig->sim.inject("t58584300100092010200"));
        // While a segment waits: an abort of another object, a download
        // segment answer.
        QVERIFY(rig->sim.waitForLine("^BUS c\\d+ t60587000000000000000$").hasMatch());
        QVERIFY(rig->sim.inject("t58588000100000000206"));
        QVERIFY(rig->sim.inject("t58582000000000000000"));
        QVERIFY(GatewayRig::waitUntil(rig->fromGateway, [this] { return !rig->fromGateway.ofType(KM_INTERVIEW).isEmpty(); }, 8000));
        QVERIFY(rig->sim.command("NODE SET 5 sdodelay=0"));
        const ZorMessage answer = rig->fromGateway.ofType(KM_INTERVIEW).first();
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answerPart(answer), "5,1008h,0h,visible_string," + QString::fromLatin1(rig->sim.nodeValue(5, 0x1008, 0)));
        QCOMPARE(rig->sentFrames().filter(QRegularExpression("^t6058(80)")).size(), 0);
    }

    void emergencies_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("text");
        QTest::newRow("full") << "t08581081110102030405" << "5,33040,17,01 02 03 04 05";
        QTest::newRow("five bytes") << "t08551081110102" << "5,33040,17,01 02";
        QTest::newRow("three bytes") << "t0853108111" << "5,33040,17,";
        QTest::newRow("node 127") << "t0ff800ff010000000000" << "127,65280,1,00 00 00 00 00";
    }

    void emergencies()
    {
        QFETCH(QString, frame);
        QFETCH(QString, text);
        QVERIFY(rig->sim.inject(frame));
        const ZorMessage emcy = rig->waitFor(KM_CANOPEN_EMERGENCY);
        QCOMPARE(emcy.msgType(), int(KM_CANOPEN_EMERGENCY));
        QCOMPARE(emcy.data().toString(), text);
    }

    void emergencyFromNodeCommand()
    {
        QVERIFY(rig->sim.command("NODE EMCY 5 10 81 11 01 02 03 04 05"));
        QCOMPARE(rig->waitFor(KM_CANOPEN_EMERGENCY).data().toString(), QStringLiteral("5,33040,17,01 02 03 04 05"));
    }

    void framesGoUpOnlyWhenForwarded()
    {
        QVERIFY(rig->sim.inject("t1232aabb"));
        QTest::qWait(150);
        QCOMPARE(rig->fromGateway.ofType(KM_CAN_FRAME).size(), 0);
        rig->gateway()->setProperty("ForwardCanFrames", "1", false);
        QVERIFY(rig->sim.inject("t1232ccdd"));
        const ZorMessage frame = rig->waitFor(KM_CAN_FRAME);
        rig->gateway()->setProperty("ForwardCanFrames", "0", false);
        // With the gateway's time stamp as the fourth field.
        QVERIFY2(QRegularExpression("^KM_CAN_FRAME:KS_INFO:123h,2,cc dd,\\d+$").match(frame.toString()).hasMatch(),
                 qPrintable(frame.toString()));
    }

    void requestBaseFollowsItsProperty()
    {
        rig->gateway()->setProperty("BaseIdReceiveSDO", "0x640", false);
        rig->interview("SDOReadObject:100:0:1,1000h,0h,unsigned32");
        rig->gateway()->setProperty("BaseIdReceiveSDO", "0x600", false);
        QCOMPARE(rig->sentFrames(), QStringList({"t64184000100000000000"}));
    }

    // A requester's cancel ends its line at the gateway and, passed on with
    // the requester's origin, the exchange still waiting at the CAN interface.
    void cancelReachesTheExchangeAtTheCanInterface()
    {
        ZorMessage read(KM_INTERVIEW, KS_REQUEST, "SDOReadObject:20000:0:6,1000h,0h,unsigned32");
        read.setOrigin("Node1");
        rig->send(read);
        QTRY_COMPARE(rig->canInterface()->pendingInterviewCount(), 1);
        ZorMessage cancel(KM_CANCEL_INTERVIEWS, KS_REQUEST);
        cancel.setOrigin("Node1");
        rig->send(cancel);
        QTRY_VERIFY(!rig->fromGateway.ofType(KM_INTERVIEW).isEmpty());
        QCOMPARE(rig->fromGateway.ofType(KM_INTERVIEW).first().msgState(), int(KS_CANCEL));
        QTRY_COMPARE(rig->canInterface()->pendingInterviewCount(), 0);
        // The gateway serves the next line at once.
        QCOMPARE(rig->interview("SDOReadObject:1000:0:1,1001h,0h,unsigned8").msgState(), int(KS_ANSWER));
    }

    // A write that awaits no answer ("noresponse") still ends with the
    // node's acknowledgement or abort, long before its time-out; only a node
    // that stays silent lets the time-out end it.
    void writeAwaitingNoAnswerEndsWithTheNodes_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("acknowledged") << "47,2000h,0h,unsigned8,5" << 60000;
        QTest::newRow("no such object") << "47,5fffh,0h,unsigned8,1" << 60000;
        QTest::newRow("silent node") << "6,2000h,0h,unsigned8,1" << 300;
    }

    void writeAwaitingNoAnswerEndsWithTheNodes()
    {
        QFETCH(QString, request);
        QFETCH(int, timeoutMs);
        const QString line = QStringLiteral("SDOWriteObject:%1:0:%2:noresponse").arg(timeoutMs).arg(request);
        const ZorMessage answer = rig->interview(line, 10000);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(resultOf(answer), line);
        QCOMPARE(rig->sentFrames().size(), 1);
    }

    // A requester cancels what it has under way and sends its next line at
    // once (a drive's stop): the cancel reaches the exchange that was under
    // way, never the new line's own, which goes out once and is answered.
    void cancelLeavesTheNextLineAlone()
    {
        ZorMessage read(KM_INTERVIEW, KS_REQUEST, "SDOReadObject:5000:0:48,1000h,0h,unsigned32");
        read.setOrigin("Node1");
        ZorMessage cancel(KM_CANCEL_INTERVIEWS, KS_REQUEST);
        cancel.setOrigin("Node1");
        ZorMessage write(KM_INTERVIEW, KS_REQUEST, "SDOWriteObject:1000:0:48,2001h,0h,unsigned16,4660");
        write.setOrigin("Node1");
        rig->send(read);
        QTRY_COMPARE(rig->sentFrames().size(), 1);
        rig->send(cancel);
        rig->send(write);
        QVERIFY(GatewayRig::waitUntil(rig->fromGateway, [&] { return rig->fromGateway.ofType(KM_INTERVIEW).size() == 2; },
                                      10000));
        const QList<ZorMessage> answers = rig->fromGateway.ofType(KM_INTERVIEW);
        QCOMPARE(answers.at(0).msgState(), int(KS_CANCEL));
        QCOMPARE(answers.at(1).msgState(), int(KS_ANSWER));
        QCOMPARE(rig->sentFrames(), QStringList({"t63084000100000000000", "t63082b01200034120000"}));
    }

    // The first interview after its requester's stop cancel takes its node's
    // SDO channel whoever holds it: a stop never waits for another transfer.
    // After any other cancel (a list's time-out, a module's stop) the next
    // interview waits as ever and breaks into nobody's transfer.
    void lineAfterCancelSeizesTheNodesChannel_data()
    {
        QTest::addColumn<QString>("cancelData");
        QTest::addColumn<bool>("seizes");
        QTest::newRow("a stop's cancel") << ZorModCanOpenGateway::stopCancelData() << true;
        QTest::newRow("any other cancel") << QString() << false;
    }
    void lineAfterCancelSeizesTheNodesChannel()
    {
        QFETCH(QString, cancelData);
        QFETCH(bool, seizes);
        std::shared_ptr<ZorSdoChannels> channels = ZorSdoChannels::forBus(rig->canInterface());
        const ZorSdoChannels::Token other = ZorSdoChannels::newToken();
        channels->acquire(47, other, 60000);
        // An ordinary line waits for the channel and ends by its time-out.
        QCOMPARE(rig->interview("SDOWriteObject:300:0:47,2000h,0h,unsigned8,1").msgState(), int(KS_TIMEOUT));
        QCOMPARE(rig->sentFrames(), QStringList());
        ZorMessage cancel(KM_CANCEL_INTERVIEWS, KS_REQUEST, cancelData);
        cancel.setOrigin("Node1");
        rig->send(cancel);
        const ZorMessage answer = rig->interview(
            QStringLiteral("SDOWriteObject:%1:0:47,2000h,0h,unsigned8,2").arg(seizes ? 1000 : 300));
        channels->release(47, other);
        if (seizes) {
            QCOMPARE(answer.msgState(), int(KS_ANSWER));
            QCOMPARE(rig->sentFrames(), QStringList({"t62f82f00200002000000"}));
        } else {
            QCOMPARE(answer.msgState(), int(KS_TIMEOUT));
            QCOMPARE(rig->sentFrames(), QStringList());
        }
    }

    // Two requesters, each with its own gateway, on one CAN interface: the
    // answers of both nodes reach both gateways, but each reads only the
    // answers to its own exchanges. Two segmented uploads at once would
    // otherwise take each other's segments.
    void gatewaysOnOneInterfaceKeepTheirAnswersApart()
    {
        const QString long2 = QStringLiteral("node two says hello across several segments");
        QCOMPARE(rig->interview("SDOWriteObject:1000:0:2,2006h,0h,visible_string," + long2).msgState(), int(KS_ANSWER));
        GatewayRecorder other;
        ZorModCanOpenGateway *second = rig->addRequester("Node2", &other);
        QVERIFY(second);
        auto *requesterB = qobject_cast<ZorModule *>(second->parent());
        QVERIFY(requesterB);
        const QString long1 = QString::fromLatin1(rig->sim.nodeValue(1, 0x1008, 0));
        for (int round = 0; round < 3; ++round) {
            rig->fromGateway.clear();
            other.clear();
            ZorMessage a(KM_INTERVIEW, KS_REQUEST, "SDOReadObject:1000:0:1,1008h,0h,visible_string");
            a.setOrigin("Node1");
            ZorMessage b(KM_INTERVIEW, KS_REQUEST, "SDOReadObject:1000:0:2,2006h,0h,visible_string");
            b.setOrigin("Node2");
            rig->send(a);
            rig->send(b, requesterB);
            QTRY_VERIFY(!rig->fromGateway.ofType(KM_INTERVIEW).isEmpty() && !other.ofType(KM_INTERVIEW).isEmpty());
            QCOMPARE(answerPart(rig->fromGateway.ofType(KM_INTERVIEW).first()), "1,1008h,0h,visible_string," + long1);
            QCOMPARE(answerPart(other.ofType(KM_INTERVIEW).first()), "2,2006h,0h,visible_string," + long2);
        }
    }
};

ZOR_TEST(TestCanOpenGateway)
#include "tst_canopengateway.moc"
