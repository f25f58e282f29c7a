// Helpers of the drive tests: a drive module on node 2 of the simulated
// gateway, whose node 2 is a CiA 402 drive of the independent stack
// ("drive=1"), and reads of what the simulated drive does ("DRIVE 2 STATE").
#pragma once

#include "noderig.h"
#include "zormodposdrive.h"
#include "zortest.h"

#include <QElapsedTimer>
#include <functional>
#include <QMap>
#include <QTest>

namespace DriveTesting {

// A drive module whose results and warnings stay 600 ms, not 5 s.
inline ZorModPosDrive *newDrive()
{
    auto *drive = new ZorModPosDrive;
    drive->setTiming(ZorModNode::ResultHold, 600);
    return drive;
}

// Starts the gateway with node 2 a drive (with these extra node options)
// and the drive module on it, type "drive_canopen", "NodeId" 2.
inline bool startRig(NodeRig &rig, const QString &driveOptions = QString(),
                     const QString &propertiesXml = QString(), ZorModPosDrive *drive = nullptr)
{
    return rig.start({"--node", QStringLiteral("2 drive=1 %1").arg(driveOptions).trimmed()},
                     drive ? drive : newDrive(), QStringLiteral("drive_canopen"),
                     QStringLiteral("<NodeId>2</NodeId>") + propertiesXml);
}

inline ZorMessage request(int type, const QVariant &data = QVariant())
{
    return ZorMessage(type, KS_REQUEST, data);
}

inline void setDriveProperty(NodeRig &rig, const QString &name, const QString &value)
{
    rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, name + QLatin1Char('=') + value));
    rig.waitUntil([&] { return rig.module()->property(name) == value; });
}

// "DRIVE 2 STATE" as key=value pairs (state, mode, sw, cw, pos, vel, fault).
inline QMap<QString, QString> driveState(NodeRig &rig)
{
    QMap<QString, QString> values;
    for (const QString &pair : rig.sim.query(QStringLiteral("DRIVE 2 STATE")).split(QLatin1Char(' '))) {
        const int eq = pair.indexOf(QLatin1Char('='));
        if (eq > 0)
            values.insert(pair.left(eq), pair.mid(eq + 1));
    }
    return values;
}

// Waits until the simulated drive shows that value.
inline bool waitForDrive(NodeRig &rig, const QString &key, const QString &value, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (driveState(rig).value(key) != value) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(30);
    }
    return true;
}

// The interviews sent down from the index on.
inline QStringList interviewsFrom(const NodeRig &rig, int first)
{
    return rig.sentDown(KM_INTERVIEW).mid(first);
}

inline bool isStatusPoll(const QString &interview)
{
    return interview.startsWith(QLatin1String("SDOReadObject:1000:2:2,6041h,0,unsigned16\n"));
}

// Waits for the next interview after `first` that is no status poll.
inline QString nextCommand(NodeRig &rig, int &first, int timeoutMs = 10000)
{
    QString found;
    rig.waitUntil([&] {
        const QStringList sent = rig.sentDown(KM_INTERVIEW);
        while (first < sent.size()) {
            const QString interview = sent.at(first++);
            if (!isStatusPoll(interview)) {
                found = interview;
                return true;
            }
        }
        return false;
    }, timeoutMs);
    return found;
}

// The reports of that type the module sent up (KS_INFO).
inline QList<QVariant> reports(const NodeRig &rig, int type)
{
    QList<QVariant> list;
    for (const ZorMessage &m : rig.fromModule.ofType(type)) {
        if (m.msgState() == KS_INFO)
            list << m.data();
    }
    return list;
}

// Starts the drive and brings it into a mode; false when either failed.
inline bool startInMode(NodeRig &rig, int mode)
{
    if (rig.request(request(KM_DRIVE_START), 20000).msgState() != KS_ANSWER)
        return false;
    return rig.request(request(KM_SET_PROFILE_MODE, mode)).msgState() == KS_ANSWER;
}

inline QString modeInterview(int mode)
{
    return QStringLiteral("SDOWriteObject:1000:2:2,6060h,0h,integer8,%1\n"
                          "SDOWriteObject:1000:10:2,6040h,0h,unsigned16,15\n"
                          "SDOReadObject:1000:2:2,6040h,0h,unsigned16:2,6040h,0h,unsigned16,15\n")
        .arg(mode);
}

inline QString velocityInterview(int velocity)
{
    return QStringLiteral("SDOWriteObject:1000:2:2,6083h,0h,unsigned32,5000\n"
                          "SDOWriteObject:1000:2:2,6084h,0h,unsigned32,5000\n"
                          "SDOWriteObject:1000:2:2,60ffh,0h,integer32,%1\n")
        .arg(velocity);
}

inline QString controlWord(int value)
{
    return QStringLiteral("SDOWriteObject:1000:10:2,6040h,0h,unsigned16,%1\n").arg(value);
}

// The commands (no status polls) sent from `first` on.
inline QStringList commandsFrom(const NodeRig &rig, int first)
{
    QStringList list;
    for (const QString &interview : interviewsFrom(rig, first)) {
        if (!isStatusPoll(interview))
            list << interview;
    }
    return list;
}

// The first command from `first` on that holds the needle.
inline QString commandWith(const NodeRig &rig, int first, const QString &needle)
{
    for (const QString &command : commandsFrom(rig, first)) {
        if (command.contains(needle))
            return command;
    }
    return QString();
}

inline bool reported(const NodeRig &rig, int type, const std::function<bool(const QVariant &)> &match)
{
    for (const QVariant &v : reports(rig, type)) {
        if (match(v))
            return true;
    }
    return false;
}

inline ZorMessage answerOfState(NodeRig &rig, const ZorMessage &request, int state, int timeoutMs = 15000)
{
    ZorMessage found(KM_UNDEFINED, KS_INFO);
    rig.waitUntil([&] {
        for (const ZorMessage &m : rig.fromModule.messages()) {
            if (m == request && m.msgState() == state) {
                found = m;
                return true;
            }
        }
        return false;
    }, timeoutMs);
    return found;
}


} // namespace DriveTesting
