// The readable configuration text: parsing, formatting and what `show` says.
#include "config_text.h"

#include "key_names.h"
#include "base/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <sstream>

namespace config {
namespace {

using base::Lower;

static_assert(KEY_ACTIONS == 5, "the press words below name five press counts");
const char* const kPressWords[KEY_ACTIONS] = {"single", "double", "triple", "4x", "5x"};

const char* const kModeWords[] = {"leave", "free", "capture"};  // MODE_IGNORE, MODE_FREE, MODE_CAPTURE
static_assert(MODE_IGNORE == 0 && MODE_FREE == 1 && MODE_CAPTURE == 2, "kModeWords is indexed by mode");
constexpr WORD kModeWordCount = 3;


bool EqualNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

using keys::Hex;

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// A failure on one line; turned into "file:line: message" at the top.
struct LineError {
    std::string message;
};

struct Token {
    std::string text;
    bool quoted;
};

std::vector<Token> Tokenize(const std::string& line) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            std::size_t end = line.find('"', i + 1);
            if (end == std::string::npos) throw LineError{"a quote is not closed"};
            tokens.push_back({line.substr(i + 1, end - i - 1), true});
            i = end + 1;
        } else {
            std::size_t end = line.find_first_of(" \t#\"", i);
            if (end == std::string::npos) end = line.size();
            if (end < line.size() && line[end] == '"')
                throw LineError{"a quote in the middle of " + Quote(line.substr(i, end - i)) +
                                "; put a space before it"};
            tokens.push_back({line.substr(i, end - i), false});
            i = end;
        }
    }
    return tokens;
}

// Decimal or 0x hex, at most `max`.
WORD ParseNumber(const std::string& s, unsigned max, const std::string& what) {
    bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    std::string digits = hex ? s.substr(2) : s;
    bool ok = !digits.empty() &&
              std::all_of(digits.begin(), digits.end(), [hex](char c) {
                  return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                             : std::isdigit(static_cast<unsigned char>(c)) != 0;
              });
    if (!ok) throw LineError{what + " must be a number, not " + Quote(s)};
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    unsigned long value = digits.size() > 8 ? ~0UL : std::stoul(digits, nullptr, hex ? 16 : 10);
    if (value > max) throw LineError{what + " " + s + " is out of range (0 to " + std::to_string(max) + ")"};
    return static_cast<WORD>(value);
}

