#include "zorobjeditmodel.h"
#include "zortest.h"

#include <QRegularExpression>
#include <QTest>

namespace {

// The table of every update case: one object per "updates" entry.
const char *const UpdateTable = R"x(<CANopenObjectList>
 <CANopenObject index="2000" nodeId="1" name="fast" objectType="7" dataType="6" accessType="ro" actualValue="0" zorUiFormat="updates:r50"/>
 <CANopenObject index="2001" nodeId="1" name="slow" objectType="7" dataType="6" accessType="ro" actualValue="0" zorUiFormat="updates:r20000; shape:label"/>
 <CANopenObject index="2002" nodeId="1" name="once" objectType="7" dataType="6" accessType="ro" actualValue="0" zorUiFormat="updates:r"/>
 <CANopenObject index="2003" nodeId="1" name="edited" objectType="7" dataType="6" accessType="rw" actualValue="0" zorUiFormat="updates:r,w"/>
 <CANopenObject index="2004" nodeId="1" name="written" objectType="7" dataType="6" accessType="rw" actualValue="0" zorUiFormat="updates:w"/>
 <CANopenObject index="2005" nodeId="1" name="plain" objectType="7" dataType="6" accessType="rw" actualValue="0"/>
 <CANopenObject index="2006" nodeId="1" name="cyclic rw" objectType="7" dataType="6" accessType="rw" actualValue="0" zorUiFormat="updates:r1000"/>
</CANopenObjectList>)x";

const QString Fast = QStringLiteral("001.2000h.00h");
const QString Slow = QStringLiteral("001.2001h.00h");
const QString Once = QStringLiteral("001.2002h.00h");
const QString Edited = QStringLiteral("001.2003h.00h");
const QString Written = QStringLiteral("001.2004h.00h");
const QString Plain = QStringLiteral("001.2005h.00h");
const QString CyclicRw = QStringLiteral("001.2006h.00h");

// quiet: the fast object is read once, so that no timer of its own sends a
// request while a test steps the queue by hand (the others wait 1 s or more,
// and the event loop runs only where a test waits).
QDomDocument table(bool quiet = false)
{
    QString text = QString::fromLatin1(UpdateTable);
    if (quiet)
        text.replace("updates:r50", "updates:r");
    QDomDocument doc;
    doc.setContent(text);
    return doc;
}

// The ids of a request's object lines.
QStringList idsOf(const ZorMessage &msg)
{
    QStringList ids;
    for (const QString &line : msg.data().toString().split('\n')) {
        const QString id = line.section(',', 0, 0);
        if (id.count('.') == 2)
            ids << id;
    }
    return ids;
}

// A node module as far as the model sees it: it records every request and
// answers it (the same message back) when told to, or at once through the
// event loop when answering is automatic. Read values count up per object.
class FakeNode : public QObject
{
public:
    explicit FakeNode(ZorObjEditModel &model) : m_model(model)
    {
        connect(&model, &ZorObjEditModel::objectUpdateOut, this, [this](ZorMessage msg) {
            requests << msg;
            ++outstanding;
            maxOutstanding = qMax(maxOutstanding, outstanding);
            if (autoAnswer)
                QTimer::singleShot(0, this, [this, msg] { answer(msg); });
        });
    }

    // Result lines as the node module gives them: read "id,type,value",
    // write "id,type,value," (empty result), each with its comment.
    static QString resultOf(const ZorMessage &request, QHash<QString, int> *counters)
    {
        QString result;
        for (const QString &line : request.data().toString().split('\n')) {
            const QStringList fields = line.section('#', 0, 0).trimmed().split(',');
            if (fields.value(0).count('.') != 2)
                continue;
            const QString comment = " # " + line.section('#', 1).trimmed();
            if (request.msgType() == KM_OBJLIST_READ)
                result += fields[0] + ',' + fields[1] + ','
                          + QString::number(counters ? ++(*counters)[fields[0]] : 0) + comment + '\n';
            else
                result += fields[0] + ',' + fields[1] + ',' + fields[2] + ',' + comment + '\n';
        }
        return result;
    }

    void answer(ZorMessage msg, int state = KS_ANSWER)
    {
        msg.setMsgState(state);
        msg.setData(resultOf(msg, &reads));
        --outstanding;
        m_model.objectUpdateIn(msg);
    }
    void answerLast(int state = KS_ANSWER) { answer(requests.last(), state); }
    int readsOf(const QString &id) const { return reads.value(id); }

