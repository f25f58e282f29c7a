#include "canframes.h"
#include "testdommodel.h"
#include "zorcontentcanmonitor.h"
#include "zorquestionbox.h"
#include "zortempsettings.h"
#include "zortest.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

// A trace file that takes `budget` bytes and then fails, like a full disk.
class FailingFile : public QFile
{
public:
    FailingFile(const QString &name, qint64 budget)
        : QFile(name), m_budget(budget)
    {
    }

protected:
    qint64 writeData(const char *data, qint64 len) override
    {
        if (len > m_budget)
            return -1;
        m_budget -= len;
        return QFile::writeData(data, len);
    }

private:
    qint64 m_budget;
};

// The monitor with its dialogs answered by the test.
class MonitorUnderTest : public ZorContentCanmonitor
{
public:
    QString saveAnswer;
    QString openAnswer;
    QStringList dialogTitles;
    qint64 traceBudget = -1; // -1: an ordinary file

protected:
    QString askSaveFileName(const QString &title, const QString &, const QString &) override
    {
        dialogTitles << title;
        return saveAnswer;
    }
    QString askOpenFileName(const QString &title, const QString &, const QString &) override
    {
        dialogTitles << title;
        return openAnswer;
    }
    QFile *newTraceFile(const QString &name) override
    {
        if (traceBudget < 0)
            return ZorContentCanmonitor::newTraceFile(name);
        return new FailingFile(name, traceBudget);
    }
};

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString visibleFrames(const QAbstractItemModel *view)
{
    QStringList numbers;
    for (int row = 0; row < view->rowCount(); ++row)
        numbers << view->index(row, 0).data().toString();
    return numbers.join(',');
}

const char *const StartLine = "^\\d{4}-\\d\\d-\\d\\d\t\\d\\d:\\d\\d:\\d\\d\tTrace File Started$";
const char *const StopLine = "^\\d{4}-\\d\\d-\\d\\d\t\\d\\d:\\d\\d:\\d\\d\tTrace file stopped$";
const char *const HeaderLine = "Frame #\tt [msec]\tID\tData\tDir\tDescription";

} // namespace

class TestCanMonitor : public QObject
{
    Q_OBJECT

    std::unique_ptr<ZorTest::TempSettings> settings;
    std::unique_ptr<QTemporaryDir> workDir;
    QString oldCurrent;
    MonitorUnderTest *panel = nullptr;
    TestDomModel *project = nullptr;
    QList<ZorMessage> sent;
    QList<ZorQuestionBox::Question> warnings;

    QAction *action(const char *name) const { return panel->findChild<QAction *>(name); }
    QComboBox *filterBox() const { return panel->findChild<QComboBox *>("comboBoxFilter"); }
    QLineEdit *traceEdit() const { return panel->findChild<QLineEdit *>("lineEditTracefile"); }
    QPushButton *button(const char *name) const { return panel->findChild<QPushButton *>(name); }
    QTableView *view() const { return panel->tableView(); }
    QString work(const QString &relative) const { return workDir->path() + '/' + relative; }

    void bind(const QString &innerXml = QString())
    {
        project->addModule("canmonitor", "Monitor", QString(), innerXml);
        QVERIFY(panel->setupZorPanel(project->moduleIndex("Monitor"), project));
    }
    void frames(const QStringList &texts, int state = KS_INFO)
    {
        for (const QString &text : texts)
            panel->msgIn(ZorTest::frameMessage(text, state));
    }
    void refresh() { panel->tableModel()->update(); }
    QStringList sentTexts(int type) const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            if (m.msgType() == type)
                texts << m.data().toString();
        return texts;
    }
    QStringList filterEntries() const
    {
        QStringList entries;
        for (int i = 0; i < filterBox()->count(); ++i)
            entries << filterBox()->itemText(i);
        return entries;
    }
    void applyFilter(const QString &text)
    {
        filterBox()->setEditText(text);
        button("pushButtonSetFilter")->setChecked(true);
        panel->on_pushButtonSetFilter_clicked(true);
    }

