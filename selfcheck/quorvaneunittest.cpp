#include "quorvaneunittest.h"

#include "quorvaneproject.h"
#include "quorvaneunittestworker.h"
#include "simgateway.h"
#include "zorapplservices.h"
#include "zorasciiadapterprotocol.h"
#include "zorbabelfish.h"
#include "zordommodel.h"
#include "zormodcaninterface.h"
#include "zormodcanopengateway.h"
#include "zormoduletester.h"
#include "zorregistry.h"
#include "zorshareddata.h"

#include <QDir>
#include <QDeadlineTimer>
#include <QDomDocument>
#include <QTime>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>

namespace {

// Limit of every wait for something another thread or process does.
const int WaitLimitMs = 20000;

// Runs the function when the scope is left, whichever way.
class AtExit
{
public:
    explicit AtExit(std::function<void()> f) : f(std::move(f)) {}
    ~AtExit() { f(); }
    Q_DISABLE_COPY(AtExit)
private:
    std::function<void()> f;
};

// ---- Conversions --------------------------------------------------------------

struct FrameTextCase
{
    const char *text;
    quint8 flags;
};

const FrameTextCase frameTexts[] = {
    {"7e5h,2,04 00", VSCAN_FLAGS_STANDARD},
    {"ext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999", VSCAN_FLAGS_EXTENDED | VSCAN_FLAGS_TIMESTAMP},
    {"R 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999", VSCAN_FLAGS_REMOTE | VSCAN_FLAGS_TIMESTAMP},
    {"Rext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999",
     VSCAN_FLAGS_REMOTE | VSCAN_FLAGS_EXTENDED | VSCAN_FLAGS_TIMESTAMP},
};

enum FieldReader { DataStr, CanId, Timestamp, SdoIndex, SdoSubindex };

struct FieldCase
{
    const char *text;
    FieldReader reader;
    const char *expected;   // decimal for the numeric readers
};

const FieldCase frameFields[] = {
    {"581h,8,01 00 02 00 a0 b0 c0 d0,1", DataStr, "01 00 02 00 a0 b0 c0 d0"},
    {"581h,8,01 00 02 00 a0 b0 c0 d0,1", CanId, "1409"},          // 0x581
    {"581h,8,01 00 02 00 a0 b0 c0 d0,1", Timestamp, "1"},
    {"581h,8,01 00 02 00 a0 b0 c0 d0", Timestamp, "0"},
    {"581h,8,60 51 1f 01 00 00 00 00", SdoIndex, "8017"},         // 0x1f51
    {"581h,8,60 51 1f 01 00 00 00 00", SdoSubindex, "1"},
    {"581h,8,60 fd ff fe 00 00 00 00", SdoIndex, "65533"},        // 0xfffd
    {"581h,8,60 fd ff fe 00 00 00 00", SdoSubindex, "254"},       // 0xfe
};

QString readField(const QByteArray &record, FieldReader reader)
{
    switch (reader) {
    case DataStr: return ZorBabelFish::fromQbytearrayToDataStr(record);
    case CanId: return QString::number(ZorBabelFish::fromQbytearrayToCanId(record));
    case Timestamp: return QString::number(ZorBabelFish::fromQbytearrayToTimestamp(record));
    case SdoIndex: return QString::number(ZorBabelFish::fromQbytearrayToSdoIndex(record));
    case SdoSubindex: return QString::number(ZorBabelFish::fromQbytearrayToSdoSubindex(record));
    }
    return QString();
}

struct MacroCase
{
    const char *text;
    const char *resolved;
};

const MacroCase valueMacros[] = {
    {"00 canunsigned8(1) canunsigned16(515) canunsigned32(0x06070809)", "00 01 03 02 09 08 07 06"},
    {"00 canunsigned8(255) canunsigned16(65535) canunsigned32(0xffffffff)", "00 ff ff ff ff ff ff ff"},
    {"00 caninteger8(-1) caninteger16(-1) caninteger32(-1)", "00 ff ff ff ff ff ff ff"},
    {"00 caninteger8(127) caninteger16(32767) caninteger32(0x7fffffff)", "00 7f ff 7f ff ff ff 7f"},
    {"00 caninteger8(-128) caninteger16(-32768) caninteger32(-0x80000000)", "00 80 00 80 00 00 00 80"},
};

enum NumberReader { ToLong, ToULong, ToShort, ToUShort, ToByte, ToUByte };

struct NumberCase
{
    NumberReader reader;
    const char *text;
    qint64 expected;
};

const NumberCase numberTexts[] = {
    {ToUByte, "0b01000100", 0x44},
    {ToUShort, "0b1111111101000100", 0xff44},
    {ToShort, "0b1111111101000100", -188},
    {ToULong, "0b11111111010001001111111101000100", 0xff44ff44},
    // A trailing "h" makes the text hexadecimal even when it starts with "0b".
    {ToULong, "0bf81234h", 0x0bf81234},
    {ToULong, "fbf81234h", 0xfbf81234},
    {ToUShort, "0bf8h", 0x0bf8},
    {ToUByte, "0bh", 0x0b},
    {ToLong, "0xffffffff", -1},
    {ToShort, "0xffff", -1},
    {ToByte, "0xff", -1},
    {ToLong, "0x80000000", -2147483648LL},
    {ToShort, "0x8000", -32768},
    {ToByte, "0x80", -128},
    {ToLong, "0x7fffffff", 2147483647},
    {ToShort, "0x7fff", 32767},
    {ToByte, "0x7f", 127},
    {ToByte, "0x101", 1},   // cut to its low 8 bits
};

qint64 readNumber(NumberReader reader, const QString &text, bool *ok)
{
    switch (reader) {
    case ToLong: return ZorBabelFish::stringToLong(text, ok);
    case ToULong: return ZorBabelFish::stringToULong(text, ok);
    case ToShort: return ZorBabelFish::stringToShort(text, ok);
    case ToUShort: return ZorBabelFish::stringToUShort(text, ok);
    case ToByte: return ZorBabelFish::stringToByte(text, ok);
    case ToUByte: return ZorBabelFish::stringToUByte(text, ok);
    }
    return 0;
}

struct NumberTextCase
{
    bool bits;   // else hexadecimal
    qint64 value;
    int dataType;
    const char *expected;
};

const NumberTextCase valueTexts[] = {
    {true, 0x44, 2, "01000100"},
    {true, 0xff44, 6, "1111111101000100"},
    {false, -188, 3, "ff44"},
    {true, 0xff44ff44, 7, "11111111010001001111111101000100"},
    {false, 0xfbf81234, 7, "fbf81234"},
    {false, -67628492, 4, "fbf81234"},
};

// ---- Sample project -------------------------------------------------------------

const char SampleProject[] = R"(<QuorvaneProject>
 <module type="project" label="Unit Test">
  <module type="canusb" label="Test CAN/USB" description="description is optional">
   <properties><Port>COM1</Port><Baudrate>50000</Baudrate></properties>
  </module>
  <module type="drive_canopen" label="Drive Test"/>
  <module type="canusb" label="CAN/USB 2"/>
  <module type="drive_ruxa" label="Drive 2"/>
  <module type="automation" label="Automation"/>
  <module type="testcycle" label="Test Cycle"/>
  <module type="automation" label="Automation 2"/>
  <module type="uipanel" label="UI Panel"/>
 </module>
 <templates>
  <module type="drive_canopen" label="CANopen Drive Template">
   <module type="drive_canopen_setup"/>
  </module>
 </templates>
</QuorvaneProject>)";

