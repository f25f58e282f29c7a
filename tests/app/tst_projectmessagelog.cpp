#include "quorvaneproject.h"
#include "startstopmodule.h"
#include "zorcontentdefault.h"
#include "zordebuglog.h"
#include "zordommodel.h"
#include "zortempsettings.h"
#include "zortest.h"

#include <QFile>
#include <QPushButton>
#include <QTest>

namespace {

ZorModule *newLogStartStop(QObject *parent) { return new StartStopModule(parent); }
ZorPanel *newLogDefaultPanel(QWidget *parent) { return new ZorContentDefault(parent); }

QDomDocument logProjectDocument()
{
    QDomDocument doc;
    doc.setContent(QStringLiteral("<QuorvaneProject><module type=\"project\" label=\"Home\">"
                                  "<module type=\"startstop\" label=\"Stick\"/>"
                                  "</module></QuorvaneProject>"));
    return doc;
}

QString logText()
{
    QFile file(ZorDebugLog::filePathForTag("zormessages"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

} // namespace

// With "DebugMode" 2 the log "zormessages" receives every message between
// panels and modules and every broadcast; below 2 there is no such log.
class TestProjectMessageLog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { settings.reset(new ZorTest::TempSettings); }
    void cleanupTestCase() { settings.reset(); }

    void noLogBelowDebugModeTwo()
    {
        ZorTest::TempSettings::set("DebugMode", 1);
        QuorvaneProject project;
        QVERIFY(!project.messageLog());
    }

    void everyPanelAndModuleMessageIsLogged()
    {
        QFile::remove(ZorDebugLog::filePathForTag("zormessages"));
        ZorTest::TempSettings::set("DebugMode", 2);
        {
            QuorvaneProject project;
            QVERIFY(project.messageLog());
            project.registerModuleCreator("startstop", newLogStartStop);
            project.registerPanelCreator("startstop", newLogDefaultPanel);
            QVERIFY(project.loadDocument(logProjectDocument()));
            const QModelIndex stick = project.model()->index(0, 0, project.model()->index(0, 0));
            auto *panel = qobject_cast<ZorContentDefault *>(project.createPanel(stick));
            QVERIFY(panel);
            QTRY_VERIFY(panel->editorOf("Port"));

            panel->findChild<QPushButton *>("pushButtonStart")->click();
            QTRY_VERIFY(logText().contains("Stick:KM_STATUS:KS_INFO:1"));
            project.broadcast(ZorMessage(KM_STOP, KS_REQUEST));
            QTRY_VERIFY(logText().contains("Stick:KM_STATUS:KS_INFO:0"));
        }
        const QString log = logText();
        // The panel's requests (msgOut) ...
        QVERIFY(log.contains("GUI:KM_INFOTEXT:KS_REQUEST"));
        QVERIFY(log.contains("GUI:KM_GETALLPROPERTIES:KS_REQUEST"));
        QVERIFY(log.contains("GUI:KM_START:KS_REQUEST"));
        // ... the module's answers and notices (slaveOut) ...
        QVERIFY(log.contains("GUI:KM_INFOTEXT:KS_ANSWER"));
        QVERIFY(log.contains("Stick:KM_GETALLPROPERTIES:KS_ANSWER"));
        QVERIFY(log.contains("Stick:KM_START:KS_ANSWER"));
        // ... and the broadcast.
        QVERIFY(log.contains("broadcast: :KM_STOP:KS_REQUEST"));
        QVERIFY(log.indexOf("GUI:KM_START:KS_REQUEST") < log.indexOf("broadcast: "));
        QVERIFY(log.trimmed().endsWith("log stopped"));
    }

private:
    QScopedPointer<ZorTest::TempSettings> settings;
};

ZOR_TEST(TestProjectMessageLog)
#include "tst_projectmessagelog.moc"
