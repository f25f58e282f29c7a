// Interviews: the line format and the record (on a test clock), and the
// engine of a running module whose state "sends" CAN requests into a
// recorder and is fed received frames by the test.
#include "zortest.h"
#include "testmodule.h"
#include "zorinterview.h"

#include <QElapsedTimer>
#include <QtTest>
#include <memory>
#include <mutex>

namespace {

qint64 fakeNow = 0;
qint64 fakeClock() { return fakeNow; }

// The requests a module's state carried out, with the time of each.
struct LineRecorder
{
    mutable std::mutex mutex;
    QStringList requests;
    QList<qint64> times;
    QElapsedTimer clock;

    LineRecorder() { clock.start(); }
    void add(const QString &request)
    {
        std::lock_guard<std::mutex> locker(mutex);
        requests << request;
        times << clock.elapsed();
    }
    int count() const
    {
        std::lock_guard<std::mutex> locker(mutex);
        return requests.size();
    }
    QStringList all() const
    {
        std::lock_guard<std::mutex> locker(mutex);
        return requests;
    }
    QList<qint64> when() const
    {
        std::lock_guard<std::mutex> locker(mutex);
        return times;
    }
};

using ModulePtr = std::unique_ptr<TestModule, ZorModuleDeleter>;

// A module that carries out "CAN" lines into the recorder and offers every
// KM_CAN_FRAME it receives from a slave as a "CAN" answer (KS_FAIL = error).
ModulePtr canModule(LineRecorder &lines, const QString &label = QStringLiteral("CAN1"))
{
    ModulePtr m(new TestModule(label, QStringLiteral("canusb")));
    m->period = 0;
    m->onInterviewLine = [&lines](const ZorInterview &line) {
        if (line.kind() != QLatin1String("CAN"))
            return false;
        lines.add(line.request());
        return true;
    };
    m->onCycle = [](ZorModStates::Top &state) {
        ZorMessage frame;
        while (state.module()->getMessage(ZorModule::FromSlaves, frame)) {
            if (frame.msgType() == KM_CAN_FRAME)
                state.offerInterviewAnswer(QStringLiteral("CAN"), frame.data().toString(),
                                           frame.msgState() == KS_FAIL);
        }
    };
    return m;
}

void feed(ZorModule &m, const QString &frame, int state = KS_INFO)
{
    m.masterIn(ZorMessage(KM_CAN_FRAME, state, frame));
}

ZorMessage interview(const QString &lines, const QString &origin = QString())
{
    ZorMessage m(KM_INTERVIEW, KS_REQUEST, lines);
    m.setOrigin(origin);
    return m;
}

// The interview answers that reached the master (state no longer KS_WAITING).
QList<ZorMessage> finished(const MessageRecorder &master)
{
    return master.ofType(KM_INTERVIEW);
}

} // namespace

