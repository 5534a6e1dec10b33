// .reg files and raw images: how the value travels to the phone.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/text.h"
#include "config_text.h"

namespace config {
namespace {

const char kRootName[] = "HKEY_LOCAL_MACHINE";
// regedit writes hex data lines up to this column, then ",\".
constexpr std::size_t kRegLineWidth = 77;

using base::Lower;
using base::Utf8;

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return Lower(s.substr(0, prefix.size())) == Lower(prefix);
}

struct LineError {
    int line;
    std::string message;
};

// The file as lines of UTF-8 without their line ends.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool HasUtf16Bom(const std::string& content) {
    if (content.size() < 2) return false;
    auto b0 = static_cast<unsigned char>(content[0]), b1 = static_cast<unsigned char>(content[1]);
    return (b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF);
}

bool IsComment(const std::string& line) {
    std::string t = Trim(line);
    return !t.empty() && t[0] == ';';
}

// A value line's name: "quoted" with \\ and \" escapes, or @ for the default
// value. Sets `rest` to what follows the '='.
std::optional<std::string> ValueName(const std::string& line, std::string* rest) {
    std::string t = Trim(line);
    std::string name;
    std::size_t i;
    if (!t.empty() && t[0] == '@') {
        i = 1;
    } else if (!t.empty() && t[0] == '"') {
        for (i = 1; i < t.size() && t[i] != '"'; ++i) {
            if (t[i] == '\\' && i + 1 < t.size()) ++i;
            name += t[i];
        }
        if (i >= t.size()) return std::nullopt;
        ++i;
    } else {
        return std::nullopt;
    }
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    if (i >= t.size() || t[i] != '=') return std::nullopt;
    *rest = Trim(t.substr(i + 1));
    return name;
}

// Hex data continues while a line ends in a backslash.
bool Continues(const std::string& segment) {
    std::string t = Trim(segment.substr(0, segment.find(';')));
    return !t.empty() && t.back() == '\\';
}

// The bytes of hex data starting with `first` (after "hex:") on line
// lines[*index]; leaves *index on the value's last line.
Bytes ParseHexData(const std::string& first, const std::vector<std::string>& lines, std::size_t* index) {
    Bytes bytes;
    std::string segment = first;
    int lastByteLine = static_cast<int>(*index) + 1;
    bool endsWithComma = false;
    for (;;) {
        int lineNo = static_cast<int>(*index) + 1;
        std::string t = Trim(segment.substr(0, segment.find(';')));
        bool more = !t.empty() && t.back() == '\\';
        if (more) t = Trim(t.substr(0, t.size() - 1));
        if (!t.empty()) {
            if (t[0] == ',') throw LineError{lineNo, "a comma with no byte before it"};
            endsWithComma = t.back() == ',';
            if (more && !endsWithComma)
                throw LineError{lineNo, "a comma must come before the \\ that continues the line"};
            std::size_t start = 0;
            std::string body = endsWithComma ? t.substr(0, t.size() - 1) : t;
            while (start <= body.size()) {
                std::size_t comma = body.find(',', start);
                if (comma == std::string::npos) comma = body.size();
                std::string byte = Trim(body.substr(start, comma - start));
                if (byte.empty()) throw LineError{lineNo, "two commas with no byte between them"};
                if (byte.size() > 2 || !std::all_of(byte.begin(), byte.end(), [](char c) {
                        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                    }))
                    throw LineError{lineNo, "\"" + byte + "\" is not a hex byte (00 to ff)"};
                bytes.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
                start = comma + 1;
            }
            lastByteLine = lineNo;
        }
        if (!more) break;
        do {
            if (++*index >= lines.size())
                throw LineError{static_cast<int>(lines.size()), "the file ends inside the value, after a \\"};
        } while (IsComment(lines[*index]));
        segment = lines[*index];
    }
    if (endsWithComma) throw LineError{lastByteLine, "the value ends with a comma; is a \\ missing?"};
    return bytes;
}

std::string DataKind(const std::string& data) {
    if (data == "-") return "deletes the value (the program then keeps its built-in configuration)";
    if (!data.empty() && data[0] == '"') return "is a string";
    if (StartsWithNoCase(data, "dword:")) return "is a dword";
    if (StartsWithNoCase(data, "hex(")) return "is hex" + data.substr(3, data.find(')') - 2) + ", not binary";
    return "is not hex data";
}

