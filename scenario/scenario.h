// Scenarios: the real program on the simulated phone, driven from a plain
// text file of set-up lines and events at virtual times.
//
// This header is the language: what a scenario holds, and reading one.
// run.h runs it, timeline.h tells what happened, write.h writes scenario
// lines, disk.h finds scenarios and the files they name on the disk.
#ifndef KLAVOR_SCENARIO_SCENARIO_H
#define KLAVOR_SCENARIO_SCENARIO_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cecab/install.h"
#include "config/config_text.h"
#include "platform/sim/phone.h"

namespace scenario {

// One event. A long scenario holds tens of thousands of them, so what
// only a few kinds carry is kept apart, shared by the copies of the event.
struct Action {
    enum class Kind : std::uint8_t {
        Press, Steal, TapTray, NotifyTray, Choose, DismissMenu, CloseAbout, Close, Install, Remove, Reset
    };
    Kind kind = Kind::Press;
    BYTE vk = 0;              // Press, Steal
    std::uint8_t mods = 0;    // Press, Steal: MOD_WIN, MOD_SHIFT
    int line = 0;
    sim::Time t = 0;
    std::string text;  // what the line said, for the timeline

    struct Rare {
        UINT notification = 0;  // NotifyTray's mouse message
        std::string item;       // Choose's menu item, Remove's application
        std::shared_ptr<const cecab::InstallCabinet> cabinet;  // Install's, read when the scenario is
    };
    std::shared_ptr<const Rare> rare;
    UINT Notification() const { return rare ? rare->notification : 0; }
    const std::string& Item() const;
    const cecab::InstallCabinet* Cabinet() const { return rare ? rare->cabinet.get() : nullptr; }
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
    std::u16string anotherCopyImage;  // the file the other copy runs from, "" for none the phone has
    bool klavorRuns = true;  // false: Klavor runs only once the phone starts it (see Reset)
    std::optional<sim::Time> end;
    std::vector<std::string> setUp;  // the set-up lines as written, without comments
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
// "path: reason", when it cannot. klavor-sim reads them from the disk
// (disk.h); the page, from the files opened with the scenario.
using FileReader =
    std::function<std::optional<NamedFile>(const std::string& name, FileUse use, std::string* error)>;
std::variant<Scenario, ParseError> ParseScenario(const std::string& text, const std::string& file,
                                                 const FileReader& read);

}  // namespace scenario

#endif
