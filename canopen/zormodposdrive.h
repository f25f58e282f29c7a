// ZorModPosDrive: the module behind one CiA 402 positioning drive (types
// "drive_canopen", "drive_ruxa", "drive_tamrix").
//
// It is a node module (zormodnode.h): its slave is a CAN interface, reached
// through a CANopen gateway, and everything it does on the bus is an
// interview of SDO and NMT lines. Its states (zormodposdrivestates.h) start
// the drive, run it in profile velocity, profile position or homing mode and
// poll its statusword and actual values.
//
// Requests from its masters (its panels, test cycles, two-axis modules):
//   KM_START, KM_DRIVE_START       start: communication, then the start-up
//                                  interview; answered KS_ANSWER once
//                                  "Operating", KS_FAIL on error
//   KM_STOP, KM_DRIVE_STOP         stop sequence; answered once "Idle"
//   KM_SET_PROFILE_MODE <mode>     0 operational, 1 profile position,
//                                  3 profile velocity, 6 homing
//   KM_DRIVE_GO_TO_TARGET <1..4>   move to "TargetPosition" (1 set-point,
//                                  2 set-point halted, 3 halt, 4 go on)
//   KM_DRIVE_GO_TO_EXTENDED        "position,flags[,velocity,acc,dec]": a
//                                  move with its own profile; flag t: only
//                                  when the last target was reached, i: a
//                                  KS_INFO "target reached" follows
//   KM_DRIVE_START_HOMING <method> homing (method 0..35)
//   KM_GET_ACTUAL_POSITION, KM_GET_ACTUAL_VELOCITY  the last values read
//   KM_OBJLIST_WRITE, KM_OBJLIST_READ  object lists, as for any node
// Motion requests are answered from their interview: KS_ANSWER once the
// drive took every line, KS_FAIL (or the gateway's state) when it refused
// one; a request the current state does not serve is answered KS_REJECT.
//
// The CAN interface's "Baudrate", when it answers a panel's KM_MASTER_OUT
// request for it or announces a change, goes to the masters as the notice
// KM_SETPROPERTY "InterfaceBaudrate=<rate>" (not a property of the drive).
//
// Reports: KM_STATUS (0 idle, 1 operating, 2 velocity, 3 position, 4 homing
// mode, 1000 starting, raised by 1000 while a warning shows, 2000 error),
// KM_INFOTEXT, and with every fifth status poll KM_GET_ACTUAL_VELOCITY
// (rpm), KM_GET_ACTUAL_POSITION (user units) and KM_DRIVE_STATUS ("0637h").
//
// Properties: those of the node module and "TargetVelocity",
// "TargetPosition", "TargetPositionMin/Max", "TargetVelocityMin/Max",
// "Acceleration", "Deceleration", "PositionVelocity", "HomingOffset",
// "HomingVelocitySeekSwitch", "HomingVelocitySeekZero",
// "HomingAcceleration", "HomingHomeSwitch", "HomingLeftSwitch",
// "HomingRightSwitch", "KelvatroUpdateFile", "RebootTimeout" (ms the
// module waits for the drive's boot-up after a node id or bit-rate change,
// 30000 by default). Positions are in user units:
// a target p goes to the drive as p x 608Fh.1 / 608Fh.2 increments.
#pragma once

#include "zormodnode.h"

#include <QString>
#include <atomic>
#include <mutex>

class ZorModPosDrive : public ZorModNode
{
    Q_OBJECT
public:
    // Waits of the maintenance states, in ms; settable so that tests and
    // slow set-ups can change them.
    enum DriveTiming {
        DownloadWindDown,  // a stopped or failed download ends after (5000)
        RebootTimeout,     // the wait for the drive's boot-up: the property
                           // "RebootTimeout" (30000)
        KelvatroSettle,    // before and after the copy to the SD card (500)
        DriveTimingCount
    };

    explicit ZorModPosDrive(QObject *parent = nullptr);
    ~ZorModPosDrive() override;

    void setDriveTiming(DriveTiming which, int ms);
    int driveTiming(DriveTiming which) const;

    // "kelvatro" for a "drive_tamrix", else "canusb,ethernet".
    QString acceptedSlaveTypes() const override;
    // A new class or key in "AccessKeySet" is to be written to the drive.
    bool propertyChanged(const QString &key, QString &value) override;
    Macho::StateRef rootStateRef() const override;

    // The access key entered last: forgotten at start, and whether a newly
    // entered one waits to be written (taking it clears the flag). Any
    // thread.
    void forgetAccessKey();
    bool takeAccessKeyPending();

    // Output of the drive-script tools to the masters: KM_SCRIPT_MSG,
    // KS_INFO, "0,StdOut:<text>" or "0,StdErr:<text>", the library name
    // "targetlib" written as "drive".
    void sendScriptOutput(const QString &text, bool errorStream);

    // What the states keep beyond their own data (which opening
    // communication resets): the arguments of a node parameter request and
    // requests that wait for communication. Module thread only.
    struct NodeParameters
    {
        quint8 newNodeId = 0;       // 0: keep
        quint32 newBitRate = 0;     // bit/s, 0: keep
        quint32 serialNumber = 0;   // 0: address the drive globally
        bool readSerial = false;    // read the drive's identity (1018h) first
        // Vendor id, product code and revision number read with the serial
        // number: the LSS address of a selective switch.
        quint32 identity[3] = {};
    };
    NodeParameters nodeParameters;
    QList<ZorMessage> deferredRequests;

private:
    std::mutex accessKeyMutex;
    QString accessKeyText;   // class and key, comma-separated
    std::atomic<bool> accessKeyPending{false};
    std::atomic<int> driveTimings[DriveTimingCount];
};

// Creator for the project's module registry ("drive_canopen", "drive_ruxa",
// "drive_tamrix").
ZorModule *createPosDriveModule(QObject *parent);
