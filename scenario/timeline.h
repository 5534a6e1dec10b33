// The timeline: what happened on the simulated phone, told line by line as
// klavor-sim prints it, as soon as each line is final.
#ifndef KLAVOR_SCENARIO_TIMELINE_H
#define KLAVOR_SCENARIO_TIMELINE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/phone.h"

namespace scenario {

// One line. Its text is as printed, without its newline (a message box's
// own lines included). A traced call has a line of its own and no events.
struct TimelineLine {
    sim::Time t = 0;
    std::string text;
    std::size_t event = 0;     // the phone's events the line tells: [event, endEvent)
    std::size_t endEvent = 0;  // (numbers as sim::EventAt takes them)
    sim::Event::Kind kind = sim::Event::Kind::Note;  // of its first event
    sim::Event first;          // that event itself, for a reader that needs more than the text
    std::string keys;          // keys the program sent to the foreground: what it got ("Green*2 (0x09)")
};

// Tells the phone's events, and with `trace` its calls, in the order they
// happened. A line is final once nothing can change it: a call once it has
// returned (until then its time and result are not known, and nothing
// after it is told), keys sent together once the clock has moved on.
class Teller {
public:
    // Lines of events before `fromEvent` are not told: for a caller that
    // kept them from an earlier run that went the same way up to there.
    explicit Teller(bool trace, std::size_t fromEvent = 0);

    // Hands every line that is final now to `out`; with `end`, every line.
    void Tell(const std::function<void(TimelineLine&&)>& out, bool end);
    // Everything before this order (sim::Event::order, sim::Call::order)
    // is told: the phone may forget it (sim::Forget).
    std::uint64_t ToldBefore() const;

private:
    bool trace_;
    std::size_t fromEvent_;
    std::size_t nextEvent_;
    std::size_t nextCall_ = 0;  // the number of the next call among the run's (sim::Trace)
};

// The lines as klavor-sim prints them, each ended by a newline.
std::string JoinTimeline(const std::vector<TimelineLine>& lines);

// The name the timeline gives a virtual key: the labels of codes 0 to 16,
// the buttons' names, "Win", else hex.
std::string KeyName(unsigned vk);

// A message box's text as the lines it shows (the program separates them
// with "\n\r").
std::vector<std::string> BoxLines(const std::u16string& text);

}  // namespace scenario

#endif
