// The soak: the real WinMain on the simulated phone, driven by a seeded
// random stream of events, and checked after every one of them.
//
// A stream is a list of runs. Each run is a klavor-sim scenario: a random
// configuration (modes, keys, counts, actions; loops included), a start-up
// (the phone's window, coredll, sometimes another copy), then presses of
// the eight buttons plain and with Win or Shift, thefts of hot keys, tray
// taps with choices, dismissals and the About box, in bursts and gaps
// around the 100-ms tick and the quiet period before a sequence fires.
// Most runs end with Exit from the tray menu; one in a hundred is ten times
// longer and leaves the phone idle for minutes at a time.
//
// What every run is checked for:
//   - whenever the program is idle (after every event, before and after
//     every tick that may fire or sweep): no key is left down, the Windows
//     key above all, and every key down that reached the foreground
//     application has had its key up;
//   - the hot keys are where the configuration puts them: after every
//     firing the fired slot holds its three again, after every sweep every
//     captured slot holds its keys unless a later slot of mode free or
//     capture takes the same key, thefts last until the next sweep, and
//     nothing else moves (without UnregisterFunc1 a key another program
//     holds stays with it);
//   - a firing sends exactly its action (Win down, key down, Win up, key
//     up) and none of it comes back to the fired slot's own hot keys; a
//     pending sequence fires within six ticks of its last press; keys are
//     sent on no other tick; sweeps come every 301 ticks;
//   - the tray icon, the menu and the About box are open exactly when the
//     taps and choices so far say (a tap while either is open is ignored);
//   - the program exits when the stream says (Exit chosen, or WM_CLOSE sent
//     whatever the tray shows: code 1; another copy running: code 0) and
//     not otherwise, and leaves no hot key, no tray icon and no menu behind.
//
// On the phone's binary (klavor-soak --phone build/phone/klavor.exe) each
// run is the ARM klavor.exe on the emulated phone, checked the same way,
// and its timeline, every call of the phone included, must be the host
// build's for the same run, line for line.
//
// A failing run is shrunk, by dropping events and simplifying its set-up,
// to a small scenario that still fails the same check; klavor-soak prints
// it, and `klavor-soak --replay FILE` checks it again.
//
// The parts: generate.cpp makes the runs (written with the scenario
// library's writer, scenario/write.h); watch.cpp checks one as it goes,
// with the pieces of watch.h (phone_log.cpp, what the phone shows;
// hot_keys.cpp, where the hot keys should be; firing.cpp, each firing and
// its timing; tray.cpp, the tray); shrink.cpp shrinks a failing one.
#ifndef KLAVOR_TESTS_SOAK_H
#define KLAVOR_TESTS_SOAK_H

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/sim/phone.h"
#include "scenario/run.h"
#include "scenario/write.h"

namespace soak {

// A run is a scenario's lines (scenario::Script): the set-up, then the
// events at their times since the start.

// The run as klavor-sim reads it (scenario::ScriptText, then
// scenario::ParseScenario). The soak writes only what klavor-sim takes: a
// refusal is the soak's own fault (std::logic_error).
scenario::Scenario ScenarioOf(const scenario::Script& run);
// The run as a scenario file: the heading (lines, as comments), the
// configuration as `klavorcfg show` writes it (as comments), then the run.
std::string ScenarioText(const scenario::Script& run, const std::string& heading = "");

struct GenerateOptions {
    std::size_t minEvents = 20;
    std::size_t maxEvents = 400;
};
// One random run.
scenario::Script Generate(std::mt19937_64& rng, const GenerateOptions& options = {});

enum class Check {
    None,
    KeyLeftDown,          // a key down, the Windows key above all, without its key up
    HotKeys,              // a hot key where the configuration does not put it
    Firing,               // a firing that sent other keys, or to its own hot keys
    Timing,               // a start-up or a firing not on time
    Tray,                 // the tray icon, menu or About box not as the taps say
    Exit,                 // an exit that is not the stream's, or what it leaves behind
    Identity,             // the phone's binary did not do what the host build did
};
const char* CheckName(Check c);

struct Failure {
    Check check = Check::None;
    sim::Time t = 0;
    std::string what;
};

struct RunResult {
    // The scenario is one the soak cannot judge: events on the program's
    // tick grid, or a tray event at the same time as the event before it.
    // Such runs are neither passed nor failed.
    bool unsupported = false;
    std::string whyUnsupported;
    std::optional<Failure> failure;
    std::size_t events = 0;  // scenario events that ran
    sim::Time phoneTime = 0;
    // What the run exercised, so that a pass says something.
    struct Counts {
        std::size_t firings = 0, firingsWithWin = 0, chained = 0, sweeps = 0, restored = 0, steals = 0, menus = 0,
                    aboutBoxes = 0, exits = 0, closes = 0;
        Counts& operator+=(const Counts& o);
        std::string Text() const;
    } counts;
};

// What runs as the program: the host build's WinMain, or the phone's
// binary on the emulated phone (a scenario::Program), whose run is then
// also compared with the host build's, timeline and calls.
using Phone = scenario::Program;

// Runs the scenario on a fresh phone and checks it all along. `tamper`, if
// given, is called once the run is set up (tests use it to disturb the
// phone behind the program's back).
RunResult CheckRun(const scenario::Scenario& s, const std::function<void()>& tamper = {}, const Phone& phone = nullptr);
RunResult CheckScript(const scenario::Script& run, const std::function<void()>& tamper = {}, const Phone& phone = nullptr);

// Where two timelines first part: the line (from 1), its time, and what
// each side has there; nothing if they agree.
std::optional<Failure> CompareTimelines(const std::string& host, const std::string& phone);

// The smallest run found, within `budget` runs, that `stillFails`: events
// dropped in halves then one by one, then set-up lines and configuration
// slots made plainer.
scenario::Script Shrink(const scenario::Script& failing, const std::function<bool(const scenario::Script&)>& stillFails, std::size_t budget = 3000);
// Shrink by the check that failed, on the same program.
scenario::Script ShrinkFailure(const scenario::Script& failing, Check check, const Phone& phone = nullptr, std::size_t budget = 3000);

}  // namespace soak

#endif
