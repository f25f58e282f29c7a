// ZorModuleTester: stands where a master module stands, in front of a
// module under test.
//
// Bound like a master (its masterOut to the module's slaveIn, the module's
// slaveOut to its masterIn), it sends the generic requests and any message
// given to it, and records what the answers carry: the type from a
// KM_WHOAMI answer, the property lines of KM_GETALLPROPERTIES, the
// "key=value" of KM_GETPROPERTY and the completed lines of a KM_INTERVIEW.
// Only answers (KS_ANSWER) are looked at. The records carry no lock: the
// tester and the module object live in the thread that runs the check, and
// the module's answers reach masterIn in that thread.
#pragma once

#include "zormessage.h"

#include <QObject>
#include <QStringList>

class ZorModuleTester : public QObject
{
    Q_OBJECT
public:
    explicit ZorModuleTester(QObject *parent = nullptr);

    // Each sends a new request (a new message id) through masterOut.
    // An empty recipient leaves the message without one.
    void sendWhoAmI(const QString &recipient);
    void sendGetAllProperties();
    void sendGetProperty(const QString &name);
    void sendSetProperty(const QString &name, const QString &value);
    // Sends a copy of the message, its id unchanged.
    void sendMessage(const ZorMessage &message);

    QString typeReceived;
    QStringList propsReceived;
    QString propRead;
    QString interviewRead;

signals:
    void masterOut(const ZorMessage &message);

public slots:
    void masterIn(const ZorMessage &msg);
};
