#include "zorinterview.h"

#include "zorbabelfish.h"

#include <QElapsedTimer>
#include <atomic>

namespace {

const QString noResponse = QStringLiteral("noresponse");

qint64 monotonicNow()
{
    static const QElapsedTimer reference = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return reference.elapsed();
}

std::atomic<ZorInterview::Clock> clockFunction{&monotonicNow};

// Matches a wildcard pattern made of '*', '?' and plain ASCII characters
// against the whole text, case-insensitively, as QRegExp::Wildcard would:
// an answer is matched for every frame and line, and QRegExp takes
// microseconds for each. false in `handled` for any other pattern (sets,
// backslashes, other characters), which QRegExp then matches.
bool simpleWildcardMatch(const QString &pattern, const QString &text, bool &handled)
{
    const int patternLength = pattern.size();
    const QChar *p = pattern.constData();
    for (int i = 0; i < patternLength; ++i) {
        const ushort c = p[i].unicode();
        if (c >= 0x80 || c == '[' || c == ']' || c == '\\') {
            handled = false;
            return false;
        }
    }
    handled = true;
    const int textLength = text.size();
    const QChar *t = text.constData();
    auto same = [](QChar patternChar, QChar textChar) {
        return patternChar == textChar || patternChar.toLower() == textChar.toLower();
    };
    // Greedy with backtracking to the last star: linear for the patterns
    // used here, never worse than length times length.
    int pi = 0, ti = 0, starAt = -1, starText = 0;
    while (ti < textLength) {
        if (pi < patternLength && p[pi] == QLatin1Char('*')) {
            starAt = pi++;
            starText = ti;
        } else if (pi < patternLength && (p[pi] == QLatin1Char('?') || same(p[pi], t[ti]))) {
            ++pi;
            ++ti;
        } else if (starAt >= 0) {
            pi = starAt + 1;
            ti = ++starText;
        } else {
            return false;
        }
    }
    while (pi < patternLength && p[pi] == QLatin1Char('*'))
        ++pi;
    return pi == patternLength;
}

// Field i of a colon-separated line ("" when missing).
QString field(const QStringList &fields, int i)
{
    return fields.value(i);
}

} // namespace

qint64 ZorInterview::now()
{
    return clockFunction.load()();
}

void ZorInterview::setClock(Clock clock)
{
    clockFunction = clock ? clock : &monotonicNow;
}

ZorInterview::ZorInterview(const ZorMessage &message)
    : m_message(message)
{
    m_message.setMsgState(KS_WAITING);
    m_lines = message.data().toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!m_lines.isEmpty()
        && m_lines.first().section(QLatin1Char(':'), 0, 0).trimmed() == QLatin1String("OnErrorContinue")) {
        m_onErrorContinue = true;
        m_lines.removeFirst();
    }
    m_answerPattern.setPatternSyntax(QRegExp::Wildcard);
    m_answerPattern.setCaseSensitivity(Qt::CaseInsensitive);
}

bool ZorInterview::expectsNoResponse() const
{
    return m_answerPattern.pattern().compare(noResponse, Qt::CaseInsensitive) == 0;
}

bool ZorInterview::nextLine()
{
    if (m_message.msgState() != KS_WAITING)
        return false;
    if (m_lineIndex < m_lines.size()) {
        // A value in a request (a text written to an object) may hold ":"
        // when it travels as a quoted field.
        const QStringList fields = ZorBabelFish::splitOutsideQuotes(m_lines.at(m_lineIndex++), QLatin1Char(':'));
        m_lineHead = QStringList(fields.mid(0, 3)).join(QLatin1Char(':')).trimmed();
        const QStringList head = m_lineHead.split(QLatin1Char(':'));
        m_kind = field(head, 0);
        m_timeoutMs = field(head, 1).trimmed().toInt();
        m_deadline = now();
        m_lineStarted = false;
        const int count = field(head, 2).trimmed().toInt();
        m_attemptsLeft = count >= 0 ? count + 1 : count;
        if (isWait()) {
            m_request.clear();
            m_answerPattern.setPattern(noResponse);
        } else {
            m_request = field(fields, 3).trimmed();
            m_answerPattern.setPattern(field(fields, 4).trimmed());
        }
        return true;
    }
    if (m_onErrorContinue) {
        m_result.prepend(QStringLiteral("%1:%2:%3\n")
                             .arg(QStringLiteral("OnErrorContinue")).arg(m_okCount).arg(m_failCount));
    }
    m_result.chop(1);
    m_message.setData(m_result);
    // A module that took none of the lines has nothing to say about them:
    // it refuses the interview as a whole, also when failed lines would
    // not end it, so that a master with several slaves (a network manager
    // with node modules below it) waits for the one that serves it. "Wait"
    // lines are never offered to the states, so they take no part here
    // (an object list's final line feed becomes one).
    int offered = 0;
    for (const QString &line : qAsConst(m_lines)) {
        if (line.section(QLatin1Char(':'), 0, 0).trimmed() != QLatin1String("Wait"))
            ++offered;
    }
    const bool refused = offered > 0 && m_refusedCount == offered;
    m_message.setMsgState(refused ? KS_REJECT : KS_ANSWER);
    return false;
}

bool ZorInterview::attemptDue() const
{
    return !m_lineStarted || (m_timeoutMs > 0 && now() >= m_deadline);
}

bool ZorInterview::startAttempt()
{
    m_lineStarted = true;
    m_deadline = now() + m_timeoutMs;
    if (m_attemptsLeft >= 0) {
        const bool left = m_attemptsLeft >= 1;
        --m_attemptsLeft;
        return left;
    }
    return true;
}

bool ZorInterview::matchAnswer(const QString &kind, const QString &text, bool failed)
{
    if (!m_lineStarted || m_message.msgState() != KS_WAITING)
        return false;
    if (!kind.isEmpty() && kind != m_kind)
        return false;
    const QString pattern = m_answerPattern.pattern();
    if (!pattern.isEmpty()) {
        bool handled = false;
        const bool matches = simpleWildcardMatch(pattern, text, handled);
        if (handled ? !matches : !m_answerPattern.exactMatch(text))
            return false;
    }
    recordResult(failed ? KS_FAIL : KS_WAITING, text);
    return true;
}

void ZorInterview::recordResult(int code, const QString &text)
{
    if (code == KS_REJECT)
        ++m_refusedCount;
    if (m_onErrorContinue) {
        if (code == KS_WAITING || code == KS_ANSWER) {
            ++m_okCount;
            code = KS_WAITING;
        } else if (code != KS_CANCEL) {
            ++m_failCount;
            code = KS_WAITING;
        }
    }
    m_result += m_lineHead + QLatin1Char(':') + m_request + QLatin1Char(':') + text + QLatin1Char('\n');
    if (code == KS_WAITING)
        return;
    for (int i = m_lineIndex; i < m_lines.size(); ++i)
        m_result += m_lines.at(i) + QLatin1Char('\n');
    m_result.chop(1);
    m_message.setData(m_result);
    m_message.setMsgState(code);
}