bool LooksHex(const std::string& s) { return s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'); }

WORD ParseKeyCode(const std::string& s, unsigned max, const std::string& what) {
    if (auto vk = keys::ByName(s)) return static_cast<WORD>(*vk);
    if (LooksHex(s)) return ParseNumber(s, max, what);
    if (!s.empty() && std::isdigit(static_cast<unsigned char>(s[0])))
        throw LineError{what + " " + s + ": write key codes in hex (0x" + s + "?) or by name"};
    throw LineError{"unknown key " + Quote(s) + " for " + what +
                    " (a key name such as A, Enter, TTalk or App1, see klavorcfg --help, or hex 0x00-0xFF)"};
}

std::optional<WORD> LabelCode(const std::string& s) {
    for (int i = 0; i < ACTION_CODE_LABELS; ++i)
        if (s == ActionCodeLabels[i]) return static_cast<WORD>(i);
    return std::nullopt;
}

std::string LabelHint(const std::string& s) {
    for (int i = 0; i < ACTION_CODE_LABELS; ++i)
        if (EqualNoCase(s, ActionCodeLabels[i])) return "; did you mean " + Quote(ActionCodeLabels[i]) + "?";
    std::string all;
    for (int i = 0; i < ACTION_CODE_LABELS; ++i) all += (i ? ", " : "") + Quote(ActionCodeLabels[i]);
    return "; the labels are " + all;
}

WORD ParseAction(const Token& t, const std::string& what) {
    if (t.quoted) {
        if (auto code = LabelCode(t.text)) return *code;
        throw LineError{"unknown action label " + Quote(t.text) + " for " + what + LabelHint(t.text)};
    }
    if (auto code = LabelCode(t.text)) return *code;
    if (Lower(t.text).compare(0, 4, "win+") == 0) {
        std::string key = t.text.substr(4);
        if (key.empty()) throw LineError{"Win+ needs a key after it for " + what};
        // Win+ is the whole high byte: another one needs the four-digit form.
        WORD code = ParseKeyCode(key, 0xFFFF, what);
        if (code > ACTION_KEY_MASK) throw LineError{"Win+ takes a one-byte key, not " + key + " (" + what + ")"};
        return static_cast<WORD>(ACTION_WITH_WIN | code);
    }
    if (keys::ByName(t.text) || LooksHex(t.text) || std::isdigit(static_cast<unsigned char>(t.text[0])))
        return ParseKeyCode(t.text, 0xFFFF, what);
    std::string hint;
    for (int i = 0; i < ACTION_CODE_LABELS; ++i)
        if (EqualNoCase(t.text, ActionCodeLabels[i])) hint = LabelHint(t.text);
    if (hint.empty())
        hint = "; write a key name (A, Enter, TTalk, App1 ...; see klavorcfg --help), a hex code, Win+ and a key, "
               "or a quoted label";
    throw LineError{"unknown action " + Quote(t.text) + " for " + what + hint};
}

// The press index a word names, or -1 if it names none.
int PressIndex(const std::string& word) {
    std::string w = Lower(word);
    for (int i = 0; i < KEY_ACTIONS; ++i)
        if (w == kPressWords[i]) return i;
    if (w.size() >= 2 && w.back() == 'x' &&
        std::all_of(w.begin(), w.end() - 1, [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        unsigned long n = w.size() > 3 ? 99 : std::stoul(w.substr(0, w.size() - 1));
        if (n >= 1 && n <= KEY_ACTIONS) return static_cast<int>(n - 1);
        throw LineError{Quote(word) + ": a button has actions for single to " +
                        std::string(kPressWords[KEY_ACTIONS - 1]) + " presses only"};
    }
    return -1;
}

// The slot a line names; advances `i` past the name.
int ParseButton(const std::vector<Token>& tokens, std::size_t& i) {
    if (!tokens[0].quoted && EqualNoCase(tokens[0].text, "slot")) {
        if (tokens.size() < 2 || tokens[1].quoted) throw LineError{"slot needs a number, 0 to " + std::to_string(KEY_SLOTS - 1)};
        i = 2;
        return ParseNumber(tokens[1].text, KEY_SLOTS - 1, "slot");
    }
    // The words of each button's name, split once.
    static const std::array<std::vector<std::string>, KEY_SLOTS> kNameWords = [] {
        std::array<std::vector<std::string>, KEY_SLOTS> all;
        for (int slot = 0; slot < KEY_SLOTS; ++slot) {
            std::istringstream words(ButtonNames[slot]);
            all[slot].assign(std::istream_iterator<std::string>(words), {});
        }
        return all;
    }();
    int best = -1;
    std::size_t bestWords = 0;
    for (int slot = 0; slot < KEY_SLOTS; ++slot) {
        const std::vector<std::string>& name = kNameWords[slot];
        bool match = tokens[0].quoted ? EqualNoCase(tokens[0].text, ButtonNames[slot])
                                      : tokens.size() >= name.size();
        for (std::size_t w = 0; match && !tokens[0].quoted && w < name.size(); ++w)
            match = !tokens[w].quoted && EqualNoCase(tokens[w].text, name[w]);
        std::size_t used = tokens[0].quoted ? 1 : name.size();
        if (match && used > bestWords) best = slot, bestWords = used;
    }
    if (best < 0) {
        std::string all;
        for (int slot = 0; slot < KEY_SLOTS; ++slot) all += std::string(ButtonNames[slot]) + ", ";
        throw LineError{"unknown button " + Quote(tokens[0].text) + "; the buttons are " + all +
                        "or slot 0 to " + std::to_string(KEY_SLOTS - 1)};
    }
    i = bestWords;
    return best;
}

KeyEntry ParseLine(const std::vector<Token>& tokens, std::size_t i, int slot) {
    const std::string button = ButtonNames[slot];
    KeyEntry entry = DefaultKeyTable[slot];
    bool haveMode = false, haveKey = false, havePresses = false;
    int highest = -1;
    WORD presses = 0;
    WORD actions[KEY_ACTIONS] = {};
    bool written[KEY_ACTIONS] = {};

    auto value = [&](const std::string& word) -> const Token& {
        if (i >= tokens.size()) throw LineError{button + ": " + Quote(word) + " needs a value after it"};
        return tokens[i++];
    };
    while (i < tokens.size()) {
        const Token& t = tokens[i++];
        std::string word = Lower(t.text);
        if (t.quoted) throw LineError{button + ": " + Quote(t.text) + " must follow single, double, ..."};
        auto mode = std::find(std::begin(kModeWords), std::end(kModeWords), word);
        int press = PressIndex(t.text);
        if (mode != std::end(kModeWords) || word == "mode") {
            if (haveMode) throw LineError{button + ": the mode is given twice"};
            haveMode = true;
            entry.mode = mode != std::end(kModeWords)
                             ? static_cast<WORD>(mode - std::begin(kModeWords))
                             : ParseNumber(value(word).text, 0xFFFF, button + ": mode");
        } else if (word == "key") {
            if (haveKey) throw LineError{button + ": the key is given twice"};
            haveKey = true;
            entry.vk = ParseKeyCode(value(word).text, 0xFFFF, button + " key");
        } else if (word == "presses") {
            if (havePresses) throw LineError{button + ": presses is given twice"};
            havePresses = true;
            presses = ParseNumber(value(word).text, 0xFFFF, button + ": presses");
        } else if (press >= 0) {
            if (written[press]) throw LineError{button + ": " + kPressWords[press] + " is given twice"};
            written[press] = true;
            actions[press] = ParseAction(value(word), button + " " + kPressWords[press]);
            highest = std::max(highest, press);
        } else {
            std::string counts;
            for (const char* w : kPressWords) counts += (counts.empty() ? "" : ", ") + std::string(w);
            throw LineError{button + ": unknown word " + Quote(t.text) +
                            "; expected leave, free, capture, mode, key, presses or a press count (" + counts + ")"};
        }
    }
    if (!haveMode) throw LineError{button + ": say leave, free or capture"};
    if (highest >= 0) {
        std::copy(std::begin(actions), std::end(actions), entry.actions);
        entry.count = havePresses ? presses : static_cast<WORD>(highest);
    } else if (havePresses) {
        entry.count = presses;
    }
    return entry;
}

std::string FormatAction(WORD action) {
    WORD flags = action & ACTION_FLAG_MASK;
    WORD key = action & ACTION_KEY_MASK;
    if (flags == 0 && key < ACTION_CODE_LABELS) return Quote(ActionCodeLabels[key]);
    if (flags == 0) return keys::Spell(key);
    if (flags == ACTION_WITH_WIN) return "Win+" + keys::Spell(key);
    return Hex(action);
}

std::string Pad(std::string s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

}  // namespace

std::string PressWord(int pressIndex) { return kPressWords[pressIndex]; }

namespace {

// The one token of `word`, parsed by `parse`.
template <typename Parse>
std::optional<WORD> ParseWord(const std::string& word, std::string* error, Parse parse) {
    try {
        std::vector<Token> tokens = Tokenize(word);
        if (tokens.size() != 1) throw LineError{tokens.empty() ? "nothing given" : "one word only, not " + Quote(word)};
        return parse(tokens[0]);
    } catch (const LineError& e) {
        if (error) *error = e.message;
        return std::nullopt;
    }
}

}  // namespace

std::optional<WORD> ParseModeWord(const std::string& word, std::string* error) {
    return ParseWord(word, error, [](const Token& t) {
        auto mode = std::find(std::begin(kModeWords), std::end(kModeWords), Lower(t.text));
        if (t.quoted || mode == std::end(kModeWords))
            throw LineError{"unknown mode " + Quote(t.text) + "; say leave, free or capture"};
        return static_cast<WORD>(mode - std::begin(kModeWords));
    });
}

std::optional<WORD> ParseKeyWord(const std::string& word, std::string* error) {
    return ParseWord(word, error, [](const Token& t) {
        if (t.quoted) throw LineError{"a key is a name or hex code, not a label"};
        return ParseKeyCode(t.text, 0xFFFF, "the key");
    });
}

std::optional<WORD> ParseActionWord(const std::string& word, std::string* error) {
    return ParseWord(word, error, [](const Token& t) { return ParseAction(t, "the action"); });
}

std::optional<WORD> ParsePressesWord(const std::string& word, std::string* error) {
    return ParseWord(word, error, [](const Token& t) { return ParseNumber(t.text, 0xFFFF, "presses"); });
}

std::string ModeWord(WORD mode) { return mode < kModeWordCount ? kModeWords[mode] : "mode " + std::to_string(mode); }

std::string WrongLengthMessage(const std::string& file, std::size_t size) {
    return file + ": the value is " + std::to_string(size) + " bytes long; the program takes only " +
           std::to_string(KEY_TABLE_BYTES);
}

std::string SpellAction(WORD action) { return FormatAction(action); }

Table DefaultTable() {
    Table table;
    std::copy(DefaultKeyTable, DefaultKeyTable + KEY_SLOTS, table.begin());
    return table;
}

Bytes EncodeTable(const Table& table) {
    Bytes value(KEY_TABLE_BYTES);
    EncodeKeyTable(table.data(), value.data());
    return value;
}

std::optional<Table> DecodeValue(const Bytes& value) {
    if (value.size() != KEY_TABLE_BYTES) return std::nullopt;
    Table table;
    DecodeKeyTable(value.data(), table.data());
    return table;
}

std::optional<Table> ParseConfigText(const std::string& text, const std::string& file, std::string* error,
                                     Origin* origin) {
    Table table = DefaultTable();
    int lineOf[KEY_SLOTS] = {};
    std::size_t start = 0;
    for (int lineNo = 1; start <= text.size(); ++lineNo) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (lineNo == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        try {
            std::vector<Token> tokens = Tokenize(line);
            if (tokens.empty()) continue;
            std::size_t next = 0;
            int slot = ParseButton(tokens, next);
            if (lineOf[slot])
                throw LineError{std::string(ButtonNames[slot]) + " (slot " + std::to_string(slot) +
                                ") is already set on line " + std::to_string(lineOf[slot])};
            lineOf[slot] = lineNo;
            table[slot] = ParseLine(tokens, next, slot);
        } catch (const LineError& e) {
            if (error) *error = file + ":" + std::to_string(lineNo) + ": " + e.message;
            return std::nullopt;
        }
    }
    if (origin) {
        *origin = Origin{};
        origin->file = file;
        std::copy(std::begin(lineOf), std::end(lineOf), origin->lines.begin());
    }
    return table;
}

std::string FormatConfigText(const Table& table) {
    std::vector<std::vector<std::string>> rows;
    for (int slot = 0; slot < KEY_SLOTS; ++slot) {
        const KeyEntry& e = table[slot];
        std::vector<std::string> row = {ButtonNames[slot],
                                        ModeWord(e.mode),
                                        "key " + keys::Spell(e.vk)};
        // Written actions replace all five and set the count, so write every
        // action in use and any stray one beyond, and presses when it differs.
        int last = EffectiveCount(&e);
        for (int a = last + 1; a < KEY_ACTIONS; ++a)
            if (e.actions[a]) last = a;
        for (int a = 0; a <= last; ++a) row.push_back(std::string(kPressWords[a]) + " " + FormatAction(e.actions[a]));
        if (e.count != last) row.push_back("presses " + std::to_string(e.count));
        rows.push_back(row);
    }
    std::vector<std::size_t> width;
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (width.size() <= c) width.push_back(0);
            width[c] = std::max(width[c], row[c].size());
        }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? Pad(row[c], width[c] + 2) : row[c];
        out += line + "\n";
    }
    return out;
}

std::string DescribeValue(const Bytes& value, const std::string& file) {
    std::string out;
    std::optional<Table> table = DecodeValue(value);
    if (!table) {
        out += "# " + file + ": the value is " + std::to_string(value.size()) +
               (value.size() == 1 ? " byte" : " bytes") + " long, not " +
               std::to_string(KEY_TABLE_BYTES) + ".\n";
        out += "# The program ignores it and keeps its built-in configuration:\n";
        return out + FormatConfigText(DefaultTable());
    }
    out += "# " + file + ": " + std::to_string(value.size()) + " bytes; the program will use:\n";
    return out + FormatConfigText(*table);
}

}  // namespace config
