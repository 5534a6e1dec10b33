// Trying a configuration on the simulated phone, as the page does it.
//
// A session is a scenario: the configuration, the phone, and the owner's
// presses and taps at their times since the session began. What the page
// shows is klavor-sim's own run of that scenario (the same parser, runner
// and timeline), made again from the start whenever an input is added, and
// told up to the moment asked for. While it runs, the engine is followed
// message by message, so that each key the phone application gets can be
// told with the presses that made it, and a sequence still waiting with
// when it will be sent.
#ifndef KLAVOR_WEB_API_SESSION_H
#define KLAVOR_WEB_API_SESSION_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/config_text.h"
#include "scenario/run.h"
#include "scenario/write.h"

namespace page {

// A press of a button the engine counted: its hot key reached the program.
struct CountedPress {
    sim::Time t = 0;
    bool injected = false;   // from a key the program itself sent
    std::size_t line = 0;    // the timeline's "hot key ... to Klavor" line
};

// Presses of one button counted together, and how that ended.
struct Sequence {
    int slot = 0;
    WORD count = 0;  // the highest press index the slot takes
    std::vector<CountedPress> presses;
    enum class End { Open, Sent, Dropped, Stopped } end = End::Open;
    sim::Time endAt = 0;   // when it was sent, dropped or stopped
    WORD index = 0;        // Sent: the press index it sent
    WORD action = 0;       // Sent: the action it sent
    int droppedBy = -1;    // Dropped: the button whose press dropped it
    std::optional<std::size_t> sentLine;  // Sent: the first line the sending made
};

class Session {
public:
    // A fresh session: Klavor starting with this table on a phone whose
    // application has this title ("Phone", or "Телефон" on a Russian phone).
    void Start(const config::Table& table, const std::string& phoneTitle);
    // A scenario file to replay as it stands; the files its config and
    // install lines name are looked for among `files` (by name, folders
    // ignored). The message says what is wrong, as klavor-sim says it.
    std::optional<std::string> Replay(const std::string& name, const std::string& text,
                                      const std::map<std::string, std::string>& files);

    // The owner's inputs, at times not before the last one: a press of
    // slot's button (mods 0, MOD_WIN or MOD_SHIFT), and what is done with
    // the tray: "tap", "dismiss", "close" or "choose" with the item. None
    // while a scenario is replayed.
    std::optional<std::string> Press(sim::Time t, int slot, unsigned mods);
    std::optional<std::string> Tray(sim::Time t, const std::string& what, const std::string& item);

    // The scenario to save: klavor-sim prints the same timeline for it.
    std::string ScenarioText() const { return replay_ ? text_ : scenario::ScriptText(script_); }
    const std::string& Name() const { return name_; }

    // What the page shows at `now`, as JSON: the timeline's lines up to now
    // (from the first that changed since the last call, or all), what each
    // press and send belongs to, the sequence waiting, the open menu or
    // box, whether Klavor runs.
    std::string View(sim::Time now, bool all);

    // The run as it stands (made first if an input came since).
    const std::vector<scenario::TimelineLine>& Lines();
    const std::vector<Sequence>& Sequences();

private:
    struct Modal {
        sim::Time t = 0;
        std::size_t line = 0;  // the first line at or after the change
        bool menu = false;     // else a message box; none open when neither
        bool open = false;
        std::vector<std::string> items;  // the menu's, or the box's lines
        std::string caption;
        bool tray = false;  // the program's tray icon is there
    };

    void Add(sim::Time t, const std::string& what);
    void Run();

    std::string name_;
    scenario::Script script_;  // a live session's
    std::string text_;         // a replayed scenario's, as opened
    // The scenario as parsed: a live session's inputs are parsed one by one
    // as they come, each as its own line would be.
    std::optional<scenario::Scenario> parsed_;
    // The earliest time of the inputs added since the last run: the lines
    // before it stay as that run made them (the run goes the same way up to
    // there), and only the rest are told again.
    std::optional<sim::Time> changedAt_;
    bool replay_ = false;
    sim::Time lastInput_ = 0;
    std::size_t inputs_ = 0;

    bool fresh_ = false;  // the run below is of text_
    std::optional<std::string> error_;
    std::vector<scenario::TimelineLine> lines_;
    std::vector<Sequence> sequences_;
    std::vector<Modal> modals_;
    scenario::Outcome outcome_;
    std::size_t changedFrom_ = 0;  // the first line that differs from the last run's
    std::size_t shown_ = 0;        // lines the last View told
};

}  // namespace page

#endif
