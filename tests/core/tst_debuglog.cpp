#include "zordebuglog.h"
#include "zormessage.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QtTest>

namespace {

using ZorTest::readFile;

// The time stamp in front of every line.
const QRegularExpression stampedLine(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (.*)$"));

// Text after the time stamp of each line; a line without a stamp is kept whole.
QStringList lineTexts(const QByteArray &bytes)
{
    QStringList texts;
    for (const QString &line : QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto m = stampedLine.match(line);
        texts << (m.hasMatch() ? m.captured(1) : QStringLiteral("UNSTAMPED:") + line);
    }
    return texts;
}

} // namespace

class TestDebugLog : public QObject
{
    Q_OBJECT
    QString m_tag;
    QString m_path;

private slots:
    void init()
    {
        m_tag = QStringLiteral("tst_debuglog_%1").arg(QCoreApplication::applicationPid());
        m_path = ZorDebugLog::filePathForTag(m_tag);
        QFile::remove(m_path);
    }
    void cleanup() { QFile::remove(m_path); }

    void escape_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("written");
        QTest::newRow("CR LF between letters")
            << QStringLiteral("a\r\nb") << QStringLiteral("a[CR]\r[LF]\nb");
        QTest::newRow("tab") << QStringLiteral("\t") << QStringLiteral("[ 9]");
        QTest::newRow("code 1") << QString(QChar(1)) << QStringLiteral("[ 1]");
        QTest::newRow("escape") << QString(QChar(27)) << QStringLiteral("[1b]");
        QTest::newRow("NUL") << QString(QChar(0)) << QStringLiteral("[ 0]");
        QTest::newRow("XON XOFF") << QString(QChar(17)) + QChar(19) << QStringLiteral("[XON][XOFF]");
        QTest::newRow("blank and Latin-1 kept")
            << QStringLiteral("x y\u00e9\u00ff") << QStringLiteral("x y\u00e9\u00ff");
        QTest::newRow("outside Latin-1 counts as 0")
            << QStringLiteral("\u20ac") << QStringLiteral("[ 0]");
    }
    void escape()
    {
        QFETCH(QString, text);
        QFETCH(QString, written);
        QCOMPARE(ZorDebugLog::escape(text), written);
    }

    void lifecycleAppendsAndDropsWhileClosed()
    {
        {
            ZorDebugLog log;
            log.write(QStringLiteral("before open"));
            QVERIFY(!log.isOpen());
            QVERIFY(!QFile::exists(m_path));

            log.open(m_tag);
            QVERIFY(log.isOpen());
            QCOMPARE(log.fileName(), m_path);
            log.open(m_tag); // already open: a second "log started", same file
            log.write(QStringLiteral("one"));
            log.close();
            QVERIFY(!log.isOpen());
            log.write(QStringLiteral("after close"));
            log.close();
        }
        QCOMPARE(lineTexts(readFile(m_path)),
                 QStringList({"log started", "log started", "one", "log stopped"}));

        // A second log of the same tag extends the file; the destructor closes.
        {
            ZorDebugLog log;
            log.open(m_tag);
            log.write(QStringLiteral("two"));
        }
        QCOMPARE(lineTexts(readFile(m_path)),
                 QStringList({"log started", "log started", "one", "log stopped",
                              "log started", "two", "log stopped"}));
    }

    void controlCharactersStayVisibleInTheFile()
    {
        ZorDebugLog log;
        log.open(m_tag);
        log.write(QStringLiteral("a\r\nb"));
        log.close();
        const QByteArray bytes = readFile(m_path);
        QVERIFY2(bytes.contains(" a[CR]\r[LF]\nb\n"), bytes.constData());
    }

    void messagesAreLoggedWithOriginInFront()
    {
        ZorDebugLog log;
        log.open(m_tag);
        ZorMessage fromPanel(KM_INFOTEXT, KS_INFO, QStringLiteral("two\nlines"));
        fromPanel.setOrigin(QStringLiteral("GUI"));
        ZorMessage toModule(KM_STATUS, KS_REQUEST);
        toModule.setRecipient(QStringLiteral("CAN 1"));
        log.msgLogger(fromPanel);
        log.msgLogger(toModule);
        log.close();
        QCOMPARE(lineTexts(readFile(m_path)),
                 QStringList({"log started", "GUI:KM_INFOTEXT:KS_INFO:two[LF]", "UNSTAMPED:lines",
                              "CAN 1:KM_STATUS:KS_REQUEST", "log stopped"}));
    }

    void unopenableFileLeavesTheLogSilent()
    {
        ZorDebugLog log;
        log.open(QStringLiteral("no/such/folder"));
        QVERIFY(!log.isOpen());
        log.write(QStringLiteral("dropped"));
        log.close();
        QVERIFY(!QFile::exists(ZorDebugLog::filePathForTag(QStringLiteral("no/such/folder"))));
    }
};

ZOR_TEST(TestDebugLog)
#include "tst_debuglog.moc"
