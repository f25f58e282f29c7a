// The test-cycle panel: the settings it asks for and commits, start, homing
// and stop, the look of each module status, the module's report (its
// columns lined up) versus its state texts, and a start the module refuses.
#include "zorcontenttestcycle.h"
#include "testdommodel.h"
#include "zormodtestcycle.h"
#include "zortest.h"

class TestContentTestCycle : public QObject
{
    Q_OBJECT

    ZorContentTestCycle *panel = nullptr;
    QList<ZorMessage> sent;

    template<class T>
    T *child(const char *name) const { return panel->findChild<T *>(QLatin1String(name)); }
    QPushButton *button(const char *name) const { return child<QPushButton>(name); }
    QStringList sentTexts() const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            texts << m.toString();
        return texts;
    }
    void status(int value) { panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, value)); }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
        panel = new ZorContentTestCycle;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    void cleanup() { delete panel; }

    // Answers fill the edits and check boxes; start commits them unchanged
    // (empty ones too) before it starts.
    void showsAndCommitsSettings()
    {
        for (const char *answer : {"Position1=12.5", "CycleTime2=700", "Deceleration1=33",
                                   "UseProfileParameters=1", "CheckTargetReached=0"})
            panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, QString::fromLatin1(answer)));
        QCOMPARE(child<QLineEdit>("lineEditPos1")->text(), QStringLiteral("12.5"));
        QCOMPARE(child<QLineEdit>("lineEditCycle2")->text(), QStringLiteral("700"));
        QCOMPARE(child<QLineEdit>("lineEditDeceleration1")->text(), QStringLiteral("33"));
        QVERIFY(child<QCheckBox>("checkBoxSetOptionalParameters")->isChecked());
        QVERIFY(child<QLineEdit>("lineEditVelocity2")->isEnabled());
        QVERIFY(!child<QCheckBox>("checkBoxTargetReached")->isChecked());

        button("pushButtonStart")->click();
        QCOMPARE(sentTexts(),
                 QStringList({"KM_SETPROPERTY:KS_REQUEST:Position1=12.5", "KM_SETPROPERTY:KS_REQUEST:Velocity1=",
                              "KM_SETPROPERTY:KS_REQUEST:Acceleration1=",
                              "KM_SETPROPERTY:KS_REQUEST:Deceleration1=33", "KM_SETPROPERTY:KS_REQUEST:CycleTime1=",
                              "KM_SETPROPERTY:KS_REQUEST:Position2=", "KM_SETPROPERTY:KS_REQUEST:Velocity2=",
                              "KM_SETPROPERTY:KS_REQUEST:Acceleration2=", "KM_SETPROPERTY:KS_REQUEST:Deceleration2=",
                              "KM_SETPROPERTY:KS_REQUEST:CycleTime2=700",
                              "KM_SETPROPERTY:KS_REQUEST:UseProfileParameters=1",
                              "KM_SETPROPERTY:KS_REQUEST:CheckTargetReached=0", "KM_DRIVE_START:KS_REQUEST"}));
        QVERIFY(button("pushButtonStop")->isEnabled());
        QVERIFY(!child<QGroupBox>("groupBoxCycleParameters")->isEnabled());
        sent.clear();
        button("pushButtonStop")->click();
        button("pushButtonStart")->click();
        QCOMPARE(sentTexts(), QStringList({"KM_DRIVE_STOP:KS_REQUEST", "KM_DRIVE_STOP:KS_REQUEST"}));
        sent.clear();
        button("pushButtonHoming")->click();
        QCOMPARE(sentTexts(), QStringList({"KM_DRIVE_START_HOMING:KS_REQUEST"}));
    }

    void showsStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QString>("stopText");
        QTest::addColumn<bool>("checked");
        QTest::newRow("idle") << 0 << QStringLiteral("#c0c0c0") << QStringLiteral("Stop") << false;
        QTest::newRow("cycling") << 1 << QStringLiteral("#5ebe37") << QStringLiteral("Stop at Position 2") << true;
        QTest::newRow("homing") << 2 << QStringLiteral("#5ebe37") << QStringLiteral("Stop Homing") << true;
        QTest::newRow("init cycle") << 1000 << QStringLiteral("#fee600") << QStringLiteral("Cancel Test Cycle") << true;
        QTest::newRow("init homing") << 1001 << QStringLiteral("#fee600") << QStringLiteral("Cancel Homing") << true;
        QTest::newRow("stopping") << 1002 << QStringLiteral("#fee600") << QStringLiteral("Stop") << true;
        QTest::newRow("error") << 2000 << QStringLiteral("#ff6052") << QStringLiteral("Stop at Position 2") << true;
    }
    void showsStatus()
    {
        QFETCH(int, status);
        QFETCH(QString, colour);
        QFETCH(QString, stopText);
        QFETCH(bool, checked);
        this->status(status);
        QPushButton *start = button("pushButtonStart");
        QCOMPARE(start->palette().color(QPalette::Button).name(), colour);
        QCOMPARE(button("pushButtonStop")->text(), stopText);
        QCOMPARE(start->isChecked(), checked);
        QCOMPARE(button("pushButtonStop")->isEnabled(), checked);
        QVERIFY(sent.isEmpty());
    }

    // A report replaces the statistics and keeps the cursor; other texts
    // become the start button's caption, an empty one changes nothing.
    void tellsReportsFromStateTexts()
    {
        QPlainTextEdit *stats = child<QPlainTextEdit>("plainTextEditStatistics");
        const QString report = QStringLiteral("2026-01-02\t10:11:12\nTest Cycle Count\t3\nDrive\t# Positions\nA\t5");
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, report));
        QCOMPARE(stats->toPlainText(), report);
        QTextCursor cursor = stats->textCursor();
        cursor.setPosition(20);
        stats->setTextCursor(cursor);
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QString(report).replace(QStringLiteral("A\t5"), QStringLiteral("A\t6"))));
        QVERIFY(stats->toPlainText().endsWith(QLatin1String("A\t6")));
        QCOMPARE(stats->textCursor().position(), 20);

        // A state text shows in the status line; while the module works it
        // is the start button's caption too.
        status(0);
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("No drives to cycle")));
        QCOMPARE(panel->statusLine(), QStringLiteral("No drives to cycle"));
        QCOMPARE(button("pushButtonStart")->text(), QStringLiteral("Start Test Cycle"));
        status(1);
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("Test Cycle Running")));
        QCOMPARE(button("pushButtonStart")->text(), QStringLiteral("Test Cycle Running"));
        QCOMPARE(panel->statusLine(), QStringLiteral("Test Cycle Running"));
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QString()));
        QCOMPARE(button("pushButtonStart")->text(), QStringLiteral("Test Cycle Running"));
        panel->msgIn(ZorMessage(KM_LOGTEXT, KS_INFO, QStringLiteral("DriveB: the move to 9.000 failed")));
        QCOMPARE(panel->statusLine(), QStringLiteral("DriveB: the move to 9.000 failed"));
        status(0);
        QCOMPARE(button("pushButtonStart")->text(), QStringLiteral("Start Test Cycle"));
    }

    // In the statistics box each column starts at the same place on every
    // line, however long the drive labels.
    void reportColumnsLineUp()
    {
        const QString report = QStringLiteral("2026-01-02\t10:11:12\nTest Cycle Count\t12\n"
                                              "Drive\t# Positions\t# Accepted\t# Errors\t# Skipped (previous target "
                                              "not reached)\nA\t5\t4\t1\t0\nLong drive label 12\t1234\t1000\t200\t34");
        panel->resize(1200, 600);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, report));
        QPlainTextEdit *stats = child<QPlainTextEdit>("plainTextEditStatistics");
        QVERIFY(QFontInfo(stats->font()).fixedPitch());
        // The x of each field's start on the lines of the table.
        const auto columnStarts = [&](int line) {
            QList<int> xs;
            const QTextBlock block = stats->document()->findBlockByNumber(line);
            int offset = 0;
            for (const QString &field : block.text().split(QLatin1Char('\t'))) {
                QTextCursor cursor(block);
                cursor.setPosition(block.position() + offset);
                xs << stats->cursorRect(cursor).left();
                offset += field.size() + 1;
            }
            return xs;
        };
        const QList<int> heads = columnStarts(2);
        QCOMPARE(heads.size(), 5);
        QCOMPARE(columnStarts(3), heads);
        QCOMPARE(columnStarts(4), heads);
    }

    // A start the module refuses puts the panel back to its idle look, with
    // the reason in the status line: parameters and Homing usable, Stop off.
    void refusedStartLeavesThePanelUsable()
    {
        TestDomModel model;
        model.setXml(TestDomModel::projectXml({{QStringLiteral("testcycle"), QStringLiteral("Cycle")}}));
        std::unique_ptr<ZorModule, ZorModuleDeleter> module(new ZorModTestCycle);
        QVERIFY(module->setupZorModule(model.moduleIndex(QStringLiteral("Cycle")), &model));
        connect(panel, &ZorPanel::msgOut, module.get(), &ZorModule::slaveIn);
        connect(module.get(), &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module->start();
        QVERIFY(panel->setupZorPanel(model.moduleIndex(QStringLiteral("Cycle")), &model));
        QTRY_COMPARE(child<QLineEdit>("lineEditCycle1")->text(), QStringLiteral("1000"));

        QPushButton *start = button("pushButtonStart");
        start->click();
        QVERIFY(start->isChecked());
        QTRY_COMPARE(panel->statusLine(), QStringLiteral("No drives to cycle: link drives to the test cycle"));
        // The reason is shown by the module's text, a message ahead of the
        // refusal that releases the button.
        QTRY_VERIFY(!start->isChecked());
        QCOMPARE(start->text(), QStringLiteral("Start Test Cycle"));
        QVERIFY(!button("pushButtonStop")->isEnabled());
        QVERIFY(button("pushButtonHoming")->isEnabled());
        QVERIFY(child<QGroupBox>("groupBoxCycleParameters")->isEnabled());

        // Again, and with homing: each refusal shows.
        panel->findChild<QLabel *>("labelStatus")->clear();
        start->click();
        QTRY_COMPARE(panel->statusLine(), QStringLiteral("No drives to cycle: link drives to the test cycle"));
        QTRY_VERIFY(!start->isChecked());
        button("pushButtonHoming")->click();
        QTRY_COMPARE(panel->statusLine(), QStringLiteral("No drives to home: link drives to the test cycle"));
        module->stop();
    }
};

ZOR_TEST(TestContentTestCycle)
#include "tst_contenttestcycle.moc"
