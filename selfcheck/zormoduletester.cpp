#include "zormoduletester.h"

#include <QtTest>

ZorModuleTester::ZorModuleTester(QObject *parent)
    : QObject(parent)
{
}

void ZorModuleTester::sendWhoAmI(const QString &recipient)
{
    ZorMessage message(KM_WHOAMI, KS_REQUEST);
    message.setRecipient(recipient);
    emit masterOut(message);
}

void ZorModuleTester::sendGetAllProperties()
{
    emit masterOut(ZorMessage(KM_GETALLPROPERTIES, KS_REQUEST));
}

void ZorModuleTester::sendGetProperty(const QString &name)
{
    emit masterOut(ZorMessage(KM_GETPROPERTY, KS_REQUEST, name));
}

void ZorModuleTester::sendSetProperty(const QString &name, const QString &value)
{
    emit masterOut(ZorMessage(KM_SETPROPERTY, KS_REQUEST, name + QLatin1Char('=') + value));
}

void ZorModuleTester::sendMessage(const ZorMessage &message)
{
    emit masterOut(message);
}

// A failed check counts against the check that is running and leaves the
// records as they were.
void ZorModuleTester::masterIn(const ZorMessage &msg)
{
    if (msg.msgState() != KS_ANSWER)
        return;
    // The check fails the test function that is running; the explicit
    // return keeps the records also where a test expects that failure.
    const bool isText = msg.data().userType() == QMetaType::QString;
    switch (msg.msgType()) {
    case KM_WHOAMI: {
        const QStringList result = msg.data().toString().split(QLatin1Char('\n'));
        const bool wellFormed = isText && result.size() == 3;
        QVERIFY(wellFormed);
        if (wellFormed)
            typeReceived = result.first();
        break;
    }
    case KM_GETALLPROPERTIES:
        QVERIFY(isText);
        if (isText)
            propsReceived = msg.data().toString().split(QLatin1Char('\n'));
        break;
    case KM_GETPROPERTY:
        QVERIFY(isText);
        if (isText)
            propRead = msg.data().toString();
        break;
    case KM_INTERVIEW:
        QVERIFY(isText);
        if (isText)
            interviewRead = msg.data().toString();
        break;
    default:
        break;
    }
}
