// The joystick module with a stand-in controller behind the reader seam:
// the five property notices of each poll, the controller number, starting
// and stopping, and a controller that is unplugged and plugged in again.
#include "moduletesting.h"
#include "zorgamepadreader.h"
#include "zorjoystickreader.h"

#include <QGamepadManager>
#include "zormodjoystick.h"
#include "zortest.h"

namespace JoystickTesting {

// A controller whose sample and result the test sets.
class FakeJoystick : public ZorJoystickReader
{
public:
    int read(int index, ZorJoystickSample &out) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++reads;
        lastIndex = index;
        if (result == Ok)
            out = sample;
        return result;
    }
    void set(int newResult, const ZorJoystickSample &newSample = ZorJoystickSample())
    {
        std::lock_guard<std::mutex> lock(mutex);
        result = newResult;
        sample = newSample;
    }
    int readCount() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return reads;
    }
    int indexRead() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lastIndex;
    }
    bool isReady() override { return ready.load(); }

    std::atomic<bool> ready{true};

private:
    mutable std::mutex mutex;
    int result = Ok;
    ZorJoystickSample sample;
    int reads = 0;
    int lastIndex = -1;
};

const QStringList JoystickValueNames = {QStringLiteral("xpos"), QStringLiteral("ypos"), QStringLiteral("zpos"),
                                        QStringLiteral("Button1Pressed"), QStringLiteral("Button2Pressed")};

// The value notices (KS_INFO KM_SETPROPERTY of the five values) in order.
QStringList joystickNotices(const MasterRecorder &master)
{
    QStringList texts;
    for (const ZorMessage &m : master.ofType(KM_SETPROPERTY)) {
        const QString text = m.data().toString();
        if (m.msgState() == KS_INFO && JoystickValueNames.contains(text.section(QLatin1Char('='), 0, 0)))
            texts << text;
    }
    return texts;
}

const QStringList JoystickRest = {QStringLiteral("xpos=32767"), QStringLiteral("ypos=32767"),
                                  QStringLiteral("zpos=32767"), QStringLiteral("Button1Pressed=0"),
                                  QStringLiteral("Button2Pressed=0")};

} // namespace JoystickTesting

using namespace JoystickTesting;

class TestJoystick : public QObject
{
    Q_OBJECT

    FakeJoystick fake;
    TestDomModel model;
    ModulePtr owner;
    MasterRecorder master;

    ZorModule *start(const QString &properties)
    {
        model.setXml(TestDomModel::projectXml({{QStringLiteral("joystick"), QStringLiteral("Stick"), QString(),
                                                QStringLiteral("<properties>%1</properties>").arg(properties)}}));
        owner.reset(new ZorModJoystick);
        owner->setupZorModule(model.moduleIndex(QStringLiteral("Stick")), &model);
        master.clear();
        master.attach(owner.get());
        owner->start();
        return owner.get();
    }

private slots:
    void init() { ZorJoystickReader::setInstance(&fake); }
    void cleanup()
    {
        owner.reset();
        ZorJoystickReader::setInstance(nullptr);
        fake.set(ZorJoystickReader::Ok);
        fake.ready = true;
    }

    // Polls wait until the reader knows the controllers: a start never
    // reports a controller missing that is only not listed yet.
    void pollsOnceTheReaderIsReady()
    {
        fake.ready = false;
        ZorModule *stick = start(QStringLiteral("<UpdateInterval>10</UpdateInterval>"));
        QTRY_COMPARE(joystickNotices(master), JoystickRest);
        const ZorMessage request = requestTo(stick, KM_START);
        QTRY_COMPARE(master.answerState(request), int(KS_ANSWER));
        QTest::qWait(300);
        QCOMPARE(fake.readCount(), 0);
        QCOMPARE(master.lastStatus(), 1);
        fake.ready = true;
        QTRY_VERIFY(fake.readCount() > 0);
        QTRY_VERIFY(joystickNotices(master).size() >= 10);
        QVERIFY(master.dataOf(KM_STATUS).filter(QStringLiteral("2000")).isEmpty());
    }

    // Rest values at start; every poll then sends the five values, in order,
    // also when nothing changed.
    void sendsFiveNoticesPerPoll()
    {
        ZorJoystickSample sample;
        sample.x = 0;
        sample.y = 65535;
        sample.z = 1234;
        sample.buttons = 2;
        fake.set(ZorJoystickReader::Ok, sample);
        ZorModule *stick = start(QStringLiteral("<UpdateInterval>20</UpdateInterval>"));
        QTRY_COMPARE(joystickNotices(master), JoystickRest);
        const ZorMessage request = requestTo(stick, KM_START);
        QTRY_COMPARE(master.answerState(request), int(KS_ANSWER));
        QTRY_VERIFY(joystickNotices(master).size() >= 5 + 3 * 5);
        const QStringList polled = {QStringLiteral("xpos=0"), QStringLiteral("ypos=65535"),
                                    QStringLiteral("zpos=1234"), QStringLiteral("Button1Pressed=0"),
                                    QStringLiteral("Button2Pressed=1")};
        QCOMPARE(joystickNotices(master).mid(5, 15), polled + polled + polled);
        QCOMPARE(fake.indexRead(), 0);
        QCOMPARE(stick->property(QStringLiteral("zpos")), QStringLiteral("1234"));

        // Start again while running: answered, polling goes on.
        const ZorMessage again = requestTo(stick, KM_COMM_OPEN);
        QTRY_COMPARE(master.answerState(again), int(KS_ANSWER));
        const int reads = fake.readCount();
        QTRY_VERIFY(fake.readCount() > reads + 2);

        // Stopping answers and leaves the rest values once.
        const ZorMessage stop = requestTo(stick, KM_STOP);
        QTRY_COMPARE(master.answerState(stop), int(KS_ANSWER));
        QTRY_COMPARE(master.lastStatus(), 0);
        QCOMPARE(joystickNotices(master).mid(joystickNotices(master).size() - 5), JoystickRest);
        const int afterStop = joystickNotices(master).size();
        const ZorMessage idleStop = requestTo(stick, KM_STOP);
        QTest::qWait(100);
        QCOMPARE(master.answerState(idleStop), -1);
        QCOMPARE(joystickNotices(master).size(), afterStop);
    }