private slots:
    void initTestCase()
    {
        settings = std::make_unique<ZorTest::TempSettings>();
        ZorMessage::registerMetaType();
        ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            warnings << q;
            return QMessageBox::Ok;
        });
    }
    void cleanupTestCase() { ZorQuestionBox::setHook(ZorQuestionBox::Hook()); }

    void init()
    {
        // Trace files go below the working folder: a fresh one per test.
        workDir = std::make_unique<QTemporaryDir>();
        oldCurrent = QDir::currentPath();
        QDir::setCurrent(workDir->path());
        sent.clear();
        warnings.clear();
        project = new TestDomModel;
        panel = new MonitorUnderTest;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    void cleanup()
    {
        delete panel;
        delete project;
        QDir::setCurrent(oldCurrent);
        workDir.reset();
    }

    void wiredToTheMasterSideAndAsksForFilters()
    {
        QVERIFY(!panel->usesSlavePort());
        bind();
        QStringList expected;
        for (int i = 0; i < 20; ++i)
            expected << QStringLiteral("MonitorFilter%1").arg(i);
        QCOMPARE(sentTexts(KM_GETPROPERTY), expected);
        QCOMPARE(panel->traceFolder(), QDir::currentPath() + "/CanTrace");
        QStringList headers;
        for (int c = 0; c < 6; ++c)
            headers << view()->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, QStringList({"Frame #", "t [msec]", "ID", "Data", "Dir", "Description"}));
        // No decoder configured: no descriptions to show.
        QVERIFY(!panel->tableModel()->decoder());
        QVERIFY(view()->isColumnHidden(5));
        QCOMPARE(traceEdit()->text(), QStringLiteral("tracefile_DATETIME.txt"));
    }

    void decoderFromTheConfigurationDocument_data()
    {
        QTest::addColumn<QString>("doc");
        QTest::addColumn<bool>("decoded");
        const QString script = "<docs><MonitoringConfigurationDoc><MonitoringConfiguration>"
                               "<DecoderType> script </DecoderType><DecoderConfig>%1</DecoderConfig>"
                               "</MonitoringConfiguration></MonitoringConfigurationDoc></docs>";
        QTest::newRow("canopen")
            << "<docs><MonitoringConfigurationDoc><Config><DecoderType>CANopen</DecoderType>"
               "<DecoderConfig/></Config></MonitoringConfigurationDoc></docs>"
            << true;
        QTest::newRow("script") << script.arg("decoder.js") << true;
        QTest::newRow("script file missing") << script.arg("missing.js") << false;
        QTest::newRow("no config element")
            << "<docs><MonitoringConfigurationDoc><Config><DecoderType>CANopen</DecoderType>"
               "</Config></MonitoringConfigurationDoc></docs>"
            << false;
        QTest::newRow("unknown type")
            << "<docs><MonitoringConfigurationDoc><Config><DecoderType>none</DecoderType>"
               "<DecoderConfig/></Config></MonitoringConfigurationDoc></docs>"
            << false;
    }
    void decoderFromTheConfigurationDocument()
    {
        QFETCH(QString, doc);
        QFETCH(bool, decoded);
        QFile script(work("decoder.js"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("function decode(frame) { return 'len ' + frame[4]; }\n");
        script.close();
        bind(doc);
        QCOMPARE(panel->tableModel()->decoder() != nullptr, decoded);
        QCOMPARE(view()->isColumnHidden(5), !decoded);
        frames({"701h,1,05"});
        refresh();
        QCOMPARE(view()->model()->index(0, 5).data().isValid(), decoded);
    }

    void filterHistoryComesFromTheModule()
    {
        bind();
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "MonitorFilter0=id=181"));
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "MonitorFilter1=exclude id=700-7ff # beats"));
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "MonitorFilter3="));
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "MonitorFilter2=auto"));
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_INFO, "MonitorFilter4=ignored"));
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "Port=ignored"));
        QCOMPARE(filterEntries(), QStringList({"id=181", "exclude id=700-7ff # beats", "auto"}));
        // Loading applies no filter and leaves nothing to store.
        QVERIFY(!panel->filterProxy()->isActive());
        QVERIFY(!button("pushButtonSetFilter")->isChecked());
        sent.clear();
        panel->commitPanelSettings();
        QVERIFY(sentTexts(KM_SETPROPERTY).isEmpty());
    }

    void appliedFiltersGoToTheTopOfTheHistory()
    {
        bind();
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "MonitorFilter0=id=181"));
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "MonitorFilter1=id=701"));
        applyFilter("ID=701");
        QCOMPARE(filterEntries(), QStringList({"id=701", "id=181"}));
        QVERIFY(panel->filterProxy()->isActive());
        QCOMPARE(filterBox()->currentText(), QStringLiteral("id=701"));
        for (int i = 0; i < 25; ++i)
            applyFilter(QStringLiteral("id=%1").arg(i + 0x100, 0, 16));
        QCOMPARE(filterBox()->count(), 20);
        QCOMPARE(filterBox()->itemText(0), QStringLiteral("id=118"));

        // An empty text is no filter: the button does not stay on.
        applyFilter("  ");
        QVERIFY(!button("pushButtonSetFilter")->isChecked());
        QCOMPARE(filterBox()->count(), 20);

        sent.clear();
        QCOMPARE(panel->commitPanelSettings(), QString());
        const QStringList stored = sentTexts(KM_SETPROPERTY);
        QCOMPARE(stored.size(), 20);
        QCOMPARE(stored.first(), QStringLiteral("MonitorFilter0=id=118"));
        QCOMPARE(stored.last(), QStringLiteral("MonitorFilter19=id=105"));
        sent.clear();
        panel->commitPanelSettings();
        QVERIFY(sentTexts(KM_SETPROPERTY).isEmpty());
    }

    // A malformed filter is named in the monitor, not applied and not kept
    // in the history, whichever button meets it.
    void malformedFiltersAreShownNotAppliedNotStored_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("term");
        QTest::newRow("bad number") << "id=18g" << "\"id=18g\"";
        QTest::newRow("empty range") << "id=" << "\"id=\"";
        QTest::newRow("range backwards") << "id=7ff-700" << "\"id=7ff-700\"";
        QTest::newRow("bad expression") << "(" << "\"(\"";
    }
    void malformedFiltersAreShownNotAppliedNotStored()
    {
        QFETCH(QString, filter);
        QFETCH(QString, term);
        bind();
        frames({"181h,1,01", "701h,1,05"});
        refresh();
        applyFilter("id=181");
        sent.clear();
        panel->commitPanelSettings();
        sent.clear();
        auto *message = panel->findChild<QLabel *>("labelFilterError");
        QVERIFY(message && message->isHidden());

        const auto expectRefused = [&] {
            QVERIFY(!message->isHidden());
            QVERIFY2(message->text().contains(term), qPrintable(message->text()));
            QVERIFY(panel->filterProxy()->isActive());
            QVERIFY(button("pushButtonSetFilter")->isChecked());
            QCOMPARE(visibleFrames(view()->model()), QStringLiteral("1"));
            QCOMPARE(filterEntries(), QStringList({"id=181"}));
        };
        applyFilter(filter);
        expectRefused();
        panel->on_pushButtonFilterAuto_clicked();
        expectRefused();
        panel->on_pushButtonFindNext_clicked();
        expectRefused();
        QCOMPARE(panel->commitPanelSettings(), QString());
        QVERIFY(sentTexts(KM_SETPROPERTY).isEmpty());

        // A good filter clears the message.
        applyFilter("id=701");
        QVERIFY(message->isHidden());
        QCOMPARE(visibleFrames(view()->model()), QStringLiteral("2"));
    }

    void findAndFilterButtons()
    {
        bind();
        frames({"181h,1,01", "701h,1,05", "181h,1,02", "702h,1,05"});
        refresh();
        filterBox()->setEditText("id=181");
        action("actionFind")->trigger();
        QVERIFY(button("pushButtonSetFilter")->isChecked());
        QCOMPARE(visibleFrames(view()->model()), QStringLiteral("1,3"));
        action("actionFind")->trigger();
        QVERIFY(!button("pushButtonSetFilter")->isChecked());
        QCOMPARE(view()->model()->rowCount(), 4);

        // Find Next walks the unfiltered rows and pauses on the one found.
        filterBox()->setEditText("id=700-7ff");
        view()->setCurrentIndex(view()->model()->index(1, 0));
        panel->on_pushButtonFindNext_clicked();
        QCOMPARE(view()->currentIndex().row(), 3);
        QCOMPARE(view()->currentIndex().column(), 3);
        panel->on_pushButtonFindNext_clicked();
        QCOMPARE(view()->currentIndex().row(), 1);
        QVERIFY(action("actionPause")->isChecked());
        QVERIFY(!panel->filterProxy()->isActive());

        // Auto Filter hides the most frequent data.
        filterBox()->setEditText("");
        panel->on_pushButtonFilterAuto_clicked();
        QCOMPARE(filterBox()->currentText(), QStringLiteral("auto data = 05"));
        QVERIFY(button("pushButtonSetFilter")->isChecked());
        QCOMPARE(visibleFrames(view()->model()), QStringLiteral("1,3"));
    }

    // The paste path of the brief: a pasted request row through three filters.
    void pastedRowsAndFilters()
    {
        bind();
        frames({"701h,1,05", "181h,8,01 02 03 04 05 06 07 08"});
        QApplication::clipboard()->setText("12\t345\t181h\t40 00 10 00 00 00 00 00");
        action("actionPaste")->trigger();
        QCOMPARE(visibleFrames(view()->model()), QStringLiteral("1,2,clip 12"));
        const QAbstractItemModel *shown = view()->model();
        QCOMPARE(shown->index(2, 1).data().toString(), QStringLiteral("345"));
        applyFilter("index=1000");
        QCOMPARE(visibleFrames(shown), QStringLiteral("clip 12"));
        applyFilter("exclude id=700-7ff # heartbeats");
        QCOMPARE(visibleFrames(shown), QStringLiteral("2,clip 12"));
        applyFilter("id!=181");
        QCOMPARE(visibleFrames(shown), QStringLiteral("1"));
    }

    void copyAndDelete()
    {
        bind();
        frames({"701h,1,05", "181h,1,01", "182h,1,02"}, KS_INFO);
        frames({"601h,1,03"}, KS_ANSWER);
        refresh();
        view()->selectionModel()->select(QItemSelection(view()->model()->index(1, 0),
                                                        view()->model()->index(2, 5)),
                                         QItemSelectionModel::ClearAndSelect);
        action("actionCopy")->trigger();
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("Frame #\tt [msec]\tID\tData\tDir\tDescription\n"
                                "2\t\t181h\t01\tRX\t\n3\t\t182h\t02\tRX\t\n"));

        frames({"183h,1,03"}); // not shown yet: deleted all the same
        action("actionDelete")->trigger();
        QCOMPARE(panel->tableModel()->rowCount(), 0);
        QCOMPARE(panel->tableModel()->pendingCount(), 0);
        action("actionDelete")->trigger(); // empty: nothing happens
        frames({"181h,1,01"});
        refresh();
        QCOMPARE(view()->model()->index(0, 0).data().toString(), QStringLiteral("6"));
    }

    void recordingWritesATraceFile()
    {
        bind();
        for (int i = 0; i < 16; ++i)
            frames({"181h,1,00"});
        action("actionRecord")->trigger();
        QVERIFY(panel->isTracing());
        const QString file = panel->traceFileName();
        QVERIFY2(QRegularExpression("/CanTrace/tracefile_\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d\\.txt$")
                     .match(file).hasMatch(),
                 qPrintable(file));
        QCOMPARE(traceEdit()->text(), "CanTrace/" + QFileInfo(file).fileName());
        QVERIFY(traceEdit()->isReadOnly());
        QVERIFY(!panel->findChild<QToolButton *>("toolButtonTraceFile")->isEnabled());

        frames({"581h,8,43 00 10 00 92 01 02 00,513"}, KS_INFO);
        frames({"601h,8,40 00 10 00 00 00 00 00"}, KS_ANSWER);
        frames({"ext 1234abcdh,0"}, KS_INFO);
        panel->msgIn(ZorMessage(KM_CAN_FRAME, KS_INFO, QByteArray("short")));
        // Paused or filtered, every frame is written.
        action("actionPause")->setChecked(true);
        applyFilter("id=999");
        frames({"R 181h,0,,7"}, KS_INFO);
        action("actionRecord")->trigger();
        QVERIFY(!panel->isTracing());
        QCOMPARE(traceEdit()->text(), QStringLiteral("tracefile_DATETIME.txt"));
        QVERIFY(!traceEdit()->isReadOnly());

        const QStringList lines = readLines(file);
        QCOMPARE(lines.size(), 7);
        QVERIFY2(QRegularExpression(StartLine).match(lines.at(0)).hasMatch(), qPrintable(lines.at(0)));
        QCOMPARE(lines.at(1), QString(HeaderLine));
        // Without a decoder the description column stays empty.
        QCOMPARE(lines.at(2), QStringLiteral("17\t513\t581h\t43 00 10 00 92 01 02 00\tRX\t"));
        QCOMPARE(lines.at(3), QStringLiteral("18\t\t601h\t40 00 10 00 00 00 00 00\tTX\t"));
        QCOMPARE(lines.at(4), QStringLiteral("19\t\text 1234abcdh\t\tRX\t"));
        QCOMPARE(lines.at(5), QStringLiteral("21\t7\tR 181h\t\tRX\t"));
        QVERIFY2(QRegularExpression(StopLine).match(lines.at(6)).hasMatch(), qPrintable(lines.at(6)));

        // Opening it again shows the frames as file rows (and nothing else).
        applyFilter("");
        frames({"181h,1,00"});
        panel->openAnswer = file;
        action("actionOpen")->trigger();
        QCOMPARE(panel->dialogTitles.last(), QStringLiteral("Open CAN Monitor Trace File"));
        QCOMPARE(visibleFrames(view()->model()), QStringLiteral("file 17,file 18,file 19,file 21"));
        QCOMPARE(view()->model()->index(0, 4).data().toString(), QStringLiteral("RX"));
        QCOMPARE(view()->model()->index(1, 4).data().toString(), QStringLiteral("TX"));
        QCOMPARE(view()->model()->index(0, 1).data().toString(), QStringLiteral("513"));
    }

    // A trace keeps what the table shows: the running time across the
    // adapter's 16-bit wrap and the decoded description; it opens again.
    void traceKeepsRunningTimesAndDescriptions()
    {
        bind("<docs><MonitoringConfigurationDoc><Config><DecoderType>CANopen</DecoderType>"
             "<DecoderConfig/></Config></MonitoringConfigurationDoc></docs>");
        action("actionRecord")->trigger();
        const QString file = panel->traceFileName();
        frames({"701h,1,05,65530", "581h,8,4b 17 10 00 e8 03 00 00,20"});
        action("actionRecord")->trigger();
        refresh();
        const QString heartbeat = view()->model()->index(0, 5).data().toString();
        const QString answer = view()->model()->index(1, 5).data().toString();
        QVERIFY(!heartbeat.isEmpty() && !answer.isEmpty());
        QCOMPARE(view()->model()->index(1, 1).data().toString(), QStringLiteral("65556"));

        const QStringList lines = readLines(file);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(2), "1\t65530\t701h\t05\tRX\t" + heartbeat);
        QCOMPARE(lines.at(3), "2\t65556\t581h\t4b 17 10 00 e8 03 00 00\tRX\t" + answer);

        panel->openAnswer = file;
        action("actionOpen")->trigger();
        QCOMPARE(visibleFrames(view()->model()), QStringLiteral("file 1,file 2"));
        QCOMPARE(view()->model()->index(1, 1).data().toString(), QStringLiteral("65556"));
        QCOMPARE(view()->model()->index(1, 5).data().toString(), answer);
    }

    void recordingToAnExistingFileAppends()
    {
        bind();
        traceEdit()->setText("same");
        for (int round = 0; round < 2; ++round) {
            action("actionRecord")->trigger();
            frames({"181h,1,00"});
            action("actionRecord")->trigger();
        }
        QCOMPARE(traceEdit()->text(), QStringLiteral("same.txt"));
        const QStringList lines = readLines(work("CanTrace/same.txt"));
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines.at(2), QStringLiteral("1\t\t181h\t00\tRX\t"));
        QCOMPARE(lines.at(6), QStringLiteral("2\t\t181h\t00\tRX\t"));
        QVERIFY(QRegularExpression(StartLine).match(lines.at(4)).hasMatch());
    }

    void traceFileNames_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("file");   // below the working folder; empty: no trace
        QTest::addColumn<QString>("shown");  // line edit while recording
        QTest::newRow("bare name") << "log" << "CanTrace/log.txt" << "CanTrace/log.txt";
        QTest::newRow("capital extension") << "LOG.TXT" << "CanTrace/LOG.TXT" << "CanTrace/LOG.TXT";
        QTest::newRow("folders") << "runs/a/b" << "runs/a/b.txt" << "runs/a/b.txt";
        QTest::newRow("star") << "a*b" << "" << "a*b";
        QTest::newRow("bar") << "a|b" << "" << "a|b";
        QTest::newRow("empty") << "  " << "" << "  ";
    }
    void traceFileNames()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, file);
        QFETCH(QString, shown);
        bind();
        traceEdit()->setText(pattern);
        action("actionRecord")->trigger();
        QCOMPARE(panel->isTracing(), !file.isEmpty());
        QCOMPARE(action("actionRecord")->isChecked(), !file.isEmpty());
        QCOMPARE(traceEdit()->text(), shown);
        if (!file.isEmpty()) {
            QCOMPARE(panel->traceFileName(), work(file));
            QVERIFY(QFile::exists(work(file)));
        }
        QVERIFY(warnings.isEmpty());
    }

    void aFolderThatCannotBeMadeSwitchesRecordingOff()
    {
        bind();
        QFile blocker(work("CanTrace"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder would be
        blocker.close();
        action("actionRecord")->trigger();
        QVERIFY(!panel->isTracing());
        QVERIFY(!action("actionRecord")->isChecked());
        QVERIFY(warnings.isEmpty());
        QCOMPARE(traceEdit()->text(), QStringLiteral("tracefile_DATETIME.txt"));
    }

    void aFileThatCannotBeCreatedIsReported()
    {
        bind();
        QVERIFY(QDir().mkpath(work("CanTrace/taken.txt"))); // a folder of that name
        traceEdit()->setText("taken.txt");
        action("actionRecord")->trigger();
        QVERIFY(!panel->isTracing());
        QVERIFY(!action("actionRecord")->isChecked());
        QCOMPARE(warnings.size(), 1);
        QCOMPARE(warnings.first().title, QStringLiteral("File error"));
        QCOMPARE(warnings.first().text, "Could not create the file:\n" + work("CanTrace/taken.txt"));
    }

    void writeErrorsEndTheTrace_data()
    {
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<int>("framesBefore"); // frames written before the failure
        QTest::newRow("at the start") << qint64(0) << 0;
        QTest::newRow("while recording") << qint64(200) << 5;
    }
    void writeErrorsEndTheTrace()
    {
        QFETCH(qint64, budget);
        QFETCH(int, framesBefore);
        bind();
        panel->traceBudget = budget;
        action("actionRecord")->trigger();
        for (int i = 0; i < framesBefore; ++i)
            frames({"181h,8,00 00 00 00 00 00 00 00"});
        // Buffered lines fail when they are written through at the latest.
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isTracing(), 3000);
        QVERIFY(!action("actionRecord")->isChecked());
        QCOMPARE(traceEdit()->text(), QStringLiteral("tracefile_DATETIME.txt"));
        QVERIFY(!traceEdit()->isReadOnly());
        QCOMPARE(warnings.size(), 1);
        QCOMPARE(warnings.first().title, QStringLiteral("File error"));
        QVERIFY(warnings.first().text.startsWith("Could not write to file:\n" + work("CanTrace/")));
        // Frames after the failure go on to the table only.
        frames({"181h,1,00"});
        QCOMPARE(warnings.size(), 1);
    }

    void choosingATraceFileOnlyFillsInTheName()
    {
        bind();
        panel->saveAnswer = work("CanTrace/mine_DATETIME.txt");
        panel->findChild<QToolButton *>("toolButtonTraceFile")->click();
        QVERIFY(panel->dialogTitles.first().startsWith("Choose CAN Monitor trace file"));
        QCOMPARE(traceEdit()->text(), QStringLiteral("CanTrace/mine_DATETIME.txt"));
        QVERIFY(!action("actionRecord")->isChecked());
        QVERIFY(!panel->isTracing());
        QVERIFY(!QFileInfo::exists(work("CanTrace")));

        // A cancelled dialog changes nothing; recording uses the chosen name.
        panel->saveAnswer.clear();
        panel->findChild<QToolButton *>("toolButtonTraceFile")->click();
        QCOMPARE(traceEdit()->text(), QStringLiteral("CanTrace/mine_DATETIME.txt"));
        action("actionRecord")->trigger();
        QVERIFY(panel->traceFileName().contains("/CanTrace/mine_"));
        action("actionRecord")->trigger();
        QCOMPARE(traceEdit()->text(), QStringLiteral("CanTrace/mine_DATETIME.txt"));
    }

    void destroyingThePanelStopsTheTrace()
    {
        bind();
        action("actionRecord")->trigger();
        const QString file = panel->traceFileName();
        frames({"181h,1,00"});
        delete panel;
        panel = nullptr;
        const QStringList lines = readLines(file);
        QCOMPARE(lines.size(), 4);
        QVERIFY(QRegularExpression(StopLine).match(lines.last()).hasMatch());
        panel = new MonitorUnderTest; // for cleanup
    }

    void followingAndPausing()
    {
        bind();
        panel->resize(600, 300);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        for (int i = 0; i < 100; ++i)
            frames({"181h,1,00"});
        refresh();
        QCOMPARE(view()->currentIndex().row(), 99);
        QVERIFY(!action("actionPause")->isChecked());

        // Choosing an earlier row pauses, the last row resumes.
        view()->setCurrentIndex(view()->model()->index(10, 0));
        QVERIFY(action("actionPause")->isChecked());
        frames({"181h,1,00"});
        refresh();
        QCOMPARE(view()->currentIndex().row(), 10);
        view()->setCurrentIndex(view()->model()->index(100, 0));
        QVERIFY(!action("actionPause")->isChecked());

        // The scroll bar: away from the bottom pauses, back down resumes.
        QScrollBar *bar = view()->verticalScrollBar();
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QVERIFY(action("actionPause")->isChecked());
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        QVERIFY(!action("actionPause")->isChecked());

        // The Pause key toggles.
        view()->setFocus();
        QTest::keyClick(view(), Qt::Key_Pause);
        QVERIFY(action("actionPause")->isChecked());
        QTest::keyClick(view(), Qt::Key_Pause);
        QVERIFY(!action("actionPause")->isChecked());
        QCOMPARE(view()->currentIndex().row(), 100);

        // A filter that hides the current row does not pause following.
        frames({"701h,1,05"});
        refresh();
        applyFilter("id=181");
        QVERIFY(!action("actionPause")->isChecked());
        QCOMPARE(view()->currentIndex().row(), view()->model()->rowCount() - 1);
        frames({"181h,1,00"});
        refresh();
        QCOMPARE(view()->currentIndex().data().toString(), QStringLiteral("103"));
    }

    void aFullTablePausedUntilTheRowIsDropped()
    {
        bind();
        panel->resize(600, 300);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        for (int i = 0; i < 20000; ++i)
            frames({"181h,1,00"});
        refresh();
        view()->setCurrentIndex(view()->model()->index(30, 0)); // frame 31
        QVERIFY(action("actionPause")->isChecked());

        // New frames push the chosen row up; it stays current and paused.
        for (int i = 0; i < 20; ++i)
            frames({"181h,1,00"});
        refresh();
        QVERIFY(action("actionPause")->isChecked());
        QCOMPARE(view()->currentIndex().data().toString(), QStringLiteral("31"));
        QCOMPARE(view()->currentIndex().row(), 10);

        // Once it is dropped, following resumes at the newest frame.
        for (int i = 0; i < 20; ++i)
            frames({"181h,1,00"});
        refresh();
        QVERIFY(!action("actionPause")->isChecked());
        refresh();
        frames({"181h,1,00"});
        refresh();
        QCOMPARE(view()->currentIndex().row(), 19999);
        QCOMPARE(view()->currentIndex().data().toString(), QStringLiteral("20041"));
    }
};

ZOR_TEST(TestCanMonitor)
#include "tst_canmonitor.moc"
