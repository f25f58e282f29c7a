// The Python highlighter: which style each piece of a script gets, strings
// in triple quotes across lines included.
#include "zorpythonsyntaxhighlighter.h"
#include "zortest.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QtTest>

class TestPythonHighlighter : public QObject
{
    Q_OBJECT

    static bool sameFormat(const QTextCharFormat &a, const QTextCharFormat &b)
    {
        return a.foreground().color() == b.foreground().color()
               && (a.fontWeight() == QFont::Bold) == (b.fontWeight() == QFont::Bold)
               && a.fontItalic() == b.fontItalic();
    }

    // The style name of the character at (line, column); "" when plain.
    static QString styleAt(const ZorPythonSyntaxHighlighter &highlighter, QTextDocument &doc,
                           int line, int column)
    {
        const QTextBlock block = doc.findBlockByNumber(line);
        for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
            if (column < range.start || column >= range.start + range.length)
                continue;
            for (const char *name : {"keyword", "operator", "brace", "defclass", "string",
                                     "string2", "comment", "self", "numbers"}) {
                if (sameFormat(range.format, highlighter.style(QLatin1String(name))))
                    return QLatin1String(name);
            }
            return QStringLiteral("?");
        }
        return QString();
    }

private slots:
    void styles_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("style");

        QTest::newRow("def keyword") << "def run(x):" << 0 << 0 << "keyword";
        QTest::newRow("def name") << "def run(x):" << 0 << 4 << "defclass";
        QTest::newRow("def brace") << "def run(x):" << 0 << 7 << "brace";
        QTest::newRow("def argument") << "def run(x):" << 0 << 8 << "";
        QTest::newRow("class name") << "class Motor(object):" << 0 << 6 << "defclass";
        QTest::newRow("keyword only as word") << "classic = 1" << 0 << 0 << "";
        QTest::newRow("None") << "if x is not None:" << 0 << 12 << "keyword";
        QTest::newRow("operator") << "x != y" << 0 << 2 << "operator";
        QTest::newRow("self") << "self.x = 1" << 0 << 0 << "self";
        QTest::newRow("selfish is no self") << "selfish = 1" << 0 << 2 << "";
        QTest::newRow("number") << "x = 42" << 0 << 4 << "numbers";
        QTest::newRow("long number L") << "x = 123L" << 0 << 7 << "numbers";
        QTest::newRow("hex long l") << "x = 0x1Fl" << 0 << 8 << "numbers";
        QTest::newRow("float") << "x = 3.5e10" << 0 << 7 << "numbers";
        QTest::newRow("single-quoted") << "s = 'ab'" << 0 << 5 << "string";
        QTest::newRow("double-quoted, escape") << "s = \"a\\\"b\"" << 0 << 8 << "string";
        QTest::newRow("comment") << "x = 1  # set x" << 0 << 10 << "comment";
        QTest::newRow("# in a string") << "s = 'a # b'" << 0 << 9 << "comment";
        QTest::newRow("before # in a string") << "s = 'a # b'" << 0 << 5 << "string";

        const QString single = "a = '''first\nsecond = 1\nend''' + 1\nafter = 2";
        QTest::newRow("''' opens") << single << 0 << 4 << "string2";
        QTest::newRow("''' spans a line") << single << 1 << 9 << "string2";
        QTest::newRow("''' closes") << single << 2 << 5 << "string2";
        QTest::newRow("''' closed") << single << 2 << 7 << "operator";
        QTest::newRow("''' over") << single << 3 << 6 << "operator";
        // The next string may open right after the closing delimiter.
        const QString twice = "x = '''a'''+'''b\nstill\n'''";
        QTest::newRow("second ''' on a line") << twice << 1 << 0 << "string2";
        const QString dbl = "def f():\n    \"\"\"doc\n    more\n    \"\"\"\n    return 1";
        QTest::newRow("\"\"\" spans a line") << dbl << 2 << 5 << "string2";
        QTest::newRow("\"\"\" closed") << dbl << 4 << 4 << "keyword";
    }
    void styles()
    {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, style);
        QTextDocument doc;
        ZorPythonSyntaxHighlighter highlighter(&doc);
        doc.documentLayout();   // an edited document has one; changes are reported through it
        doc.setPlainText(text);
        QCOMPARE(styleAt(highlighter, doc, line, column), style);
    }

    void theStyles()
    {
        QTextDocument doc;
        ZorPythonSyntaxHighlighter highlighter(&doc);
        QCOMPARE(highlighter.style("keyword").foreground().color(), QColor("blue"));
        QCOMPARE(highlighter.style("defclass").fontWeight(), int(QFont::Bold));
        QVERIFY(highlighter.style("comment").fontItalic());
        QCOMPARE(highlighter.style("comment").foreground().color(), QColor("darkGreen"));
        QCOMPARE(highlighter.style("numbers").foreground().color(), QColor("brown"));
    }

    // Typing the closing delimiter later re-colours the lines below it.
    void closingLaterEndsTheString()
    {
        QTextDocument doc;
        ZorPythonSyntaxHighlighter highlighter(&doc);
        doc.documentLayout();
        doc.setPlainText("s = '''open\nx = 1\ny = 2");
        QCOMPARE(styleAt(highlighter, doc, 2, 4), QStringLiteral("string2"));
        QTextCursor cursor(doc.findBlockByNumber(1));
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.insertText("'''");
        QCOMPARE(styleAt(highlighter, doc, 2, 4), QStringLiteral("numbers"));
        QCOMPARE(doc.findBlockByNumber(2).userState(), 0);
    }
};

ZOR_TEST(TestPythonHighlighter)
#include "tst_pythonhighlighter.moc"
