// Send-sequence player of the CAN interface module.
//
// The module keeps ten small programs, "SendSequence0".."SendSequence9".
// While the adapter is open a master plays one of them with
// KM_PLAYERCMD_PLAY ("3", or "3,count=5" with a start statement); the player
// then runs it one line per cycle and reports each line it reads as
// KM_PLAYER_STATUS (its index from 0; -1 when playing ends). Lines are read
// trimmed and in lower case; the command is the first word:
//
//   send 601h,8,40 00 10 00 00 00 00 00   queue the frame (value macros such
//                                         as canunsigned16(x) allowed); the
//                                         next line runs in the same cycle
//   wait 581h,8,43*[,ms]                  wait for a received frame matching
//                                         the wildcard pattern, at most ms
//   delay ms                              pause
//   do ... loop [until found]             repeat (until a wait matched)
//   ; comment, # comment, // comment      skipped in the same cycle
//   anything else                         a script statement ("count=count+1")
//
// Arguments of send, wait and delay and the statements are evaluated in one
// script engine per playing, so variables live until the sequence ends.
// KM_PLAYERCMD_STOP stops, _PAUSE (data not 0) pauses and (0) resumes,
// _SKIP and _BACK move one line. Frames keep flowing while paused.
#pragma once

#include "zormodcaninterfacestates.h"

#include <memory>

class ZorBabelFish;

namespace CanUsbStates {

struct Playing : Macho::Link<Playing, Open>
{
    MACHO_STATE(Playing)

    struct Box
    {
        std::unique_ptr<ZorBabelFish> engine;
        Box();
        ~Box();
    };

    void entry() override;
    void exit() override;
    void init() override;
    void frameReceived(ZorMessage &frame) override;
    bool playerCommand(ZorMessage &message, bool &stateChanged) override;

    // Runs the sequence on from the current line (NotPaused, once a cycle).
    void playerStep();

private:
    // Executes the current line; true when the next one runs in this cycle.
    bool executeLine();
    int evaluateInt(const QString &expression);
    void sendPlayerStatus(int index);
    void moveTo(int index);
};

struct NotPaused : Macho::Link<NotPaused, Playing>
{
    MACHO_STATE(NotPaused)
    void entry() override;
    void cycle() override;
};

struct Paused : Macho::Link<Paused, Playing>
{
    MACHO_STATE(Paused)
    void entry() override;
    void cycle() override;
};

} // namespace CanUsbStates
