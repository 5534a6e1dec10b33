// Small helpers every part of the project shares: bytes, ASCII case, hex
// numbers as the tools print them, and UTF-8 with UTF-16 (the phone's
// strings). Nothing here knows of phones, cabinets or configurations.
#ifndef KLAVOR_BASE_TEXT_H
#define KLAVOR_BASE_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace base {

using Bytes = std::vector<std::uint8_t>;

// ASCII letters in lower case; every other byte as it is.
std::string Lower(std::string s);

// "0x" and the value in upper-case hex digits, at least `digits` of them:
// Hex(0x3F) "0x3F", Hex(0xC1, 4) "0x00C1".
std::string Hex(unsigned long long value, int digits = 0);

// UTF-16 (with surrogate pairs) as UTF-8, and back.
std::string Utf8(const std::u16string& s);
std::u16string Utf16(const std::string& s);

}  // namespace base

#endif