    void choosesController_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("index");
        QTest::newRow("2") << QStringLiteral("2") << 1;
        QTest::newRow("1") << QStringLiteral("1") << 0;
        QTest::newRow("3") << QStringLiteral("3") << 0;
        QTest::newRow("empty") << QString() << 0;
    }
    void choosesController()
    {
        QFETCH(QString, id);
        QFETCH(int, index);
        ZorModule *stick = start(QStringLiteral("<UpdateInterval>x</UpdateInterval>"));
        stick->setProperty(ZorModJoystick::JoystickId, id, false);
        const int before = fake.readCount();
        requestTo(stick, KM_START);
        QTRY_VERIFY(fake.readCount() >= before + 3);   // a non-number interval polls every cycle
        QCOMPARE(fake.indexRead(), index);
    }

    // Unplugged: one error report with the rest values, then silence while
    // the failure lasts; plugged in again, "Running" and values return.
    void reportsUnpluggedOnce()
    {
        fake.set(ZorJoystickReader::Unplugged);
        ZorModule *stick = start(QStringLiteral("<UpdateInterval>10</UpdateInterval>"));
        QTRY_COMPARE(joystickNotices(master).size(), 5);
        const int before = fake.readCount();
        requestTo(stick, KM_START);
        QTRY_COMPARE(master.lastStatus(), 2000);
        QTRY_VERIFY(fake.readCount() >= before + 5);
        QCOMPARE(master.infoTexts().filter(QStringLiteral("Error")), QStringList({"Error: Not plugged in"}));
        QCOMPARE(master.dataOf(KM_STATUS).filter(QStringLiteral("2000")).size(), 1);
        QCOMPARE(joystickNotices(master), JoystickRest + JoystickRest);

        fake.set(ZorJoystickReader::Ok);
        QTRY_COMPARE(master.lastStatus(), 1);
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Running"));
        QTRY_VERIFY(joystickNotices(master).size() >= 15);
    }

    void namesEachFailure_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("driver") << 6 << QStringLiteral("Error: No driver");
        QTest::newRow("parameters") << 165 << QStringLiteral("Error: Invalid joyGetPos() parameters");
        QTest::newRow("capture") << 166 << QStringLiteral("Error: Could not capture input");
        QTest::newRow("other") << 170 << QStringLiteral("Error: Unexpected error");
    }
    void namesEachFailure()
    {
        QFETCH(int, result);
        QFETCH(QString, text);
        fake.set(result);
        requestTo(start(QStringLiteral("<UpdateInterval>10</UpdateInterval>")), KM_START);
        QTRY_COMPARE(master.lastInfoText(), text);
    }

    // The Qt Gamepad reader: controllers in the order they came, axes as
    // 16-bit positions, the first two buttons as bits 0 and 1.
    void readsGamepadEvents()
    {
        ZorGamepadReader reader;
        // Ready once its listener, in the main thread, has taken the
        // controllers there are.
        QVERIFY(!reader.isReady());
        QTRY_VERIFY(reader.isReady());
        ZorJoystickSample sample;
        QCOMPARE(reader.read(2, sample), int(ZorJoystickReader::InvalidParameters));
        QCOMPARE(reader.read(0, sample), int(ZorJoystickReader::Unplugged));
        reader.connected(7);
        reader.connected(3);
        reader.axisMoved(3, QGamepadManager::AxisLeftX, -1.0);
        reader.axisMoved(3, QGamepadManager::AxisLeftY, 1.0);
        reader.axisMoved(3, QGamepadManager::AxisRightX, 0.0);
        reader.buttonChanged(3, QGamepadManager::ButtonB, true);
        reader.buttonChanged(3, QGamepadManager::ButtonX, true);
        QCOMPARE(reader.read(1, sample), int(ZorJoystickReader::Ok));
        QCOMPARE(sample.x, quint16(0));
        QCOMPARE(sample.y, quint16(65535));
        QCOMPARE(sample.z, quint16(32767));
        QCOMPARE(sample.buttons, 2u);
        reader.buttonChanged(3, QGamepadManager::ButtonB, false);
        reader.disconnected(7);
        QCOMPARE(reader.read(0, sample), int(ZorJoystickReader::Ok));
        QCOMPARE(sample.buttons, 0u);
        QCOMPARE(reader.read(1, sample), int(ZorJoystickReader::Unplugged));
    }
};

ZOR_TEST(TestJoystick)
#include "tst_joystick.moc"
