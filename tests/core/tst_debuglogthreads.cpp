#include "zordebuglog.h"
#include "zortest.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

// Writers on several threads while the log closes under them: every line
// lands whole before "log stopped" or is dropped, and nothing touches the
// stream after it is gone (clean under ThreadSanitizer).
class TestDebugLogThreads : public QObject
{
    Q_OBJECT

private slots:
    void closeWhileOtherThreadsWrite()
    {
        const QString tag = QStringLiteral("tst_debuglogthreads_%1").arg(QCoreApplication::applicationPid());
        const QString path = ZorDebugLog::filePathForTag(tag);
        QFile::remove(path);

        for (int round = 0; round < 10; ++round) {
            ZorDebugLog log;
            log.open(tag);
            std::atomic<int> written{0};
            std::atomic<bool> stop{false};
            std::vector<std::thread> writers;
            for (int t = 0; t < 4; ++t) {
                writers.emplace_back([&, t] {
                    for (int i = 0; !stop.load(); ++i) {
                        log.write(QStringLiteral("writer %1 line %2\tend").arg(t).arg(i));
                        written.fetch_add(1);
                    }
                });
            }
            QTRY_VERIFY(written.load() > 200);
            log.close();
            const int afterClose = written.load();
            QTRY_VERIFY(written.load() > afterClose + 50);
            stop.store(true);
            for (auto &w : writers)
                w.join();
        }

        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        f.close();
        QFile::remove(path);

        const QRegularExpression wellFormed(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
            "(log started|log stopped|writer \\d line \\d+\\[ 9\\]end)$"));
        int started = 0, stopped = 0;
        bool open = false;
        for (const QString &line : lines) {
            QVERIFY2(wellFormed.match(line).hasMatch(), qPrintable(line));
            if (line.endsWith(QLatin1String("log started"))) {
                QVERIFY(!open);
                open = true;
                ++started;
            } else if (line.endsWith(QLatin1String("log stopped"))) {
                QVERIFY(open);
                open = false;
                ++stopped;
            } else {
                QVERIFY2(open, "a line was written after \"log stopped\"");
            }
        }
        QCOMPARE(started, 10);
        QCOMPARE(stopped, 10);
    }
};

ZOR_TEST(TestDebugLogThreads)
#include "tst_debuglogthreads.moc"
