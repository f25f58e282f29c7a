// The update wizard over loopback HTTP: login, check, offer, install into a
// new folder beside the application folder, restart; and the main window's
// Check for Updates action.
#include "zorupdatedialog.h"

#include "catalogserver.h"
#include "quorvane.h"
#include "updatetesting.h"
#include "zorapplservices.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"
#include "zortestzip.h"

#include <QtTest>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

using namespace UpdateTesting;

namespace {

const char kAuthText[] = "User authentication failed. Please check the User Name and Password.";
const char kVersion[] = "Quorvane 2024-05-06";

QString programName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

struct Wizard
{
    Wizard(const QString &applicationFolder)
    {
        dialog.setApplicationFolder(applicationFolder);
        user = dialog.findChild<QLineEdit *>("lineEditUserName");
        password = dialog.findChild<QLineEdit *>("lineEditPassword");
        next = dialog.findChild<QPushButton *>("pushButtonNext");
        cancel = dialog.findChild<QPushButton *>("pushButtonCancel");
        log = dialog.findChild<QPlainTextEdit *>("plainTextEditLog");
        progress = dialog.findChild<QProgressBar *>("progressBar");
    }
    bool complete() const { return user && password && next && cancel && log && progress; }
    QString text() const { return log->toPlainText(); }
    void check(const QString &name, const QString &pw)
    {
        user->setText(name);
        password->setText(pw);
        next->click();
    }

    ZorUpdateDialog dialog;
    QLineEdit *user = nullptr;
    QLineEdit *password = nullptr;
    QPushButton *next = nullptr;
    QPushButton *cancel = nullptr;
    QPlainTextEdit *log = nullptr;
    QProgressBar *progress = nullptr;
};

QStringList workFolders()
{
    return QDir::temp().entryList({QStringLiteral("Catalog-tmp-*")}, QDir::Dirs);
}

} // namespace

class TestUpdateWizard : public QObject
{
    Q_OBJECT

