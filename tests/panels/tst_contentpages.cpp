// The two page panels: the HTML page panel of "wizard" modules and the
// project page. Both show a page stored in the project with application
// globals expanded and send what its links ask for.
#include "testdommodel.h"
#include "zorapplservices.h"
#include "zorcontentinteractive.h"
#include "zorcontentproject.h"
#include "zorquestionbox.h"
#include "zortest.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QTextBrowser>
#include <QtTest>

namespace {

const QString page = QStringLiteral(
    "<docs><default><html><body><p>Version %%AppVersion%%</p>"
    "<p><a href=\"#app:panel,Node01\">Show node</a></p>"
    "<p><a href=\"#python:print(1)\">Run code</a></p></body></html></default></docs>");

// Clicks the link whose text is `text`, as a user would.
void clickLink(QTextBrowser *browser, const QString &text)
{
    QTextCursor found = browser->document()->find(text);
    QVERIFY(!found.isNull());
    found.setPosition(found.selectionStart() + 1);
    const QPoint pos = browser->cursorRect(found).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
}

} // namespace

class TestContentPages : public QObject
{
    Q_OBJECT

    QList<ZorMessage> sent;

    void record(ZorPanel *panel)
    {
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    QStringList sentOf(int type) const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            if (m.msgType() == type)
                texts << m.data().toString();
        return texts;
    }

private slots:
    void initTestCase() { QVERIFY(ZorApplServices::initAppGlobals()); }
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
    }

    void htmlPageShowsTheStoredPageAndRunsItsLinks()
    {
        TestDomModel model;
        model.addModule("wizard", "Quick Setup", QString(), page);
        ZorContentInteractive panel;
        record(&panel);
        panel.resize(400, 300);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY(panel.setupZorPanel(model.moduleIndex("Quick Setup"), &model));
        auto *browser = panel.findChild<QTextBrowser *>("textBrowser");
        QVERIFY2(browser->toPlainText().startsWith("Version " + ZorApplServices::appVersion()), qPrintable(browser->toPlainText()));
        // Dragging scrolls the page: no scroll bars.
        QCOMPARE(browser->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

        clickLink(browser, "Show node");
        QVERIFY(sentOf(KM_APPLICATION_CONTROL).isEmpty());   // after the click is done
        QTRY_COMPARE(sentOf(KM_APPLICATION_CONTROL), QStringList({"panel,Node01"}));

        // Code from a page of the project runs only when the user agrees.
        QList<ZorQuestionBox::Question> asked;
        QMessageBox::StandardButton answer = QMessageBox::No;
        ZorQuestionBox::setHook([&](const ZorQuestionBox::Question &q) {
            asked << q;
            return answer;
        });
        auto unhook = qScopeGuard([] { ZorQuestionBox::setHook(nullptr); });
        clickLink(browser, "Run code");
        QTRY_COMPARE(asked.size(), 1);
        answer = QMessageBox::Yes;
        clickLink(browser, "Run code");
        QTRY_COMPARE(sentOf(KM_SCRIPT_CONTROL), QStringList({"1,append:print(1)"}));
    }

    void htmlPageStateLine()
    {
        TestDomModel model;
        model.addModule("wizard", "Bare");
        ZorContentInteractive panel;
        record(&panel);
        // No stored page: an empty page, still bound.
        QVERIFY(panel.setupZorPanel(model.moduleIndex("Bare"), &model));
        QVERIFY(panel.findChild<QTextBrowser *>()->toPlainText().isEmpty());
        QCOMPARE(sentOf(KM_INFOTEXT).size() + sentOf(KM_STATUS).size(), 2);

        auto *state = panel.findChild<QLineEdit *>("lineEditState");
        panel.msgIn(ZorMessage(KM_STATUS, KS_REQUEST, 2500));
        panel.msgIn(ZorMessage(KM_INFOTEXT, KS_REQUEST, QStringLiteral("asked")));
        QVERIFY(state->styleSheet().isEmpty());
        QVERIFY(state->text().isEmpty());
        panel.msgIn(ZorMessage(KM_STATUS, KS_ANSWER, 2500));
        panel.msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("Script Error")));
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #FF6052; color:black"));
        QCOMPARE(state->text(), QStringLiteral("Script Error"));
        panel.msgIn(ZorMessage(KM_STATUS, KS_INFO, 0));
        QCOMPARE(state->styleSheet(), QStringLiteral("color:black"));
    }

    void projectInformationLine_data()
    {
        QTest::addColumn<QString>("info");   // "-": no "projectinfo" element
        QTest::addColumn<QString>("shown");
        QTest::newRow("created") << "created 2024-03-01T10:00:00 Quorvane v1.9.48 abc"
                                 << "created 2024-03-01T10:00:00 Quorvane v1.9.48 abc";
        QTest::newRow("modified")
            << "created 2024-03-01T10:00:00 Quorvane v1 abc, modified 2024-03-02T09:00:00 Quorvane v2 def"
            << "created 2024-03-01T10:00:00 Quorvane v1 abc, modified 2024-03-02T09:00:00 Quorvane v2 def";
        QTest::newRow("noupdate") << "noupdate,Demo 2.0" << "Demo 2.0";
        QTest::newRow("noupdate, comma in version") << "noupdate,Demo 2,0" << "Demo 2";
        QTest::newRow("no information") << "-" << "";
    }
    void projectInformationLine()
    {
        QFETCH(QString, info);
        QFETCH(QString, shown);
        TestDomModel model;
        const QString value = info == "-" ? QString() : "<projectinfo>" + info + "</projectinfo>";
        QVERIFY(model.setXml("<QuorvaneProject><module type=\"project\" label=\"Project Home\">" + page
                             + "</module>" + value + "</QuorvaneProject>"));
        ZorContentProject panel;
        QVERIFY(panel.setupZorPanel(model.projectIndex(), &model));
        auto *line = panel.findChild<QLineEdit *>("lineEditDocVer");
        QCOMPARE(line->text(), shown);
        QVERIFY(line->isReadOnly());
        QVERIFY(panel.findChild<QTextBrowser *>()->toPlainText().startsWith(
            "Version " + ZorApplServices::appVersion()));
    }

    void projectPageFollowsSavesAndIgnoresMessages()
    {
        TestDomModel model;
        QVERIFY(model.setXml("<QuorvaneProject><module type=\"project\" label=\"Project Home\"/>"
                             "<projectinfo>created A</projectinfo></QuorvaneProject>"));
        ZorContentProject panel;
        record(&panel);
        QVERIFY(panel.setupZorPanel(model.projectIndex(), &model));
        auto *line = panel.findChild<QLineEdit *>("lineEditDocVer");
        QCOMPARE(line->text(), QStringLiteral("created A"));
        model.document().elementsByTagName("projectinfo").item(0).firstChild().setNodeValue(
            "created A, modified B");
        // Saving asks every panel: the page never objects and shows the news.
        QCOMPARE(panel.savePanelState(), QString());
        QCOMPARE(line->text(), QStringLiteral("created A, modified B"));

        panel.msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("text")));
        panel.msgIn(ZorMessage(KM_STATUS, KS_INFO, 2500));
        QCOMPARE(line->text(), QStringLiteral("created A, modified B"));
        for (QLineEdit *edit : panel.findChildren<QLineEdit *>())
            QVERIFY(edit->styleSheet() == "background-color: rgba(255, 255, 255, 0);");
    }
};

ZOR_TEST(TestContentPages)
#include "tst_contentpages.moc"
