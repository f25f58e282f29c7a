// Colours Python source in the script editor: keywords, operators, braces,
// "self", strings, the names after def and class, comments and numbers, one
// text block at a time by an ordered list of rules (later rules win where
// they overlap), then strings in triple quotes, which may span blocks: the
// block state says whether a block ends inside one (1 for ''', 2 for """).
#pragma once

#include <QList>
#include <QMap>
#include <QRegExp>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

class QTextDocument;

class ZorPythonSyntaxHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT
public:
    explicit ZorPythonSyntaxHighlighter(QTextDocument *document);

    // The named formats ("keyword", "operator", "brace", "defclass",
    // "string", "string2", "comment", "self", "numbers").
    QTextCharFormat style(const QString &name) const { return m_styles.value(name); }

protected:
    void highlightBlock(const QString &text) override;

private:
    struct Rule
    {
        QRegExp pattern;
        int group;
        QTextCharFormat format;
    };

    static QTextCharFormat makeFormat(const QString &colour, const QString &style = QString());
    void addRule(const QString &pattern, int group, const QString &styleName);
    // True when the block ends inside a string opened by `delimiter`.
    bool matchMultiline(const QString &text, const QRegExp &delimiter, int inState,
                        const QTextCharFormat &format);

    QMap<QString, QTextCharFormat> m_styles;
    QList<Rule> m_rules;
    QRegExp m_triSingle;
    QRegExp m_triDouble;
};
