// The drive firmware panel: the file choice and the warning, the stop that
// comes before a download while the drive runs, the route by module type,
// paths relative to the working folder, and the button that mirrors the
// module's download status.
#include "testdommodel.h"
#include "zorcontentfirmware.h"
#include "zorquestionbox.h"
#include "zortest.h"

#include <QtTest>
#include <memory>

namespace {

class FirmwarePanelUnderTest : public ZorContentFirmware
{
public:
    QString chosen;   // what the file dialog answers
    QStringList starts;

protected:
    QString askFirmwareFile(const QString &start) override
    {
        starts << start;
        return chosen;
    }
};

} // namespace

class TestContentFirmware : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDomModel> model;
    std::unique_ptr<FirmwarePanelUnderTest> panel;
    QList<ZorMessage> sent;
    QStringList asked;
    QMessageBox::StandardButton reply = QMessageBox::Yes;
    QTemporaryDir work;
    QString savedDir;

    QPushButton *download() const { return panel->findChild<QPushButton *>("pushButtonDownload"); }
    QPushButton *cancel() const { return panel->findChild<QPushButton *>("pushButtonCancel"); }
    QString log() const { return panel->findChild<QPlainTextEdit *>("plainTextEditDownload")->toPlainText(); }

    void deliver(int type, const QVariant &data, int state = KS_INFO)
    {
        panel->msgIn(ZorMessage(type, state, data));
    }

    QStringList sentTexts(bool withProperties = true) const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            if (withProperties || m.msgType() != KM_SETPROPERTY)
                texts << m.toString();
        return texts;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        savedDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(savedDir); }

    void init()
    {
        ZorMessage::registerMetaType();
        ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            asked << q.title + "|" + q.text;
            return reply;
        });
        reply = QMessageBox::Yes;
        asked.clear();
        sent.clear();
        model.reset(new TestDomModel);
        model->setXml(TestDomModel::projectXml({{"drive_canopen_firmware", "Firmware", "", ""}}));
        panel.reset(new FirmwarePanelUnderTest);
        panel->chosen = QDir::currentPath() + "/drive.bin";
        connect(panel.get(), &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Firmware"), model.get()));
        QVERIFY(sentTexts().contains("KM_WHOAMI:KS_REQUEST"));
        QVERIFY(sentTexts().contains("KM_GETPROPERTY:KS_REQUEST:FirmwareFilePath"));
        deliver(KM_GETPROPERTY, "FirmwareFilePath=", KS_ANSWER);
        sent.clear();
    }

    void cleanup()
    {
        panel.reset();
        model.reset();
        ZorQuestionBox::setHook({});
    }

    void waitsForTheModuleType()
    {
        QVERIFY(!download()->isEnabled());
        QVERIFY(!cancel()->isEnabled());
        deliver(KM_WHOAMI, "drive_canopen\nDrive2", KS_ANSWER);
        QVERIFY(download()->isEnabled());
    }

    void route_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("startText");
        QTest::newRow("canopen") << "drive_canopen" << "b" << "Starting CANopen firmware update using file\n%1";
        QTest::newRow("tamrix") << "drive_tamrix" << "c" << "Starting KELVATRO firmware update using file\n%1";
    }

    // Idle drive: the download starts at once, the file stored relative to
    // the working folder and sent with its full path.
    void route()
    {
        QFETCH(QString, type);
        QFETCH(QString, kind);
        QFETCH(QString, startText);
        deliver(KM_WHOAMI, type, KS_ANSWER);
        download()->click();
        const QString full = QDir::currentPath() + "/drive.bin";
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().startsWith("Drive Firmware Update|WARNING: The existing firmware will be erased."));
        QCOMPARE(panel->findChild<QLineEdit *>("lineEditFirmwareFile")->text(), QStringLiteral("drive.bin"));
        QCOMPARE(sentTexts(), QStringList({"KM_SETPROPERTY:KS_REQUEST:FirmwareFilePath=drive.bin",
                                           QStringLiteral("KM_DRIVE_DOWNLOAD_START:KS_REQUEST:%1,%2").arg(kind, full)}));
        QCOMPARE(log(), startText.arg(full));

        // The module's status drives the button.
        deliver(KM_STATUS, 1101);
        QVERIFY(download()->isChecked());
        QVERIFY(cancel()->isEnabled());
        deliver(KM_INFOTEXT, "Downloading 50%");
        QVERIFY(log().endsWith(" Downloading 50%"));
        deliver(KM_STATUS, 0);
        QVERIFY(!download()->isChecked());
        QVERIFY(!cancel()->isEnabled());
    }

    // A running drive is stopped first; the download follows status 0, and
    // "Cancel" before that drops it.
    void stopsTheDriveFirst()
    {
        deliver(KM_WHOAMI, "drive_canopen", KS_ANSWER);
        deliver(KM_STATUS, 1);
        download()->click();
        QCOMPARE(sentTexts(false).last(), QStringLiteral("KM_STOP:KS_REQUEST"));
        QVERIFY(!sentTexts(false).join(' ').contains("KM_DRIVE_DOWNLOAD_START"));
        deliver(KM_STATUS, 0);
        QVERIFY(sentTexts(false).last().startsWith("KM_DRIVE_DOWNLOAD_START:KS_REQUEST:b,"));

        sent.clear();
        deliver(KM_STATUS, 1);
        download()->click();
        QVERIFY(cancel()->isEnabled());
        cancel()->click();
        QCOMPARE(sentTexts(false), QStringList({"KM_STOP:KS_REQUEST", "KM_STOP:KS_REQUEST"}));
        deliver(KM_STATUS, 0);
        QCOMPARE(sentTexts(false).size(), 2);
    }

    void cancelledChoices()
    {
        deliver(KM_WHOAMI, "drive_canopen", KS_ANSWER);
        panel->chosen.clear();
        download()->click();
        QVERIFY(asked.isEmpty());
        QVERIFY(!download()->isChecked());
        panel->chosen = QDir::currentPath() + "/drive.bin";
        reply = QMessageBox::No;
        download()->click();
        QVERIFY(!download()->isChecked());
        QCOMPARE(sentTexts(), QStringList({"KM_SETPROPERTY:KS_REQUEST:FirmwareFilePath=drive.bin"}));
    }

    void storedPathShownRelative()
    {
        deliver(KM_GETPROPERTY, "FirmwareFilePath=" + QDir::currentPath() + "/sub/fw.bin", KS_ANSWER);
        QCOMPARE(panel->findChild<QLineEdit *>("lineEditFirmwareFile")->text(), QStringLiteral("sub/fw.bin"));
    }
};

ZOR_TEST(TestContentFirmware)
#include "tst_contentfirmware.moc"
