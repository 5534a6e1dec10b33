// klavor-sim's scenario parser, and a short run of the program on what it
// accepts. A refusal names the file and the line; a scenario that parses
// runs without a fault and leaves the phone clean once the program exits:
// no hot key and no tray icon of its own, no key held down. Then it runs
// again under the soak's checks (tests/soak), where they can judge it.
//
// The scenario is taken to sit in examples/, so that its configuration
// and install lines can name the example files; a line naming a file
// elsewhere is not run (the fuzzer would read the machine's files,
// /dev/zero among them).
#include <algorithm>
#include <map>
#include <sstream>

#include "base/text.h"
#include "fuzz_check.h"
#include "engine/key_table.h"
#include "platform/sim/phone.h"
#include "scenario/disk.h"
#include "scenario/run.h"
#include "tests/soak/soak.h"

namespace {

const std::string kFile = std::string(KLAVOR_SOURCE_DIR) + "/examples/fuzz.scenario";
constexpr sim::Time kLongestRun = 120 * 1000;  // phone time: long enough for the first sweep

using base::Lower;

// A line that names a file: a configuration, or a cabinet to install
// (an event, after its time). Any '/' in the rest of it is taken to lead
// out of examples/.
bool NamesAFileOutsideExamples(const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line = Lower(line.substr(0, line.find('#')));
        if (line.find('/') == std::string::npos) continue;
        std::istringstream words(line);
        std::string word, rest;
        words >> word;
        if (word == "at") words >> word >> word;  // at TIME install ...
        else if (!word.empty() && (std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '+')) words >> word;
        std::getline(words, rest);
        rest.erase(0, rest.find_first_not_of(" \t\r"));
        if (word == "install") return true;
        if (word == "config" && rest.compare(0, 3, "hex") != 0) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::Text(data, size);
    if (NamesAFileOutsideExamples(text)) return 0;
    auto parsed = scenario::ParseScenario(text, kFile);
    if (auto* error = std::get_if<scenario::ParseError>(&parsed)) {
        FUZZ_CHECK(error->line > 0 && fuzz::NamesFileAndLine(error->Text(), kFile),
                   "a refusal must name the file and line: " + error->Text());
        return 0;
    }
    scenario::Scenario s = std::get<scenario::Scenario>(parsed);
    (void)scenario::CheckConfiguration(s);
    // A short run: what happens after the first two minutes is more of the same.
    s.actions.erase(std::remove_if(s.actions.begin(), s.actions.end(),
                                   [](const scenario::Action& a) { return a.t > kLongestRun; }),
                    s.actions.end());
    if (!s.end || *s.end > kLongestRun) s.end = kLongestRun;
    if (s.phone == scenario::Scenario::Phone::At) s.phoneAt = std::min(s.phoneAt, kLongestRun);
    scenario::Outcome o = scenario::Run(s, size % 2 == 1);

    if (s.anotherCopy && o.exited) FUZZ_CHECK(o.exitCode == 0, "a second copy exits with 0");
    if (o.exited) {
        FUZZ_CHECK(o.exitCode == 0 || o.exitCode == 1, "exit code " + std::to_string(o.exitCode));
        for (const sim::HotKey& k : sim::HotKeys())
            FUZZ_CHECK(sim::OwnerOf(k.hwnd) != sim::kProgram, "a hot key left behind: id " + std::to_string(k.id));
        for (const sim::TrayIcon& t : sim::TrayIcons())
            FUZZ_CHECK(sim::OwnerOf(t.hwnd) != sim::kProgram, "the tray icon left behind");
    }
    // Every key that went down came up again: hardware presses are whole,
    // and the program sends every key down with its key up.
    std::map<unsigned, bool> down;
    for (const sim::Event& e : sim::Events()) {
        if (e.kind == sim::Event::Kind::HotKeyPosted) down[e.vk] = true;
        if (e.kind == sim::Event::Kind::KeyToForeground) down[e.vk] = !e.up;
    }
    for (const auto& [vk, isDown] : down) FUZZ_CHECK(!isDown, "key " + sim::Hex(vk) + " is left down");

    soak::RunResult checked = soak::CheckRun(s);
    if (!checked.unsupported && checked.failure)
        FUZZ_CHECK(false, std::string(soak::CheckName(checked.failure->check)) + " at " +
                              std::to_string(checked.failure->t) + " ms: " + checked.failure->what);
    return 0;
}
