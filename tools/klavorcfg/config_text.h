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
// A key K is a name (F1-F24, App1-App6) or hex 0x00-0xFFFF. An action A is
// a quoted action label ("Calendar*2", "FAKE"; case matters), a key name or
// hex code, Win+ before a one-byte key to send it with the Windows key
// held, or a full four-digit code such as 0x12C1 for any other high byte.
//
// A line starts from that button's built-in entry. Writing any action
// replaces all five (the ones not written send code 0), and presses then
// defaults to the highest press written. Buttons with no line keep their
// built-in entry, so an empty file gives the built-in table.
#ifndef KLAVOR_TOOLS_KLAVORCFG_CONFIG_TEXT_H
#define KLAVOR_TOOLS_KLAVORCFG_CONFIG_TEXT_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "key_table.h"

namespace klavorcfg {

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

// The readable form. `file` only names the source in error messages.
std::optional<Table> ParseConfigText(const std::string& text, const std::string& file,
                                     std::string* error);
// Every slot on its own line, no comments. Parsing the result gives back
// the same table, whatever its words hold.
std::string FormatConfigText(const Table& table);
// One message per slot the program will read differently from what is
// written: a mode that acts as leave, a count that acts as MAX_PRESS_INDEX.
std::vector<std::string> TableWarnings(const Table& table);

// The registry key and value name, from key_table.h.
std::string RegistryKeyName();  // HKEY_LOCAL_MACHINE\SOFTWARE\...
std::string RegistryValueName();

// A REGEDIT4 file setting the value to these bytes, as regedit exports it:
// lower-case hex, ",\" continuations under 80 columns, CRLF line endings.
std::string FormatRegFile(const Bytes& value);
// The value's bytes from a .reg file (REGEDIT4 or version 5.00, UTF-8 or
// UTF-16LE with BOM), of whatever length the file gives; the value must be
// REG_BINARY (hex: or hex(3):) under the program's key.
std::optional<Bytes> ParseRegFile(const std::string& content, const std::string& file,
                                  std::string* error);

enum class InputKind { RegFile, Image, Text };
// How LoadConfigValue reads a file: a .reg by its header (or a .reg name),
// a raw image by a .bin name or a zero byte in it, otherwise the text form.
InputKind DetectInputKind(const std::string& path, const std::string& content);

// The value bytes a file means, to store in the registry as they are: a
// .reg file's value, a raw image whole, or the text form encoded. Only the
// text form is sure to give KEY_TABLE_BYTES; the others give what the file
// holds, so that a wrong length can be shown and tested.
std::optional<Bytes> LoadConfigValue(const std::string& path, std::string* error);

// What `klavorcfg show` prints for a value read from `file`: the readable
// form of what the program will use, with '#' notes and warnings, so the
// output can be fed back (a wrong length shows the built-in table instead).
std::string DescribeValue(const Bytes& value, const std::string& file);

}  // namespace klavorcfg

#endif
