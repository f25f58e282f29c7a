#include "zorxmlname.h"

#include <QVector>

namespace {

// Name characters: ASCII letters, "_", and after the first also digits,
// "-" and ".". Every other character is encoded, also letters beyond ASCII
// that XML allows: the parsers at hand disagree on them (Qt's follows the
// fourth edition of XML 1.0, libxml2 the fifth).
bool isNameStartChar(uint c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isNameChar(uint c)
{
    return isNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9');
}

int hexValue(uint c)
{
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'A' && c <= 'F')
        return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    return -1;
}

// Length of an escape "_xHHHH_" or "_xHHHHHHHH_" starting at `at`, 0 when
// none starts there; its code point goes to `code`.
int escapeAt(const QVector<uint> &text, int at, uint *code = nullptr)
{
    if (at + 1 >= text.size() || text.at(at) != '_' || text.at(at + 1) != 'x')
        return 0;
    for (const int digits : {8, 4}) {
        const int end = at + 2 + digits;
        if (end >= text.size() || text.at(end) != '_')
            continue;
        uint value = 0;
        bool hex = true;
        for (int i = at + 2; i < end && hex; ++i) {
            const int digit = hexValue(text.at(i));
            hex = digit >= 0;
            value = value * 16 + uint(digit);
        }
        if (!hex)
            continue;
        if (code)
            *code = value;
        return digits + 3;
    }
    return 0;
}

QString escape(uint c)
{
    const int digits = c > 0xFFFF ? 8 : 4;
    const QString hex = QString::number(c, 16).toUpper();
    return QStringLiteral("_x") + hex.rightJustified(digits, QLatin1Char('0')) + QLatin1Char('_');
}

} // namespace

bool ZorXmlName::isName(const QString &text)
{
    const QVector<uint> chars = text.toUcs4();
    if (chars.isEmpty() || !isNameStartChar(chars.first()))
        return false;
    for (int i = 1; i < chars.size(); ++i) {
        if (!isNameChar(chars.at(i)))
            return false;
    }
    return true;
}

QString ZorXmlName::encode(const QString &key)
{
    const QVector<uint> chars = key.toUcs4();
    bool plain = isName(key);
    for (int i = 0; plain && i < chars.size(); ++i)
        plain = escapeAt(chars, i) == 0;
    if (plain)
        return key;

    QString name;
    for (int i = 0; i < chars.size(); ++i) {
        const uint c = chars.at(i);
        const bool allowed = i == 0 ? isNameStartChar(c) : isNameChar(c);
        if (!allowed || escapeAt(chars, i) > 0)
            name += escape(c);
        else
            name += QString::fromUcs4(&c, 1);
    }
    return name;
}

QString ZorXmlName::decode(const QString &name)
{
    if (!name.contains(QLatin1String("_x")))
        return name;
    const QVector<uint> chars = name.toUcs4();
    QString key;
    for (int i = 0; i < chars.size();) {
        uint code = 0;
        const int length = escapeAt(chars, i, &code);
        const uint c = length > 0 ? code : chars.at(i);
        key += QString::fromUcs4(&c, 1);
        i += length > 0 ? length : 1;
    }
    return key;
}
