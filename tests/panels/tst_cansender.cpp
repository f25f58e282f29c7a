#include "programlabelvalidator.h"
#include "testdommodel.h"
#include "zorcontentcansender.h"
#include "zortempsettings.h"
#include "zortest.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>

namespace {

QString describe(const ZorMessage &m)
{
    return ZorMessage::msgTypeName(m.msgType()) + QLatin1Char(':') + m.data().toString();
}

} // namespace

class TestCanSender : public QObject
{
    Q_OBJECT

    ZorContentCanSender *panel = nullptr;
    TestDomModel *project = nullptr;
    QList<ZorMessage> sent;
    std::unique_ptr<ZorTest::TempSettings> settings;

    QAction *action(const char *name) const { return panel->findChild<QAction *>(name); }
    QComboBox *box() const { return panel->findChild<QComboBox *>("comboBoxSeq"); }
    QPlainTextEdit *editor() const { return panel->findChild<QPlainTextEdit *>("plainTextEditSeq"); }
    QStringList sentSince(int from) const
    {
        QStringList texts;
        for (int i = from; i < sent.size(); ++i)
            texts << describe(sent.at(i));
        return texts;
    }
    void answer(int type, const QVariant &data, int state = KS_ANSWER)
    {
        panel->msgIn(ZorMessage(type, state, data));
    }

private slots:
    void initTestCase()
    {
        settings = std::make_unique<ZorTest::TempSettings>();
        ZorMessage::registerMetaType();
    }

    void init()
    {
        sent.clear();
        project = new TestDomModel;
        project->addModule("cansender", "Sender");
        panel = new ZorContentCanSender;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
        QVERIFY(panel->setupZorPanel(project->moduleIndex("Sender"), project));
    }
    void cleanup()
    {
        delete panel;
        delete project;
    }

    void setupListsTenSequencesAndAsks()
    {
        QStringList items;
        for (int i = 0; i < box()->count(); ++i)
            items << box()->itemText(i);
        QCOMPARE(items, QStringList({"01", "02", "03", "04", "05", "06", "07", "08", "09", "10"}));
        QStringList expected = {"KM_INFOTEXT:", "KM_STATUS:"};
        for (int i = 0; i < 10; ++i)
            expected << QStringLiteral("KM_GETPROPERTY:SendSeqName%1").arg(i);
        expected << "KM_GETPROPERTY:SendSequence0";
        QCOMPARE(sentSince(0), expected);
        for (const ZorMessage &m : qAsConst(sent)) {
            QCOMPARE(m.msgState(), int(KS_REQUEST));
            QCOMPARE(m.origin(), QStringLiteral("GUI"));
        }

        // Stopped: Play enabled, the player buttons off.
        QVERIFY(action("actionPlay")->isEnabled());
        QVERIFY(!action("actionPlay")->isChecked());
        QVERIFY(action("actionStop")->isChecked());
        for (const char *name : {"actionStop", "actionPause", "actionSkip", "actionBack"})
            QVERIFY2(!action(name)->isEnabled(), name);
    }

    void answersFillNamesAndText()
    {
        answer(KM_GETPROPERTY, "SendSeqName0=My Sequence 1");
        answer(KM_GETPROPERTY, "SendSeqName9=Read=1000h");
        answer(KM_GETPROPERTY, "SendSeqName3=ignored", KS_INFO);
        QCOMPARE(box()->itemText(0), QStringLiteral("01: My Sequence 1"));
        QCOMPARE(box()->itemText(9), QStringLiteral("10: Read=1000h"));
        QCOMPARE(box()->itemText(3), QStringLiteral("04"));
        QCOMPARE(box()->currentText(), QStringLiteral("01: My Sequence 1"));
        const int before = sent.size();

        answer(KM_GETPROPERTY, "SendSequence0=send 601h,8,40 00 10 00 00 00 00 00\nwait 581h,8,*");
        QCOMPARE(editor()->toPlainText(),
                 QStringLiteral("send 601h,8,40 00 10 00 00 00 00 00\nwait 581h,8,*"));
        QVERIFY(!panel->isModified());
        QCOMPARE(sent.size(), before); // showing a text sends nothing
    }

