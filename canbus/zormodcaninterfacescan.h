// Bit-rate scan of the CAN interface module.
//
// When "Baudrate" is "scan" (or "scan_passive"), the opening ends here with
// the adapter open at the first rate of "ScanBaudList". At each rate the
// scan waits a moment, sends two NMT commands to all nodes (reset
// communication, then start), and listens: the first frame with an
// identifier of 080h or above (a boot-up message, or any other CANopen
// traffic) ends the scan, and that rate becomes "Baudrate". Without traffic
// the adapter is closed and opened at the next rate; a rate at which the
// adapter fails is dropped for the rest of the scan. When every rate has
// been tried the scan ends in Error ("Baud rate scan failed").
//
// Frames received meanwhile are forwarded as usual; transmit requests are
// refused (KS_FAIL) and no KM_COMM_STATUS is sent. A close request ends the
// scan in Idle, "Baudrate" unchanged, and the opening request is answered
// KS_CANCEL.
#pragma once

#include "zormodcaninterfacestates.h"

namespace CanUsbStates {

struct Scanning : Macho::Link<Scanning, Open>
{
    MACHO_STATE(Scanning)

    struct Box
    {
        bool probeSent = false;
        int rateIndex = 0;
        QList<int> rates;            // bit/s, in the order of "ScanBaudList"
        QElapsedTimer rateTimer;     // since the current rate was opened
    };

    void entry() override;
    void cycle() override;

    // Queues the two NMT probe frames and flushes them.
    bool sendProbe();
    // The current rate written short ("500K", "1M").
    QString currentRateText() const;

private:
    bool readMasterRequests();
    void finishRate();
};

} // namespace CanUsbStates
