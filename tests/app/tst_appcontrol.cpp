#include "windowtesting.h"
#include "zorapplservices.h"
#include "zorpanel.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"

#include <QtTest>

using namespace WindowTesting;

namespace {

// Receives the URLs handed to the desktop for the test scheme.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void handle(const QUrl &url) { urls << url; }
};

} // namespace

// App-control commands and dialog requests as modules and panels send them:
// through appControlIn, answered on appControlResponse with the same
// message id, in arrival order.
class TestAppControl : public QObject
{
    Q_OBJECT
    ZorTest::TempHome home;
    QScopedPointer<ZorTest::TempSettings> settings;
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<Quorvane> window;
    UrlCatcher urls;

    QString path(const QString &relative) const { return dir->filePath(relative); }
    QuorvaneProject *project() const { return window->project(); }

    // Sends one request and returns its answer (an invalid message when
    // none came).
    ZorMessage ask(int type, const QString &data)
    {
        QSignalSpy answers(window.data(), &Quorvane::appControlResponse);
        const ZorMessage request(type, KS_REQUEST, data);
        window->appControlIn(request);
        if (!answers.wait(10000) || answers.size() != 1)
            return ZorMessage(KM_UNDEFINED, KS_INFO);
        const ZorMessage answer = answers.at(0).at(0).value<ZorMessage>();
        return answer.msgId() == request.msgId() ? answer : ZorMessage(KM_UNDEFINED, KS_INFO);
    }
    QStringList tree() const { return treeLines(project()->model()); }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        settings.reset(new ZorTest::TempSettings);
        ZorTest::TempSettings::set("DebugMode", 0);
        ZorTest::TempSettings::set("GuiMode", 0);
        QVERIFY(ZorApplServices::initAppGlobals());
        QDesktopServices::setUrlHandler("quorvanetest", &urls, "handle");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler("quorvanetest"); }
    void init()
    {
        dir.reset(new QTemporaryDir(home.homePath() + "/work-XXXXXX"));
        QVERIFY(dir->isValid());
        writeFile(path("Demo.zorpro"), demoProject());
        window.reset(new Quorvane);
        window->show();
        QVERIFY(window->appControl("open," + path("Demo.zorpro")));
    }
    void cleanup()
    {
        project()->setModified(false);
        window.reset();
    }

    void commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("data"); // "=": the command line unchanged
        QTest::addColumn<QString>("check");

        QTest::newRow("unknown verb") << "frobnicate,1" << int(KS_FAIL) << "=" << "";
        QTest::newRow("empty") << "" << int(KS_FAIL) << "=" << "";
        QTest::newRow("panel, capitals and blanks")
            << "  PANEL , scope " << int(KS_ANSWER) << "=" << "scope dock";
        QTest::newRow("addmodule with commas in its properties")
            << "addmodule,datalog_plot,,,,<properties><Formula>a,b</Formula></properties>"
            << int(KS_ANSWER) << "Plot" << "plot formula";
        QTest::newRow("addmodule below a parent")
            << "AddModule , nodeconfig,Node07,Axis node,MIDX-0-0-0-0" << int(KS_ANSWER) << "Node07"
            << "node below CAN1";
        QTest::newRow("addmodule of an unknown type") << "addmodule,nosuchtype" << int(KS_FAIL)
                                                      << "=" << "unchanged";
        QTest::newRow("removemodule by type") << "removemodule,,commchannel" << int(KS_ANSWER)
                                              << "=" << "no TCP01";
        QTest::newRow("removemodule by key") << "removemodule,,,MIDX-0-0-1-0" << int(KS_ANSWER)
                                             << "=" << "no Scope";
        QTest::newRow("removemodule of nothing") << "removemodule,Nope" << int(KS_FAIL) << "="
                                                 << "unchanged";
        QTest::newRow("save") << "save" << int(KS_ANSWER) << "=" << "saved";
        QTest::newRow("open fails") << "open,missing.zorpro" << int(KS_FAIL) << "=" << "file error";
        QTest::newRow("new") << "new" << int(KS_ANSWER) << "=" << "standard template";
        QTest::newRow("new from a missing template") << "new,NoSuch.zortpl" << int(KS_ANSWER) << "="
                                                     << "file error";
        QTest::newRow("openurl") << "openurl, quorvanetest:hello " << int(KS_ANSWER) << "=" << "url";
        QTest::newRow("startprocess with quotes and an empty field")
            << "startprocess,\"%1/my tool.sh\",one,,two" << int(KS_ANSWER) << "=" << "process ran";
        QTest::newRow("startprocess of a missing program") << "startprocess,/no/such/program,a"
                                                           << int(KS_FAIL) << "=" << "";
        QTest::newRow("exit") << "exit" << int(KS_ANSWER) << "=" << "closed";
    }
    void commands()
    {
        QFETCH(QString, command);
        QFETCH(int, state);
        QFETCH(QString, data);
        QFETCH(QString, check);
        if (command.contains("%1")) {
            command = command.arg(dir->path());
            writeFile(path("my tool.sh"), "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$(dirname \"$0\")/args.txt\"\n");
            QFile::setPermissions(path("my tool.sh"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QStringList before = tree();
        Boxes boxes;
        const ZorMessage answer = ask(KM_APPLICATION_CONTROL, command);
        QCOMPARE(answer.msgType(), int(KM_APPLICATION_CONTROL));
        QCOMPARE(answer.msgState(), state);
        QCOMPARE(answer.data().toString(), data == "=" ? command : data);

        if (check == "scope dock") {
            QVERIFY(window->docks().value(QPersistentModelIndex(item(project(), "Scope"))));
        } else if (check == "plot formula") {
            const QDomElement plot = project()->model()->nodeFromIndex(item(project(), "Plot")).toElement();
            QCOMPARE(plot.firstChildElement("properties").firstChildElement("Formula").text(),
                     QStringLiteral("a,b"));
        } else if (check == "node below CAN1") {
            const QModelIndex node = item(project(), "Node07", item(project(), "CAN1"));
            QCOMPARE(node.data(Qt::ToolTipRole).toString(), QStringLiteral("Axis node"));
        } else if (check == "unchanged") {
            QCOMPARE(tree(), before);
        } else if (check == "no TCP01" || check == "no Scope") {
            QStringList expected = before;
            expected.removeAll(check == "no TCP01" ? "  TCP01" : "  Scope");
            QCOMPARE(tree(), expected);
        } else if (check == "saved") {
            QVERIFY(readFile(path("Demo.zorpro")).contains("<guistate>"));
        } else if (check == "file error") {
            QCOMPARE(boxes.shown.size(), 1);
            QCOMPARE(boxes.shown.at(0).title, QStringLiteral("File error"));
        } else if (check == "standard template") {
            QVERIFY(project()->isTemplate());
            QCOMPARE(tree().size(), 4);
        } else if (check == "url") {
            QCOMPARE(urls.urls.takeLast(), QUrl("quorvanetest:hello"));
        } else if (check == "process ran") {
            QTRY_COMPARE(readFile(path("args.txt")), QByteArray("one\ntwo\n"));
        } else if (check == "closed") {
            QVERIFY(!window->isVisible());
            QVERIFY(project()->projectFile().isEmpty());
        }
    }

    void exitKeepsTheWindowWhenTheUserCancels()
    {
        QVERIFY(window->appControl("addmodule,datalog_plot"));
        Boxes boxes(QMessageBox::Cancel);
        const ZorMessage answer = ask(KM_APPLICATION_CONTROL, "exit");
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(window->isVisible());
        QCOMPARE(project()->projectFile(), path("Demo.zorpro"));
    }

    void saveAsShowsItsDialog()
    {
        ZorMessage answer;
        QVERIFY(withModal<QFileDialog>([&] { answer = ask(KM_APPLICATION_CONTROL, "saveas,Copy.zorpro"); },
                                       [&](QFileDialog *d) {
                                           QCOMPARE(d->selectedFiles().value(0), path("Copy.zorpro"));
                                           static_cast<QDialog *>(d)->accept();
                                       }));
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(project()->projectFile(), path("Copy.zorpro"));
        QVERIFY(QFileInfo::exists(path("Copy.zorpro")));

        QVERIFY(withModal<QFileDialog>([&] { answer = ask(KM_APPLICATION_CONTROL, "saveas,"); },
                                       [&](QFileDialog *d) { d->reject(); }));
        QCOMPARE(answer.msgState(), int(KS_FAIL));
    }

    void messageBoxes_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("title");   // empty: no box
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("defaultButton");
        QTest::newRow("info, OK") << "i,Hello, world" << int(QMessageBox::Ok) << int(KS_ANSWER)
                                  << "Quorvane Info" << "Hello" << int(QMessageBox::Ok);
        QTest::newRow("info, cancel") << " I , Careful " << int(QMessageBox::Cancel) << int(KS_CANCEL)
                                      << "Quorvane Info" << "Careful" << int(QMessageBox::Ok);
        QTest::newRow("warning, OK") << "w,Stop now?" << int(QMessageBox::Ok) << int(KS_ANSWER)
                                     << "Quorvane Warning" << "Stop now?" << int(QMessageBox::Cancel);
        QTest::newRow("warning, closed") << "w,Stop now?" << int(QMessageBox::NoButton)
                                         << int(KS_CANCEL) << "Quorvane Warning" << "Stop now?"
                                         << int(QMessageBox::Cancel);
        QTest::newRow("unknown kind") << "x,whatever" << int(QMessageBox::Ok) << int(KS_REJECT)
                                      << "" << "" << 0;
    }
    void messageBoxes()
    {
        QFETCH(QString, request);
        QFETCH(int, answer);
        QFETCH(int, state);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(int, defaultButton);
        Boxes boxes{QMessageBox::StandardButton(answer)};
        const ZorMessage reply = ask(KM_DIALOG, request);
        QCOMPARE(reply.msgType(), int(KM_DIALOG));
        QCOMPARE(reply.msgState(), state);
        QCOMPARE(reply.data().toString(), request);
        QCOMPARE(boxes.shown.size(), title.isEmpty() ? 0 : 1);
        if (!title.isEmpty()) {
            QCOMPARE(boxes.shown.at(0).title, title);
            QCOMPARE(boxes.shown.at(0).text, text);
            QCOMPARE(boxes.shown.at(0).buttons, QMessageBox::Ok | QMessageBox::Cancel);
            QCOMPARE(int(boxes.shown.at(0).defaultButton), defaultButton);
        }
    }

    void textInput()
    {
        ZorMessage reply;
        QVERIFY(withModal<QInputDialog>([&] { reply = ask(KM_DIALOG, "s,Your name?,Anna"); },
                                        [&](QInputDialog *d) {
                                            QCOMPARE(d->windowTitle(), QStringLiteral("Quorvane User Input"));
                                            QCOMPARE(d->labelText(), QStringLiteral("Your name?"));
                                            QCOMPARE(d->textValue(), QStringLiteral("Anna"));
                                            QCOMPARE(d->textEchoMode(), QLineEdit::Normal);
                                            d->setTextValue("Bob: the builder");
                                            d->accept();
                                        }));
        QCOMPARE(reply.msgState(), int(KS_ANSWER));
        QCOMPARE(reply.data().toString(), QStringLiteral("Bob: the builder"));

        QVERIFY(withModal<QInputDialog>([&] { reply = ask(KM_DIALOG, "s,Your name?,Anna"); },
                                        [&](QInputDialog *d) { d->reject(); }));
        QCOMPARE(reply.msgState(), int(KS_CANCEL));
        QCOMPARE(reply.data().toString(), QStringLiteral("s,Your name?,Anna"));
    }

    void fileDialogs()
    {
        const QString chosen = path("a:b.txt");
        writeFile(chosen, "x");
        ZorMessage reply;
        QVERIFY(withModal<QFileDialog>([&] { reply = ask(KM_DIALOG, "fo,Pick a trace," + dir->path() + ",Text (*.txt)"); },
                                       [&](QFileDialog *d) {
                                           QCOMPARE(d->windowTitle(), QStringLiteral("Pick a trace"));
                                           QCOMPARE(d->directory().absolutePath(), dir->path());
                                           QCOMPARE(d->nameFilters(), QStringList({"Text (*.txt)"}));
                                           d->selectFile(chosen);
                                           static_cast<QDialog *>(d)->accept();
                                       }));
        QCOMPARE(reply.msgState(), int(KS_ANSWER));
        QCOMPARE(reply.data().toString(), QString(chosen).replace(':', ';'));

        // The working folder stands in for its macro; defaults fill in.
        QVERIFY(withModal<QFileDialog>([&] { reply = ask(KM_DIALOG, "FS,,%%WorkingDir%%,"); },
                                       [&](QFileDialog *d) {
                                           QCOMPARE(d->windowTitle(), QStringLiteral("Save File"));
                                           QCOMPARE(d->directory().absolutePath(), ZorApplServices::workingDir());
                                           QCOMPARE(d->nameFilters(), QStringList({"All Files (*.*)"}));
                                           d->reject();
                                       }));
        QCOMPARE(reply.msgState(), int(KS_CANCEL));
        QCOMPARE(reply.data().toString(), QString());
    }

    // A request that arrives while an earlier one shows its dialog is
    // answered after it, never before.
    void requestsAreAnsweredInArrivalOrder()
    {
        QSignalSpy answers(window.data(), &Quorvane::appControlResponse);
        const ZorMessage first(KM_DIALOG, KS_REQUEST, QStringLiteral("s,First?,"));
        const ZorMessage second(KM_APPLICATION_CONTROL, KS_REQUEST, QStringLiteral("panel,Scope"));
        const ZorMessage ignored(KM_APPLICATION_CONTROL, KS_ANSWER, QStringLiteral("exit"));
        const ZorMessage other(KM_START, KS_REQUEST);
        window->appControlIn(first);
        window->appControlIn(ignored);
        window->appControlIn(other);
        window->appControlIn(second);
        // The dialog stays up well beyond the second request's 10 ms.
        QVERIFY(withModal<QInputDialog>([&] { QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 10000); },
                                        [&](QInputDialog *d) {
                                            QCOMPARE(answers.size(), 0);
                                            d->setTextValue("one");
                                            d->accept();
                                        },
                                        10));
        QCOMPARE(answers.at(0).at(0).value<ZorMessage>().msgId(), first.msgId());
        QCOMPARE(answers.at(1).at(0).value<ZorMessage>().msgId(), second.msgId());
        QCOMPARE(answers.at(1).at(0).value<ZorMessage>().msgState(), int(KS_ANSWER));
    }

    // Modules and panels reach the window through their message ports.
    void panelsAndModulesAreWired()
    {
        window->newDock(item(project(), "Scope"));
        auto *panel = qobject_cast<ZorPanel *>(window->docks().value(QPersistentModelIndex(item(project(), "Scope")))->widget());
        QVERIFY(panel);
        Boxes boxes;
        QSignalSpy answers(window.data(), &Quorvane::appControlResponse);
        panel->sendGuiMsg(ZorMessage(KM_DIALOG, KS_REQUEST, QStringLiteral("i,From the panel")));
        QVERIFY(answers.wait(5000));
        QCOMPARE(boxes.texts(), QStringList({"From the panel"}));
    }
};

ZOR_TEST(TestAppControl)
#include "tst_appcontrol.moc"
