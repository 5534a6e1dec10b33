// A configuration passed on as text: the share code a link carries in its
// fragment (klavor.html#klavor=1.…), and the cheat sheet of what each
// captured button's presses send.
#ifndef KLAVOR_CONFIG_SHARE_H
#define KLAVOR_CONFIG_SHARE_H

#include <optional>
#include <string>
#include <vector>

#include "config_text.h"

namespace config {

// "klavor=1." and then, in base64url without padding, the 128-byte value
// followed by its CRC-32 (little-endian): 176 characters. The version
// says how the rest is written; the CRC catches a character changed, lost
// or added on the way.
constexpr int kShareVersion = 1;
std::string ShareCode(const Table& table);

// Why a text is not a share code this version can read.
enum class ShareProblem {
    None,
    Foreign,  // not a Klavor configuration at all
    Version,  // a Klavor code of another version
    Damaged,  // ours, but its check or its length is wrong
};
struct ShareRead {
    std::optional<Table> table;
    ShareProblem problem = ShareProblem::None;
    int version = 0;      // the version the code says, when it says one
    std::string message;  // what is wrong, in words
};
// The table a code holds. The code may come alone or as a whole link (what
// follows the first '#'), with spaces or line breaks around or inside it,
// as a mail program may wrap it.
ShareRead ReadShareCode(const std::string& text);

// One line of the cheat sheet: a captured button and what 1, 2, 3...
// presses of it send, as far as the program counts them; or, for a button
// whose presses another slot on the same key takes, that slot.
struct SheetLine {
    int slot = 0;
    std::vector<WORD> sends;  // [0] for one press, [1] for two, ...
    int takenBy = -1;
};
std::vector<SheetLine> CheatSheet(const Table& table);

}  // namespace config

#endif
