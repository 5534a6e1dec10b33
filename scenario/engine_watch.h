// Following the program's engine through a run, message by message: each
// press it counted and each sequence it sent, with the events around them.
// For a front that tells a run in the engine's terms (the page's session:
// which presses a send belongs to, what is still waiting).
#ifndef KLAVOR_SCENARIO_ENGINE_WATCH_H
#define KLAVOR_SCENARIO_ENGINE_WATCH_H

#include <cstddef>
#include <vector>

#include "platform/sim/phone.h"

namespace scenario {

// What one message did to the engine, seen around its window procedure.
struct EngineStep {
    bool press = false;  // a hot key; else a tick that sent a sequence
    sim::Time t = 0;
    int slot = 0;
    int before = -1;  // the slot pending before it (-1: none)
    WORD index = 0;   // the press index it reached, or the one it sent
    WORD count = 0;   // press: the highest press index the slot takes
    WORD action = 0;  // send: the action it sent
    int id = 0;       // press: the hot key
    std::size_t event = 0;     // press: the events before it; send: the first event it made
    std::size_t endEvent = 0;  // send: the events after it
};

// Installs itself as the phone's dispatch watch (sim::WatchDispatch) and
// collects every hot key and every tick that sends, in order.
void WatchEngine(std::vector<EngineStep>* steps);

}  // namespace scenario

#endif
