// What a configuration will do on the phone, told before it gets there.
//
// The check follows what the program does with each captured button:
//   - A captured slot holds its key plain, with Win and with Shift. When
//     two slots of mode free or capture share a key, the later one in the
//     table wins every sweep (it frees the earlier one's hot keys), so
//     only that one can be pressed.
//   - Firing a slot releases its own hot keys, sends its action (Win down,
//     key down, Win up, key up) and captures the slot again. A key-down
//     that another captured slot holds is a press of that slot (the Win
//     key itself is one too, if a slot holds it); the last such press in
//     one action starts the next sequence, at press index 0, or 1 when both
//     presses fall on the same slot.
//   - That press fires after the quiet period (6 ticks) or, when its index
//     reaches the slot's count, on the next tick; and so on.
// Following this from every press a user can make finds the loops that
// never end (errors) and the presses that set off others (warnings).
#ifndef KLAVOR_CONFIG_CONFIG_CHECK_H
#define KLAVOR_CONFIG_CONFIG_CHECK_H

#include <string>
#include <vector>

#include "config_text.h"

namespace config {

struct Finding {
    bool error = false;
    int line = 0;         // where it is reported, 0 if nowhere in particular
    std::string text;     // "file:line: error: ..." or "file: warning: ..."
    std::string message;  // the same without the file, line and kind
    int slot = -1;        // the button it is reported at
    std::vector<int> presses;  // that button's press indices it concerns; none: the button as a whole
    std::vector<int> others;   // the other buttons it names, in order
};

// Everything worth saying about the table, in line order (errors first
// where lines are equal). An error means the program would send keys on
// its own forever; a warning, that it does something the writer may not
// expect.
std::vector<Finding> CheckTable(const Table& table, const Origin& origin);

bool HasError(const std::vector<Finding>& findings);

// The model underneath, for whoever wants to compare it with a run.
// A press sequence, pending on `slot` at press index `index`.
struct Press {
    int slot;
    WORD index;
    bool operator<(const Press& o) const { return slot != o.slot ? slot < o.slot : index < o.index; }
    bool operator==(const Press& o) const { return slot == o.slot && index == o.index; }
};
// What firing one press sequence sets off: presses[0] is the start, each
// later one the sequence the one before starts when it fires. loopsTo is
// the index of the press the last one starts again, or -1 if the last one's
// send presses no button.
struct PressRoad {
    std::vector<Press> presses;
    int loopsTo = -1;
};
PressRoad FollowPress(const Table& table, Press start);
// Ticks from a press to its firing: HOLD_TICKS + 1, or 1 once the index
// reaches the slot's count.
int TicksToFire(const Table& table, Press press);
// The slot a user's press of that slot's own key reaches: false if a later
// slot on the same key takes it away.
bool Pressable(const Table& table, int slot);

// When a button's presses are sent, in words, from the same model:
// "sent 0.5-0.6 s after the press, since a double press is configured".
struct ButtonTiming {
    std::string note;                  // why nothing is sent, for a button that sends nothing of its own
    std::vector<std::string> presses;  // by press index, up to the count the program uses
};
ButtonTiming Timing(const Table& table, int slot);

}  // namespace config

#endif
