// ZorModCanInterface: the module that owns one CAN adapter.
//
// It picks a driver from its "Port" property, opens it at the bit rate of
// "Baudrate" (or finds the bus's bit rate by a scan when that is "scan"),
// and then carries frames: every received frame goes to the masters (as
// KM_CAN_FRAME, KS_INFO) and to the slaves (the adapter's echoes of sent
// frames to the slaves only, as KS_ANSWER); KM_CAN_FRAME requests of the
// masters are written to the bus; "CAN" interview lines are carried out
// against the bus; a KM_COMM_STATUS report with the traffic bits goes out
// every 200 ms. It also plays the ten send sequences "SendSequence0".."9"
// (see zormodcaninterfaceplayer.h). Its states are in CanUsbStates
// (zormodcaninterfacestates.h).
//
// The masters are the peers that command it: its set-up panel, the CAN
// sender, and the CANopen gateway modules that work through it; its slaves
// (the CAN monitor) see every frame that passes.
//
// Requests from a master (KS_REQUEST, answered with the same message):
//   KM_COMM_OPEN / KM_START   open the adapter; answered once, when the
//                             opening (or scan) ends: KS_ANSWER, KS_FAIL
//                             with the error text, or KS_CANCEL when a close
//                             abandons it. While open: KS_ANSWER at once.
//   KM_COMM_CLOSE / KM_STOP   close; KS_ANSWER.
//   KM_COMM_SET_BAUD          (closed only) "Baudrate" = data; KS_ANSWER.
//   KM_CAN_FRAME              (open only) data: a 16-byte frame record;
//                             KS_ANSWER when queued to the bus, else KS_FAIL.
//   KM_PLAYERCMD_PLAY "n[,statement]", _STOP, _PAUSE (int), _SKIP, _BACK.
//   KM_INTERVIEW              "CAN" lines such as
//                             "CAN:1000:1:7e5h,8,17 01 00 00 00 00 00 00:7e4h,8,17*".
// Reports to the masters: KM_STATUS (status numbers below), KM_INFOTEXT,
// KM_COMM_STATUS (traffic bits, also to the slaves), KM_PLAYER_STATUS,
// KM_CAN_FRAME; KM_SETPROPERTY notices when the scan sets "Baudrate".
#pragma once

#include "zorcandriverfactory.h"
#include "zormodule.h"

#include <QStringList>
#include <functional>
#include <mutex>

class ZorAbstractCanDriver;

class ZorModCanInterface : public ZorModule
{
    Q_OBJECT
public:
    // Module status numbers (KM_STATUS data).
    enum Status {
        StatusIdle = 0,
        StatusOpen = 1,
        StatusPlaying = 2,
        StatusPaused = 3,
        StatusOpening = 1000,
        StatusScanning = 1010,
        StatusUpdating = 1011,
        StatusError = 2000,
        // Added to 1, 2 or 3 while receiving from the adapter fails.
        StatusRxFailing = 1000,
    };

    // Traffic bits of KM_COMM_STATUS (drivers add their own status bits).
    enum TrafficBit {
        TrafficSent = 0x01,          // frames were flushed to the adapter
        TrafficReceived = 0x02,      // frames were received
        TrafficRxFailed = 0x04,      // taking received frames failed
        TrafficEmergency = 0x10,     // identifier 081h..0ffh seen
        TrafficHeartbeat = 0x20,     // identifier 701h..77fh seen
        TrafficCanOpen = 0x40,       // identifier 080h or above seen
    };

    // Frame-record flag: the adapter's echo of a frame this module sent.
    static constexpr quint8 EchoFlag = 0x80;

    // Timing of the bit-rate scan, in ms: from opening a rate to sending the
    // probe, listening after the probe, pause after closing the adapter.
    struct ScanTiming
    {
        int probeDelayMs = 20;
        int listenMs = 400;
        int pauseMs = 50;
    };

    // Makes the driver of a kind; by default ZorCanDriverFactory::create.
    using DriverFactory = std::function<ZorAbstractCanDriver *(ZorCanDriverFactory::Kind)>;

    explicit ZorModCanInterface(QObject *parent = nullptr);
    // A module without a project item (tests, tools): label and type given.
    ZorModCanInterface(const QString &label, const QString &type, QObject *parent = nullptr);
    ~ZorModCanInterface() override;

    // The module-type keys this class serves: "canusb" and "kelvatro".
    static QStringList typeKeys();
    // For the set-up panel: the driver keys "vedozovo", "brenko", "zazevavi",
    // "vscom", "net", "ixxat", then the adapter plug-in keys.
    static QStringList interfaceTypes();

    // "Port" (empty becomes "(first found)"), "Baudrate" ("scan",
    // "scan_passive" or a bit rate in the short form "250K", kept within
    // 20K..1M) and "ScanBaudList" (bit rates in bit/s, doubles dropped) are
    // normalised; false when a value had to be corrected.
    bool propertyChanged(const QString &key, QString &value) override;
    Macho::StateRef rootStateRef() const override;
    bool statusToSlaves() const override { return true; }
    // Received frames that may wait for the module host before further ones
    // are dropped (and shown as dropped in the status text): about a second
    // of a saturated 1 Mbit/s bus.
    static constexpr int FrameBacklog = 20000;
    int frameBacklogLimit() const override { return FrameBacklog; }

    // The "kelvatro" type: never scans, its status text shows no bit rate.
    bool isKelvatro() const;

    void setScanTiming(const ScanTiming &timing);
    ScanTiming scanTiming() const;
    // Replaces the driver maker (tests: drivers with short time-outs, or
    // doubles). Set it before the module starts.
    void setDriverFactory(const DriverFactory &factory);
    ZorAbstractCanDriver *createDriver(ZorCanDriverFactory::Kind kind) const;

private:
    void addProperties();

    mutable std::mutex settingsMutex;
    ScanTiming m_scanTiming;
    DriverFactory m_driverFactory;
};

// Creator for the project's module registry, for the type keys of
// ZorModCanInterface::typeKeys().
ZorModule *createCanInterfaceModule(QObject *parent);