Bytes ParseRegLines(const std::vector<std::string>& lines) {
    const std::string key = RegistryKeyName();
    const std::string valueName = RegistryValueName();
    bool header = false, inKey = false;
    int keyLine = 0, valueLine = 0;
    Bytes value;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        int lineNo = static_cast<int>(i) + 1;
        std::string t = Trim(lines[i]);
        if (t.empty() || t[0] == ';') continue;
        if (!header) {
            if (t != "REGEDIT4" && t != "Windows Registry Editor Version 5.00")
                throw LineError{lineNo, "not a registry file: the first line must be REGEDIT4 or "
                                        "Windows Registry Editor Version 5.00"};
            header = true;
            continue;
        }
        if (t[0] == '[') {
            if (t.back() != ']') throw LineError{lineNo, "a key line must end with ]"};
            inKey = Lower(Trim(t.substr(1, t.size() - 2))) == Lower(key);
            if (inKey && !keyLine) keyLine = lineNo;
            continue;
        }
        std::string data;
        std::optional<std::string> name = ValueName(t, &data);
        if (!name) throw LineError{lineNo, "cannot read this line: expected [key], \"name\"=value or ;comment"};
        std::string lowerData = Lower(data);
        bool binary = lowerData.compare(0, 4, "hex:") == 0 || lowerData.compare(0, 7, "hex(3):") == 0;
        if (!inKey || Lower(*name) != Lower(valueName)) {
            // Someone else's value: only step over its continuation lines.
            if (lowerData.compare(0, 3, "hex") == 0) {
                std::size_t last = i;
                while (Continues(lines[last]) || (last > i && IsComment(lines[last]))) {
                    if (++last >= lines.size())
                        throw LineError{static_cast<int>(lines.size()), "the file ends inside a value, after a \\"};
                }
                i = last;
            }
            continue;
        }
        if (valueLine)
            throw LineError{lineNo, "\"" + valueName + "\" is set again (first on line " +
                                        std::to_string(valueLine) + ")"};
        if (!binary)
            throw LineError{lineNo, "\"" + valueName + "\" " + DataKind(data) +
                                        "; it must be binary: hex: or hex(3):"};
        valueLine = lineNo;
        value = ParseHexData(data.substr(data.find(':') + 1), lines, &i);
    }
    int end = std::max<int>(1, static_cast<int>(lines.size()));
    if (!header) throw LineError{end, "empty file: expected REGEDIT4"};
    if (!keyLine) throw LineError{end, "no [" + key + "] key in the file"};
    if (!valueLine) throw LineError{end, "no \"" + valueName + "\" value under [" + key + "]"};
    return value;
}

std::string Extension(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(path.substr(dot));
}

bool LooksLikeRegFile(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return false;
    return text.compare(start, 8, "REGEDIT4") == 0 || text.compare(start, 23, "Windows Registry Editor") == 0;
}

}  // namespace

std::string RegistryKeyName() { return std::string(kRootName) + "\\" + Utf8(KEY_TABLE_REG_PATH); }

std::string RegistryValueName() { return Utf8(KEY_TABLE_REG_VALUE); }

std::string FormatRegFile(const Bytes& value) {
    const char* hex = "0123456789abcdef";
    std::string out = "REGEDIT4\r\n\r\n[" + RegistryKeyName() + "]\r\n";
    std::string line = "\"" + RegistryValueName() + "\"=hex:";
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (line.size() + 3 > kRegLineWidth) {
            out += line + "\\\r\n";
            line = "  ";
        }
        line += hex[value[i] >> 4];
        line += hex[value[i] & 0xF];
        if (i + 1 < value.size()) line += ',';
    }
    return out + line + "\r\n\r\n";
}

std::optional<std::string> DecodeText(const std::string& content, const std::string& file, std::string* error) {
    if (!HasUtf16Bom(content)) return content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? content.substr(3) : content;
    if (content.size() % 2) {
        if (error) *error = file + ": UTF-16 file with an odd number of bytes";
        return std::nullopt;
    }
    bool little = static_cast<unsigned char>(content[0]) == 0xFF;
    std::u16string wide;
    for (std::size_t i = 2; i < content.size(); i += 2) {
        auto lo = static_cast<unsigned char>(content[little ? i : i + 1]);
        auto hi = static_cast<unsigned char>(content[little ? i + 1 : i]);
        wide += static_cast<char16_t>(lo | (hi << 8));
    }
    for (std::size_t i = 0; i < wide.size(); ++i) {
        bool lead = wide[i] >= 0xD800 && wide[i] < 0xDC00;
        bool trail = wide[i] >= 0xDC00 && wide[i] < 0xE000;
        if (lead && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
            ++i;
        } else if (lead || trail) {
            if (error) *error = file + ": not UTF-16 text: an unpaired surrogate at byte " + std::to_string(2 + 2 * i);
            return std::nullopt;
        }
    }
    return Utf8(wide);
}

std::optional<Bytes> ParseRegFile(const std::string& content, const std::string& file, std::string* error) {
    std::optional<std::string> text = DecodeText(content, file, error);
    if (!text) return std::nullopt;
    try {
        return ParseRegLines(SplitLines(*text));
    } catch (const LineError& e) {
        if (error) *error = file + ":" + std::to_string(e.line) + ": " + e.message;
        return std::nullopt;
    }
}

InputKind DetectInputKind(const std::string& path, const std::string& content) {
    std::string ext = Extension(path);
    if (ext == ".bin") return InputKind::Image;
    bool utf16 = HasUtf16Bom(content);
    std::optional<std::string> text = DecodeText(content, path, nullptr);
    if (ext == ".reg" || (text && LooksLikeRegFile(*text))) return InputKind::RegFile;
    if (!utf16 && content.find('\0') != std::string::npos) return InputKind::Image;
    return InputKind::Text;
}

}  // namespace config
