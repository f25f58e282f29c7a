#include "zorpythonsyntaxhighlighter.h"

#include <QBrush>
#include <QColor>
#include <QFont>

namespace {

const char *const Keywords[] = {
    "and", "assert", "break", "class", "continue", "def", "del", "elif", "else", "except",
    "exec", "finally", "for", "from", "global", "if", "import", "in", "is", "lambda", "not",
    "or", "pass", "print", "raise", "return", "try", "while", "yield", "None", "True", "False"};

const char *const Operators[] = {
    "=", "==", "!=", "<", "<=", ">", ">=", "\\+", "-", "\\*", "/", "//", "%", "\\*\\*",
    "\\+=", "-=", "\\*=", "/=", "%=", "\\^", "\\|", "&", "~", ">>", "<<"};

const char *const Braces[] = {"\\{", "\\}", "\\(", "\\)", "\\[", "\\]"};

} // namespace

ZorPythonSyntaxHighlighter::ZorPythonSyntaxHighlighter(QTextDocument *document)
    : QSyntaxHighlighter(document)
    , m_triSingle(QStringLiteral("'''"))
    , m_triDouble(QStringLiteral("\"\"\""))
{
    m_styles.insert(QStringLiteral("keyword"), makeFormat(QStringLiteral("blue")));
    m_styles.insert(QStringLiteral("operator"), makeFormat(QStringLiteral("red")));
    m_styles.insert(QStringLiteral("brace"), makeFormat(QStringLiteral("darkGray")));
    m_styles.insert(QStringLiteral("defclass"), makeFormat(QStringLiteral("black"), QStringLiteral("bold")));
    m_styles.insert(QStringLiteral("string"), makeFormat(QStringLiteral("magenta")));
    m_styles.insert(QStringLiteral("string2"), makeFormat(QStringLiteral("darkMagenta")));
    m_styles.insert(QStringLiteral("comment"), makeFormat(QStringLiteral("darkGreen"), QStringLiteral("italic")));
    m_styles.insert(QStringLiteral("self"), makeFormat(QStringLiteral("black"), QStringLiteral("italic")));
    m_styles.insert(QStringLiteral("numbers"), makeFormat(QStringLiteral("brown")));

    for (const char *keyword : Keywords)
        addRule(QStringLiteral("\\b%1\\b").arg(QLatin1String(keyword)), 0, QStringLiteral("keyword"));
    for (const char *op : Operators)
        addRule(QLatin1String(op), 0, QStringLiteral("operator"));
    for (const char *brace : Braces)
        addRule(QLatin1String(brace), 0, QStringLiteral("brace"));
    addRule(QStringLiteral("\\bself\\b"), 0, QStringLiteral("self"));
    addRule(QStringLiteral("\"[^\"\\\\]*(\\\\.[^\"\\\\]*)*\""), 0, QStringLiteral("string"));
    addRule(QStringLiteral("'[^'\\\\]*(\\\\.[^'\\\\]*)*'"), 0, QStringLiteral("string"));
    addRule(QStringLiteral("\\bdef\\b\\s*(\\w+)"), 1, QStringLiteral("defclass"));
    addRule(QStringLiteral("\\bclass\\b\\s*(\\w+)"), 1, QStringLiteral("defclass"));
    addRule(QStringLiteral("#[^\\n]*"), 0, QStringLiteral("comment"));
    addRule(QStringLiteral("\\b[+-]?[0-9]+[lL]?\\b"), 0, QStringLiteral("numbers"));
    addRule(QStringLiteral("\\b[+-]?0[xX][0-9A-Fa-f]+[lL]?\\b"), 0, QStringLiteral("numbers"));
    addRule(QStringLiteral("\\b[+-]?[0-9]+(?:\\.[0-9]+)?(?:[eE][+-]?[0-9]+)?\\b"), 0,
            QStringLiteral("numbers"));
}

QTextCharFormat ZorPythonSyntaxHighlighter::makeFormat(const QString &colour, const QString &style)
{
    QTextCharFormat format;
    format.setForeground(QBrush(QColor(colour)));
    if (style.contains(QLatin1String("bold"), Qt::CaseInsensitive))
        format.setFontWeight(QFont::Bold);
    if (style.contains(QLatin1String("italic"), Qt::CaseInsensitive))
        format.setFontItalic(true);
    return format;
}

void ZorPythonSyntaxHighlighter::addRule(const QString &pattern, int group, const QString &styleName)
{
    m_rules.append(Rule{QRegExp(pattern), group, m_styles.value(styleName)});
}

void ZorPythonSyntaxHighlighter::highlightBlock(const QString &text)
{
    for (Rule &rule : m_rules) {
        int index = rule.pattern.indexIn(text, 0);
        while (index >= 0) {
            const int start = rule.pattern.pos(rule.group);
            const int length = rule.pattern.cap(rule.group).length();
            // An empty match would find itself again for ever.
            if (start < 0 || length == 0) {
                index = rule.pattern.indexIn(text, index + qMax(1, rule.pattern.matchedLength()));
                continue;
            }
            setFormat(start, length, rule.format);
            index = rule.pattern.indexIn(text, start + length);
        }
    }
    setCurrentBlockState(0);
    const QTextCharFormat string2 = m_styles.value(QStringLiteral("string2"));
    if (!matchMultiline(text, m_triSingle, 1, string2))
        matchMultiline(text, m_triDouble, 2, string2);
}

bool ZorPythonSyntaxHighlighter::matchMultiline(const QString &text, const QRegExp &givenDelimiter,
                                                int inState, const QTextCharFormat &format)
{
    QRegExp delimiter = givenDelimiter;
    int start = 0;
    int add = 0;
    if (previousBlockState() != inState) {
        start = delimiter.indexIn(text);
        if (start < 0)
            return currentBlockState() == inState;
        add = delimiter.matchedLength();
    }
    while (start >= 0) {
        const int end = delimiter.indexIn(text, start + add);
        int length;
        // The string runs up to and with its closing delimiter: a string
        // opened after it on the same line is found by the next search.
        if (end >= 0) {
            length = end - start + delimiter.matchedLength();
            setCurrentBlockState(0);
        } else {
            setCurrentBlockState(inState);
            length = text.length() - start;
        }
        setFormat(start, length, format);
        start = delimiter.indexIn(text, start + length);
    }
    return currentBlockState() == inState;
}