    QList<ZorMessage> requests;
    QHash<QString, int> reads;
    bool autoAnswer = false;
    int outstanding = 0;
    int maxOutstanding = 0;

private:
    ZorObjEditModel &m_model;
};

QTimer *timerOf(ZorObjEditModel &model, const QString &id)
{
    return model.findChild<QTimer *>(id);
}

QString status(const ZorObjEditModel &model, int row)
{
    QString text = model.index(row, ZorObjEditModel::StatusColumn).data().toString();
    return text.remove(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d "));
}

int code(const ZorObjEditModel &model, int row)
{
    return model.index(row, 0).data(ZorObjEditModel::StatusCodeRole).toInt();
}

} // namespace

class TestObjEditUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ZorMessage::registerMetaType(); }

    void updatesEntriesGiveIntervals()
    {
        ZorObjEditModel model(table(), false);
        FakeNode node(model);
        model.initObjectUpdate();
        model.initObjectUpdate(); // running already: nothing more
        QCOMPARE(node.requests.size(), 1);
        const ZorMessage first = node.requests.first();
        QCOMPARE(first.msgType(), int(KM_OBJLIST_READ));
        QCOMPARE(first.msgState(), int(KS_REQUEST));
        QVERIFY(first.data().toString().startsWith("SilentReadWrite\n"));
        QCOMPARE(idsOf(first), QStringList({Fast, Slow, Once, Edited, CyclicRw}));
        QCOMPARE(status(model, 0), QStringLiteral("read started"));

        QCOMPARE(model.objectInterval(Fast), 100);
        QCOMPARE(model.objectInterval(Slow), 9999);
        QCOMPARE(model.objectInterval(Once), 0);
        QCOMPARE(model.objectInterval(Edited), 0);
        QCOMPARE(model.objectInterval(Written), -1);
        QCOMPARE(model.objectInterval(Plain), -1);
        QVERIFY(!timerOf(model, Written) && !timerOf(model, Plain));

        node.answerLast();
        QCOMPARE(status(model, 0), QStringLiteral("read ok"));
        QCOMPARE(model.index(0, 5).data().toString(), QStringLiteral("1"));
        QCOMPARE(timerOf(model, Fast)->interval(), 100);
        QVERIFY(timerOf(model, Fast)->isActive());
        QCOMPARE(timerOf(model, Slow)->interval(), 9999);
        QVERIFY(timerOf(model, Slow)->isActive());
        // Read once: quiet after a good read.
        QVERIFY(!timerOf(model, Once)->isActive());
        QVERIFY(!timerOf(model, Edited)->isActive());

        // r50 comes again and again, r20000 not within that time.
        node.autoAnswer = true;
        QTRY_VERIFY_WITH_TIMEOUT(node.readsOf(Fast) >= 5, 10000);
        QCOMPARE(node.readsOf(Slow), 1);
        QCOMPARE(node.readsOf(Once), 1);
        QCOMPARE(node.maxOutstanding, 1);

        model.stopObjectUpdate();
        QVERIFY(!model.findChild<QTimer *>(Fast));
        QCOMPARE(model.objectInterval(Fast), -1);
    }

    void globalIntervalAppliesToEveryReadObject()
    {
        ZorObjEditModel model(table(), false);
        FakeNode node(model);
        node.autoAnswer = true;
        model.setGlobalUpdateInterval(500);
        QVERIFY(!model.isUpdateRunning()); // stopped stays stopped
        QVERIFY(node.requests.isEmpty());
        model.initObjectUpdate();
        QCOMPARE(model.objectInterval(Fast), 500);
        QCOMPARE(model.objectInterval(Slow), 500);
        QCOMPARE(model.objectInterval(Once), 500);
        QCOMPARE(model.objectInterval(Edited), 0);
        QTRY_COMPARE(node.outstanding, 0);

        // A change while running restarts, which reads every object again.
        model.setGlobalUpdateInterval(50);
        QVERIFY(model.isUpdateRunning());
        QCOMPARE(model.objectInterval(Once), 100);
        QCOMPARE(idsOf(node.requests.last()), QStringList({Fast, Slow, Once, Edited, CyclicRw}));

        const QList<QPair<int, int>> clamps = {{-5, 0}, {12000, 9999}, {0, 0}, {250, 250}};
        for (const auto &c : clamps) {
            model.setGlobalUpdateInterval(c.first);
            QCOMPARE(model.globalUpdateInterval(), c.second);
        }
        QCOMPARE(model.objectInterval(Fast), 250);
    }

    void editsAreBatchedAndWritesGoBeforeReads()
    {
        ZorObjEditModel model(table(true), false);
        FakeNode node(model);
        model.initObjectUpdate();
        QCOMPARE(node.requests.size(), 1);

        // While the first read waits, edits and reads only queue.
        QVERIFY(model.setData(model.index(4, 5), "7"));
        QVERIFY(model.setData(model.index(5, 5), "0x10"));
        QVERIFY(model.setData(model.index(6, 5), "9")); // read cyclically: not written
        QCOMPARE(status(model, 4), QStringLiteral("modified"));
        QCOMPARE(status(model, 6), QStringLiteral("modified"));
        model.readObject(Slow);
        model.processPendingReadWriteRequest();
        QCOMPARE(node.requests.size(), 1);
        QVERIFY(model.isRequestPending());

        node.answerLast();
        // The writes of both edits go first, as one silent request.
        QCOMPARE(node.requests.size(), 2);
        const ZorMessage write = node.requests.last();
        QCOMPARE(write.msgType(), int(KM_OBJLIST_WRITE));
        QCOMPARE(write.data().toString(), QStringLiteral("SilentReadWrite\n"
                                                         "001.2004h.00h,unsigned16,7 # written\n"
                                                         "001.2005h.00h,unsigned16,16 # plain\n"));
        QCOMPARE(status(model, 4), QStringLiteral("write started"));
        node.answerLast();
        QCOMPARE(status(model, 5), QStringLiteral("write ok"));
        // The echoed value keeps the notation the user wrote.
        QCOMPARE(model.index(5, 5).data().toString(), QStringLiteral("0x0010"));
        QCOMPARE(node.requests.size(), 3);
        QCOMPARE(node.requests.last().msgType(), int(KM_OBJLIST_READ));
        QCOMPARE(idsOf(node.requests.last()), QStringList({Slow}));
        node.answerLast();

        // Idle: two edits leave by themselves after the gathering time, as
        // one write of the last value.
        node.autoAnswer = true;
        QVERIFY(model.setData(model.index(4, 5), "8"));
        QVERIFY(model.setData(model.index(4, 5), "9"));
        auto writes = [&] {
            QList<ZorMessage> found;
            for (int i = 3; i < node.requests.size(); ++i)
                if (node.requests.at(i).msgType() == KM_OBJLIST_WRITE)
                    found << node.requests.at(i);
            return found;
        };
        QTRY_VERIFY(writes().size() == 1 && node.outstanding == 0);
        QCOMPARE(idsOf(writes().first()), QStringList({Written}));
        QVERIFY(writes().first().data().toString().endsWith(",9 # written\n"));
        QCOMPARE(status(model, 4), QStringLiteral("write ok"));
        QCOMPARE(node.maxOutstanding, 1);
    }

    void anEditWaitingToBeWrittenSurvivesTheReadOnItsWay()
    {
        ZorObjEditModel model(table(true), false);
        FakeNode node(model);
        model.initObjectUpdate();
        QVERIFY(idsOf(node.requests.last()).contains(Edited));
        QVERIFY(model.setData(model.index(3, 5), "77"));
        node.answerLast(); // reads the old value of the edited object
        QCOMPARE(model.index(3, 5).data().toString(), QStringLiteral("77"));
        QCOMPARE(model.index(0, 5).data().toString(), QStringLiteral("1")); // others take the read
        QCOMPARE(node.requests.last().msgType(), int(KM_OBJLIST_WRITE));
        QVERIFY(node.requests.last().data().toString().contains("001.2003h.00h,unsigned16,77 "));
    }

    void answersAreMatchedByIdAndFailuresNeverTurnGreen()
    {
        ZorObjEditModel model(table(), false);
        FakeNode node(model);
        model.initObjectUpdate();
        const ZorMessage request = node.requests.last();

        // Another message of the module, or another request's answer.
        ZorMessage foreign(KM_OBJLIST_READ, KS_ANSWER, FakeNode::resultOf(request, nullptr));
        model.objectUpdateIn(foreign);
        ZorMessage info(KM_INFOTEXT, KS_INFO, "Started");
        model.objectUpdateIn(info);
        QVERIFY(model.isRequestPending());
        QCOMPARE(status(model, 0), QStringLiteral("read started"));

        // Cancelled: the request comes back unchanged; nothing is read ok.
        ZorMessage cancelled = request;
        cancelled.setMsgState(KS_CANCEL);
        model.objectUpdateIn(cancelled);
        QVERIFY(!model.isRequestPending());
        for (int row : {0, 1, 2, 3, 6}) {
            QCOMPARE(code(model, row), 3);
            QCOMPARE(status(model, row), QStringLiteral("read error"));
        }
        // Every object is retried after 5 s plus the stagger, also those
        // read only once.
        for (const QString &id : {Fast, Slow, Once, Edited}) {
            QVERIFY(timerOf(model, id)->isActive());
            QVERIFY(timerOf(model, id)->interval() >= 5000);
            QVERIFY(timerOf(model, id)->interval() < 5200);
        }
        QVERIFY(timerOf(model, Fast)->interval() != timerOf(model, Slow)->interval());
    }

    // The node module answers KS_FAIL when one object of a list failed, and
    // KS_TIMEOUT when its time ran out, with the result lines it has: each
    // object shows its own, whatever the state. Objects left out failed.
    void linesLeftOutOrWithErrorsFail_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("answer") << int(KS_ANSWER);
        QTest::newRow("fail") << int(KS_FAIL);
        QTest::newRow("timeout") << int(KS_TIMEOUT);
    }
    void linesLeftOutOrWithErrorsFail()
    {
        QFETCH(int, state);
        ZorObjEditModel model(table(), false);
        FakeNode node(model);
        model.initObjectUpdate();
        ZorMessage answer = node.requests.last();
        answer.setMsgState(state);
        answer.setData("001.2000h.00h,unsigned16,5 # fast\n"
                       "001.2001h.00h,unsigned16,,error abort (06010000h) # slow\n");
        model.objectUpdateIn(answer);
        QCOMPARE(model.index(0, 5).data().toString(), QStringLiteral("5"));
        QCOMPARE(status(model, 0), QStringLiteral("read ok"));
        QCOMPARE(status(model, 1), QStringLiteral("error abort (06010000h)"));
        QCOMPARE(status(model, 2), QStringLiteral("read error")); // left out
        QCOMPARE(code(model, 2), 3);
        QCOMPARE(timerOf(model, Fast)->interval(), 100);
        QVERIFY(timerOf(model, Slow)->interval() >= 5000);
        QVERIFY(timerOf(model, Once)->isActive());
        QVERIFY(timerOf(model, Once)->interval() >= 5000);
    }

    // A request the module sends back unchanged (its queue was full)
    // carries no results: every object failed.
    void aRequestSentBackUnchangedFailsEveryObject()
    {
        ZorObjEditModel model(table(), false);
        FakeNode node(model);
        model.initObjectUpdate();
        ZorMessage refused = node.requests.last();
        refused.setMsgState(KS_FAIL);
        model.objectUpdateIn(refused);
        for (int row : {0, 1, 2, 3, 6}) {
            QCOMPARE(code(model, row), 3);
            QCOMPARE(status(model, row), QStringLiteral("read error"));
        }
    }

    // A table locked to "0 (Scan)" names its objects with node 0; the node
    // module reads them through its NodeId and answers with that node.
    void nodeZeroRowsAreAnsweredThroughTheNodeId()
    {
        ZorObjEditModel model(table(), true);
        model.setLockedNodeId("0 (Scan)");
        FakeNode node(model);
        model.initObjectUpdate();
        const ZorMessage request = node.requests.last();
        QCOMPARE(idsOf(request).first(), QStringLiteral("000.2000h.00h"));
        ZorMessage answer = request;
        answer.setMsgState(KS_ANSWER);
        answer.setData(FakeNode::resultOf(request, nullptr).replace("000.", "005."));
        model.objectUpdateIn(answer);
        for (int row : {0, 1, 2, 3, 6})
            QCOMPARE(status(model, row), QStringLiteral("read ok"));
        QCOMPARE(timerOf(model, "000.2000h.00h")->interval(), 100);
        QCOMPARE(timerOf(model, "000.2006h.00h")->interval(), 1000);
        QVERIFY(!timerOf(model, "000.2002h.00h")->isActive());
    }

    void aFormatChangeNeverDropsTheAnswerOnItsWay()
    {
        ZorObjEditModel model(table(true), false);
        FakeNode node(model);
        model.initObjectUpdate();
        node.answerLast();
        QVERIFY(model.setData(model.index(4, 5), "5"));
        QTRY_COMPARE(node.requests.size(), 2); // the write
        QVERIFY(model.isRequestPending());

        // Now the row starts to be read, and another one stops.
        QVERIFY(model.setData(model.index(5, 11), "updates:r2000"));
        QVERIFY(model.setData(model.index(0, 11), "updates:w"));
        QCOMPARE(model.objectInterval(Plain), 2000);
        QCOMPARE(model.objectInterval(Fast), -1);
        QCOMPARE(node.requests.size(), 2);

        node.answerLast();
        QCOMPARE(status(model, 4), QStringLiteral("write ok"));
        QCOMPARE(node.requests.size(), 3);
        QCOMPARE(idsOf(node.requests.last()), QStringList({Plain}));
    }

    void aLostAnswerTimesOutAndIsReadAgain()
    {
        ZorObjEditModel model(table(true), false);
        model.setRequestTimeout(300);
        FakeNode node(model);
        model.initObjectUpdate();
        QVERIFY(model.setData(model.index(4, 5), "5")); // queued behind the lost read

        // The first answer never comes: its rows fail with "timeout", the
        // queue goes on with the write.
        QTRY_COMPARE(node.requests.size(), 2);
        QCOMPARE(status(model, 0), QStringLiteral("timeout"));
        QCOMPARE(code(model, 0), 3);
        QCOMPARE(node.requests.last().msgType(), int(KM_OBJLIST_WRITE));
        const int timeoutInterval = timerOf(model, Fast)->interval();
        QVERIFY(timeoutInterval >= 5000 && timeoutInterval < 5200);
        node.answerLast();

        // A late answer to the lost request changes nothing.
        node.answer(node.requests.first());
        QCOMPARE(status(model, 0), QStringLiteral("timeout"));

        // The retry reads the objects again.
        node.autoAnswer = true;
        QTRY_VERIFY_WITH_TIMEOUT(node.readsOf(Fast) >= 2, 15000);
        QTRY_COMPARE(status(model, 0), QStringLiteral("read ok"));
    }

    void aNewNodeIdRestartsTheReads()
    {
        QDomDocument doc = table(true);
        ZorObjEditModel model(doc, true);
        model.setLockedNodeId("1");
        FakeNode node(model);
        model.initObjectUpdate();
        node.answerLast();
        model.setLockedNodeId("7");
        QCOMPARE(node.requests.size(), 2);
        QCOMPARE(idsOf(node.requests.last()).first(), QStringLiteral("007.2000h.00h"));
        QCOMPARE(model.objectInterval("007.2001h.00h"), 9999);
        QCOMPARE(model.objectInterval(Slow), -1);
    }

    void watchdogAndStagger()
    {
        ZorObjEditModel model(table(), false);
        FakeNode node(model);
        model.initObjectUpdate();
        node.answerLast();
        QCOMPARE(model.stagger(), 63); // three good re-arms: 100, 9999, 1000 ms

        // A timer that fires waits as watchdog for its answer.
        model.readObject(Fast);
        QCOMPARE(timerOf(model, Fast)->interval(), 10063);
        QList<int> staggers;
        for (int i = 0; i < 10; ++i) {
            model.rearmObjectTimer(Slow, true, false);
            staggers << model.stagger();
        }
        QCOMPARE(staggers, QList<int>({105, 126, 147, 168, 189, 0, 21, 42, 63, 84}));
        // Objects without a timer, and good reads of objects read once,
        // change nothing.
        model.rearmObjectTimer(Written, true, false);
        model.rearmObjectTimer(Once, false, false);
        QCOMPARE(model.stagger(), 84);
    }
};

ZOR_TEST(TestObjEditUpdate)
#include "tst_objeditupdate.moc"