enum SampleRow { CanUsbRow, DriveRow, CanUsb2Row, Drive2Row, AutomationRow, TestCycleRow,
                 Automation2Row, NodeRow, SampleRows };

QDomDocument sampleDocument()
{
    QDomDocument document;
    document.setContent(QString::fromUtf8(SampleProject));
    return document;
}

// The class the program's registry makes for each row of the sample project.
const char *const SampleRowClasses[SampleRows] = {
    "ZorModCanInterface", "ZorModPosDrive",  "ZorModCanInterface", "ZorModPosDrive",
    "ZorModAutomation",   "ZorModTestCycle", "ZorModAutomation",   "ZorModNode"};

using ModulePtr = std::unique_ptr<ZorModule, ZorModuleDeleter>;

// The module the program makes for a row of the sample project, set up on
// it; null when the registry has no class for the row's kind.
ModulePtr moduleForRow(const ZorModuleRegistry &creators, ZorDomModel &model, int row)
{
    const QModelIndex index = model.index(row, 0, model.index(0, 0));
    ModulePtr module(creators.create(QuorvaneProject::moduleType(index)));
    if (module && !module->setupZorModule(index, &model))
        module.reset();
    return module;
}

void bindAsMaster(ZorModuleTester &tester, ZorModule *module)
{
    QObject::connect(&tester, &ZorModuleTester::masterOut, module, &ZorModule::slaveIn);
    QObject::connect(module, &ZorModule::slaveOut, &tester, &ZorModuleTester::masterIn);
}

// "7e4h,8,16 00 00 00 00 00 00 00" as a line of the adapter protocol, which
// the simulated gateway puts on its bus.
QString adapterLine(const QString &frameText)
{
    QByteArray record;
    VSCAN_MSG frame;
    if (!ZorBabelFish::fromCanStrToQbytearray(frameText, record) || !ZorBabelFish::fromQbytearrayToVscan(record, frame))
        return QString();
    return QString::fromLatin1(ZorAsciiAdapterProtocol::frameCommand(frame)).trimmed();
}

// The frames a CAN interface reports to its master: those it received and
// those it has put on the bus, as frame text without time stamp.
class FrameWatch : public QObject
{
public:
    QStringList received;
    QStringList sent;

    void watch(ZorModule *canInterface)
    {
        connect(canInterface, &ZorModule::slaveOut, this, [this](const ZorMessage &message) {
            if (message.msgType() != KM_CAN_FRAME)
                return;
            QString text;
            if (!ZorBabelFish::fromQbytearrayToCanStr(message.data().toByteArray(), text))
                return;
            text = text.section(QLatin1Char(','), 0, 2);
            if (message.msgState() == KS_INFO)
                received << text;
            else if (message.msgState() == KS_ANSWER)
                sent << text;
        });
    }
};

// ---- Gateway ----------------------------------------------------------------------

struct SdoCase
{
    const char *request;
    const char *exchange;   // the CAN exchange, completed by the CAN interface
    const char *stray;      // an answer frame that belongs to no exchange of this gateway
    const char *result;
};

const SdoCase sdoCases[] = {
    {"SDOWriteObject:1000:0:47,60ffh,0h,integer32,2000",
     "CAN:1000:0:62fh,8,23 ff 60 00 d0 07 00 00:5afh,8,60 ff 60 00 00 00 00 00",
     "5afh,8,80 ff 60 00 00 00 02 06",
     "SDOWriteObject:1000:0:47,60ffh,0h,integer32,2000:47,60ffh,0h,ok"},
    {"SDOReadObject:1000:0:1,1000h,0h,unsigned32",
     "CAN:1000:0:601h,8,40 00 10 00 00 00 00 00:581h,8,43 00 10 00 92 01 02 00",
     "581h,8,43 00 10 00 ff ff ff ff",
     "SDOReadObject:1000:0:1,1000h,0h,unsigned32:1,1000h,0h,unsigned32,131474"},
};

// ---- Shared objects -----------------------------------------------------------------

// A locked object of the registry, unlocked when the holder goes.
class SharedObjectLock
{
public:
    SharedObjectLock(ZorSharedData &registry, int id)
        : registry(registry), id(id), object(registry.lockObject(id, 0)) {}
    ~SharedObjectLock() { unlock(); }
    Q_DISABLE_COPY(SharedObjectLock)

