#include "zorobjectlist.h"

#include "zorbabelfish.h"
#include "zormessage.h"

#include <QRegularExpression>
#include <limits>

namespace {

const QString WaitLine = QStringLiteral("Wait:0:0");
const QString WriteHead = QStringLiteral("SDOWriteObject:1000:1:");
const QString ReadHead = QStringLiteral("SDOReadObject:750:0:");
const QString OnErrorContinue = QStringLiteral("OnErrorContinue");
const QChar Comma = QLatin1Char(',');
const QChar Colon = QLatin1Char(':');
const QChar LineFeed = QLatin1Char('\n');

// One command of a list: the fields before the value (data-object id and
// type, or access, index, subindex and type) and the value, which is
// everything after them: a quoted field, or the rest of the command as
// written (so that an unquoted "Motor, 24V" stays one value).
struct Command
{
    QStringList lead;
    bool idForm = false;
    bool hasValue = false;
    QString value;

    explicit Command(const QString &text)
    {
        idForm = ZorBabelFish::isDataObjectId(
            ZorBabelFish::splitOutsideQuotes(text, Comma).value(0).trimmed());
        const int leading = idForm ? 2 : 4;
        int from = 0;
        for (int n = 0; n < leading; ++n) {
            const int comma = ZorBabelFish::indexOutsideQuotes(text, Comma, from);
            if (comma < 0) {
                lead = ZorBabelFish::splitOutsideQuotes(text, Comma);
                return;
            }
            from = comma + 1;
        }
        lead = ZorBabelFish::splitOutsideQuotes(text.left(from - 1), Comma);
        hasValue = true;
        const QString rest = text.mid(from);
        value = rest.trimmed().startsWith(QLatin1Char('"')) ? ZorBabelFish::unquoteField(rest)
                                                             : rest.trimmed();
    }

    int leadCount() const { return idForm ? 2 : 4; }

