// HTTP downloads over loopback against a server with Basic authentication.
#include "zornetaccessmanager.h"

#include "catalogserver.h"
#include "updatetesting.h"
#include "zortemphome.h"
#include "zortest.h"

#include <QtTest>

using namespace UpdateTesting;

namespace {

const QString kDownloadUser = QStringLiteral("QValice");
const QString kDownloadPassword = QStringLiteral("secret");

// Text long enough to arrive in several chunks and to shrink when packed.
QByteArray sampleText()
{
    QByteArray text;
    for (int i = 0; i < 200; ++i)
        text += "line " + QByteArray::number(i) + " of the component\n";
    return text;
}

struct Report
{
    bool ok;
    QString url;
    QString localPath;
    int code;
};

Report reportAt(const QSignalSpy &spy, int i)
{
    const QList<QVariant> args = spy.at(i);
    return {args.at(0).toBool(), args.at(1).toString(), args.at(2).toString(), args.at(3).toInt()};
}

} // namespace

class TestDownloads : public QObject
{
    Q_OBJECT

    ZorTest::TempHome m_home;
    QTemporaryDir m_root;
    CatalogServer m_server;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_root.isValid());
        QVERIFY(writeFile(m_root.filePath("files/a.txt"), sampleText()));
        QByteArray big(256 * 1024, 'x');
        QVERIFY(writeFile(m_root.filePath("files/big.bin"), big));
        QVERIFY2(m_server.start(m_root.path(), kDownloadUser, kDownloadPassword), qPrintable(m_server.errorString()));
    }

    void download_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("localName");
        QTest::addColumn<bool>("ok");

        QTest::newRow("whole file") << "files/a.txt" << "a.txt" << true;
        QTest::newRow("chunked, no length") << "files/chunked/a.txt" << "a.txt" << true;
        QTest::newRow("gzip-compressed") << "files/gzip/a.txt" << "a.txt" << true;
        QTest::newRow("body shorter than announced") << "files/short/a.txt" << "a.txt" << false;
        QTest::newRow("404") << "files/missing.txt" << "a.txt" << false;
        QTest::newRow("302 is not followed") << "files/status/302" << "a.txt" << false;
        QTest::newRow("local folder missing") << "files/a.txt" << "no/such/a.txt" << false;
    }

    void download()
    {
        QFETCH(QString, path);
        QFETCH(QString, localName);
        QFETCH(bool, ok);

        QTemporaryDir out;
        const QString local = out.filePath(localName);
        ZorNetAccessManager manager(nullptr, kDownloadUser, kDownloadPassword);
        QSignalSpy finished(&manager, &ZorNetAccessManager::downloadFinished);
        const QString url = m_server.url(path);
        manager.download(url, local);
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.size(), 1);
        const Report r = reportAt(finished, 0);
        QCOMPARE(r.ok, ok);
        QCOMPARE(r.url, url);
        QCOMPARE(r.localPath, local);
        QCOMPARE(r.code, 0);
        QCOMPARE(manager.runningCount(), 0);
        if (ok)
            QCOMPARE(readFile(local), sampleText());
        else
            QVERIFY(!QFileInfo::exists(local));
    }

    // The login is answered once: the first request goes without
    // credentials, the second with them, and a second challenge ends it.
    void refusedLoginIsAnsweredOnce()
    {
        QTemporaryDir out;
        const int before = m_server.requests().size();
        ZorNetAccessManager manager(nullptr, kDownloadUser, QStringLiteral("wrong"));
        QSignalSpy finished(&manager, &ZorNetAccessManager::downloadFinished);
        manager.download(m_server.url("files/a.txt"), out.filePath("a.txt"));
        QVERIFY(finished.wait(20000));
        QCOMPARE(reportAt(finished, 0).code, -1);
        QVERIFY(!reportAt(finished, 0).ok);
        const QStringList requests = m_server.requests().mid(before);
        QCOMPARE(requests, QStringList({"REQ /files/a.txt auth=- status=401",
                                        "REQ /files/a.txt auth="
                                            + CatalogServer::basicAuthorization(kDownloadUser, "wrong")
                                            + " status=401"}));
    }

    // A refused login marks that download only: later failures carry their
    // own cause.
    void eachDownloadKeepsItsOwnErrorCode()
    {
        QTemporaryDir out;
        ZorNetAccessManager manager(nullptr, kDownloadUser, QStringLiteral("wrong"));
        QSignalSpy finished(&manager, &ZorNetAccessManager::downloadFinished);
        for (const char *path : {"files/a.txt", "open/files/status/404", "open/files/a.txt"}) {
            manager.download(m_server.url(path), out.filePath("a.txt"));
            QVERIFY(finished.wait(20000));
        }
        QCOMPARE(finished.size(), 3);
        QCOMPARE(reportAt(finished, 0).code, -1);
        QCOMPARE(reportAt(finished, 1).code, 0);
        QVERIFY(!reportAt(finished, 1).ok);
        QCOMPARE(reportAt(finished, 2).code, 0);
        QVERIFY(reportAt(finished, 2).ok);
        QCOMPARE(manager.lastErrorCode(), -1);
    }

    void duplicateIsRefusedAndAbortAllIsSilent()
    {
        QTemporaryDir out;
        ZorNetAccessManager manager(nullptr, kDownloadUser, kDownloadPassword);
        QSignalSpy finished(&manager, &ZorNetAccessManager::downloadFinished);
        const QString stalled = m_server.url("files/stall/big.bin");
        const int before = m_server.requests().size();
        manager.download(stalled, out.filePath("big.bin"));
        manager.download(stalled, out.filePath("other.bin"));
        // Refused at once, without a request.
        QCOMPARE(finished.size(), 1);
        const Report r = reportAt(finished, 0);
        QVERIFY(!r.ok);
        QCOMPARE(r.url, stalled);
        QCOMPARE(r.localPath, out.filePath("other.bin"));
        QCOMPARE(r.code, -2);
        QCOMPARE(manager.lastErrorCode(), -2);
        QCOMPARE(manager.runningCount(), 1);

        // The stalled transfer is under way (its login done) before the abort.
        QVERIFY(m_server.waitForRequests(before + 2, 20000));
        QTRY_VERIFY2_WITH_TIMEOUT(m_server.pathsWithStatus(200).contains("/files/stall/big.bin"),
                                  qPrintable(m_server.requests().join('\n')), 20000);
        manager.abortAll();
        QCOMPARE(manager.runningCount(), 0);

        // A later download's report comes after anything the aborted one
        // could still have sent.
        manager.download(m_server.url("open/files/a.txt"), out.filePath("a.txt"));
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.size(), 2);
        QVERIFY(reportAt(finished, 1).ok);
        QVERIFY(!QFileInfo::exists(out.filePath("big.bin")));
    }

    // Data reaches the disk as it arrives: while a transfer stalls half-way,
    // the half received is already written. Nothing arriving for the
    // time-out ends it (-4), and neither the file nor its partial data stay.
    void streamsToDiskAndGivesUpWhenNothingArrives()
    {
        QTemporaryDir out;
        ZorNetAccessManager manager(nullptr, kDownloadUser, kDownloadPassword);
        manager.setStallTimeoutMs(1500);
        QSignalSpy finished(&manager, &ZorNetAccessManager::downloadFinished);
        const QString url = m_server.url("files/stall/big.bin");
        QElapsedTimer clock;
        clock.start();
        manager.download(url, out.filePath("big.bin"));
        // The partial file may be one without a name (opened as a temporary
        // file of the folder): it is found among the process's open files.
        const auto writtenSoFar = [&] {
            qint64 size = 0;
            for (const QFileInfo &f : QDir(out.path()).entryInfoList(QDir::Files | QDir::Hidden))
                size += f.size();
            for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden)) {
                if (fd.symLinkTarget().startsWith(out.path() + QLatin1Char('/')))
                    size += fd.size();
            }
            return size;
        };
        QTRY_COMPARE_WITH_TIMEOUT(writtenSoFar(), qint64(128 * 1024), 10000);
        QVERIFY(finished.isEmpty());
        QVERIFY(finished.wait(20000));
        const Report r = reportAt(finished, 0);
        QVERIFY2(clock.elapsed() >= 1500,
                 qPrintable(QStringLiteral("given up before the time-out: %1 ms, code %2").arg(clock.elapsed()).arg(r.code)));
        QVERIFY(!r.ok);
        QCOMPARE(r.code, -4);
        QCOMPARE(manager.lastErrorCode(), -4);
        QCOMPARE(manager.failureText(r.code, url),
                 QStringLiteral("Nothing arrived from %1 for 1.5 s: the transfer was stopped.").arg(url));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // A body larger than the limit is refused whether its length is
    // announced or only found while it arrives; one within it arrives.
    void refusesBodiesOverTheLimit_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("code");
        QTest::newRow("announced") << "files/big.bin" << -5;
        QTest::newRow("chunked, found while arriving") << "files/chunked/big.bin" << -5;
        QTest::newRow("within the limit") << "files/a.txt" << 0;
    }

    void refusesBodiesOverTheLimit()
    {
        QFETCH(QString, path);
        QFETCH(int, code);
        QTemporaryDir out;
        ZorNetAccessManager manager(nullptr, kDownloadUser, kDownloadPassword);
        manager.setMaxDownloadBytes(100000);
        QSignalSpy finished(&manager, &ZorNetAccessManager::downloadFinished);
        const QString url = m_server.url(path);
        manager.download(url, out.filePath("file"));
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.size(), 1);
        const Report r = reportAt(finished, 0);
        QCOMPARE(r.code, code);
        QCOMPARE(r.ok, code == 0);
        if (code == 0) {
            QCOMPARE(readFile(out.filePath("file")), sampleText());
        } else {
            QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
            QCOMPARE(manager.failureText(code, url),
                     QStringLiteral("%1 is larger than the 100000 bytes a download may have: it was refused.").arg(url));
        }
    }
};

ZOR_TEST(TestDownloads)
#include "tst_downloads.moc"