    QString *data() const { return object; }
    void unlock()
    {
        if (object)
            registry.unlockObject(id);
        object = nullptr;
    }

private:
    ZorSharedData &registry;
    const int id;
    QString *object;
};

} // namespace

QuorvaneUnitTest::QuorvaneUnitTest(QObject *parent)
    : QObject(parent)
{
    ZorMessage::registerMetaType();
}

// ---- Application services ------------------------------------------------------------

void QuorvaneUnitTest::testZorApplServices()
{
    // The case moves the process into other folders; later cases must not
    // write into the root folder, so it moves back at its end.
    const QString startFolder = QDir::currentPath();
    AtExit back([&] { QDir::setCurrent(startFolder); });

    // The canonical home: the current folder reads back without links.
    const QFileInfo fi(QDir(QDir::home().canonicalPath()), QStringLiteral("test.zorpro"));
    QVERIFY(!fi.path().isEmpty());
    ZorApplServices::setWorkingDir(fi.filePath());

    QString pa1 = fi.filePath();
    QVERIFY(pa1 != QLatin1String("test.zorpro"));
    ZorApplServices::makeRelativeToWorkingDir(pa1);
    QCOMPARE(pa1, QStringLiteral("test.zorpro"));
    QString pa2 = pa1;
    ZorApplServices::makeAbsoluteToWorkingDir(pa2);
    QVERIFY(pa2 != pa1);
    QCOMPARE(pa2, fi.filePath());

    // The root folder's path already ends with its separator.
    ZorApplServices::setWorkingDir(QDir::rootPath());
    QCOMPARE(ZorApplServices::workingDir(), QDir::rootPath());
    pa1 = fi.filePath();
    ZorApplServices::makeRelativeToWorkingDir(pa1);
    QCOMPARE(ZorApplServices::workingDir() + pa1, fi.filePath());
    pa2 = pa1;
    ZorApplServices::makeAbsoluteToWorkingDir(pa2);
    QCOMPARE(pa2, pa1);
}

// ---- Conversions ----------------------------------------------------------------------

void QuorvaneUnitTest::testBabelFish()
{
    // Frame texts round trip through the record.
    for (const FrameTextCase &c : frameTexts) {
        const QString text = QLatin1String(c.text);
        QByteArray demoCanByteArr;
        VSCAN_MSG vscanMsg;
        QString resultStr;
        QVERIFY2(ZorBabelFish::fromCanStrToQbytearray(text, demoCanByteArr), c.text);
        QVERIFY2(ZorBabelFish::fromQbytearrayToVscan(demoCanByteArr, vscanMsg), c.text);
        QVERIFY2(ZorBabelFish::fromQbytearrayToCanStr(demoCanByteArr, resultStr), c.text);
        QCOMPARE(resultStr, text);
        QCOMPARE(vscanMsg.Flags, c.flags);
    }

    for (const FieldCase &c : frameFields) {
        QByteArray record;
        QVERIFY2(ZorBabelFish::fromCanStrToQbytearray(QLatin1String(c.text), record), c.text);
        QCOMPARE(readField(record, c.reader), QLatin1String(c.expected));
    }

    // Value macros, resolved by one object in turn.
    ZorBabelFish b;
    for (const MacroCase &c : valueMacros) {
        QString strMacros = QLatin1String(c.text);
        QVERIFY2(b.resolveCanMacros(strMacros), c.text);
        QCOMPARE(strMacros, QLatin1String(c.resolved));
    }
    const auto bytesOf = [](const char *hexText) {
        return QByteArray::fromHex(QByteArray(hexText).replace(' ', QByteArray()));
    };
    QByteArray arr = bytesOf(valueMacros[0].resolved);
    quint32 tmpUInt32 = 0;
    qint32 tmpInt32 = 0;
    QVERIFY(ZorBabelFish::fromDataPartToUnsigned32(arr, tmpUInt32, 4));
    QVERIFY(tmpUInt32 == 0x06070809);
    arr = bytesOf(valueMacros[1].resolved);
    QVERIFY(ZorBabelFish::fromDataPartToUnsigned32(arr, tmpUInt32, 4));
    QVERIFY(tmpUInt32 == 0xffffffff);
    QVERIFY(ZorBabelFish::fromDataPartToInteger32(arr, tmpInt32, 4));
    QVERIFY(tmpInt32 == -1);
    arr = bytesOf(valueMacros[3].resolved);
    QVERIFY(ZorBabelFish::fromDataPartToUnsigned32(arr, tmpUInt32, 4));
    QVERIFY(tmpUInt32 == 0x7fffffff);
    QVERIFY(ZorBabelFish::fromDataPartToInteger32(arr, tmpInt32, 4));
    QVERIFY(tmpInt32 == 0x7fffffff);

    // The lowest values, read back in every width.
    bool macrosOk = false;
    arr = b.fromMacroStrToQbytearray(QLatin1String(valueMacros[4].text), &macrosOk);
    QVERIFY(macrosOk);
    const qint32 minInt32Val = -2147483647 - 1;
    quint16 tmpUInt16 = 0;
    qint16 tmpInt16 = 0;
    quint8 tmpUInt8 = 0;
    qint8 tmpInt8 = 0;
    QVERIFY(ZorBabelFish::fromDataPartToUnsigned32(arr, tmpUInt32, 4));
    QVERIFY(tmpUInt32 == 0x80000000);
    QVERIFY(ZorBabelFish::fromDataPartToInteger32(arr, tmpInt32, 4));
    QVERIFY(tmpInt32 == minInt32Val);
    QVERIFY(ZorBabelFish::fromDataPartToUnsigned16(arr, tmpUInt16, 2));
    QVERIFY(tmpUInt16 == 0x8000);
    QVERIFY(ZorBabelFish::fromDataPartToInteger16(arr, tmpInt16, 2));
    QVERIFY(tmpInt16 == -0x8000);
    QVERIFY(ZorBabelFish::fromDataPartToUnsigned8(arr, tmpUInt8, 1));
    QVERIFY(tmpUInt8 == 0x80);
    QVERIFY(ZorBabelFish::fromDataPartToInteger8(arr, tmpInt8, 1));
    QVERIFY(tmpInt8 == -0x80);

    // Number texts, read without the success flag and with it: every
    // vector is a well-formed number and reads as one.
    for (const NumberCase &c : numberTexts) {
        const QString text = QLatin1String(c.text);
        bool ok = false;
        QCOMPARE(readNumber(c.reader, text, nullptr), c.expected);
        QCOMPARE(readNumber(c.reader, text, &ok), c.expected);
        QVERIFY2(ok, c.text);
    }
    for (const NumberTextCase &c : valueTexts) {
        const int value = int(c.value);
        QCOMPARE(c.bits ? ZorBabelFish::fromCanValueToBitStr(value, c.dataType)
                        : ZorBabelFish::fromCanValueToHexStr(value, c.dataType),
                 QLatin1String(c.expected));
    }

    // Data-object ids.
    QVERIFY(ZorBabelFish::isDataObjectId(QStringLiteral("001.0002h.03h")));
    QVERIFY(!ZorBabelFish::isDataObjectId(QStringLiteral("00.0002h.03h")));
    QVERIFY(!ZorBabelFish::isDataObjectId(QStringLiteral("001,0002h,03h")));
    QCOMPARE(ZorBabelFish::dataObjectId(1, 2, 3), QStringLiteral("001.0002h.03h"));
    QCOMPARE(ZorBabelFish::dataObjectId(123456789, 65535, 254), QStringLiteral("123456789.ffffh.feh"));
    quint32 nodeId = 0;
    quint16 canIndex = 0;
    quint8 canSubindex = 0;
    QVERIFY(ZorBabelFish::fromDataObjectId(QStringLiteral("123456789.ffffh.feh"), nodeId, canIndex, canSubindex));
    QVERIFY(nodeId == 123456789);
    QVERIFY(canIndex == 65535);
    QVERIFY(canSubindex == 254);
    QCOMPARE(ZorBabelFish::fromDataObjectIdToSdoString(QStringLiteral("005.108fh.feh")), QStringLiteral("5,108fh,feh"));
}

