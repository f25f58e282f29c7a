// The nesting scan that runs before a project text is parsed: what counts as
// a level (and what does not), the limits, and texts it refuses at once.
#include "zortest.h"
#include "zorxmlnesting.h"

#include <QtTest>

namespace {

QString modules(int levels, const QString &innermost = QString())
{
    return QStringLiteral("<module>").repeated(levels) + innermost
           + QStringLiteral("</module>").repeated(levels);
}

} // namespace

Q_DECLARE_METATYPE(ZorXmlNesting::Result)

class TestXmlNesting : public QObject
{
    Q_OBJECT
private slots:
    void check_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<ZorXmlNesting::Result>("result");
        const int max = ZorXmlNesting::MaxModuleDepth;
        QTest::newRow("modules to the limit") << modules(max) << ZorXmlNesting::Allowed;
        QTest::newRow("one module more") << modules(max + 1) << ZorXmlNesting::TooDeep;
        QTest::newRow("an empty module one level more")
            << modules(max, "<module label=\"x\"/>") << ZorXmlNesting::TooDeep;
        QTest::newRow("never closed") << QStringLiteral("<module>").repeated(100000)
                                      << ZorXmlNesting::TooDeep;
        QTest::newRow("siblings do not nest")
            << QStringLiteral("<p>") + modules(1).repeated(1000) + QStringLiteral("</p>")
            << ZorXmlNesting::Allowed;
        QTest::newRow("other elements count only as elements")
            << modules(max, "<properties><Port>1</Port></properties>") << ZorXmlNesting::Allowed;
        QTest::newRow("elements to the limit")
            << QStringLiteral("<d>").repeated(ZorXmlNesting::MaxElementDepth)
                   + QStringLiteral("</d>").repeated(ZorXmlNesting::MaxElementDepth)
            << ZorXmlNesting::Allowed;
        QTest::newRow("one element more")
            << QStringLiteral("<d>").repeated(ZorXmlNesting::MaxElementDepth) + "<e/>"
            << ZorXmlNesting::TooDeep;
        QTest::newRow("markup in comments, CDATA, instructions and values")
            << "<?xml version=\"1.0\"?><!-- " + modules(max + 1) + " --><module a=\"<module>\" b='>'>"
                   + "<![CDATA[" + QStringLiteral("<module>").repeated(max + 1) + "]]><?pi <module> ?>"
                   + modules(max - 1) + "</module>"
            << ZorXmlNesting::Allowed;
        QTest::newRow("document type without entities")
            << "<!DOCTYPE QuorvaneProject [<!ELEMENT module ANY>]>" + modules(2) << ZorXmlNesting::Allowed;
        QTest::newRow("entities")
            << "<!DOCTYPE p [<!ENTITY a \"<module><module>\">]><p>&a;</p>"
            << ZorXmlNesting::DeclaresEntities;
        // Not well-formed but shallow: the parser will say so.
        QTest::newRow("broken, shallow") << QStringLiteral("<module><a b=\"1></module") << ZorXmlNesting::Allowed;
    }
    void check()
    {
        QFETCH(QString, text);
        QFETCH(ZorXmlNesting::Result, result);
        QCOMPARE(ZorXmlNesting::check(text), result);
    }

    // Module text from the clipboard has less room: it lands below others.
    void roomLeftBelowAPlace()
    {
        QCOMPARE(ZorXmlNesting::check(modules(10), 10), ZorXmlNesting::Allowed);
        QCOMPARE(ZorXmlNesting::check(modules(11), 10), ZorXmlNesting::TooDeep);
    }
};

ZOR_TEST(TestXmlNesting)
#include "tst_xmlnesting.moc"
