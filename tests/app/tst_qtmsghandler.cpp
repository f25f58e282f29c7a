#include "zorqtmsghandler.h"
#include "zortest.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class TestQtMsgHandler : public QObject
{
    Q_OBJECT

private slots:
    void lineText_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("line");
        QTest::newRow("debug") << int(QtDebugMsg) << QStringLiteral("text");
        QTest::newRow("warning") << int(QtWarningMsg) << QStringLiteral("Warning: text\n");
        QTest::newRow("critical") << int(QtCriticalMsg) << QStringLiteral("Critical: text\n");
        QTest::newRow("fatal") << int(QtFatalMsg) << QStringLiteral("Fatal: text\n");
        QTest::newRow("info writes nothing") << int(QtInfoMsg) << QString();
    }
    void lineText()
    {
        QFETCH(int, type);
        QTEST(ZorQtMsgHandler::lineText(QtMsgType(type), QStringLiteral("text")), "line");
    }

    // Threads keep logging through Qt while the sink is deleted under them:
    // no line may follow "log stopped", and no thread may touch the deleted
    // sink (clean under ThreadSanitizer).
    void sinkDeletedWhileThreadsLog()
    {
        const QString path = ZorDebugLog::filePathForTag(QStringLiteral("main"));
        const qint64 startSize = QFileInfo(path).size(); // an earlier log stays as it is

        QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(testHandler);

        const int rounds = 4;
        for (int round = 0; round < rounds; ++round) {
            auto *handler = new ZorQtMsgHandler;
            QVERIFY(handler->log().isOpen());
            ZorQtMsgHandler::install(handler);
            QCOMPARE(ZorQtMsgHandler::sink(), handler);

            std::atomic<int> sent{0};
            std::atomic<bool> stop{false};
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t) {
                threads.emplace_back([&, t] {
                    for (int i = 0; !stop.load(); ++i) {
                        if (i % 2)
                            qWarning("thread %d message %d", t, i);
                        else
                            qDebug("thread %d message %d", t, i);
                        sent.fetch_add(1);
                    }
                });
            }
            QTRY_VERIFY(sent.load() > 200);
            delete handler;
            QCOMPARE(ZorQtMsgHandler::sink(), nullptr);
            const int atDelete = sent.load();
            QTRY_VERIFY(sent.load() > atDelete + 50);
            stop.store(true);
            for (auto &th : threads)
                th.join();
        }
        qInstallMessageHandler(testHandler);

        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        f.seek(startSize);
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QRegularExpression wellFormed(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
            "(log started|log stopped|thread \\d message \\d+|Warning: thread \\d message \\d+\\[LF\\])$"));
        int started = 0, stopped = 0;
        bool open = false;
        for (const QString &line : lines) {
            QVERIFY2(wellFormed.match(line).hasMatch(), qPrintable(line));
            if (line.endsWith(QLatin1String("log started"))) {
                QVERIFY(!open);
                open = true;
                ++started;
            } else if (line.endsWith(QLatin1String("log stopped"))) {
                open = false;
                ++stopped;
            } else {
                QVERIFY2(open, "a message was logged after \"log stopped\"");
            }
        }
        QCOMPARE(started, rounds);
        QCOMPARE(stopped, rounds);
    }
};

ZOR_TEST(TestQtMsgHandler)
#include "tst_qtmsghandler.moc"