    ZorTest::TempHome m_home;
    ZorTest::TempSettings m_settings;
    QTemporaryDir m_root;
    QTemporaryDir m_config;
    CatalogServer m_server;
    QString m_catalog;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_root.isValid() && m_config.isValid());
        const QString updates = m_root.filePath("updates");
        m_catalog = updates + "/QValice-Catalog.zorctl";
        QVERIFY(writeFile(m_catalog, catalogXml({{"Templates", "template", {"tpl/Std.zortpl"}},
                                                 {"Core", "core", {"core/app.zip"}},
                                                 {"News", "whatsnew", {"news/whatsnew.html"}}})));
        QVERIFY(writeFile(updates + "/core/app.zip",
                          ZorTest::storedZip({{"bin/tool.txt", "tool"},
                                              {programName().toUtf8(), "#!/bin/sh\n", 0100755}})));
        QVERIFY(writeFile(updates + "/tpl/Std.zortpl", "template"));
        QVERIFY(writeFile(updates + "/news/whatsnew.html", "<p>new</p>"));
        QVERIFY(writeFile(updates + "/QVbroken-Catalog.zorctl",
                          catalogXml({{"A", "core", {"a"}}, {"B", "template", {}}})));
        QVERIFY(writeFile(updates + "/QVslow-Catalog.zorctl", catalogXml({{"Core", "core", {"stall/big.bin"}}})));
        QVERIFY(writeFile(updates + "/big.bin", QByteArray(256 * 1024, 'x')));
        // As a zip made on Windows: no execute bit on the program.
        QVERIFY(writeFile(updates + "/QVwin-Catalog.zorctl", catalogXml({{"Core", "core", {"win/app.zip"}}})));
        QVERIFY(writeFile(updates + "/win/app.zip", ZorTest::storedZip({{programName().toUtf8(), "#!/bin/sh\n"}})));
        QVERIFY2(m_server.start(m_root.path(), {{"QValice", "secret"}, {"QVbroken", "pw"}, {"QVslow", "pw"},
                                                {"QVwin", "pw"}}),
                 qPrintable(m_server.errorString()));
        // No trailing "/": the wizard adds it.
        QVERIFY(loadConfiguration(m_config.path(), {{"UpdateUrl", m_server.url("updates")},
                                                    {"UpdateUserPrefix", "QV"}}));
        QVERIFY(ZorUpdateDialog::isUpdateConfigured());
    }

    void cleanupTestCase() { ZorApplServices::resetAppGlobals(); }

    void checkDownloadInstallAndRestart()
    {
        QTemporaryDir apps;
        QVERIFY(QDir().mkpath(apps.filePath("current")));
        Wizard w(apps.filePath("current"));
        QVERIFY(w.complete());
        QCOMPARE(w.dialog.windowTitle(), QStringLiteral("Check For Updates - QV"));
        QVERIFY(w.text().startsWith("Current application: Quorvane " + ZorApplServices::appVersion()
                                    + " (AppID QV)\nQuorvane\n"));
        QVERIFY(!w.text().contains("Warning"));

        const int before = m_server.requests().size();
        w.check("alice", "secret");
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepOffered), 20000);
        QCOMPARE(m_server.requests().mid(before, 2),
                 QStringList({"REQ /updates/QValice-Catalog.zorctl auth=- status=401",
                              "REQ /updates/QValice-Catalog.zorctl auth="
                                  + CatalogServer::basicAuthorization("QValice", "secret") + " status=200"}));
        QVERIFY(w.text().contains(QStringLiteral("Latest application version available: \n%1\n").arg(kVersion)));
        QVERIFY(w.text().endsWith("Download this version?"));
        QCOMPARE(w.next->text(), QStringLiteral("Download"));
        QVERIFY(w.next->isEnabled());

        const int beforeComponents = m_server.pathsWithStatus(200).size();
        w.next->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepInstalled), 60000);
        const QString folder = QDir(apps.path()).absoluteFilePath(kVersion);
        QVERIFY(w.text().contains("Downloading of 3 components started...\n"
                                  "Downloaded 1 out of 3 components.\n"
                                  "Downloaded 2 out of 3 components.\n"
                                  "Downloaded 3 out of 3 components.\n"
                                  "Download complete. Copying files...\n"
                                  "\nUpdate successful!\n\nThe new application files have been copied to:\n"
                                  + folder));
        QCOMPARE(m_server.pathsWithStatus(200).mid(beforeComponents),
                 QStringList({"/updates/core/app.zip", "/updates/news/whatsnew.html",
                              "/updates/tpl/Std.zortpl"}));
        QVERIFY(!w.progress->isHidden());
        QCOMPARE(w.progress->value(), 100);
        QCOMPARE(filesBelow(folder),
                 QStringList({"QValice-Catalog.zorctl", "Templates/Std.zortpl", "WhatsNew/whatsnew.html",
                              "bin/tool.txt", programName()}));
        QCOMPARE(readFile(folder + "/QValice-Catalog.zorctl").isEmpty(), false);
        QCOMPARE(w.cancel->text(), QStringLiteral("Close"));
        QCOMPARE(w.next->text(), QStringLiteral("Restart with new version"));

        // This program ends once the main window answers that the new one
        // started.
        QSignalSpy out(&w.dialog, &ZorUpdateDialog::msgOut);
        w.next->click();
        QCOMPARE(out.size(), 1);
        const auto command = out.at(0).at(0).value<ZorMessage>();
        QCOMPARE(command.msgType(), int(KM_APPLICATION_CONTROL));
        QCOMPARE(command.msgState(), int(KS_REQUEST));
        const QString program = folder + '/' + programName();
        const QString news = folder + "/WhatsNew/whatsnew.html";
        QCOMPARE(command.data().toString(), "startprocess,\"" + program + "\",\"" + news + "\"");
        QVERIFY(!w.next->isEnabled());
        ZorMessage started = command;
        started.setMsgState(KS_ANSWER);
        w.dialog.appControlResponse(started);
        QCOMPARE(out.size(), 2);
        QCOMPARE(out.at(1).at(0).value<ZorMessage>().data().toString(), QStringLiteral("exit"));
        QCOMPARE(w.dialog.result(), int(QDialog::Accepted));
        // The main window starts the program with the file as its argument,
        // both without their quotes.
        QCOMPARE(Quorvane::startProcessCommandLine(command.data().toString().mid(13)),
                 QStringList({program, news}));
        QCOMPARE(workFolders(), QStringList());
    }

    // The catalogue saved in the application folder is compared against; a
    // second install of one version goes into a numbered folder.
    void upToDateVersionInstallsBeside()
    {
        QTemporaryDir apps;
        QVERIFY(QDir().mkpath(apps.filePath(kVersion)));
        QVERIFY(writeFile(apps.filePath("current/QValice-Catalog.zorctl"), readFile(m_catalog)));
        Wizard w(apps.filePath("current"));
        w.check("alice", "secret");
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepOffered), 20000);
        QVERIFY(w.text().endsWith("Your application is up to date. Do you want to download the "
                                  "application files anyway?"));
        w.next->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepInstalled), 60000);
        QVERIFY(QFileInfo(apps.filePath(QStringLiteral("%1 (1)/%2").arg(kVersion, programName()))).isFile());
    }

    // A new program that cannot start never ends this one: without its
    // execute bit nothing is asked of the main window; a start the main
    // window reports failed is no reason to exit either. The new folder
    // stays, and the wizard says why.
    void newProgramThatCannotStartKeepsThisOne()
    {
        QTemporaryDir apps;
        QVERIFY(QDir().mkpath(apps.filePath("current")));
        Wizard w(apps.filePath("current"));
        w.check("win", "pw");
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepOffered), 20000);
        w.next->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepInstalled), 60000);
        const QString folder = QDir(apps.path()).absoluteFilePath(kVersion);
        const QString program = folder + '/' + programName();
        QVERIFY(QFileInfo(program).isFile() && !QFileInfo(program).isExecutable());

        QSignalSpy out(&w.dialog, &ZorUpdateDialog::msgOut);
        w.next->click();
        QCOMPARE(out.size(), 0);
        QVERIFY2(w.text().endsWith(QStringLiteral("The new version cannot be started: '%1' is not an executable "
                                                  "program (it has no permission to run). This version stays "
                                                  "open; the new files stay in '%2', where you can make the "
                                                  "program executable and start it yourself.")
                                       .arg(program, folder)),
                 qPrintable(w.text()));
        QCOMPARE(w.dialog.step(), int(ZorUpdateDialog::StepInstalled));
        QVERIFY(w.next->isEnabled());

        QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
        w.next->click();
        QCOMPARE(out.size(), 1);
        ZorMessage refused = out.at(0).at(0).value<ZorMessage>();
        refused.setMsgState(KS_FAIL);
        w.dialog.appControlResponse(refused);
        QCOMPARE(out.size(), 1);
        QVERIFY(w.text().endsWith(QStringLiteral("The new version could not be started. This version stays open; "
                                                 "the new files stay in '%1'.")
                                      .arg(folder)));
        QVERIFY(w.next->isEnabled());
        QVERIFY(QFileInfo(program).isFile());
        QCOMPARE(w.dialog.result(), 0);
    }

    // Enter takes the step forward, wherever the focus is: the check from
    // the password, the download with the focus on Cancel.
    void enterTakesTheForwardStep()
    {
        QTemporaryDir apps;
        QVERIFY(QDir().mkpath(apps.filePath("current")));
        Wizard w(apps.filePath("current"));
        w.dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.dialog));
        w.user->setText("alice");
        w.password->setText("secret");
        w.password->setFocus();
        QTest::keyClick(w.password, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepOffered), 20000);
        QVERIFY(w.next->isDefault() && !w.cancel->isDefault());
        w.cancel->setFocus();
        QTest::keyClick(w.cancel, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepInstalled), 60000);
        QVERIFY(w.dialog.isVisible());
        QVERIFY(w.next->isDefault());
        w.dialog.reject();
    }

    void wrongPasswordReturnsToLogin()
    {
        QTemporaryDir apps;
        Wizard w(apps.path());
        w.check("alice", "wrong");
        QTRY_VERIFY_WITH_TIMEOUT(w.text().endsWith(kAuthText), 20000);
        QCOMPARE(w.dialog.step(), int(ZorUpdateDialog::StepLogin));
        QVERIFY(w.user->isEnabled() && w.password->isEnabled() && w.next->isEnabled());
        QCOMPARE(w.next->text(), QStringLiteral("Check for Updates"));

        // A new try with a new catalogue.
        w.password->setText("secret");
        w.next->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepOffered), 20000);
        w.dialog.reject();
        QCOMPARE(workFolders(), QStringList());
    }

    void invalidCatalogueEndsTheCheck()
    {
        QTemporaryDir apps;
        Wizard w(apps.path());
        w.check("broken", "pw");
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepError), 20000);
        QVERIFY(w.text().endsWith("Could not check for new updates: Could not load downloaded catalog file."));
        QVERIFY(w.next->isHidden());
        QVERIFY(w.cancel->isEnabled());
    }

    void loginMustBeUsable_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("empty password") << "alice" << "";
        QTest::newRow("empty user") << "" << "secret";
        QTest::newRow("user with a separator") << "../alice" << "secret";
    }

    void loginMustBeUsable()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QTemporaryDir apps;
        Wizard w(apps.path());
        const int before = m_server.requests().size();
        w.check(user, password);
        QCOMPARE(w.dialog.step(), int(ZorUpdateDialog::StepLogin));
        QVERIFY(w.text().endsWith("Login required. Please enter a valid user name and password."));
        QVERIFY(w.next->isEnabled() && w.user->isEnabled());
        QCOMPARE(workFolders(), QStringList());
        QCOMPARE(m_server.requests().size(), before);
    }

    void closingDuringDownloadsAbortsThem()
    {
        QTemporaryDir apps;
        QVERIFY(QDir().mkpath(apps.filePath("current")));
        Wizard w(apps.filePath("current"));
        w.dialog.show();
        w.check("slow", "pw");
        QTRY_COMPARE_WITH_TIMEOUT(w.dialog.step(), int(ZorUpdateDialog::StepOffered), 20000);
        w.next->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_server.pathsWithStatus(200).contains("/updates/stall/big.bin"), 20000);
        QCOMPARE(workFolders().size(), 1);
        w.dialog.close();
        QCOMPARE(w.dialog.step(), int(ZorUpdateDialog::StepClosed));
        QCOMPARE(workFolders(), QStringList());
        QVERIFY(!QFileInfo::exists(apps.filePath(QStringLiteral("%1/big.bin").arg(kVersion))));
    }

    void addresses()
    {
        const QString name = QStringLiteral("QVa b-Catalog.zorctl");
        for (const QString &server : {QStringLiteral("https://updates.example/q"),
                                      QStringLiteral("https://updates.example/q/")})
            QCOMPARE(ZorUpdateDialog::catalogUrl(server, name),
                     QStringLiteral("https://updates.example/q/QVa%20b-Catalog.zorctl"));

        const QList<QPair<QString, bool>> clear{{"http://updates.example/q", true},
                                                {"HTTP://10.0.0.5/q", true},
                                                {"http://127.0.0.1:8080/q", false},
                                                {"http://localhost/q", false},
                                                {"http://[::1]/q", false},
                                                {"https://updates.example/q", false}};
        for (const auto &c : clear)
            QVERIFY2(ZorUpdateDialog::sendsCredentialsInClear(c.first) == c.second, qPrintable(c.first));
    }

    void mainWindowOffersTheWizard()
    {
        Quorvane window;
        QAction *action = window.findChild<QAction *>("actionUpdate");
        auto *menuFile = window.findChild<QMenu *>("menuFile");
        QVERIFY(action && menuFile);
        QVERIFY(menuFile->actions().contains(action));
        QVERIFY(action->isEnabled());

        QString title;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            if (auto *d = qobject_cast<ZorUpdateDialog *>(QApplication::activeModalWidget())) {
                title = d->windowTitle();
                d->reject();
                poll.stop();
            }
        });
        poll.start();
        action->trigger();
        QCOMPARE(title, QStringLiteral("Check For Updates - QV"));
    }
};

ZOR_TEST(TestUpdateWizard)
#include "tst_updatewizard.moc"
