// A stand-in for the CAN interface module in tests of the modules above it:
// a module of type "canusb" that opens the CAN-over-TCP driver at its port
// (the simulated gateway's address) and does, in its own thread, what the
// gateway expects of a CAN interface: received frames go to its masters as
// KM_CAN_FRAME (KS_INFO), KM_CAN_FRAME requests are sent and answered, and
// "CAN" interview lines send their request frame and are answered by the
// first received frame that matches their expected one.
//
// Test fixture only; the program uses ZorModCanInterface.
#pragma once

#include "zormodule.h"

class TestCanInterface : public ZorModule
{
    Q_OBJECT
public:
    TestCanInterface(const QString &label, const QString &port, QObject *parent = nullptr);
    ~TestCanInterface() override;

    Macho::StateRef rootStateRef() const override;
    int statusPeriod() const override { return 0; }

    QString port() const { return m_port; }

private:
    QString m_port;
};
