// A small running module for tests of panels and the project: it has the
// properties "Port" (COM1) and "UpdateInterval [msec]" (100), reports
// "UpdateInterval" as read-only, and answers KM_START and KM_STOP requests by
// going to status 1 ("Running") and back to 0 ("Stopped").
#pragma once

#include "zormodstates.h"
#include "zormodule.h"

namespace StartStopStates {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)
    void cycle() override;
};

} // namespace StartStopStates

// No Q_OBJECT: the support library's moc output is one object file, and a
// meta-object here would pull every other fixture's into each test program.
class StartStopModule : public ZorModule
{
public:
    explicit StartStopModule(QObject *parent = nullptr);
    ~StartStopModule() override;

    Macho::StateRef rootStateRef() const override;
    int statusPeriod() const override { return 0; }
};
