// Scenarios: the real program on the simulated phone, driven from a plain
// text file of events at virtual times, told back as a readable timeline.
#ifndef KLAVOR_TOOLS_SCENARIO_H
#define KLAVOR_TOOLS_SCENARIO_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "config/config_text.h"
#include "config/klavor_cab.h"
#include "platform/sim/phone.h"

namespace scenario {

struct Action {
    enum class Kind { Press, Steal, TapTray, NotifyTray, Choose, DismissMenu, CloseAbout, Install, Reset };
    Kind kind = Kind::Press;
    sim::Time t = 0;
    int line = 0;
    BYTE vk = 0;
    UINT mods = 0;
    UINT notification = 0;
    std::string text;  // what the line said, for the timeline
    std::string item;  // the menu item to choose
    std::shared_ptr<const cecab::InstallCabinet> cabinet;  // Install's, read when the scenario is
};

struct Scenario {
    std::string file;
    std::optional<std::vector<std::uint8_t>> configValue;  // none: no registry value
    std::string configSource;
    config::Origin configOrigin;  // where the value's slots are written, for the check
    bool coredllLoads = true;
    bool coredllExports = true;
    int screenWidth = 240;
    int screenHeight = 320;
    enum class Phone { Up, Never, At } phone = Phone::Up;
    sim::Time phoneAt = 0;
    std::u16string phoneTitle = u"Phone";
    bool anotherCopy = false;
    bool klavorRuns = true;  // false: Klavor runs only once the phone starts it (see Reset)
    std::optional<sim::Time> end;
    std::vector<Action> actions;
};

struct ParseError {
    std::string file;
    int line = 0;
    std::string message;
    std::string Text() const;  // "file:line: message", or "file: message" where no line applies
};

// A file a scenario names, as found: where (for messages) and its bytes.
struct NamedFile {
    std::string path;
    std::string content;
};
enum class FileUse { Config, Cabinet };
// How the parser reads the files a `config FILE` or `install FILE.cab`
// line names (`name` as the line writes it): nullopt, and `error` as
// "path: reason", when it cannot. klavor-sim reads them from the disk; the
// page, from the files opened with the scenario.
using FileReader =
    std::function<std::optional<NamedFile>(const std::string& name, FileUse use, std::string* error)>;
std::variant<Scenario, ParseError> ParseScenario(const std::string& text, const std::string& file,
                                                 const FileReader& read);

// The same from the disk (scenario_files.cpp): a relative name is in the
// scenario's own folder; `filesDir`, if given, is where a cabinet an
// `install` line names by a relative path is looked for first (klavor-sim
// --files).
FileReader DiskFiles(const std::string& scenarioFile, const std::string& filesDir = "");
std::variant<Scenario, ParseError> ParseScenario(const std::string& text, const std::string& file,
                                                 const std::string& filesDir = "");
std::variant<Scenario, ParseError> LoadScenario(const std::string& path, const std::string& filesDir = "");

struct Outcome {
    bool started = false;  // Klavor ran at some point
    bool exited = false;   // false: still running when the scenario ended (or never started)
    int exitCode = 0;      // of its last run
    bool running = false;  // still running when the scenario ended
    std::string timeline;
    std::string fault;  // not empty: the program was stopped by a fault (on the emulated phone)
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

// The program's process-wide state as a new process starts with it, and
// its image's icons on the phone. Every run, and every test, starts so.
void NewProgramProcess();

// What klavorcfg's check says of the scenario's configuration, one line
// each ("file:line: warning: ..."); nothing for no value or one of the
// wrong length (the built-in table is then in force).
std::vector<std::string> CheckConfiguration(const Scenario& s);

// Runs the program on a freshly reset phone. A `reset` ends it (and any
// other process); the phone then starts what \Windows\StartUp holds, and a
// shortcut to a program starts it through `loader`. The run ends when
// Klavor exits, unless an install or a reset is still to come.
Outcome Run(const Scenario& s, bool trace = false, const Program& program = nullptr, const Loader& loader = nullptr);

// The same run, for a harness that watches the program as it goes:
// `started` is called once the phone is set up and the scenario's events
// are scheduled, just before WinMain, so that events it schedules run after
// the scenario's own at equal times. With `trace`, the outcome has the
// timeline, calls included, as Run(s, true) tells it.
Outcome RunWatched(const Scenario& s, const std::function<void()>& started, const Program& program = nullptr,
                   bool trace = false);

// The timeline of the run the phone has just made, line by line: what
// Run tells, for a caller of RunWatched. A line's text is as printed,
// without its newline (a message box's own lines included). A traced call
// has a line of its own and no events.
struct TimelineLine {
    sim::Time t = 0;
    std::string text;
    std::size_t event = 0;     // the phone's events the line tells: [event, endEvent)
    std::size_t endEvent = 0;  // (sim::EventAt)
    sim::Event::Kind kind = sim::Event::Kind::Note;  // of its first event
};
// From `fromEvent` on, the lines of the events from there (a line's first
// event): for a caller that kept the lines before it from an earlier run
// that went the same way up to there.
std::vector<TimelineLine> TimelineLines(bool trace = false, std::size_t fromEvent = 0);
// The lines as klavor-sim prints them, each ended by a newline.
std::string JoinTimeline(const std::vector<TimelineLine>& lines);

// The name the timeline gives a virtual key: the labels of codes 0 to 16,
// the buttons' names, "Win", else hex.
std::string KeyName(unsigned vk);

}  // namespace scenario

#endif
