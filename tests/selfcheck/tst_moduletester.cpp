// The self-check's master endpoint records only what answers carry, and only
// from answers whose form is right.
#include "zormoduletester.h"
#include "zortest.h"

#include <QtTest>

class TestModuleTester : public QObject
{
    Q_OBJECT
private slots:
    void recordsWhatAnswersCarry()
    {
        ZorModuleTester tester;
        // Description and label may be empty: still three parts.
        tester.masterIn(ZorMessage(KM_WHOAMI, KS_ANSWER, QStringLiteral("canopen_gateway\n\n")));
        QCOMPARE(tester.typeReceived, QStringLiteral("canopen_gateway"));
        tester.masterIn(ZorMessage(KM_GETALLPROPERTIES, KS_ANSWER, QStringLiteral("Port=COM1\n\nBaudrate=50000")));
        QCOMPARE(tester.propsReceived, QStringList({"Port=COM1", "", "Baudrate=50000"}));
        tester.masterIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, QStringLiteral("Port=COM2")));
        QCOMPARE(tester.propRead, QStringLiteral("Port=COM2"));
        tester.masterIn(ZorMessage(KM_INTERVIEW, KS_ANSWER, QStringLiteral("Wait:10:0::x")));
        QCOMPARE(tester.interviewRead, QStringLiteral("Wait:10:0::x"));
    }

    void leavesRecordsForAnythingElse()
    {
        ZorModuleTester tester;
        tester.typeReceived = QStringLiteral("canusb");
        tester.propRead = QStringLiteral("Port=COM1");
        const QList<ZorMessage> ignored = {
            ZorMessage(KM_WHOAMI, KS_REQUEST, QStringLiteral("drive\nx\ny")),
            ZorMessage(KM_GETPROPERTY, KS_FAIL, QStringLiteral("Port=")),
            ZorMessage(KM_INTERVIEW, KS_TIMEOUT, QStringLiteral("CAN:1:0:1h,0:")),
            ZorMessage(KM_STATUS, KS_ANSWER, QStringLiteral("Port=COM9")),
        };
        for (const ZorMessage &m : ignored)
            tester.masterIn(m);
        QCOMPARE(tester.typeReceived, QStringLiteral("canusb"));
        QCOMPARE(tester.propRead, QStringLiteral("Port=COM1"));
        QCOMPARE(tester.interviewRead, QString());
        QVERIFY(tester.propsReceived.isEmpty());

        // A malformed answer fails the check that is running and is not
        // recorded.
        QEXPECT_FAIL("", "a who-am-I answer has three lines", Continue);
        tester.masterIn(ZorMessage(KM_WHOAMI, KS_ANSWER, QStringLiteral("drive\nx")));
        QEXPECT_FAIL("", "property answers are texts", Continue);
        tester.masterIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, 42));
        QCOMPARE(tester.typeReceived, QStringLiteral("canusb"));
        QCOMPARE(tester.propRead, QStringLiteral("Port=COM1"));
    }
};

ZOR_TEST(TestModuleTester)
#include "tst_moduletester.moc"
