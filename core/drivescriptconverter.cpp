#include "drivescriptconverter.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <functional>

namespace {

// Applies `rewrite` to each stretch of code between strings and comments of
// a Python text; strings and comments are copied unchanged.
void rewriteCode(QString &text, const std::function<QString(const QString &)> &rewrite)
{
    QString out;
    out.reserve(text.size() + 16);
    const int n = text.size();
    int codeStart = 0;
    int i = 0;
    const auto flushCode = [&](int end) {
        if (end > codeStart)
            out += rewrite(text.mid(codeStart, end - codeStart));
    };
    while (i < n) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('#')) {
            flushCode(i);
            int end = text.indexOf(QLatin1Char('\n'), i);
            if (end < 0)
                end = n;
            out += text.midRef(i, end - i);
            i = codeStart = end;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            flushCode(i);
            const QString triple(3, c);
            const bool isTriple = text.midRef(i, 3) == triple;
            int j = i + (isTriple ? 3 : 1);
            while (j < n) {
                const QChar d = text.at(j);
                if (d == QLatin1Char('\\')) {
                    j += 2;
                } else if (isTriple && text.midRef(j, 3) == triple) {
                    j += 3;
                    break;
                } else if (!isTriple && d == c) {
                    ++j;
                    break;
                } else if (!isTriple && d == QLatin1Char('\n')) {
                    break; // unterminated: the string ends with its line
                } else {
                    ++j;
                }
            }
            j = qMin(j, n);
            out += text.midRef(i, j - i);
            i = codeStart = j;
        } else {
            ++i;
        }
    }
    flushCode(n);
    text = out;
}

QString replaceAll(QString code, const QRegularExpression &re,
                   const std::function<QString(const QRegularExpressionMatch &)> &with)
{
    QString out;
    int last = 0;
    auto it = re.globalMatch(code);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += code.midRef(last, m.capturedStart() - last);
        out += with(m);
        last = m.capturedEnd();
    }
    out += code.midRef(last);
    return out;
}

const QRegularExpression::PatternOption kNoCase = QRegularExpression::CaseInsensitiveOption;

} // namespace

const QStringList &DriveScriptConverter::apiNames()
{
    static const QStringList names{
        QStringLiteral("SendEmcyMsg"),     QStringLiteral("SendTxPdo"),
        QStringLiteral("ChkRxPdo"),        QStringLiteral("SetLedStatus"),
        QStringLiteral("SetLedError"),     QStringLiteral("GetDigitalIO"),
        QStringLiteral("SetDigitalIO"),    QStringLiteral("WriteObjectByte"),
        QStringLiteral("WriteObjectWord"), QStringLiteral("WriteObjectDword"),
        QStringLiteral("ReadObjectByte"),  QStringLiteral("ReadObjectDword"),
        QStringLiteral("WriteControl"),    QStringLiteral("Power"),
        QStringLiteral("PowerQuit"),       QStringLiteral("StopMotion"),
        QStringLiteral("Speed"),           QStringLiteral("LoadParameter"),
        QStringLiteral("StoreParameter"),  QStringLiteral("Mode"),
        QStringLiteral("GetPosition"),     QStringLiteral("SetError"),
        QStringLiteral("sys.wait"),        QStringLiteral("sys.time"),
        QStringLiteral("sys.gc"),          QStringLiteral("true"),
        QStringLiteral("false")};
    return names;
}

void DriveScriptConverter::toDriveModule(QString &text)
{
    static const QRegularExpression targetLib(QStringLiteral("(?<![\\w])targetlib(?!\\w)"), kNoCase);
    rewriteCode(text, [](const QString &code) {
        return replaceAll(code, targetLib, [](const QRegularExpressionMatch &) {
            return QStringLiteral("drive");
        });
    });

    static const QRegularExpression importDrive(QStringLiteral("(?<![\\w.])import\\s+drive(?!\\w)"));
    bool hasImport = false;
    rewriteCode(text, [&hasImport](const QString &code) {
        hasImport = hasImport || code.contains(importDrive);
        return code;
    });
    if (!hasImport)
        text.prepend(QLatin1String("import drive\n"));

    // Every API name, keyed by its lower-case form; dotted names are matched
    // as the identifier, the dot and the identifier.
    static const QHash<QString, QString> spelling = [] {
        QHash<QString, QString> map;
        for (const QString &name : apiNames())
            map.insert(name.toLower(), name);
        return map;
    }();
    static const QRegularExpression apiName = [] {
        QStringList alternatives;
        for (const QString &name : apiNames())
            alternatives << QRegularExpression::escape(name);
        // Longest first, so that "PowerQuit" is not read as "Power".
        std::sort(alternatives.begin(), alternatives.end(),
                  [](const QString &a, const QString &b) { return a.size() > b.size(); });
        return QRegularExpression(
            QStringLiteral("(?<![\\w])(?:%1)(?!\\w)").arg(alternatives.join(QLatin1Char('|'))),
            kNoCase);
    }();
    rewriteCode(text, [](const QString &code) {
        return replaceAll(code, apiName, [](const QRegularExpressionMatch &m) {
            return spelling.value(m.captured(0).toLower(), m.captured(0));
        });
    });
}

void DriveScriptConverter::toTargetLib(QString &text)
{
    toDriveModule(text);
    static const QRegularExpression importOrFrom(
        QStringLiteral("(?<![\\w.])(import|from)(\\s+)drive(?!\\w)"), kNoCase);
    static const QRegularExpression attribute(QStringLiteral("(?<![\\w.])drive\\."), kNoCase);
    rewriteCode(text, [](const QString &code) {
        const QString imports = replaceAll(code, importOrFrom, [](const QRegularExpressionMatch &m) {
            return m.captured(1) + m.captured(2) + QStringLiteral("targetlib");
        });
        return replaceAll(imports, attribute, [](const QRegularExpressionMatch &) {
            return QStringLiteral("targetlib.");
        });
    });
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

void DriveScriptConverter::targetLibToDrive(QString &text)
{
    static const QRegularExpression word(QStringLiteral("\\btargetlib\\b"), kNoCase);
    text.replace(word, QStringLiteral("drive"));
}
