// The names of virtual keys that configurations and scenarios accept, and
// the one name each code is printed by. One table for every tool.
//
// Accepted, case ignored: the platform's names without the VK_ prefix
// (BACK, TAB, RETURN, ESCAPE, SPACE, PRIOR, NEXT, END, HOME, LEFT, UP,
// RIGHT, DOWN, DELETE, 0-9, A-Z, LWIN, F1-F24, APP1-APP6), the phone's own
// names (TSOFT1, TTALK, TEND, TVOLUMEUP, T0-T9 ...) and the aliases people
// type (Enter, Esc, Backspace, PageUp, PageDown).
//
// Printed: the phone's name where the platform's is an F-key a phone user
// never sees (TTalk, not F3), otherwise the everyday name (Enter, Esc,
// Backspace, PageUp, Up, A, 5, App1, F5).
#ifndef KLAVOR_CONFIG_KEY_NAMES_H
#define KLAVOR_CONFIG_KEY_NAMES_H

#include <optional>
#include <string>
#include <vector>

namespace keys {

// Where a key picker files a name. A code can have names in two groups:
// TTalk is a phone key, F3 the same code as a function key.
enum class Group { Phone, LettersDigits, Navigation, Function };
constexpr int kGroups = 4;
// "phone keys", "letters and digits", "navigation", "function keys"
const char* GroupName(Group group);

struct Name {
    std::string name;  // as printed, e.g. "TVolumeUp"
    unsigned vk;
    bool printed;      // the name this code is printed by
    Group group;
};

// Every accepted name, grouped by code in ascending order, the printed
// name first within its code.
const std::vector<Name>& AllNames();

// The code a name stands for, case ignored; nullopt if it names no key.
std::optional<unsigned> ByName(const std::string& name);

// The name a code is printed by, or nullopt if it has none.
std::optional<std::string> PrintedName(unsigned vk);

// A key as the tools print it: its name, else hex ("0x07", "0x1234").
std::string Spell(unsigned vk);
// A code in hex as configurations write it: two digits, or four above 0xFF.
std::string Hex(unsigned vk);

// The names as lines of at most `width` columns, for --help: each code's
// printed name, then its other names in parentheses.
std::string NameList(std::size_t width);

}  // namespace keys

#endif