// ---- Messages ----------------------------------------------------------------------------

void QuorvaneUnitTest::testZorMessage()
{
    ZorMessage msg(KM_WHOAMI, KS_REQUEST, QTime::currentTime());
    QVERIFY(msg.msgType() == KM_WHOAMI);
    QVERIFY(msg.isRequest());
    QVERIFY(msg.data().type() == QVariant::Time);

    msg.setMsgState(KS_ANSWER);
    msg.setData(QStringLiteral("just a test"));
    QVERIFY(msg.isAnswer());
    QVERIFY(msg.data().type() == QVariant::String);
    QCOMPARE(msg.data().toString(), QStringLiteral("just a test"));

    // Copies keep the id; recipient and origin travel with assignment.
    ZorMessage msg2(msg);
    QVERIFY(msg2.isAnswer());
    QCOMPARE(msg2.data().toString(), QStringLiteral("just a test"));
    QVERIFY(msg2 == msg);
    QVERIFY(msg2.msgType() == msg.msgType());
    QVERIFY(msg2.msgState() == msg.msgState());
    QVERIFY(msg2.origin() == msg.origin());
    QVERIFY(msg2.recipient() == msg.recipient());
    msg.setRecipient(QStringLiteral("r1"));
    QVERIFY(msg2.recipient() != msg.recipient());
    msg2 = msg;
    QVERIFY(msg2.recipient() == msg.recipient());
    msg.clearRecipient();
    msg2 = msg;
    QVERIFY(msg2.recipient() == msg.recipient());
    msg.setOrigin(QStringLiteral("o1"));
    msg2.setOrigin(QStringLiteral("o2"));
    QVERIFY(msg2.origin() != msg.origin());
    msg2 = msg;
    QVERIFY(msg2.origin() == msg.origin());
    msg.clearOrigin();
    msg2 = msg;
    QVERIFY(msg2.origin() == msg.origin());

    // A frame message read from text carries the 16-byte record.
    const QString frameText = QStringLiteral("Rext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999");
    const ZorMessage canMsg(QStringLiteral("KM_CAN_FRAME:KS_REQUEST:") + frameText);
    QVERIFY(canMsg.data().toByteArray().size() == ZOR_FRAME_RECORD_SIZE);
    QString canStr;
    QVERIFY(ZorBabelFish::fromQbytearrayToCanStr(canMsg.data().toByteArray(), canStr));
    QCOMPARE(canStr, frameText);
    QCOMPARE(canMsg.toString(), QStringLiteral("KM_CAN_FRAME:KS_REQUEST:") + frameText);

    // Identity is the id alone.
    msg.setMsgState(KS_INFO);
    QVERIFY(msg2 == msg);
    const ZorMessage msg3(KM_UNDEFINED, KS_INFO);
    QVERIFY(msg3 != msg2);
    const ZorMessage msg4(QStringLiteral("KM_WHOAMI:KS_ANSWER:just a test"));
    QVERIFY(msg4.msgType() == KM_WHOAMI);
    QVERIFY(msg4.isAnswer());
    QCOMPARE(msg2.toString(), msg4.toString());

    QVERIFY(!msg.hasRecipient());
    QCOMPARE(msg.recipient(), QString());
    msg.setRecipient(QStringLiteral("Test"));
    QVERIFY(msg.hasRecipient());
    QCOMPARE(msg.recipient(), QStringLiteral("Test"));
    msg2 = msg;
    QVERIFY(msg2.hasRecipient());
    QCOMPARE(msg2.recipient(), QStringLiteral("Test"));
    msg.setRecipient(QString());
    QVERIFY(!msg.hasRecipient());
    msg.setRecipient(QStringLiteral("MyTarget"));
    QVERIFY(!msg.hasOrigin());
    msg.setOrigin(QStringLiteral("MyOrigin"));
    QVERIFY(msg.hasOrigin());

    // Form 3 carries the id, the origin and the recipient.
    const QString simpleStr = msg.toString(0);
    const QString extendedMsgStr = msg.toString(3);
    QCOMPARE(extendedMsgStr, QString::number(msg.msgId()) + QStringLiteral(":MyOrigin:MyTarget:") + simpleStr);
    const ZorMessage msgCopy(extendedMsgStr, 3);
    QVERIFY(msgCopy == msg);
    QCOMPARE(msgCopy.toString(3), msg.toString(3));

    // Frame records as payloads.
    VSCAN_MSG canFrame1;
    canFrame1.Id = 0x1234abcd;
    canFrame1.Size = 8;
    canFrame1.Flags = VSCAN_FLAGS_EXTENDED | VSCAN_FLAGS_TIMESTAMP;
    for (int i = 0; i < 8; ++i)
        canFrame1.Data[i] = quint8(0x7f + i);
    canFrame1.Timestamp = 513;
    QByteArray record;
    QVERIFY(ZorBabelFish::fromVscanToQbytearray(canFrame1, record));
    msg.setData(record);
    QVERIFY(ZorBabelFish::fromQbytearrayToCanStr(msg.data().toByteArray(), canStr));
    QCOMPARE(canStr, QStringLiteral("ext 1234abcdh,8,7f 80 81 82 83 84 85 86,513"));
    QVERIFY(ZorBabelFish::fromCanStrToQbytearray(canStr, record));
    msg2.setData(record);
    QVERIFY(msg2.data() == msg.data());

    canFrame1.Id = 0xffffffff;
    QVERIFY(ZorBabelFish::fromVscanToQbytearray(canFrame1, record));
    msg.setData(record);
    QVERIFY(ZorBabelFish::fromQbytearrayToCanStr(msg.data().toByteArray(), canStr));
    QCOMPARE(canStr, QStringLiteral("ext ffffffffh,8,7f 80 81 82 83 84 85 86,513"));

    canFrame1.Id = 0x7f;
    canFrame1.Flags = VSCAN_FLAGS_STANDARD | VSCAN_FLAGS_TIMESTAMP;
    canFrame1.Size = 4;
    const quint8 shortData[8] = {1, 2, 3, 4, 0, 0, 0, 0};
    std::copy(shortData, shortData + 8, canFrame1.Data);
    canFrame1.Timestamp = 65500;
    QVERIFY(ZorBabelFish::fromVscanToQbytearray(canFrame1, record));
    msg.setData(record);
    QVERIFY(ZorBabelFish::fromQbytearrayToCanStr(msg.data().toByteArray(), canStr));
    QCOMPARE(canStr, QStringLiteral("7fh,4,01 02 03 04,65500"));
    QVERIFY(ZorBabelFish::fromCanStrToQbytearray(canStr, record));
    msg2.setData(record);
    QVERIFY(msg2.data() == msg.data());

    // Value macros write their values little-endian.
    ZorBabelFish b;
    QString macroStr = QStringLiteral("7fh,4,canunsigned32(0x4030201),65500");
    QVERIFY(b.resolveCanMacros(macroStr));
    QVERIFY(ZorBabelFish::fromCanStrToQbytearray(macroStr, record));
    msg2.setData(record);
    QVERIFY(msg2.data() == msg.data());
    macroStr = QStringLiteral("7fh,4,canunsigned32(0xffffffff)");
    QVERIFY(b.resolveCanMacros(macroStr));
    QVERIFY(ZorBabelFish::fromCanStrToQbytearray(macroStr, record));
    msg2.setData(record);
    QVERIFY(msg2.data() != msg.data());
    macroStr = QStringLiteral("7fh,4,canunsigned32(4294967295)");
    QVERIFY(b.resolveCanMacros(macroStr));
    QVERIFY(ZorBabelFish::fromCanStrToQbytearray(macroStr, record));
    msg.setData(record);
    QVERIFY(msg2.data() == msg.data());
}

