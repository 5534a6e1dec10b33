// Running a scenario: the real program on a freshly reset simulated phone,
// driven by the scenario's events, its timeline told as it goes.
#ifndef KLAVOR_SCENARIO_RUN_H
#define KLAVOR_SCENARIO_RUN_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/wceload/wceload.h"
#include "scenario.h"
#include "timeline.h"

namespace scenario {

struct Outcome {
    bool started = false;  // Klavor ran at some point
    bool exited = false;   // false: still running when the scenario ended (or never started)
    int exitCode = 0;      // of its last run
    bool running = false;  // still running when the scenario ended
    std::string timeline;  // the whole timeline, unless it was handed out as it went (RunOptions::out)
    std::string fault;     // not empty: the program was stopped by a fault (on the emulated phone)
};

// What runs as the program: the host build's own WinMain unless given. It
// gets WinMain's instance, command line and show state and returns the exit
// code, or throws sim::Halted when the run ends first; any other exception
// is a fault that stops the run.
using Program = std::function<int(HINSTANCE instance, LPWSTR commandLine, int show)>;

// How a file the phone starts (a shortcut's target) becomes the running
// program: the program for the file's bytes, or nullopt and why the phone
// cannot run it. By default the host build's WinMain stands for any ARM
// Windows CE program; klavor-sim --phone runs the file's own bytes.
using Loader = std::function<std::optional<Program>(const std::vector<std::uint8_t>& file, const std::string& path,
                                                    std::string* why)>;

struct RunOptions {
    bool trace = false;  // every call of the phone in the timeline too
    Program program;     // the program that runs at the start
    Loader loader;       // the programs the phone starts
    // The setup programs of the cabinets the phone installs: by default the
    // host build of Klavor's (setup/) stands in for any ARM Windows CE DLL.
    wceload::SetupLoader setupLoader;
    // Called once the phone is set up and the scenario's events are
    // scheduled, just before the program starts, so that events it
    // schedules run after the scenario's own at equal times.
    std::function<void()> started;
    // The timeline's lines, each as soon as it is final; the phone then
    // forgets what was told, so that memory does not grow with phone time.
    // Without it the outcome holds the whole timeline, and the phone all it
    // recorded.
    std::function<void(TimelineLine&&)> out;
    // With `out`: lines of events before this one are not told (see Teller).
    std::size_t tellFrom = 0;
    // False: no timeline at all, for a harness that watches the phone itself.
    bool timeline = true;
};

// Runs the program on a freshly reset phone. A `reset` ends it (and any
// other process); the phone then starts what \Windows\StartUp holds, and a
// shortcut to a program starts it through the loader. The run ends when
// Klavor exits, unless an install or a reset is still to come.
Outcome Run(const Scenario& s, const RunOptions& options = {});
// The same with the whole timeline in the outcome, calls too with `trace`.
Outcome Run(const Scenario& s, bool trace);

// The program's process-wide state as a new process starts with it, and
// its image's icons on the phone. Every run, and every test, starts so.
void NewProgramProcess();

// What klavorcfg's check says of the scenario's configuration, one line
// each ("file:line: warning: ..."); nothing for no value or one of the
// wrong length (the built-in table is then in force).
std::vector<std::string> CheckConfiguration(const Scenario& s);

// What the phone application got, and when: every send of keys, in the
// timeline's words ("Green*2 (0x09)", "Win+Calendar key (0xC1)"). For
// tests that mean exactly that rather than the timeline's layout.
struct Got {
    sim::Time t = 0;
    std::string keys;
    bool operator==(const Got& o) const { return t == o.t && keys == o.keys; }
};
std::vector<Got> AppGot(const Scenario& s, const RunOptions& options = {});

}  // namespace scenario

#endif
