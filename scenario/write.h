// Writing scenarios: the one place scenario lines are made, for whoever
// saves a run to replay it (the page's "Save as a scenario", the soak's
// failures and its shrinker). What is written here reads back with
// ParseScenario to the same run.
#ifndef KLAVOR_SCENARIO_WRITE_H
#define KLAVOR_SCENARIO_WRITE_H

#include <cstdint>
#include <string>
#include <vector>

#include "scenario.h"

namespace scenario {

// A scenario as lines: comments at the head, the set-up, then the events
// at their times since the start.
struct Script {
    std::vector<std::string> heading;  // each a comment line's text, without its "# "
    std::vector<std::string> setUp;    // "config hex ...", "phone up", ...
    struct Event {
        sim::Time t = 0;
        std::string what;  // "press Calendar with Win", "tap tray", ...
    };
    std::vector<Event> events;
};

// A time as a scenario writes it, to the millisecond: "1.500s".
std::string TimeWord(sim::Time t);
// "config hex 02 00 c1 ...": a registry value of any length.
std::string ConfigHexLine(const std::vector<std::uint8_t>& value);
// An event line: "1.500s  press Green".
std::string EventLine(const Script::Event& e);
// The whole text: the heading as comments, the set-up, the events; a blank
// line between the parts.
std::string ScriptText(const Script& script);
// The lines of a scenario that was read: its set-up lines as written and
// its events at their times (a relative time made absolute).
Script ScriptOf(const Scenario& s);

// The words of a press: "press Calendar", "press Green with Win".
std::string PressWords(int slot, UINT mods);

}  // namespace scenario

#endif
