#include "recordingpanel.h"
#include "testdommodel.h"
#include "zormodautomation.h"
#include "zorquestionbox.h"
#include "zortest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextCodec>
#include <QTimer>
#include <QVBoxLayout>

class TestPanel : public QObject
{
    Q_OBJECT

    static QString projectXml()
    {
        return TestDomModel::projectXml({
            {"commchannel", "Channel", "TCP channel",
             "<docs><default><html><body><a href='#app:exit'>x</a></body></html></default>"
             "<empty/></docs>"
             "<module type=\"datalog_plot\" label=\"Plot\"/><module type=\"trigger\" label=\"T\"/>"},
        });
    }

private slots:
    void init()
    {
        model = new TestDomModel(this);
        QVERIFY(model->setXml(projectXml()));
        panel = new RecordingPanel;
    }
    void cleanup()
    {
        delete panel;
        delete model;
        ZorQuestionBox::setHook(nullptr);
    }

    void bindingAsksForInfoTextThenStatus()
    {
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Channel"), model));
        QCOMPARE(panel->sent.size(), 2);
        QCOMPARE(panel->sent.at(0).msgType(), int(KM_INFOTEXT));
        QCOMPARE(panel->sent.at(1).msgType(), int(KM_STATUS));
        for (const ZorMessage &m : panel->sent) {
            QCOMPARE(m.msgState(), int(KS_REQUEST));
            QCOMPARE(m.origin(), QStringLiteral("GUI"));
        }
        QCOMPARE(panel->panelName(), QStringLiteral("Channel"));
        QCOMPARE(panel->panelUserData(), QStringLiteral("commchannel"));
        QCOMPARE(panel->panelItemText37(), QStringLiteral("TCP channel"));
        QCOMPARE(panel->moduleLabels(), QStringList({"Plot", "T"}));
        QCOMPARE(panel->moduleLabelsAndTypes().at(1), qMakePair(QStringLiteral("T"),
                                                                QStringLiteral("trigger")));
    }

    void bindingToNoElementFailsAndSendsNothing()
    {
        QVERIFY(!panel->setupZorPanel(QPersistentModelIndex(), model));
        QVERIFY(panel->sent.isEmpty());
        QVERIFY(panel->panelName().isEmpty());
        QVERIFY(!panel->saveDoc(QDomDocument(), "x"));
        QVERIFY(panel->loadDoc("default").isNull());
        QVERIFY(!panel->savePanelVisibility());
        QVERIFY(!panel->setDragDropMode(1));
        QVERIFY(panel->moduleLabels().isEmpty());
    }

    void sendGuiMsgChangesOnlyTheOrigin()
    {
        ZorMessage msg(KM_START, KS_REQUEST, QStringLiteral("data"));
        msg.setRecipient(QStringLiteral("Drive01"));
        msg.setOrigin(QStringLiteral("somebody"));
        panel->sendGuiMsg(msg);
        const ZorMessage out = panel->sent.value(0);
        QCOMPARE(out.msgId(), msg.msgId());
        QCOMPARE(out.msgType(), int(KM_START));
        QCOMPARE(out.msgState(), int(KS_REQUEST));
        QCOMPARE(out.data().toString(), QStringLiteral("data"));
        QCOMPARE(out.recipient(), QStringLiteral("Drive01"));
        QCOMPARE(out.origin(), QStringLiteral("GUI"));
    }