    // Fields 0..count-1 of the lead, missing ones empty, so that the fields
    // a result adds always land at the same position.
    QString leading(int count) const
    {
        QStringList out = lead.mid(0, count);
        while (out.size() < count)
            out << QString();
        return out.join(Comma);
    }
    // The lead and the value field as the list line carries them.
    QString withValue() const { return leading(leadCount()) + Comma + ZorBabelFish::quoteField(value); }
    QString text() const { return hasValue ? withValue() : lead.join(Comma); }
};

// A data-object id whose node part is 0 names the module's own node.
void putOwnNode(Command &command, int nodeId)
{
    const QString id = command.lead.value(0).trimmed();
    quint32 node = 1;
    quint16 index = 0;
    quint8 sub = 0;
    if (nodeId < 1 || !ZorBabelFish::fromDataObjectId(id, node, index, sub) || node != 0)
        return;
    command.lead[0] = QStringLiteral("%1").arg(nodeId, 3, 10, QLatin1Char('0')) + id.mid(id.indexOf(QLatin1Char('.')));
}

// Everything after the n-th comma ("" when there are fewer commas).
QString afterComma(const QString &text, int n)
{
    return text.count(Comma) >= n ? text.section(Comma, n) : QString();
}

// The value as the gateway's line takes it: after the object's fields,
// quoted when it holds a separator of interview lines.
QString interviewValue(const Command &command)
{
    return Comma + ZorBabelFish::quoteField(command.value, true);
}

QString writeLine(Command &command, const ZorObjectList::Context &context)
{
    // A write without a value is unused, never a write of 0.
    if (command.idForm) {
        putOwnNode(command, context.nodeId);
        if (command.value.trimmed().isEmpty())
            return WaitLine;
        return WriteHead + ZorBabelFish::fromDataObjectIdToSdoString(command.lead.at(0).trimmed()) + Comma
            + command.lead.value(1) + interviewValue(command);
    }
    const QString access = command.lead.value(0).trimmed().toLower();
    if (!access.isEmpty() && !access.contains(QLatin1Char('w')))
        return WaitLine;
    if (command.value.trimmed().isEmpty())
        return WaitLine;
    return WriteHead + QString::number(context.nodeId) + Comma + QStringList(command.lead.mid(1)).join(Comma)
        + interviewValue(command);
}

QString readLine(Command &command, const ZorObjectList::Context &context)
{
    if (command.idForm) {
        putOwnNode(command, context.nodeId);
        return ReadHead + ZorBabelFish::fromDataObjectIdToSdoString(command.lead.at(0).trimmed()) + Comma
            + command.lead.value(1);
    }
    if (command.lead.value(0).trimmed().toLower().contains(QLatin1String("wo")))
        return WaitLine;
    return ReadHead + QString::number(context.nodeId) + Comma + QStringList(command.lead.mid(1, 3)).join(Comma);
}

qint64 lineBudget(const QString &line)
{
    const QStringList head = line.split(Colon);
    const qint64 timeout = qMax(head.value(1).toInt(), 1);
    const qint64 retries = head.value(2).toInt();
    return (retries + 1) * timeout * 2;
}

// The lines of a text that ends each line with a line feed: a final empty
// piece is no line.
QStringList linesOf(const QString &text)
{
    QStringList lines = text.split(LineFeed);
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// What follows the n-th ":" of an interview answer line (outside quoted
// fields: the request part may carry a quoted value); null when the line
// has fewer.
QString afterColon(const QString &line, int n)
{
    int from = 0;
    for (int i = 0; i < n; ++i) {
        const int colon = ZorBabelFish::indexOutsideQuotes(line, Colon, from);
        if (colon < 0)
            return QString();
        from = colon + 1;
    }
    return line.mid(from);
}

// The gateway's SDO abort as a read result: the value field reads
// "error code <n>h". Any other text, "error" in a string included, is a value.
bool isAbortText(const QString &value)
{
    static const QRegularExpression abort(QStringLiteral("^error code [0-9a-f]+h$"),
                                          QRegularExpression::CaseInsensitiveOption);
    return abort.match(value.trimmed()).hasMatch();
}

QString commentPart(const QString &comment)
{
    return comment.isEmpty() ? QString() : QStringLiteral(" # ") + comment;
}

} // namespace

const char ZorObjectList::SilentMarker[] = "SilentReadWrite";

bool ZorObjectList::isSilent(const QString &list)
{
    return list.startsWith(QLatin1String(SilentMarker));
}

bool ZorObjectList::isObjectTable(const QString &text)
{
    return text.contains(QLatin1String("CANopenObjectList"), Qt::CaseInsensitive);
}

void ZorObjectList::splitLine(const QString &line, QString &command, QString &comment)
{
    const int hash = ZorBabelFish::indexOutsideQuotes(line, QLatin1Char('#'));
    command = (hash < 0 ? line : line.left(hash)).trimmed();
    comment = hash < 0 ? QString() : line.mid(hash + 1).trimmed();
}

ZorObjectList::Interview ZorObjectList::build(const QString &list, int msgType, const Context &context)
{
    QStringList lines = list.split(LineFeed);
    if (isSilent(lines.first()))
        lines.removeFirst();

    Interview out;
    qint64 budget = 0;
    if (lines.size() >= 2 && !lines.at(1).isEmpty())
        out.text = OnErrorContinue + LineFeed;
    const bool write = msgType == KM_OBJLIST_WRITE;
    for (const QString &line : qAsConst(lines)) {
        QString command, comment;
        splitLine(line, command, comment);
        if (command.compare(QLatin1String("StoreCmd"), Qt::CaseInsensitive) == 0) {
            QString unused;
            splitLine(context.storeCmd, command, unused);
            comment = QStringLiteral("StoreCmd");
        } else if (command.compare(QLatin1String("ResetCmd"), Qt::CaseInsensitive) == 0) {
            QString unused;
            splitLine(context.resetCmd, command, unused);
            comment = QStringLiteral("ResetCmd");
        }
        QString interviewLine = WaitLine;
        if (!command.isEmpty()) {
            Command parsed(command);
            interviewLine = write ? writeLine(parsed, context) : readLine(parsed, context);
            command = parsed.text();
        }
        out.text += interviewLine + LineFeed;
        budget += lineBudget(interviewLine);
        out.list += command + commentPart(comment) + LineFeed;
    }
    // Ample for any list a bus can serve, and never past what a timer takes.
    out.budgetMs = int(qMin<qint64>(budget, std::numeric_limits<int>::max()));
    return out;
}

ZorObjectList::Result ZorObjectList::results(const QString &answer, int answerState, const QString &list,
                                             int msgType, const QString &errorTexts)
{
    QStringList answers = linesOf(answer);
    if (!answers.isEmpty() && answers.first().startsWith(OnErrorContinue))
        answers.removeFirst();
    const QStringList requests = linesOf(list);
    const bool write = msgType == KM_OBJLIST_WRITE;

    Result result;
    for (int i = 0; i < answers.size() && i < requests.size(); ++i) {
        const QString &request = requests.at(i);
        const QString &answerLine = answers.at(i);
        QString command, comment;
        splitLine(request, command, comment);
        if (command.isEmpty() || answerLine.section(Colon, 0, 0) == QLatin1String("Wait")) {
            result.text += request + LineFeed;
            continue;
        }
        const Command parsed(command);
        const int leadCount = parsed.leadCount();
        const QString answerPart = afterColon(answerLine, 4);
        const bool answered = !answerPart.isEmpty();

        // The line's own outcome: a written object's result field, a read value.
        QString own;
        bool ok = false;
        if (write) {
            own = afterComma(answerPart, 3).trimmed();
            ok = answered && (own.isEmpty() || own == QLatin1String("ok"));
        } else {
            own = afterComma(answerPart, 4);
            ok = answered && answerPart.count(Comma) >= 4 && !isAbortText(own);
        }
        if (ok) {
            result.text += write ? parsed.withValue() + Comma
                                 : parsed.leading(leadCount) + Comma + ZorBabelFish::quoteField(own);
            result.text += commentPart(comment) + LineFeed;
            continue;
        }

        QString error;
        if (!answered)
            error = write ? QStringLiteral("error: timeout") : QStringLiteral("timeout");
        else if (!own.trimmed().isEmpty())
            error = explainErrorCode(own.trimmed(), errorTexts);
        else
            error = answerState == KS_TIMEOUT ? QStringLiteral("timeout") : QStringLiteral("error");
        result.failed = true;
        result.text += parsed.withValue() + Comma + ZorBabelFish::quoteField(error) + commentPart(comment)
            + LineFeed;
    }
    return result;
}

QString ZorObjectList::explainErrorCode(const QString &text, const QString &errorTexts)
{
    static const QRegularExpression codePattern(QStringLiteral("error code\\s*((?:0x)?[0-9a-f]+h?)\\b"),
                                                QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = codePattern.match(text);
    if (!match.hasMatch())
        return text;
    bool ok = false;
    const quint32 code = ZorBabelFish::stringToULong(match.captured(1), &ok);
    if (!ok)
        return text;

    QStringList texts;
    for (const QString &line : errorTexts.split(LineFeed)) {
        const QString key = line.section(Comma, 0, 0).trimmed().toLower();
        if (key.isEmpty())
            continue;
        bool matches = false;
        if (key.startsWith(QLatin1String("bit"))) {
            bool isBit = false;
            const int bit = key.mid(3).toInt(&isBit);
            matches = isBit && bit >= 0 && bit <= 31 && (code >> bit) & 1u;
        } else {
            bool isNumber = false;
            const quint32 value = ZorBabelFish::stringToULong(key, &isNumber);
            matches = isNumber && value == code;
        }
        if (matches)
            texts << line.section(Comma, 1).trimmed();
    }
    QString explained = text.left(match.capturedStart() + 5) + QLatin1Char(' ');
    if (!texts.isEmpty())
        explained += texts.join(QStringLiteral(", ")) + QLatin1Char(' ');
    return explained + QStringLiteral("(%1h)").arg(code, 8, 16, QLatin1Char('0'));
}