class TestInterview : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { ZorInterview::setClock(nullptr); }

    void linesAreReadField_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("head");
        QTest::newRow("CAN exchange") << "CAN:1000:1:7e5h,8,17 01 00 00 00 00 00 00:7e4h,8,17*"
            << "CAN" << 1000 << 2 << "7e5h,8,17 01 00 00 00 00 00 00" << "7e4h,8,17*" << "CAN:1000:1";
        QTest::newRow("no expected answer") << "SDOReadObject:1000:0:1,1000h,0h,unsigned32"
            << "SDOReadObject" << 1000 << 1 << "1,1000h,0h,unsigned32" << "" << "SDOReadObject:1000:0";
        QTest::newRow("wait ignores request and answer") << "Wait:500:2:x:y"
            << "Wait" << 500 << 3 << "" << "noresponse" << "Wait:500:2";
        QTest::newRow("blanks, bad number, colon ends the answer") << "  CAN:abc:0: 0,2,82 00 :noresponse:more"
            << "CAN" << 0 << 1 << "0,2,82 00" << "noresponse" << "CAN:abc:0";
        QTest::newRow("unlimited") << "CAN:100:-1:1,0:" << "CAN" << 100 << -1 << "1,0" << "" << "CAN:100:-1";
    }

    void linesAreReadField()
    {
        QFETCH(QString, line);
        ZorInterview record(interview(line));
        QVERIFY(record.nextLine());
        QTEST(record.kind(), "kind");
        QTEST(record.timeoutMs(), "timeout");
        QTEST(record.attemptsLeft(), "attempts");
        QTEST(record.request(), "request");
        QTEST(record.expectedAnswer(), "expected");
        QTEST(record.lineHead(), "head");
        QCOMPARE(record.message().msgState(), int(KS_WAITING));
    }

    void answersMatchAsCaseInsensitiveWildcards_data()
    {
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("matches");
        QTest::newRow("star") << "7e4h,8,17*" << "CAN" << "7e4h,8,17 00 00 00 00 00 00 00" << true;
        QTest::newRow("small letters match capitals") << "7e4h,8,*" << "CAN" << "7E4H,8,17 00" << true;
        QTest::newRow("whole text") << "7e4h,8,17" << "CAN" << "7e4h,8,17 00" << false;
        QTest::newRow("question mark and set") << "58?h,8,[46]0*" << "CAN" << "581h,8,60 00" << true;
        QTest::newRow("set excludes") << "58?h,8,[46]0*" << "CAN" << "581h,8,80 00" << false;
        QTest::newRow("star spans slashes") << "*error*" << "CAN" << "a/b error c/d" << true;
        QTest::newRow("empty takes anything") << "" << "CAN" << "whatever" << true;
        QTest::newRow("any kind") << "x" << "" << "x" << true;
        QTest::newRow("other kind") << "x" << "SDO" << "x" << false;
    }

    void answersMatchAsCaseInsensitiveWildcards()
    {
        QFETCH(QString, expected);
        QFETCH(QString, kind);
        QFETCH(QString, answer);
        QFETCH(bool, matches);
        ZorInterview record(interview("CAN:0:0:1,0:" + expected));
        QVERIFY(record.nextLine());
        QVERIFY(!record.matchAnswer(kind, answer, false));   // not sent yet
        QVERIFY(record.startAttempt());
        QCOMPARE(record.matchAnswer(kind, answer, false), matches);
        if (matches) {
            QVERIFY(!record.nextLine());
            QCOMPARE(record.message().msgState(), int(KS_ANSWER));
            QCOMPARE(record.message().data().toString(), "CAN:0:0:1,0:" + answer);
        }
    }

    // Plain patterns are matched without QRegExp: every pattern against
    // every text must give what QRegExp gives.
    void answerMatchingAgreesWithQRegExp()
    {
        const QStringList patterns = {"581h,8,4? 00 10 00*", "a*b*c", "*", "**", "?", "a?", "*c", "1.0(x)+$^{|}",
                                      "ABC", "58?h,8,[46]0*", "a\\*b", "\u00e4*", "*ab*ab"};
        const QStringList texts = {"581h,8,4B 00 10 00 01 00 00 00", "581h,8,80 00 10 00", "abc", "aXbYbZc", "acb",
                                   "", "a", "ab", "1.0(x)+$^{|}", "1x0(x)+$^{|}", "abc\ncab", "60", "a\\xb",
                                   "\u00c4\u00e4", "abab", "xabxab"};
        for (const QString &pattern : patterns) {
            const QRegExp reference(pattern, Qt::CaseInsensitive, QRegExp::Wildcard);
            for (const QString &text : texts) {
                ZorInterview record(interview("CAN:0:0:1,0:" + pattern));
                QVERIFY(record.nextLine());
                QVERIFY(record.startAttempt());
                QVERIFY2(record.matchAnswer("CAN", text, false) == reference.exactMatch(text),
                         qPrintable(pattern + " / " + text));
            }
        }
    }

    void attemptsFollowTheDeadlines()
    {
        ZorInterview::setClock(&fakeClock);
        // Close to where a time-of-day clock would wrap at midnight.
        fakeNow = 86400000 - 500;
        ZorInterview record(interview("CAN:1000:1:1,0:2,0"));
        QVERIFY(record.nextLine());
        QVERIFY(record.attemptDue());
        QVERIFY(record.startAttempt());
        QVERIFY(!record.attemptDue());
        fakeNow += 999;
        QVERIFY(!record.attemptDue());
        fakeNow += 1;
        QVERIFY(record.attemptDue());
        QVERIFY(record.startAttempt());    // second attempt
        fakeNow += 1000;
        QVERIFY(record.attemptDue());
        QVERIFY(!record.startAttempt());   // none left

        ZorInterview unlimited(interview("CAN:10:-1:1,0"));
        QVERIFY(unlimited.nextLine());
        for (int i = 0; i < 5; ++i) {
            QVERIFY(unlimited.attemptDue());
            QVERIFY(unlimited.startAttempt());
            fakeNow += 10;
        }
        ZorInterview noTimeout(interview("CAN:0:0:1,0:2,0"));
        QVERIFY(noTimeout.nextLine());
        QVERIFY(noTimeout.startAttempt());
        fakeNow += 1000000;
        QVERIFY(!noTimeout.attemptDue());
    }

    void defaultClockIsMonotonic()
    {
        QElapsedTimer reference;
        reference.start();
        QCOMPARE(QElapsedTimer::clockType(), QElapsedTimer::MonotonicClock);
        const qint64 a = ZorInterview::now();
        QTRY_VERIFY(reference.elapsed() >= 20);
        QVERIFY(ZorInterview::now() - a >= 20);
    }

    void twoLinesAnsweredByFrames()
    {
        LineRecorder lines;
        ModulePtr m = canModule(lines);
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->start();
        const ZorMessage request = interview(
            "CAN:1000:1:7e5h,8,17 01 00 00 00 00 00 00:7e4h,8,17*\n"
            "CAN:1000:1:7e5h,8,23 00 00 00 00 00 00 00:7e4h,8,23 00*");
        m->slaveIn(request);
        QTRY_COMPARE(lines.count(), 1);
        feed(*m, "7e4h,8,99 00 00 00 00 00 00 00");   // matches nothing: ignored
        feed(*m, "7e4h,8,17 00 00 00 00 00 00 00");
        QTRY_COMPARE(lines.count(), 2);
        feed(*m, "7e4h,8,23 00 00 00 00 00 00 00");
        QTRY_COMPARE(finished(master).size(), 1);
        const ZorMessage answer = finished(master).first();
        QVERIFY(answer == request);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), QStringLiteral(
            "CAN:1000:1:7e5h,8,17 01 00 00 00 00 00 00:7e4h,8,17 00 00 00 00 00 00 00\n"
            "CAN:1000:1:7e5h,8,23 00 00 00 00 00 00 00:7e4h,8,23 00 00 00 00 00 00 00"));
        QCOMPARE(lines.all(), QStringList({"7e5h,8,17 01 00 00 00 00 00 00",
                                           "7e5h,8,23 00 00 00 00 00 00 00"}));
        QCOMPARE(m->pendingInterviewCount(), 0);
    }

    void interviewOutcomes_data()
    {
        QTest::addColumn<QString>("lines");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("result");
        QTest::newRow("wait 0") << "Wait:0:0" << int(KS_ANSWER) << "Wait:0:0::noresponse";
        QTest::newRow("send without answer") << "CAN:0:0:0,2,82 00:noresponse\nWait:20:1"
            << int(KS_ANSWER) << "CAN:0:0:0,2,82 00:noresponse\nWait:20:1::noresponse";
        QTest::newRow("kind no state carries out") << "SDOReadObject:1000:0:1,1000h,0h,unsigned32\nWait:0:0"
            << int(KS_REJECT) << "SDOReadObject:1000:0:1,1000h,0h,unsigned32:\nWait:0:0";
        QTest::newRow("on error continue") << "OnErrorContinue\nCAN:0:0:1,0:noresponse\nCAN:30:0:2,0:3,0\nWait:0:0"
            << int(KS_ANSWER) << "OnErrorContinue:2:1\nCAN:0:0:1,0:noresponse\nCAN:30:0:2,0:\nWait:0:0::noresponse";
        QTest::newRow("rejected line continues") << "OnErrorContinue\nOther:0:0:x\nCAN:0:0:1,0:noresponse\nWait:0:0"
            << int(KS_ANSWER)
            << "OnErrorContinue:2:1\nOther:0:0:x:\nCAN:0:0:1,0:noresponse\nWait:0:0::noresponse";
        QTest::newRow("every line refused: not this module's") << "OnErrorContinue\nOther:0:0:x\nOther:0:0:y"
            << int(KS_REJECT) << "OnErrorContinue:0:2\nOther:0:0:x:\nOther:0:0:y:";
        // An object list ends with a line feed, which becomes a "Wait" line.
        QTest::newRow("every line refused but waits") << "OnErrorContinue\nOther:0:0:x\nWait:0:0\nOther:0:0:y\nWait:0:0"
            << int(KS_REJECT) << "OnErrorContinue:2:2\nOther:0:0:x:\nWait:0:0::noresponse\nOther:0:0:y:\nWait:0:0::noresponse";
        QTest::newRow("no lines: an ordinary message") << "\n\n" << int(KS_REQUEST) << "\n\n";
    }

    void interviewOutcomes()
    {
        QFETCH(QString, lines);
        QFETCH(int, state);
        QFETCH(QString, result);
        LineRecorder recorder;
        ModulePtr m = canModule(recorder);
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->start();
        m->slaveIn(interview(lines));
        if (state == KS_REQUEST) {
            QCOMPARE(m->queuedCount(ZorModule::FromMaster), 1);
            QCOMPARE(m->pendingInterviewCount(), 0);
            return;
        }
        QTRY_COMPARE(finished(master).size(), 1);
        QCOMPARE(finished(master).first().msgState(), state);
        QCOMPARE(finished(master).first().data().toString(), result);
    }

    void unansweredLineIsRetriedThenTimesOut()
    {
        LineRecorder lines;
        ModulePtr m = canModule(lines);
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->start();
        m->slaveIn(interview("Wait:0:0\nCAN:150:1:7e5h,8,17 01:7e4h,8,17*\n CAN:10:0:1,0:x\nWait:1:0"));
        QTRY_COMPARE(finished(master).size(), 1);
        const ZorMessage answer = finished(master).first();
        QCOMPARE(answer.msgState(), int(KS_TIMEOUT));
        QCOMPARE(answer.data().toString(), QStringLiteral(
            "Wait:0:0::noresponse\nCAN:150:1:7e5h,8,17 01:\n CAN:10:0:1,0:x\nWait:1:0"));
        QCOMPARE(lines.all(), QStringList({"7e5h,8,17 01", "7e5h,8,17 01"}));
        const QList<qint64> when = lines.when();
        QVERIFY2(when.at(1) - when.at(0) >= 140, qPrintable(QString::number(when.at(1) - when.at(0))));
    }

    void failedAnswerEndsTheInterview()
    {
        LineRecorder lines;
        ModulePtr m = canModule(lines);
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->start();
        m->slaveIn(interview("CAN:1000:0:1,0\nWait:0:0"));
        QTRY_COMPARE(lines.count(), 1);
        feed(*m, "bus off", KS_FAIL);
        QTRY_COMPARE(finished(master).size(), 1);
        QCOMPARE(finished(master).first().msgState(), int(KS_FAIL));
        QCOMPARE(finished(master).first().data().toString(), QStringLiteral("CAN:1000:0:1,0:bus off\nWait:0:0"));
    }

    void oneAnswerServesEveryWaitingRecordUnlessOnePerPass_data()
    {
        QTest::addColumn<bool>("onePerPass");
        QTest::addColumn<int>("answeredAtOnce");
        QTest::newRow("all records") << false << 2;
        QTest::newRow("one per pass") << true << 1;
    }

    void oneAnswerServesEveryWaitingRecordUnlessOnePerPass()
    {
        QFETCH(bool, onePerPass);
        QFETCH(int, answeredAtOnce);
        LineRecorder lines;
        ModulePtr m = canModule(lines);
        m->onePerPass = onePerPass;
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->start();
        m->slaveIn(interview("CAN:0:0:1,0:2,0"));
        m->slaveIn(interview("CAN:0:0:1,0:2,0"));
        // One per pass: the records are worked strictly one after the other.
        QTRY_COMPARE(lines.count(), answeredAtOnce);
        feed(*m, "2,0");
        QTRY_COMPARE(finished(master).size(), answeredAtOnce);
        if (onePerPass) {
            QTRY_COMPARE(lines.count(), 2);   // now the second one is sent
            QCOMPARE(m->pendingInterviewCount(), 1);
        }
    }

    void cancelEndsOnlyTheRequestersInterviews()
    {
        LineRecorder lines;
        ModulePtr m = canModule(lines);
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->start();
        m->slaveIn(interview("CAN:0:0:1,0:2,0\nWait:0:0", "X"));
        m->slaveIn(interview("CAN:0:0:3,0:4,0", "Y"));
        QTRY_COMPARE(lines.count(), 2);

        ZorMessage anonymous(KM_CANCEL_INTERVIEWS, KS_REQUEST);
        m->slaveIn(anonymous);   // names no requester: cancels nobody's
        ZorMessage cancel(KM_CANCEL_INTERVIEWS, KS_REQUEST);
        cancel.setOrigin("X");
        m->slaveIn(cancel);
        QCOMPARE(master.ofType(KM_CANCEL_INTERVIEWS).size(), 2);   // both answered at once

        QTRY_COMPARE(finished(master).size(), 1);
        ZorMessage ended = finished(master).first();
        QCOMPARE(ended.origin(), QStringLiteral("X"));
        QCOMPARE(ended.msgState(), int(KS_CANCEL));
        QCOMPARE(ended.data().toString(), QStringLiteral("CAN:0:0:1,0:\nWait:0:0"));
        QCOMPARE(m->pendingInterviewCount(), 1);
        feed(*m, "4,0");
        QTRY_COMPARE(finished(master).size(), 2);
        QCOMPARE(finished(master).last().origin(), QStringLiteral("Y"));
        QCOMPARE(finished(master).last().msgState(), int(KS_ANSWER));
    }

    void requestersStampTheirInterviewsAndCancels()
    {
        // Two requesters send interviews and a cancel without stamping their
        // origin; the cancel must still end only its sender's interview.
        LineRecorder lines;
        ModulePtr slave = canModule(lines);
        ModulePtr a(new TestModule(QStringLiteral("A"), QStringLiteral("nodeconfig")));
        ModulePtr b(new TestModule(QStringLiteral("B"), QStringLiteral("nodeconfig")));
        MessageRecorder answersA;
        for (TestModule *requester : {a.get(), b.get()}) {
            requester->period = 0;
            connect(requester, &ZorModule::masterOut, slave.get(), &ZorModule::slaveIn);
            connect(slave.get(), &ZorModule::slaveOut, requester, &ZorModule::masterIn);
            requester->onCycle = [](ZorModStates::Top &state) {
                TestModule *self = static_cast<TestModule *>(state.module());
                if (self->cycles() == 1)
                    state.sendToSlaves(ZorMessage(KM_INTERVIEW, KS_REQUEST, "CAN:0:0:1,0:2,0"), false);
                if (self->cycles() == 2 && self->label() == QLatin1String("A"))
                    state.sendToSlaves(ZorMessage(KM_CANCEL_INTERVIEWS, KS_REQUEST), false);
            };
        }
        connect(slave.get(), &ZorModule::slaveOut, &answersA, &MessageRecorder::record);
        slave->start();
        a->start();
        b->start();
        QTRY_COMPARE(answersA.count(KM_CANCEL_INTERVIEWS), 1);
        QTRY_COMPARE(finished(answersA).size(), 1);
        QCOMPARE(finished(answersA).first().origin(), QStringLiteral("A"));
        QCOMPARE(finished(answersA).first().msgState(), int(KS_CANCEL));
        QTRY_COMPARE(slave->pendingInterviewCount(), 1);
    }

    void stateMayFeedAnAnswerFromInsideTheLineHandler()
    {
        LineRecorder lines;
        ModulePtr m = canModule(lines);
        TestModule *raw = m.get();
        m->onInterviewLine = [raw, &lines](const ZorInterview &line) {
            lines.add(line.request());
            // Both would deadlock or corrupt the pass if taken at face value.
            if (raw->hasPendingInterviews())
                raw->offerInterviewAnswer(QStringLiteral("CAN"), QStringLiteral("echo ") + line.request(), false);
            return true;
        };
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->start();
        m->slaveIn(interview("CAN:1000:0:1,0:echo*\nCAN:1000:0:2,0:echo*"));
        QTRY_COMPARE(finished(master).size(), 1);
        QCOMPARE(finished(master).first().data().toString(),
                 QStringLiteral("CAN:1000:0:1,0:echo 1,0\nCAN:1000:0:2,0:echo 2,0"));
    }

    // A state may replace the expected answer of the line it carries out:
    // "noresponse" ends the line without an answer, a stricter pattern keeps
    // out an answer that the requester's own pattern would have taken.
    void stateMayReplaceTheExpectedAnswer()
    {
        LineRecorder lines;
        ModulePtr m = canModule(lines);
        TestModule *raw = m.get();
        m->onInterviewLine = [raw, &lines](const ZorInterview &line) {
            lines.add(line.request());
            raw->setLineExpectedAnswer(line.request() == QLatin1String("quiet")
                                           ? QStringLiteral("noresponse") : QStringLiteral("x,2*"));
            return true;
        };
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        QVERIFY(!m->setLineExpectedAnswer(QStringLiteral("*")));   // outside the handler
        m->start();
        m->slaveIn(interview("CAN:0:0:quiet\nCAN:1000:0:strict:x*"));
        QTRY_COMPARE(lines.count(), 2);
        feed(*m, QStringLiteral("x,1"));
        feed(*m, QStringLiteral("x,2"));
        QTRY_COMPARE(finished(master).size(), 1);
        QCOMPARE(finished(master).first().data().toString(),
                 QStringLiteral("CAN:0:0:quiet:noresponse\nCAN:1000:0:strict:x,2"));
    }
};

ZOR_TEST(TestInterview)
#include "tst_interview.moc"
