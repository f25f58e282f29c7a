#include "zorxmlnesting.h"

#include <QVector>

namespace {

bool isNameEnd(QChar c)
{
    return c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('>');
}

// Index just past the `end` text that closes a construct opened at `from`;
// -1 when the text ends first.
int pastEnd(const QString &text, int from, QLatin1String end)
{
    const int at = text.indexOf(end, from);
    return at < 0 ? -1 : at + end.size();
}

// Index just past the ">" that ends a declaration such as a DOCTYPE, whose
// internal subset in brackets and quoted texts may hold ">" of their own.
int pastDeclaration(const QString &text, int from)
{
    QChar quote;
    int brackets = 0;
    for (int i = from; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char('[')) {
            ++brackets;
        } else if (c == QLatin1Char(']')) {
            --brackets;
        } else if (c == QLatin1Char('>') && brackets <= 0) {
            return i + 1;
        }
    }
    return -1;
}

} // namespace

// A tolerant scan of the markup: comments, CDATA, processing instructions
// and declarations are skipped, quoted attribute values may hold ">". It
// does not judge whether the text is well-formed (the parser does that
// afterwards); for any text the parser accepts it counts the nesting the
// parser will meet.
ZorXmlNesting::Result ZorXmlNesting::check(const QString &text, int maxModuleDepth)
{
    QVector<bool> isModule;   // the open elements, innermost last
    isModule.reserve(MaxElementDepth);
    int moduleDepth = 0;
    int i = 0;
    const int size = text.size();
    while (i >= 0 && i < size) {
        i = text.indexOf(QLatin1Char('<'), i);
        if (i < 0)
            break;
        const QStringRef rest = text.midRef(i);
        if (rest.startsWith(QLatin1String("<!--"))) {
            i = pastEnd(text, i + 4, QLatin1String("-->"));
        } else if (rest.startsWith(QLatin1String("<![CDATA["))) {
            i = pastEnd(text, i + 9, QLatin1String("]]>"));
        } else if (rest.startsWith(QLatin1String("<?"))) {
            i = pastEnd(text, i + 2, QLatin1String("?>"));
        } else if (rest.startsWith(QLatin1String("<!"))) {
            // Entities could hold markup that the scan never sees.
            const int end = pastDeclaration(text, i + 2);
            if (text.midRef(i, end < 0 ? size - i : end - i).contains(QLatin1String("<!ENTITY")))
                return DeclaresEntities;
            i = end;
        } else if (rest.startsWith(QLatin1String("</"))) {
            if (!isModule.isEmpty() && isModule.takeLast())
                --moduleDepth;
            i = pastEnd(text, i + 2, QLatin1String(">"));
        } else {
            int nameEnd = i + 1;
            while (nameEnd < size && !isNameEnd(text.at(nameEnd)))
                ++nameEnd;
            const bool module = text.midRef(i + 1, nameEnd - i - 1) == QLatin1String("module");
            // The tag's end, past quoted attribute values.
            QChar quote;
            int end = nameEnd;
            for (; end < size; ++end) {
                const QChar c = text.at(end);
                if (!quote.isNull()) {
                    if (c == quote)
                        quote = QChar();
                } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                    quote = c;
                } else if (c == QLatin1Char('>')) {
                    break;
                }
            }
            if (end >= size)
                break;
            const int modulesHere = moduleDepth + (module ? 1 : 0);
            if (modulesHere > maxModuleDepth || isModule.size() + 1 > MaxElementDepth)
                return TooDeep;
            if (text.at(end - 1) != QLatin1Char('/')) {
                isModule.append(module);
                moduleDepth = modulesHere;
            }
            i = end + 1;
        }
    }
    return Allowed;
}
