// The CiA 402 device profile as the positioning drive module speaks it.
//
// A CiA 402 drive is run through two objects: the controlword (6040h), whose
// level selects the device state (shutdown, switch on, enable operation, ...)
// and whose bit 4 starts a new set-point or homing on its rising edge, and
// the statusword (6041h), which shows the device state, "target reached"
// (bit 10) and the mode's acknowledge (bit 12). The operation mode is chosen
// in 6060h. Positions travel in encoder increments: 608Fh.1 increments make
// 608Fh.2 revolutions, and the module's user unit is one revolution.
//
// This class holds the words the module writes, the interview lines of the
// drive states (each ended by a line feed, sent to the CANopen gateway) and
// the conversions between user units and increments.
#pragma once

#include <QString>
#include <QStringList>

class ZorDriveProfile
{
public:
    // Controlword values.
    enum ControlWord {
        DisableVoltage = 0,
        Shutdown = 6,
        SwitchOn = 7,
        EnableOperation = 15,      // 0Fh
        StartMotion = 31,          // 1Fh: enable operation, bit 4 new set-point / homing start
        FaultReset = 128,          // 80h
        HaltMotion = 271,          // 10Fh: enable operation, bit 8 halt
        StartHalted = 287,         // 11Fh: bits 4 and 8
        NewSetPointBit = 0x10
    };
    // Statusword bits.
    enum StatusBit { TargetReached = 0x0400, SetPointAcknowledge = 0x1000 };
    // Operation modes (6060h).
    enum Mode { NoMode = 0, ProfilePosition = 1, ProfileVelocity = 3, Homing = 6 };

    static bool isFault(int statusWord) { return (statusWord & 0x4F) == 0x08; }
    // "0637h": four lower-case hexadecimal digits and "h".
    static QString statusWordText(int statusWord);

    // The interview lines of the drive states; %1 the node, %2 the value.
    enum Line {
        ControlWordWrite,          // 6040h, retried ten times
        ControlWordCheck,          // reads 6040h back and expects the value
        ModeWrite,                 // 6060h
        AccelerationWrite,         // 6083h
        DecelerationWrite,         // 6084h
        ProfileVelocityWrite,      // 6081h
        TargetPositionWrite,       // 607Ah
        TargetVelocityWrite,       // 60FFh
        HomingMethodWrite,         // 6098h
        HomeOffsetWrite,           // 607Ch
        SwitchSpeedWrite,          // 6099h.1
        ZeroSpeedWrite,            // 6099h.2
        HomingAccelerationWrite,   // 609Ah
        SwitchAssignmentWrite,     // 60B8h
        StatusWordRead,            // 6041h
        VelocityRead,              // 606Ch
        PositionRead,              // 6063h
        ModeDisplayRead            // 6061h, the mode the drive runs in
    };
    static QString line(Line which, int node, qint64 value = 0);

    // The start-up interview: reset communication, fault reset, drive script
    // stopped, the position scaling read, profile velocity mode with target
    // velocity 0, then shutdown and switch on, each read back.
    static QString startupInterview(int node);
    // Lines of the start-up interview whose answers hold 608Fh.1 and .2.
    enum { NumeratorLine = 3, DenominatorLine = 4 };
    // Mode 0, then switch on, shutdown and disable voltage, each read back.
    static QString stopInterview(int node);
    // The statusword, and with actual values also 606Ch and 6063h.
    static QString statusPoll(int node, bool withActualValues);

    // The non-empty lines of an interview answer.
    static QStringList answerLines(const QString &answer);
    // The last comma field of an answer line as a decimal number.
    static bool lastNumber(const QString &line, qint64 &value);

    // A position in user units as drive increments: the truncation of
    // position x numerator / denominator, computed in double precision.
    // False when it does not fit a 32-bit target.
    static bool toIncrements(double position, quint32 numerator, quint32 denominator, qint32 &increments);
    // Increments as user units: increments x denominator / numerator.
    static double toUserUnits(qint64 increments, quint32 numerator, quint32 denominator);
};