    // A late answer for the sequence chosen before never replaces the text
    // of the one being edited.
    void lateAnswerForAnotherSequenceIsIgnored()
    {
        box()->setCurrentIndex(4);
        editor()->setPlainText("delay 10");
        answer(KM_GETPROPERTY, "SendSequence0=old text of sequence 1");
        answer(KM_GETPROPERTY, "SendSequence41=not this one either");
        QCOMPARE(editor()->toPlainText(), QStringLiteral("delay 10"));
        QVERIFY(panel->isModified());
        answer(KM_GETPROPERTY, "SendSequence4=stored text");
        QCOMPARE(editor()->toPlainText(), QStringLiteral("stored text"));
        QVERIFY(!panel->isModified());
    }

    void switchingCommitsBeforeAsking()
    {
        box()->setCurrentIndex(1);
        answer(KM_GETPROPERTY, "SendSequence1=old");
        editor()->setPlainText("send 181h,1,01\ndelay 100");
        QVERIFY(panel->isModified());
        const int before = sent.size();
        box()->setCurrentIndex(4);
        QCOMPARE(sentSince(before), QStringList({"KM_SETPROPERTY:SendSequence1=send 181h,1,01\ndelay 100",
                                                 "KM_GETPROPERTY:SendSequence4"}));
        QVERIFY(!panel->isModified());
        QCOMPARE(panel->currentSequence(), 4);

        // Unchanged text is not stored again.
        const int after = sent.size();
        box()->setCurrentIndex(2);
        QCOMPARE(sentSince(after), QStringList({"KM_GETPROPERTY:SendSequence2"}));
    }

    void closingStoresPendingText()
    {
        box()->setCurrentIndex(6);
        editor()->setPlainText("delay 5");
        const int before = sent.size();
        delete panel;
        panel = nullptr;
        QCOMPARE(sentSince(before), QStringList({"KM_SETPROPERTY:SendSequence6=delay 5"}));
        panel = new ZorContentCanSender; // for cleanup
    }

    void renamingSendsTheNameAfterItsPrefix()
    {
        answer(KM_GETPROPERTY, "SendSeqName0=My Sequence 1");
        const int before = sent.size();
        QLineEdit *edit = box()->lineEdit();
        edit->setFocus();
        edit->end(false);
        QTest::keyClicks(edit, " fast");
        QCOMPARE(box()->itemText(0), QStringLiteral("01: My Sequence 1 fast"));
        const QStringList names = sentSince(before);
        QCOMPARE(names.last(), QStringLiteral("KM_SETPROPERTY:SendSeqName0=My Sequence 1 fast"));
        QCOMPARE(names.size(), 5); // one per typed character

        // The prefix cannot be typed away.
        edit->home(false);
        QTest::keyClick(edit, Qt::Key_Delete);
        QCOMPARE(box()->itemText(0), QStringLiteral("01: My Sequence 1 fast"));
    }

