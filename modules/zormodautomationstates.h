// The states of the automation module (ZorModAutomation).
//
//   Root       keeps the script to run; takes start and stop requests
//     Idle     status 0; traces what the slaves send
//     Running  status 1, "Script Started"; one cycle runs the whole script
//     Error    status 10000, "Script Error"; drops what the slaves send
//
// A run that ends normally or by "Stopped by User" goes back to Idle, any
// other failure to Error; a start request leaves Idle and Error for Running,
// a stop request goes to Idle.
#pragma once

#include "zormodstates.h"

#include <QString>

class ZorModAutomation;

namespace Automation {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)

    struct Box
    {
        QString script;
    };

    void init() override;
    ZorModAutomation *automation() const;
    // Works through the requests from the master until one asks for a
    // transition.
    void handleRequests();
};

struct Idle : Macho::Link<Idle, Root>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;
};

struct Running : Macho::Link<Running, Root>
{
    MACHO_STATE(Running)
    void entry() override;
    void exit() override;
    void cycle() override;
};

struct Error : Macho::Link<Error, Root>
{
    MACHO_STATE(Error)
    void entry() override;
    void cycle() override;
};

} // namespace Automation
