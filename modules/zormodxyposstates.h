// The states of the XY positioning module (zormodxypos.h):
//
//   Root            the axes' last states and the target sync flags
//     Idle          status 0; slave assignment, waits for a start
//     Initializing  status 1000; both drives are started
//     Positioning   status 1; targets go to the drives once still
//
// A sync flag makes the next actual position of its axis the axis's target:
// set on entering Positioning and whenever the CAN interface does not run
// (its send sequences may move the drives), cleared by the first actual
// position that arrives while the interface runs, or at once without one.
// A target taken over this way is where the drive stands: it is not sent,
// so starting moves nothing until the user moves the target.
//
// The module follows its slaves as the project links and unlinks them: a
// changed slave map chooses the axes and the interface again, and an axis
// drive that goes while positioning stops the positioning.
#pragma once

#include "zormodstates.h"

#include <QElapsedTimer>
#include <QMap>

namespace XYPanel {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)

    struct Box
    {
        int statusX = 0;
        int statusY = 0;
        int interfaceStatus = 0;
        bool syncTargetX = false;
        bool syncTargetY = false;
        // The slave map last seen, label -> type.
        QMap<QString, QString> slaves;
        bool slavesSeen = false;
    };

    void init() override;

    bool isDriveX(const ZorMessage &message) const;
    bool isDriveY(const ZorMessage &message) const;
    // Reports passed up, statuses noted, send-sequence names taken over.
    void processDriveMsgBasic(const ZorMessage &message);
    void sendTarget(const QString &driveLabel, const QString &target);
    void sendToLabel(int type, const QString &label, const QVariant &data = QVariant());
    // An interface runs (status 1) or none is assigned.
    bool interfaceRunning() const;
    // Chooses the axes and the interface among the slaves (a kept label
    // stays while it names a slave) and sets the three label properties;
    // asks the interface for its sequence names when it is new (or always).
    // True when an axis label changed.
    bool assignLabels(bool askNamesAlways);
    // Assigns again when the slave map changed since the last look; true
    // when an axis label changed then.
    bool followSlaveMap();
    static bool isStop(const ZorMessage &message);
    // name and value of a property text split at its first "=".
    static void splitProperty(const QString &text, QString &name, QString &value);
};

struct Idle : Macho::Link<Idle, Root>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;

private:
    void assignSlaves(ZorMessage request);
};

struct Initializing : Macho::Link<Initializing, Root>
{
    MACHO_STATE(Initializing)
    void entry() override;
    void cycle() override;
};

struct Positioning : Macho::Link<Positioning, Root>
{
    MACHO_STATE(Positioning)

    struct Box
    {
        QString lastTargetX;
        QString lastTargetY;
        bool pendingX = false;
        bool pendingY = false;
        QElapsedTimer settleTimer;
        // The axis has reported its actual position in this run.
        bool actualSeenX = false;
        bool actualSeenY = false;
    };

    void entry() override;
    void exit() override;
    void cycle() override;

private:
    void processDriveMsg(const ZorMessage &message);
    // Tells the master why an axis drive did not take its target.
    void reportFailedMove(const ZorMessage &answer);
    // False when a stop request ended the reading.
    bool readMasterMessages();
    void takeChangedTargets();
};

} // namespace XYPanel
