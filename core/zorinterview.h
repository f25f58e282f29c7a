// ZorInterview: one pending KM_INTERVIEW request and where it stands.
//
// An interview's data is a list of lines (separated by line feeds, empty
// lines skipped), each one request with an expected answer and a time-out:
//
//   kind:timeout:count:request:expected
//   CAN:1000:1:7e5h,8,17 01 00 00 00 00 00 00:7e4h,8,17*
//
//   kind      what to do ("CAN", "SDOReadObject", "Wait", ...), case-sensitive
//   timeout   ms to wait for the answer of one attempt; 0 = no time-out
//   count     repeats after a timed-out attempt (n gives n + 1 attempts,
//             a negative count retries without limit)
//   request   what to send, in the kind's own syntax
//   expected  optional case-insensitive wildcard pattern ("*", "?", [set]) an
//             answer must match as a whole; empty takes the first answer;
//             "noresponse" succeeds when no answer comes
//
// "Wait:500:0" sends nothing and succeeds after 500 ms. A first line
// "OnErrorContinue" makes failed lines count instead of ending the interview.
//
// The result of a line is "kind:timeout:count:request:answer"; the interview
// is answered with its completed lines (KS_ANSWER) or, when a line fails, with
// the completed lines, the failed line (empty answer) and the untouched rest
// (KS_REJECT, KS_FAIL, KS_TIMEOUT or KS_CANCEL).
//
// Deadlines are taken on a monotonic millisecond clock, never the time of day.
#pragma once

#include "zormessage.h"

#include <QRegExp>
#include <QStringList>

class ZorInterview
{
public:
    explicit ZorInterview(const ZorMessage &message);

    // Takes the next line; false when the interview is over (then complete,
    // or already ended by a failure).
    bool nextLine();
    // The current line must be sent (again) now.
    bool attemptDue() const;
    // Starts an attempt; false when the line has no attempt left.
    bool startAttempt();
    bool isWait() const { return m_kind == QLatin1String("Wait"); }
    bool expectsNoResponse() const;
    bool completesAtOnce() const { return m_timeoutMs == 0 && expectsNoResponse(); }
    // Takes an answer for the current line when it matches (kind, when given,
    // and pattern); failed answers end the interview with KS_FAIL.
    bool matchAnswer(const QString &kind, const QString &text, bool failed);
    void recordResult(int code, const QString &text);

    // What a state reads to carry a line out.
    const ZorMessage &message() const { return m_message; }
    QString kind() const { return m_kind; }
    QString request() const { return m_request; }
    int timeoutMs() const { return m_timeoutMs; }
    QString expectedAnswer() const { return m_answerPattern.pattern(); }
    // Replaces the expected answer of the current line: a state that carries
    // a line out may make it stricter or say that no answer will come
    // ("noresponse"). Reached through ZorModule::setLineExpectedAnswer.
    void setExpectedAnswer(const QString &pattern) { m_answerPattern.setPattern(pattern); }
    QString lineHead() const { return m_lineHead; }
    int lineIndex() const { return m_lineIndex; }
    int attemptsLeft() const { return m_attemptsLeft; }
    bool lineStarted() const { return m_lineStarted; }
    bool isWaiting() const { return m_message.msgState() == KS_WAITING; }
    bool onErrorContinue() const { return m_onErrorContinue; }
    qint64 deadline() const { return m_deadline; }

    // Milliseconds on the monotonic clock that all deadlines use.
    static qint64 now();
    // Tests may drive the clock (null restores the monotonic clock).
    using Clock = qint64 (*)();
    static void setClock(Clock clock);

private:
    ZorMessage m_message;
    int m_lineIndex = 0;
    QStringList m_lines;
    QString m_result;
    bool m_lineStarted = false;
    QString m_kind;
    int m_timeoutMs = 0;
    qint64 m_deadline = -1;
    int m_attemptsLeft = 0;
    QString m_lineHead;
    QString m_request;
    QRegExp m_answerPattern;
    bool m_onErrorContinue = false;
    int m_okCount = 0;
    int m_failCount = 0;
    int m_refusedCount = 0;   // lines no state of the module took
};