    void statusStyles_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("style");
        const QString green = "background-color: #5EBE37; color:black";
        const QString yellow = "background-color: #FEE600; color:black";
        const QString red = "background-color: #FF6052; color:black";
        QTest::newRow("idle") << 0 << "color:black";
        QTest::newRow("negative") << -5 << green;
        QTest::newRow("999") << 999 << green;
        QTest::newRow("1000") << 1000 << yellow;
        QTest::newRow("1999") << 1999 << yellow;
        QTest::newRow("2000") << 2000 << red;
    }
    void statusStyles()
    {
        QFETCH(int, status);
        QFETCH(QString, style);
        QCOMPARE(ZorPanel::statusStyleSheet(status), style);
    }

    void anchors_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("data");
        QTest::newRow("app in capitals") << "#APP:exit" << int(KM_APPLICATION_CONTROL)
                                         << int(KS_REQUEST) << "exit";
        QTest::newRow("app in a page link") << "page.html#app:new" << int(KM_APPLICATION_CONTROL)
                                            << int(KS_REQUEST) << "new";
        QTest::newRow("app keeps later colons") << "#app:panel,Node01:x"
                                                << int(KM_APPLICATION_CONTROL) << int(KS_REQUEST)
                                                << "panel,Node01:x";
        QTest::newRow("python line") << "#python:print 1" << int(KM_SCRIPT_CONTROL)
                                     << int(KS_REQUEST) << "1,append:print 1";
        QTest::newRow("message") << "#KM_START:KS_REQUEST" << int(KM_START) << int(KS_REQUEST)
                                 << "";
        QTest::newRow("message with data") << "#KM_SETPROPERTY:KS_REQUEST:Speed=3"
                                           << int(KM_SETPROPERTY) << int(KS_REQUEST) << "Speed=3";
        QTest::newRow("km in lower case") << "#km_start:KS_REQUEST" << -1 << 0 << "";
        QTest::newRow("no hash") << "page.html" << -1 << 0 << "";
        QTest::newRow("other anchor") << "#chapter2" << -1 << 0 << "";
    }
    void anchors()
    {
        QFETCH(QString, url);
        QFETCH(int, type);
        QFETCH(int, state);
        QFETCH(QString, data);
        panel->processAnchorClicked(QUrl(url));
        if (type < 0) {
            QVERIFY(panel->sent.isEmpty());
            return;
        }
        QCOMPARE(panel->sent.size(), 1);
        const ZorMessage m = panel->sent.at(0);
        QCOMPARE(m.msgType(), type);
        QCOMPARE(m.msgState(), state);
        QCOMPARE(m.data().toString(), data);
        QCOMPARE(m.origin(), QStringLiteral("GUI"));
    }

    void pythonScriptFileFromTheWorkingFolder()
    {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            QFile f(dir.filePath("Run.PY"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("print(2)\n");
        }
        QFile(dir.filePath("empty.py")).open(QIODevice::WriteOnly);
        panel->processAnchorClicked(QUrl("#python:Run.PY"));
        panel->processAnchorClicked(QUrl("#python:empty.py"));
        panel->processAnchorClicked(QUrl("#python:missing.py"));
        QDir::setCurrent(previous);
        // The start request names the file; the module reads it.
        QCOMPARE(panel->sent.size(), 1);
        QCOMPARE(panel->sent.at(0).msgType(), int(KM_SCRIPT_CONTROL));
        QCOMPARE(panel->sent.at(0).data().toString(),
                 "1," + QFileInfo(dir.filePath("Run.PY")).absoluteFilePath());
    }

    // A script file named by a link runs with its text intact, in any
    // language, whether it was saved as UTF-8 or (by an older editor) as
    // Latin-1.
    void pythonLinksRunScriptsInAnyLanguage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("fileCodec");
        QTest::newRow("é") << QString::fromUtf8("\xc3\xa9") << QByteArray("UTF-8");
        QTest::newRow("€") << QString::fromUtf8("\xe2\x82\xac") << QByteArray("UTF-8");
        QTest::newRow("日本") << QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac") << QByteArray("UTF-8");
        QTest::newRow("é in Latin-1") << QString::fromUtf8("\xc3\xa9") << QByteArray("ISO-8859-1");
    }
    void pythonLinksRunScriptsInAnyLanguage()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, fileCodec);
        model->addModule("automation", "Auto1");
        std::unique_ptr<ZorModule, ZorModuleDeleter> automation(new ZorModAutomation);
        QVERIFY(automation->setupZorModule(model->moduleIndex("Auto1"), model));
        connect(panel, &ZorPanel::msgOut, automation.get(), &ZorModule::slaveIn);
        connect(automation.get(), &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        automation->start();

        QTemporaryDir dir;
        {
            QFile f(dir.filePath("language.py"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QTextCodec::codecForName(fileCodec)
                        ->fromUnicode("s = '" + text + "'\nprint(s + ' ' + str(len(s)))\n"));
        }
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        panel->processAnchorClicked(QUrl("#python:language.py"));
        QDir::setCurrent(previous);

        const auto printed = [this] {
            QStringList lines;
            for (const ZorMessage &m : panel->received)
                if (m.msgType() == KM_SCRIPT_MSG)
                    lines << m.data().toString();
            return lines;
        };
        QTRY_COMPARE_WITH_TIMEOUT(printed(),
                                  QStringList("0,StdOut:" + text + " " + QString::number(text.size())),
                                  10000);
    }

    // Links of a page that came with the project must not start programs,
    // run Python or open local files behind the user's back; the program's
    // own pages may.
    void projectPageAsksBeforeProgramsPythonAndFiles_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("asks");
        QTest::newRow("python line") << "#python:import os" << true;
        QTest::newRow("start process") << "#app:startprocess,\"/bin/sh\",-c,ls" << true;
        QTest::newRow("start process in capitals") << "#APP: StartProcess ,x" << true;
        QTest::newRow("script start as message") << "#KM_SCRIPT_CONTROL:KS_REQUEST:1,print 1"
                                                 << true;
        QTest::newRow("app-control as message")
            << "#KM_APPLICATION_CONTROL:KS_REQUEST:startprocess,x" << true;
        QTest::newRow("local file") << "#app:openurl,file:///home/user/run.desktop" << true;
        QTest::newRow("local file in capitals") << "#APP: OpenUrl , FILE:/tmp/x.sh" << true;
        QTest::newRow("path without scheme") << "#app:openurl,/tmp/x.sh" << true;
        QTest::newRow("open file as message")
            << "#KM_APPLICATION_CONTROL:KS_REQUEST:openurl,file:///tmp/x" << true;
        QTest::newRow("script stop") << "#KM_SCRIPT_CONTROL:KS_REQUEST:0" << false;
        QTest::newRow("panel command") << "#app:panel,Node01" << false;
        QTest::newRow("web page") << "#app:openurl,https://example.org/manual" << false;
    }
    void projectPageAsksBeforeProgramsPythonAndFiles()
    {
        QFETCH(QString, url);
        QFETCH(bool, asks);
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Channel"), model));
        panel->sent.clear();
        QTextBrowser browser;
        browser.setOpenLinks(false);
        QVERIFY(panel->loadDocToTextEdit(&browser, "default"));
        QVERIFY(browser.toHtml().contains("#app:exit"));
        connect(&browser, &QTextBrowser::anchorClicked, panel, &ZorPanel::processAnchorClicked,
                Qt::QueuedConnection);

        QStringList questions;
        QMessageBox::StandardButton answer = QMessageBox::No;
        ZorQuestionBox::setHook([&](const ZorQuestionBox::Question &q) {
            questions << q.text;
            return answer;
        });
        emit browser.anchorClicked(QUrl(url));
        QTRY_COMPARE(questions.size() + panel->sent.size(), 1);
        QCOMPARE(questions.size(), asks ? 1 : 0);
        QCOMPARE(panel->sent.size(), asks ? 0 : 1);

        answer = QMessageBox::Yes;
        emit browser.anchorClicked(QUrl(url));
        QTRY_COMPARE(panel->sent.size(), asks ? 1 : 2);

        // The same link outside a project page is sent without a question.
        questions.clear();
        panel->processAnchorClicked(QUrl(url));
        QVERIFY(questions.isEmpty());
    }

    void documentsAreStoredUnderDocs()
    {
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Channel"), model));
        QSignalSpy edited(model, &ZorAbstractDomModel::documentEdited);

        QDomDocument doc;
        doc.setContent(QStringLiteral("<plot><curve id=\"1\"/></plot>"));
        QVERIFY(panel->saveDoc(doc, "PlotDoc"));
        QCOMPARE(edited.count(), 1);
        QVERIFY(panel->saveDoc(doc, "PlotDoc"));
        QCOMPARE(edited.count(), 1); // the same content is no change

        const QDomDocument loaded = panel->loadDoc("PlotDoc");
        QCOMPARE(loaded.documentElement().tagName(), QStringLiteral("plot"));
        QCOMPARE(loaded.documentElement().firstChildElement().attribute("id"), QStringLiteral("1"));

        // A stored element without child element gives an empty document.
        const QDomDocument empty = panel->loadDoc("empty");
        QVERIFY(!empty.isNull());
        QVERIFY(empty.documentElement().isNull());
        QVERIFY(panel->loadDoc("absent").isNull());

        // An empty document removes the stored one and leaves "docs".
        QVERIFY(panel->saveDoc(QDomDocument(), "PlotDoc"));
        QCOMPARE(edited.count(), 2);
        QVERIFY(panel->loadDoc("PlotDoc").isNull());
        QVERIFY(!model->moduleElement("Channel").firstChildElement("docs").isNull());
    }

    void panelAttributesAndObjection()
    {
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Channel"), model));
        QSignalSpy edited(model, &ZorAbstractDomModel::documentEdited);
        panel->objection = QStringLiteral("unsaved sequence");
        QCOMPARE(panel->savePanelState(), QStringLiteral("unsaved sequence"));
        QCOMPARE(model->moduleElement("Channel").attribute("panelVisible"), QStringLiteral("0"));
        QCOMPARE(edited.count(), 1);
        QVERIFY(panel->savePanelVisibility());
        QCOMPARE(edited.count(), 1);

        QVERIFY(panel->setDragDropMode(2));
        QVERIFY(panel->acceptDrops());
        QCOMPARE(model->moduleElement("Channel").attribute("dragDropMode"), QStringLiteral("2"));
        QVERIFY(panel->setDragDropMode(0));
        QVERIFY(!panel->acceptDrops());
    }

    void dropReachesTheOwnInputOnly()
    {
        QMimeData mime;
        mime.setText(QStringLiteral("001.6040h.00h"));
        QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        panel->drop(&drop);
        QVERIFY(panel->sent.isEmpty());
        QCOMPARE(panel->received.size(), 1);
        QVERIFY(drop.isAccepted());
        QCOMPARE(panel->received.at(0).msgType(), int(KM_DROP_DATA));
        QCOMPARE(panel->received.at(0).msgState(), int(KS_REQUEST));
        QCOMPARE(panel->received.at(0).data().toString(), QStringLiteral("001.6040h.00h"));
    }

    void guiModeClearsMarginsAboveZero()
    {
        auto *layout = new QVBoxLayout(panel);
        layout->setContentsMargins(11, 11, 11, 11);
        panel->setGuiMode(0);
        QCOMPARE(layout->contentsMargins(), QMargins(11, 11, 11, 11));
        panel->setGuiMode(2);
        QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(panel->guiMode(), 2);
    }

    void logViewsScrollOnceTheTimerRuns()
    {
        QPlainTextEdit view;
        view.resize(200, 60);
        view.show();
        auto *timer = panel->findChild<QTimer *>();
        QVERIFY(timer);
        panel->appendLogText(&view, QString(), true);
        QVERIFY(!timer->isActive());
        QVERIFY(view.toPlainText().isEmpty());

        for (int i = 0; i < 30; ++i)
            panel->appendLogText(&view, QStringLiteral("line %1").arg(i), i == 0);
        QVERIFY(timer->isActive());
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} line 0\n")
                    .match(view.toPlainText())
                    .hasMatch());
        view.moveCursor(QTextCursor::Start);
        QTRY_VERIFY(!timer->isActive());
        QVERIFY(view.textCursor().atEnd());
    }

private:
    TestDomModel *model = nullptr;
    RecordingPanel *panel = nullptr;
};

ZOR_TEST(TestPanel)
#include "tst_panel.moc"
