#include "zorobjectlist.h"

#include "zorbabelfish.h"
#include "zormessage.h"

#include <QRegularExpression>

namespace {

const QString WaitLine = QStringLiteral("Wait:0:0");
const QString WriteHead = QStringLiteral("SDOWriteObject:1000:1:");
const QString ReadHead = QStringLiteral("SDOReadObject:750:0:");
const QString OnErrorContinue = QStringLiteral("OnErrorContinue");
const QChar Comma = QLatin1Char(',');
const QChar Colon = QLatin1Char(':');
const QChar LineFeed = QLatin1Char('\n');

bool isIdForm(const QStringList &fields)
{
    return ZorBabelFish::isDataObjectId(fields.value(0).trimmed());
}

// A data-object id whose node part is 0 names the module's own node.
void putOwnNode(QStringList &fields, int nodeId)
{
    const QString id = fields.value(0).trimmed();
    quint32 node = 1;
    quint16 index = 0;
    quint8 sub = 0;
    if (nodeId < 1 || !ZorBabelFish::fromDataObjectId(id, node, index, sub) || node != 0)
        return;
    fields[0] = QStringLiteral("%1").arg(nodeId, 3, 10, QLatin1Char('0')) + id.mid(id.indexOf(QLatin1Char('.')));
}

// Fields 0..count-1 of a command, missing ones empty, so that the fields a
// result adds always land at the same position.
QString leadingFields(const QStringList &fields, int count)
{
    QStringList out = fields.mid(0, count);
    while (out.size() < count)
        out << QString();
    return out.join(Comma);
}

// Everything after the n-th comma ("" when there are fewer commas).
QString afterComma(const QString &text, int n)
{
    return text.count(Comma) >= n ? text.section(Comma, n) : QString();
}

QString writeLine(QStringList &fields, const ZorObjectList::Context &context)
{
    if (isIdForm(fields)) {
        putOwnNode(fields, context.nodeId);
        const QString typeAndValue = QStringList(fields.mid(1)).join(Comma);
        // A write without a value is unused, never a write of 0.
        if (afterComma(typeAndValue, 1).trimmed().isEmpty())
            return WaitLine;
        return WriteHead + ZorBabelFish::fromDataObjectIdToSdoString(fields.at(0).trimmed()) + Comma + typeAndValue;
    }
    const QString access = fields.value(0).trimmed().toLower();
    if (!access.isEmpty() && !access.contains(QLatin1Char('w')))
        return WaitLine;
    const QString object = QStringList(fields.mid(1)).join(Comma);
    if (afterComma(object, 3).trimmed().isEmpty())
        return WaitLine;
    return WriteHead + QString::number(context.nodeId) + Comma + object;
}

QString readLine(QStringList &fields, const ZorObjectList::Context &context)
{
    if (isIdForm(fields)) {
        putOwnNode(fields, context.nodeId);
        return ReadHead + ZorBabelFish::fromDataObjectIdToSdoString(fields.at(0).trimmed()) + Comma
            + fields.value(1);
    }
    if (fields.value(0).trimmed().toLower().contains(QLatin1String("wo")))
        return WaitLine;
    return ReadHead + QString::number(context.nodeId) + Comma + QStringList(fields.mid(1, 3)).join(Comma);
}

int lineBudget(const QString &line)
{
    const QStringList head = line.split(Colon);
    const int timeout = qMax(head.value(1).toInt(), 1);
    const int retries = head.value(2).toInt();
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
    const int hash = line.indexOf(QLatin1Char('#'));
    command = (hash < 0 ? line : line.left(hash)).trimmed();
    comment = hash < 0 ? QString() : line.mid(hash + 1).trimmed();
}

ZorObjectList::Interview ZorObjectList::build(const QString &list, int msgType, const Context &context)
{
    QStringList lines = list.split(LineFeed);
    if (isSilent(lines.first()))
        lines.removeFirst();

    Interview out;
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
            QStringList fields = command.split(Comma);
            interviewLine = write ? writeLine(fields, context) : readLine(fields, context);
            command = fields.join(Comma);
        }
        out.text += interviewLine + LineFeed;
        out.budgetMs += lineBudget(interviewLine);
        out.list += command + commentPart(comment) + LineFeed;
    }
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
        const QStringList fields = command.split(Comma);
        const bool idForm = isIdForm(fields);
        const QString answerPart = answerLine.section(Colon, 4);
        const bool answered = answerLine.count(Colon) >= 4 && !answerPart.isEmpty();

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
            result.text += write ? leadingFields(fields, idForm ? 3 : 5) + Comma
                                 : leadingFields(fields, idForm ? 2 : 4) + Comma + own;
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
        result.text += leadingFields(fields, idForm ? 3 : 5) + Comma + error + commentPart(comment) + LineFeed;
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