    void validatorKeepsThePrefix_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        QTest::newRow("name") << "01: Name" << int(QValidator::Acceptable);
        QTest::newRow("prefix only") << "10: " << int(QValidator::Acceptable);
        QTest::newRow("too short") << "01:" << int(QValidator::Invalid);
        QTest::newRow("empty") << "" << int(QValidator::Invalid);
        QTest::newRow("digit removed") << "0: Name" << int(QValidator::Invalid);
        QTest::newRow("blank removed") << "01:Name" << int(QValidator::Invalid);
    }
    void validatorKeepsThePrefix()
    {
        QFETCH(QString, text);
        QFETCH(int, state);
        ProgramLabelValidator validator;
        int pos = 0;
        QCOMPARE(int(validator.validate(text, pos)), state);
    }

    void playCommitsOpensAndPlays()
    {
        box()->setCurrentIndex(2);
        editor()->setPlainText("send 601h,8,40 00 10 00 00 00 00 00");
        const int before = sent.size();
        action("actionPlay")->trigger();
        QCOMPARE(sentSince(before),
                 QStringList({"KM_SETPROPERTY:SendSequence2=send 601h,8,40 00 10 00 00 00 00 00",
                              "KM_COMM_OPEN:", "KM_PLAYERCMD_PLAY:2"}));
        QCOMPARE(sent.last().data().type(), QVariant::Int);
        // Playing at once: selector and editor locked, player buttons on.
        QVERIFY(!action("actionPlay")->isEnabled());
        QVERIFY(!box()->isEnabled());
        QVERIFY(!editor()->isEnabled());
        for (const char *name : {"actionStop", "actionPause", "actionSkip", "actionBack"})
            QVERIFY2(action(name)->isEnabled(), name);

        const int playing = sent.size();
        action("actionPause")->trigger();
        action("actionPause")->trigger();
        action("actionSkip")->trigger();
        action("actionBack")->trigger();
        action("actionStop")->trigger();
        QCOMPARE(sentSince(playing),
                 QStringList({"KM_PLAYERCMD_PAUSE:1", "KM_PLAYERCMD_PAUSE:0", "KM_PLAYERCMD_SKIP:",
                              "KM_PLAYERCMD_BACK:", "KM_PLAYERCMD_STOP:"}));
    }

    void keysPlayAndStop()
    {
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        editor()->setFocus();
        editor()->setPlainText("delay 10");
        const int before = sent.size();
        QTest::keyClick(editor(), Qt::Key_F5);
        QCOMPARE(sentSince(before), QStringList({"KM_SETPROPERTY:SendSequence0=delay 10",
                                                 "KM_COMM_OPEN:", "KM_PLAYERCMD_PLAY:0"}));
        QVERIFY(action("actionPlay")->isChecked());
        // F5 while playing starts nothing new.
        QTest::keyClick(panel, Qt::Key_F5);
        QCOMPARE(sent.size(), before + 3);
        QTest::keyClick(panel, Qt::Key_Escape);
        QCOMPARE(sentSince(before + 3), QStringList({"KM_PLAYERCMD_STOP:"}));
    }

    void moduleStatusMovesTheButtons_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("paused");
        QTest::newRow("closed") << 0 << false << false;
        QTest::newRow("open") << 1 << false << false;
        QTest::newRow("playing") << 2 << true << false;
        QTest::newRow("paused") << 3 << true << true;
        QTest::newRow("error") << 2000 << false << false;
    }
    void moduleStatusMovesTheButtons()
    {
        QFETCH(int, status);
        QFETCH(bool, playing);
        QFETCH(bool, paused);
        answer(KM_STATUS, 3, KS_INFO); // from paused...
        answer(KM_STATUS, status, KS_INFO);
        QCOMPARE(action("actionPlay")->isChecked(), playing);
        QCOMPARE(action("actionStop")->isChecked(), !playing);
        QCOMPARE(action("actionPause")->isChecked(), paused);
        QCOMPARE(editor()->isEnabled(), !playing);
        // A request is no report.
        answer(KM_STATUS, playing ? 0 : 2, KS_REQUEST);
        QCOMPARE(action("actionPlay")->isChecked(), playing);
    }

    void playerLineIsHighlighted()
    {
        answer(KM_GETPROPERTY, "SendSequence0=send 181h,1,01\n\nwait 581h,8,*,100\ndelay 10");
        answer(KM_PLAYER_STATUS, 2, KS_INFO);
        QCOMPARE(editor()->textCursor().selectedText(), QStringLiteral("wait 581h,8,*,100"));
        answer(KM_PLAYER_STATUS, -1, KS_INFO);
        QCOMPARE(editor()->textCursor().selectedText(), QStringLiteral("wait 581h,8,*,100"));
        answer(KM_PLAYER_STATUS, 1, KS_INFO);
        QCOMPARE(editor()->textCursor().blockNumber(), 1);
        QVERIFY(!panel->isModified());
    }

    void playAnswerSelectsThePlayedSequence()
    {
        const int before = sent.size();
        answer(KM_PLAYERCMD_PLAY, "3,count=5");
        QCOMPARE(box()->currentIndex(), 3);
        QCOMPARE(sentSince(before), QStringList({"KM_GETPROPERTY:SendSequence3"}));
        answer(KM_PLAYERCMD_PLAY, 3);
        answer(KM_PLAYERCMD_PLAY, "x");
        answer(KM_PLAYERCMD_PLAY, 11);
        QCOMPARE(box()->currentIndex(), 3);
        QCOMPARE(sent.size(), before + 1);
    }
};

ZOR_TEST(TestCanSender)
#include "tst_cansender.moc"
