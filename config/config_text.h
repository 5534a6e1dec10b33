// The user's side of the button configuration: the readable text form,
// the .reg file that carries the registry value to the phone, and the
// 128-byte value itself.
//
// Everything about the table (layout, defaults, button names, action
// labels, registry path) comes from the engine's key_table.h; this library
// only spells it out for people.
//
// The readable form, one line per button, '#' starts a comment:
//
//   Calendar   capture  key 0xC1  single Win+0xC1  double "Calendar*2"  triple "Calendar*3"
//   Volume Up  free
//   slot 5     capture  key F7  single 0x02
//
// A line names a button (a ButtonNames entry, case ignored, or "slot 0" to
// "slot 7"), then says leave, free or capture (or "mode N" for a raw mode
// word). The rest is optional and in any order:
//   key K                       the button's virtual key
//   single/double/triple/4x/5x A   the key sent on that many presses
//   presses N                   the highest press index the button takes
// A key K is a name from key_names.h (A, 5, Enter, TTalk, App1, F7 ...;
// case ignored) or hex 0x00-0xFFFF. An action A is a quoted action label
// ("Calendar*2", "FAKE"; case matters), a key name or hex code, Win+ before
// a one-byte key to send it with the Windows key held, or a full four-digit
// code such as 0x12C1 for any other high byte.
//
// A line starts from that button's built-in entry. Writing any action
// replaces all five (the ones not written send code 0), and presses then
// defaults to the highest press written. Buttons with no line keep their
// built-in entry, so an empty file gives the built-in table.
#ifndef KLAVOR_CONFIG_CONFIG_TEXT_H
#define KLAVOR_CONFIG_CONFIG_TEXT_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/key_table.h"

namespace config {

using Table = std::array<KeyEntry, KEY_SLOTS>;
using Bytes = std::vector<std::uint8_t>;

// Failing calls below return nullopt and, when error is not null, set it
// to "file:line: message" (or "file: message" where no line applies).

Table DefaultTable();
// The registry value of a table: always KEY_TABLE_BYTES long.
Bytes EncodeTable(const Table& table);
// The table a value holds, or nullopt unless it is exactly KEY_TABLE_BYTES
// long (the program ignores any other length).
std::optional<Table> DecodeValue(const Bytes& value);

// "single", "double", "triple", "4x", "5x": the word for a press index.
std::string PressWord(int pressIndex);

// An action as the text form writes it: "Calendar*2", A, Win+App1, 0x12C1.
std::string SpellAction(WORD action);

// Where a configuration came from, for messages that point into it.
struct Origin {
    std::string file;
    std::array<int, KEY_SLOTS> lines{};  // the line that sets each slot; 0 where none does
    int line = 0;                        // the line of the value as a whole (a scenario's config hex)
    bool namesOnly = false;              // buttons named by name alone, where they are in view (an editor)
};

// The readable form. `file` only names the source in error messages; the
// lines that set each slot go to `origin` when it is not null.
std::optional<Table> ParseConfigText(const std::string& text, const std::string& file,
                                     std::string* error, Origin* origin = nullptr);
// Every slot on its own line, no comments, keys by their printed names
// (key_names.h). Parsing the result gives back the same table, whatever
// its words hold.
std::string FormatConfigText(const Table& table);

// One word of the text form on its own, as an editor gives it: a mode
// (leave, free, capture), a key (TTalk, 0xC1) or an action (Win+App1,
// "Calendar*2", 0x12C1). nullopt with `error` set to what is wrong.
std::optional<WORD> ParseModeWord(const std::string& word, std::string* error);
std::optional<WORD> ParseKeyWord(const std::string& word, std::string* error);
std::optional<WORD> ParseActionWord(const std::string& word, std::string* error);
// A number of presses as "presses N" takes it.
std::optional<WORD> ParsePressesWord(const std::string& word, std::string* error);
// "leave", "free", "capture", or "mode N" for any other mode word.
std::string ModeWord(WORD mode);

// What the tools say of a value that is not one table long.
std::string WrongLengthMessage(const std::string& file, std::size_t size);

// The registry key and value name, from key_table.h.
std::string RegistryKeyName();  // HKEY_LOCAL_MACHINE\SOFTWARE\...
std::string RegistryValueName();

// A REGEDIT4 file setting the value to these bytes, as regedit exports it:
// lower-case hex, ",\" continuations under 80 columns, CRLF line endings.
std::string FormatRegFile(const Bytes& value);
// A text file as UTF-8 without a byte order mark: UTF-8 (with or without
// BOM) as it is, UTF-16 with a BOM (little- or big-endian, as Notepad
// saves "Unicode") converted.
std::optional<std::string> DecodeText(const std::string& content, const std::string& file, std::string* error);

// The value's bytes from a .reg file (REGEDIT4 or version 5.00, any text
// encoding DecodeText reads), of whatever length the file gives; the value
// must be REG_BINARY (hex: or hex(3):) under the program's key.
std::optional<Bytes> ParseRegFile(const std::string& content, const std::string& file,
                                  std::string* error);

enum class InputKind { RegFile, Image, Text };
// How a configuration file is read (config_file.h): a raw image by a .bin name; a .reg by its
// header (in any encoding DecodeText reads) or a .reg name; a raw image by
// a zero byte in a file without a UTF-16 byte order mark; otherwise the
// text form.
InputKind DetectInputKind(const std::string& path, const std::string& content);

struct LoadedConfig {
    Bytes value;
    Origin origin;  // the file, and for the text form the line of each slot
};

// What `klavorcfg show` prints for a value read from `file`: the readable
// form of what the program will use, with '#' notes, so the output can be
// fed back (a wrong length shows the built-in table instead). What the
// configuration will do wrong is CheckTable's (config_check.h).
std::string DescribeValue(const Bytes& value, const std::string& file);

}  // namespace config

#endif
