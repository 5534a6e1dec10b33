#include "write.h"

#include <cstdio>

#include "engine/key_table.h"

namespace scenario {

std::string TimeWord(sim::Time t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%03llus", static_cast<unsigned long long>(t / 1000),
                  static_cast<unsigned long long>(t % 1000));
    return buf;
}

std::string ConfigHexLine(const std::vector<std::uint8_t>& value) {
    std::string line = "config hex";
    char b[4];
    for (std::uint8_t byte : value) {
        std::snprintf(b, sizeof b, " %02x", byte);
        line += b;
    }
    return line;
}

std::string EventLine(const Script::Event& e) { return TimeWord(e.t) + "  " + e.what; }

std::string ScriptText(const Script& script) {
    std::string out;
    for (const std::string& l : script.heading) out += l.empty() ? "#\n" : "# " + l + "\n";
    if (!out.empty()) out += "\n";
    for (const std::string& l : script.setUp) out += l + "\n";
    if (!script.setUp.empty() && !script.events.empty()) out += "\n";
    for (const Script::Event& e : script.events) out += EventLine(e) + "\n";
    return out;
}

Script ScriptOf(const Scenario& s) {
    Script script;
    script.setUp = s.setUp;
    for (const Action& a : s.actions) script.events.push_back({a.t, a.text});
    return script;
}

std::string PressWords(int slot, UINT mods) {
    return std::string("press ") + ButtonNames[slot] +
           (mods == MOD_WIN ? " with Win" : mods == MOD_SHIFT ? " with Shift" : "");
}

}  // namespace scenario