// ---- Modules and project ---------------------------------------------------------------------

void QuorvaneUnitTest::testZorModule()
{
    QDomDocument document = sampleDocument();
    QVERIFY(!document.documentElement().isNull());
    ZorDomModel model(document);
    const QModelIndex projectItem = model.index(0, 0);
    QCOMPARE(model.rowCount(projectItem), int(SampleRows));
    ZorModuleRegistry creators;
    ZorRegistry::PanelCreators panelCreators;
    ZorRegistry::registerAll(creators, panelCreators);
    // The links checked below are those of the program's own module
    // classes: each kind of the sample project must have its class.
    for (int row = 0; row < SampleRows; ++row) {
        const QString type = QuorvaneProject::moduleType(model.index(row, 0, projectItem));
        const ModulePtr made(creators.create(type));
        QVERIFY2(made, qPrintable(QStringLiteral("no module class for \"%1\"").arg(type)));
        QCOMPARE(QString::fromLatin1(made->metaObject()->className()),
                 QString::fromLatin1(SampleRowClasses[row]));
    }

    // Modules of the case; masters go before their slaves when the case ends.
    ModulePtr modules[SampleRows];
    AtExit dropModules([&] {
        for (int row = SampleRows - 1; row >= 0; --row)
            modules[row].reset();
    });
    const auto makeModule = [&](int row) {
        modules[row] = moduleForRow(creators, model, row);
        return modules[row].get();
    };

    // Identity from the project item.
    ZorModule *canusb = makeModule(CanUsbRow);
    QVERIFY(canusb);
    QCOMPARE(canusb->label(), QStringLiteral("Test CAN/USB"));
    QCOMPARE(canusb->type(), QStringLiteral("canusb"));
    QCOMPARE(canusb->description(), QStringLiteral("description is optional"));

    ZorModuleTester tester;
    bindAsMaster(tester, canusb);
    tester.sendWhoAmI(QString());
    QCOMPARE(tester.typeReceived, QStringLiteral("canusb"));
    tester.typeReceived.clear();
    tester.sendWhoAmI(QStringLiteral("wrong label"));
    QCOMPARE(tester.typeReceived, QString());
    tester.sendWhoAmI(QStringLiteral("Test CAN/USB"));
    QCOMPARE(tester.typeReceived, QStringLiteral("canusb"));
    QVERIFY(!canusb->hasPendingInterviews());

    // Interviews. A line counts an answer only once its request is on its
    // way, so they run on a bus: the second CAN interface on the simulated
    // gateway, where the case puts the answers.
    SimGateway sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    ZorModule *can2 = makeModule(CanUsb2Row);
    QVERIFY(can2);
    can2->setProperty(QStringLiteral("Port"), sim.address(), false);
    can2->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
    ZorModuleTester busTester;
    bindAsMaster(busTester, can2);
    FrameWatch frames;
    frames.watch(can2);
    can2->start(QThread::InheritPriority);
    busTester.sendMessage(ZorMessage(KM_COMM_OPEN, KS_REQUEST));
    QTRY_COMPARE_WITH_TIMEOUT(can2->status(), int(ZorModCanInterface::StatusOpen), WaitLimitMs);

    // The request of a line has gone out when the interface reports it sent.
    const auto requestSent = [&](const QString &frame, int count) {
        return QTest::qWaitFor([&] { return frames.sent.count(frame) >= count; }, WaitLimitMs);
    };
    // An answer has been offered to the interviews when the interface
    // reports the frame to its master: it offers a frame before it passes
    // it on.
    const auto offer = [&](const QString &frame) {
        const int seen = frames.received.count(frame);
        return sim.inject(adapterLine(frame))
            && QTest::qWaitFor([&] { return frames.received.count(frame) > seen; }, WaitLimitMs);
    };
    const auto completed = [](const QString &line, const QString &answer) {
        return line.section(QLatin1Char(':'), 0, 3) + QLatin1Char(':') + answer;
    };
    const QString request17 = QStringLiteral("7e5h,8,17 01 00 00 00 00 00 00");
    const QString request23 = QStringLiteral("7e5h,8,23 00 00 00 00 00 00 00");
    const QString line17 = QStringLiteral("CAN:10000:1:") + request17 + QStringLiteral(":7e4h,8,17*");
    const QString line23 = QStringLiteral("CAN:10000:1:") + request23 + QStringLiteral(":7e4h,8,23 00*");
    const QString answer17 = QStringLiteral("7e4h,8,17 00 00 00 00 00 00 00");
    const QString answer23 = QStringLiteral("7e4h,8,23 00 00 00 00 00 00 00");

    const ZorMessage interview(KM_INTERVIEW, KS_REQUEST, line17);
    busTester.sendMessage(interview);
    QVERIFY(can2->hasPendingInterviews());
    QVERIFY(requestSent(request17, 1));
    QVERIFY(offer(QStringLiteral("7e4h,8,16 00 00 00 00 00 00 00")));   // first data byte differs
    QVERIFY(can2->hasPendingInterviews());
    QCOMPARE(busTester.interviewRead, QString());
    QVERIFY(offer(QStringLiteral("7e5h,8,17 00 00 00 00 00 00 00")));   // wrong identifier
    QVERIFY(can2->hasPendingInterviews());
    QCOMPARE(busTester.interviewRead, QString());
    QVERIFY(offer(answer17));
    QTRY_COMPARE_WITH_TIMEOUT(busTester.interviewRead, completed(line17, answer17), WaitLimitMs);
    QVERIFY(!can2->hasPendingInterviews());

    // The same request again is worked through again.
    busTester.sendMessage(interview);
    QVERIFY(requestSent(request17, 2));
    QVERIFY(offer(QStringLiteral("7e4h,8,17 ff ff 00 00 00 00 00")));
    QTRY_COMPARE_WITH_TIMEOUT(busTester.interviewRead,
                              completed(line17, QStringLiteral("7e4h,8,17 ff ff 00 00 00 00 00")), WaitLimitMs);
    QVERIFY(!can2->hasPendingInterviews());

    // Two lines are answered one after the other: an answer to the second
    // while the first is open is not kept.
    busTester.sendMessage(ZorMessage(KM_INTERVIEW, KS_REQUEST, line17 + QLatin1Char('\n') + line23));
    QVERIFY(requestSent(request17, 3));
    QVERIFY(offer(answer23));
    QVERIFY(can2->hasPendingInterviews());
    QVERIFY(offer(answer17));
    QVERIFY(can2->hasPendingInterviews());
    QVERIFY(requestSent(request23, 1));
    QVERIFY(offer(answer23));
    QTRY_COMPARE_WITH_TIMEOUT(busTester.interviewRead,
                              completed(line17, answer17) + QLatin1Char('\n') + completed(line23, answer23),
                              WaitLimitMs);
    QVERIFY(!can2->hasPendingInterviews());
    can2->stop();
    sim.stop();

    // Properties: the key of a name is its first word; the list shows the
    // name a property was created with.
    QCOMPARE(canusb->property(QStringLiteral("Port")), QStringLiteral("COM1"));
    QCOMPARE(canusb->property(QStringLiteral("Baudrate")), QStringLiteral("50000"));
    QCOMPARE(canusb->property(QStringLiteral("unknown")), QString());
    tester.sendGetAllProperties();
    QVERIFY(tester.propsReceived.contains(QStringLiteral("Baudrate=50000")));
    QVERIFY(tester.propsReceived.contains(QStringLiteral("Port=COM1")));
    tester.sendGetProperty(QStringLiteral("Port"));
    QCOMPARE(tester.propRead, QStringLiteral("Port=COM1"));
    tester.sendSetProperty(QStringLiteral("Port"), QStringLiteral("COM2"));
    tester.sendGetProperty(QStringLiteral("Port"));
    QCOMPARE(tester.propRead, QStringLiteral("Port=COM2"));
    tester.sendSetProperty(QStringLiteral("TargetPos [mm]"), QStringLiteral("2.0"));
    tester.sendGetProperty(QStringLiteral("TargetPos [mm]"));
    QCOMPARE(tester.propRead, QStringLiteral("TargetPos=2.0"));
    tester.sendSetProperty(QStringLiteral("TargetPos / my target position"), QStringLiteral("3.0"));
    tester.sendGetProperty(QStringLiteral("TargetPos [mm]"));
    QCOMPARE(tester.propRead, QStringLiteral("TargetPos=3.0"));
    tester.sendGetProperty(QStringLiteral("TargetPos / my target position"));
    QCOMPARE(tester.propRead, QStringLiteral("TargetPos=3.0"));
    tester.sendGetProperty(QStringLiteral("TargetPos"));
    QCOMPARE(tester.propRead, QStringLiteral("TargetPos=3.0"));
    tester.sendSetProperty(QStringLiteral("SetVelocity [mm/s]"), QStringLiteral("20"));
    tester.sendGetAllProperties();
    qDebug() << "readall: " << tester.propsReceived;
    QVERIFY(tester.propsReceived.contains(QStringLiteral("TargetPos [mm]=3.0")));
    QVERIFY(tester.propsReceived.contains(QStringLiteral("SetVelocity [mm/s]=20")));
    QVERIFY(!tester.propsReceived.contains(QStringLiteral("TargetPos / my target position=3.0")));
    QVERIFY(!tester.propsReceived.contains(QStringLiteral("SetVelocity=20")));
    QVERIFY(!tester.propsReceived.contains(QStringLiteral("TargetPos=3.0")));

    // Slaves by label.
    ZorModule *drive = makeModule(DriveRow);
    QVERIFY(drive);
    QVERIFY(drive->addSlave(canusb));
    QVERIFY(drive->addSlave(can2));
    QVERIFY(drive->slaveModules().value(QStringLiteral("CAN/USB 2")));
    QCOMPARE(drive->slaveModules().value(QStringLiteral("CAN/USB 2"))->label(), QStringLiteral("CAN/USB 2"));
    QVERIFY(drive->removeSlave(can2->label()));
    QCOMPARE(drive->slaveModules().firstKey(), QStringLiteral("Test CAN/USB"));
    QVERIFY(!drive->removeSlave(QStringLiteral("xxx")));
    QVERIFY(drive->removeSlave(QStringLiteral("Test CAN/USB")));
    QVERIFY(!drive->removeAllSlaves());
    QVERIFY(drive->addSlave(canusb));
    QVERIFY(drive->addSlave(canusb));
    QVERIFY(drive->removeSlave(QStringLiteral("Test CAN/USB")));
    QVERIFY(!drive->removeSlave(QStringLiteral("Test CAN/USB")));
    QVERIFY(!drive->removeAllSlaves());

    // Which kinds take which slaves.
    ZorModuleMap moduleMap;
    const auto enter = [&](int row) {
        moduleMap.insert(QPersistentModelIndex(model.index(row, 0, projectItem)), modules[row].get());
    };
    ZorModule *drive2 = makeModule(Drive2Row);
    QVERIFY(drive2);
    for (int row : {CanUsbRow, DriveRow, CanUsb2Row, Drive2Row})
        enter(row);
    drive2->setupSlaves(moduleMap);
    QVERIFY(drive2->removeSlave(QStringLiteral("Test CAN/USB")));

    ZorModule *automationMod = makeModule(AutomationRow);
    QVERIFY(automationMod);
    QVERIFY(makeModule(Automation2Row));
    QVERIFY(makeModule(NodeRow));
    for (int row : {AutomationRow, Automation2Row, NodeRow})
        enter(row);
    automationMod->setupSlaves(moduleMap);
    for (const char *label : {"Test CAN/USB", "Drive Test", "CAN/USB 2", "Drive 2"})
        QVERIFY2(automationMod->removeSlave(QLatin1String(label)), label);
    QVERIFY(automationMod->slaveModules().isEmpty());

    ZorModule *testCycleMod = makeModule(TestCycleRow);
    QVERIFY(testCycleMod);
    testCycleMod->setupSlaves(moduleMap);
    QVERIFY(testCycleMod->removeSlave(QStringLiteral("Drive Test")));
    QVERIFY(testCycleMod->removeSlave(QStringLiteral("Drive 2")));
    QVERIFY(!testCycleMod->removeSlave(QStringLiteral("Test CAN/USB")));
    QVERIFY(!testCycleMod->removeSlave(QStringLiteral("CAN/USB 2")));
    QVERIFY(testCycleMod->slaveModules().isEmpty());

    // Direct property writes.
    QCOMPARE(drive->property(QStringLiteral("TestProp1")), QString());
    drive->setProperty(QStringLiteral("TestProp1"), QStringLiteral("Value1"), true, false);
    QCOMPARE(drive->property(QStringLiteral("TestProp1")), QStringLiteral("Value1"));
    drive->setProperty(QStringLiteral("TestProp2"), QStringLiteral("-0.2"), true, false);
    QCOMPARE(drive->property(QStringLiteral("TestProp2")), QStringLiteral("-0.2"));
    drive->setProperty(QStringLiteral("TestProp1"), QStringLiteral("0.1"), true, false);
    QCOMPARE(drive->property(QStringLiteral("TestProp1")), QStringLiteral("0.1"));

    // The project adds and removes modules in its tree.
    std::unique_ptr<QuorvaneProject> project(new QuorvaneProject);
    QVERIFY(project->loadDocument(sampleDocument()));
    qDebug().noquote() << "Project XML before: " << project->model()->document().toString();
    QVERIFY(project->model()->hasRoot());
    QVERIFY(project->addModule(QStringLiteral("drive_canopen")));
    QVERIFY(project->addModule(QStringLiteral("drive_canopen"), QStringLiteral("2nd insert"),
                               QStringLiteral("2nd insertion of drive_canopen")));
    QVERIFY(project->addModule(QStringLiteral("drive_canopen"), QStringLiteral("3rd insert"),
                               QStringLiteral("3rd insertion of drive_canopen")));
    const auto projectRows = [&] { return project->model()->rowCount(project->model()->index(0, 0)); };
    QCOMPARE(project->model()->rowCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(projectRows(), SampleRows + 3, WaitLimitMs);
    qDebug() << "Start remove 2ndInsert: ";
    QVERIFY(project->removeModule(QStringLiteral("2nd insert"), QString(), QModelIndex()));
    QTRY_COMPARE_WITH_TIMEOUT(projectRows(), SampleRows + 2, WaitLimitMs);
    // Every module of the type goes: "Drive Test" and the two added ones.
    QVERIFY(project->removeModule(QString(), QStringLiteral("drive_canopen"), QModelIndex()));
    QTRY_COMPARE_WITH_TIMEOUT(projectRows(), SampleRows - 1, WaitLimitMs);
    qDebug() << "Shutdown project ";
    project.reset();
    qDebug() << "Shutdown project end";
}

// ---- CANopen gateway ---------------------------------------------------------------------------

void QuorvaneUnitTest::testCanOpenGW()
{
    std::unique_ptr<ZorModCanOpenGateway, ZorModuleDeleter> gateway(new ZorModCanOpenGateway);
    ZorModuleTester tester2;
    bindAsMaster(tester2, gateway.get());

    tester2.sendWhoAmI(QString());
    QCOMPARE(tester2.typeReceived, QStringLiteral("canopen_gateway"));

    // The case stands where the gateway's CAN interface stands. It answers
    // each CAN exchange the moment it arrives, as the interface does once
    // the answer frame is in: the exchange message itself comes back,
    // completed. Just before, it hands in an answer that is not the
    // gateway's exchange (a message of its own) but fits the line: the
    // gateway passes it over.
    const SdoCase *current = nullptr;
    QStringList exchanges;
    connect(gateway.get(), &ZorModule::masterOut, &tester2, [&](const ZorMessage &message) {
        if (message.msgType() != KM_INTERVIEW || !message.isRequest() || !current)
            return;
        exchanges << message.data().toString();
        const QString completed = QLatin1String(current->exchange);
        const QString head = completed.section(QLatin1Char(':'), 0, 3);
        gateway->masterIn(ZorMessage(KM_INTERVIEW, KS_ANSWER, head + QLatin1Char(':') + QLatin1String(current->stray)));
        ZorMessage answer(message);
        answer.setMsgState(KS_ANSWER);
        answer.setData(completed);
        gateway->masterIn(answer);
    });
    gateway->start(QThread::InheritPriority);

    for (const SdoCase &c : sdoCases) {
        current = &c;
        exchanges.clear();
        tester2.interviewRead.clear();
        tester2.sendMessage(ZorMessage(KM_INTERVIEW, KS_REQUEST, QLatin1String(c.request)));
        QVERIFY(gateway->hasPendingInterviews());
        QTRY_COMPARE_WITH_TIMEOUT(tester2.interviewRead, QLatin1String(c.result), WaitLimitMs);
        QVERIFY(!gateway->hasPendingInterviews());
        // One exchange, with kind, time-out, count and request frame as its
        // completed form shows them; the expected answer is the gateway's.
        QCOMPARE(exchanges.size(), 1);
        QCOMPARE(exchanges.first().section(QLatin1Char(':'), 0, 3),
                 QString::fromLatin1(c.exchange).section(QLatin1Char(':'), 0, 3));
    }
}

// ---- Shared objects ----------------------------------------------------------------------------

void QuorvaneUnitTest::testSharedObjects()
{
    ZorSharedData &registry = ZorSharedData::instance();
    QuorvaneUnitTestWorker worker;
    worker.start(QThread::InheritPriority);

    int newObjId = registry.registerObject(new QString);
    QVERIFY(newObjId == 1);
    const int sharedId = newObjId;
    const int rounds = 9;
    for (int round = 0; round < rounds; ++round) {
        // The worker takes the letters of the last round away one by one.
        QDeadlineTimer deadline(WaitLimitMs);
        std::unique_ptr<SharedObjectLock> shared(new SharedObjectLock(registry, sharedId));
        while (shared->data() && !shared->data()->isEmpty() && !deadline.hasExpired()) {
            shared.reset();
            QThread::msleep(5);
            shared.reset(new SharedObjectLock(registry, sharedId));
        }
        QString *dataObj = shared->data();
        QVERIFY(dataObj != 0);
        QVERIFY(dataObj->isEmpty());

        // Held, the object is out of the worker's reach.
        *dataObj = QStringLiteral("Granite");
        QThread::msleep(50);
        QCOMPARE(*dataObj, QStringLiteral("Granite"));
        shared->unlock();

        for (int i = 0; i < 3; ++i) {
            QThread::msleep(21);
            newObjId = registry.registerObject(new QString);
            QVERIFY(newObjId > 0);
            SharedObjectLock owl(registry, newObjId);
            QVERIFY(owl.data() != 0);
            QVERIFY(owl.data()->isEmpty());
            *owl.data() = QStringLiteral("Owl was here");
        }
    }

    bool success = registry.removeObject(sharedId);
    QVERIFY(success);
    QString *dataObj = registry.lockObject(sharedId, 0);
    QVERIFY(dataObj == 0);

    QCOMPARE(registry.lastObjectId(), 1 + rounds * 3);
    success = false;
    for (int id = 1; id <= registry.lastObjectId(); ++id)
        success |= registry.removeObject(id);
    QVERIFY(success);
    success = registry.removeAllObjects();
    QVERIFY(!success);
}
