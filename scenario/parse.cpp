// Reading a scenario: set-up lines, then events at their times.
#include "scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <sstream>

#include "base/text.h"
#include "config/config_file.h"
#include "config/key_names.h"
#include "engine/key_table.h"

namespace scenario {
namespace {

using base::Lower;

constexpr sim::Time kSecond = 1000;

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::string Unquote(const std::string& s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

// "5s", "5.25s", "750ms"; false if it is not a time.
bool ParseDuration(const std::string& word, sim::Time* out) {
    std::string digits;
    sim::Time scale;
    if (word.size() > 2 && word.compare(word.size() - 2, 2, "ms") == 0) {
        digits = word.substr(0, word.size() - 2);
        scale = 1;
    } else if (word.size() > 1 && word.back() == 's') {
        digits = word.substr(0, word.size() - 1);
        scale = kSecond;
    } else {
        return false;
    }
    std::size_t dot = digits.find('.');
    std::string whole = digits.substr(0, dot);
    std::string frac = dot == std::string::npos ? "" : digits.substr(dot + 1);
    // Up to 999999999.999 s either way: a millisecond count has three more digits.
    if (whole.empty() || whole.size() > (scale == 1 ? 12u : 9u)) return false;
    if (dot != std::string::npos && (frac.empty() || scale == 1)) return false;
    if (frac.size() > 3) return false;
    for (char c : whole + frac)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    sim::Time v = std::stoull(whole) * scale;
    if (!frac.empty()) {
        while (frac.size() < 3) frac += '0';
        v += std::stoull(frac);
    }
    *out = v;
    return true;
}

bool ParseNumber(const std::string& word, unsigned long max, unsigned long* out) {
    if (word.empty()) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(word.c_str(), &end, 0);
    if (errno || *end || v > max || word[0] == '-') return false;
    *out = v;
    return true;
}

// "Calendar", "Volume Up", "key 0xC1" or "0xC1", then optionally
// "with Win" or "with Shift". The names are the hardware buttons'.
bool ParseButton(std::string rest, BYTE* vk, std::uint8_t* mods, std::string* error) {
    *mods = 0;
    std::size_t with = Lower(rest).find(" with ");
    if (with != std::string::npos) {
        std::string modifier = Lower(Trim(rest.substr(with + 6)));
        rest = Trim(rest.substr(0, with));
        if (modifier == "win" || modifier == "windows")
            *mods = MOD_WIN;
        else if (modifier == "shift")
            *mods = MOD_SHIFT;
        else {
            *error = "unknown modifier '" + modifier + "' (Win or Shift)";
            return false;
        }
    }
    for (int slot = 0; slot < KEY_SLOTS; ++slot) {
        if (Lower(rest) == Lower(ButtonNames[slot])) {
            *vk = static_cast<BYTE>(DefaultKeyTable[slot].vk);
            return true;
        }
    }
    std::string code = StartsWith(Lower(rest), "key ") ? Trim(rest.substr(4)) : rest;
    if (auto named = keys::ByName(code)) {
        *vk = static_cast<BYTE>(*named);
        return true;
    }
    // Codes in hex, as in configurations: a bare number would read as a
    // digit key's name there.
    unsigned long v;
    if (StartsWith(Lower(code), "0x") && ParseNumber(code, 0xFF, &v) && v != 0) {
        *vk = static_cast<BYTE>(v);
        return true;
    }
    *error = "unknown button '" + rest + "'";
    if (!code.empty() && std::isdigit(static_cast<unsigned char>(code[0])) && !StartsWith(Lower(code), "0x"))
        *error += ": write key codes in hex (0x" + code + "?) or by name";
    return false;
}

struct Parser {
    Scenario s;
    ParseError err;
    std::string file;
    FileReader read;
    int line = 0;
    sim::Time last = 0;
    std::map<std::string, int> seen;  // set-up keywords, to refuse repeats

    bool Fail(const std::string& message) {
        err = ParseError{file, line, message};
        return false;
    }

    bool Once(const std::string& keyword) {
        auto it = seen.find(keyword);
        if (it != seen.end())
            return Fail("'" + keyword + "' given twice (first on line " + std::to_string(it->second) + ")");
        seen[keyword] = line;
        return true;
    }

    bool Time(const std::string& word, sim::Time* out) {
        bool relative = StartsWith(word, "+");
        sim::Time d;
        if (!ParseDuration(relative ? word.substr(1) : word, &d))
            return Fail("bad time '" + word + "' (e.g. 5s, 2.5s, 300ms, +200ms)");
        *out = relative ? last + d : d;
        return true;
    }

    bool Config(const std::string& rest) {
        if (!Once("config")) return false;
        if (rest.empty()) return Fail("config needs a file, 'hex' and bytes, or 'none'");
        if (Lower(rest) == "none") return true;
        if (StartsWith(Lower(rest), "hex")) {
            std::istringstream in(rest.substr(3));
            std::vector<std::uint8_t> bytes;
            std::string b;
            while (in >> b) {
                unsigned long v;
                if (b.size() != 2 || !ParseNumber("0x" + b, 0xFF, &v) || !std::isxdigit(static_cast<unsigned char>(b[0])))
                    return Fail("bad hex byte '" + b + "'");
                bytes.push_back(static_cast<std::uint8_t>(v));
            }
            s.configValue = bytes;
            s.configSource = "hex, " + std::to_string(bytes.size()) + " bytes";
            s.configOrigin = config::Origin{};
            s.configOrigin.file = file;
            s.configOrigin.line = line;
            return true;
        }
        std::string error;
        std::optional<NamedFile> found = read(Unquote(rest), FileUse::Config, &error);
        if (!found) return Fail("config: " + error);
        auto loaded = config::ReadConfigFile(found->content, found->path, &error);
        if (!loaded) return Fail("config: " + error);
        if (loaded->cab && !config::FindKlavorValue(loaded->cab->setup))
            return Fail("config: " + config::NoTableMessage(*loaded, found->path));
        s.configValue = loaded->config.value;
        s.configOrigin = loaded->config.origin;
        s.configSource = Unquote(rest);
        return true;
    }

    bool Phone(const std::string& rest) {
        if (!Once("phone")) return false;
        std::string r = rest;
        std::size_t titled = Lower(r).find("titled ");
        if (titled != std::string::npos) {
            std::string title = Unquote(Trim(r.substr(titled + 7)));
            if (title.empty()) return Fail("phone: empty title");
            s.phoneTitle = sim::Utf16(title);
            r = Trim(r.substr(0, titled));
        }
        if (Lower(r) == "up") {
            s.phone = Scenario::Phone::Up;
        } else if (Lower(r) == "never") {
            s.phone = Scenario::Phone::Never;
        } else if (StartsWith(Lower(r), "at ")) {
            s.phone = Scenario::Phone::At;
            if (!Time(Trim(r.substr(3)), &s.phoneAt)) return false;
        } else {
            return Fail("phone: 'up', 'never' or 'at TIME', optionally 'titled \"...\"'");
        }
        return true;
    }

    bool SetUp(const std::string& keyword, const std::string& rest) {
        if (keyword == "config") return Config(rest);
        if (keyword == "phone") return Phone(rest);
        if (keyword == "coredll") {
            if (!Once("coredll")) return false;
            std::string r = Lower(rest);
            if (r == "with unregisterfunc1") return true;
            if (r == "without unregisterfunc1") {
                s.coredllExports = false;
                return true;
            }
            if (r == "missing") {
                s.coredllLoads = false;
                return true;
            }
            return Fail("coredll: 'with UnregisterFunc1', 'without UnregisterFunc1' or 'missing'");
        }
        if (keyword == "screen") {
            if (!Once("screen")) return false;
            unsigned long w, h;
            std::string r = Lower(rest);
            std::size_t x = r.find('x');
            if (StartsWith(r, "height ") && ParseNumber(Trim(r.substr(7)), 10000, &h) && h > 0) {
                s.screenHeight = static_cast<int>(h);
                return true;
            }
            if (x != std::string::npos && ParseNumber(r.substr(0, x), 10000, &w) &&
                ParseNumber(r.substr(x + 1), 10000, &h) && w > 0 && h > 0) {
                s.screenWidth = static_cast<int>(w);
                s.screenHeight = static_cast<int>(h);
                return true;
            }
            return Fail("screen: 'WIDTHxHEIGHT' or 'height N'");
        }
        if (keyword == "another") {
            // "another copy running", or "... from "\Program Files\Klavor\klavor.exe"": its file is in use.
            std::string r = Trim(rest);
            std::string image;
            std::size_t from = Lower(r).find(" from ");
            if (from != std::string::npos) {
                image = Unquote(Trim(r.substr(from + 6)));
                r = Trim(r.substr(0, from));
                if (image.empty() || image[0] != '\\') return Fail("another copy running from: a file on the phone, e.g. \"\\Program Files\\Klavor\\klavor.exe\"");
            }
            if (Lower(r) != "copy running") return Fail("did you mean 'another copy running'?");
            if (!Once("another copy running")) return false;
            s.anotherCopy = true;
            s.anotherCopyImage = sim::Utf16(image);
            return true;
        }
        if (keyword == "klavor") {
            if (Lower(rest) != "not running") return Fail("did you mean 'klavor not running'?");
            if (!Once("klavor not running")) return false;
            s.klavorRuns = false;
            return true;
        }
        if (keyword == "end") {
            if (!Once("end")) return false;
            sim::Time t;
            if (!Time(rest, &t)) return false;
            s.end = t;
            return true;
        }
        return Fail("unknown line '" + keyword + (rest.empty() ? "" : " " + rest) + "'");
    }

    bool Event(sim::Time t, const std::string& what) {
        Action a;
        a.kind = Action::Kind::Press;
        a.t = t;
        a.line = line;
        a.text = what;
        std::string lower = Lower(what);
        std::string error;
        if (StartsWith(lower, "press ")) {
            if (!ParseButton(Trim(what.substr(6)), &a.vk, &a.mods, &error)) return Fail(error);
        } else if (StartsWith(lower, "steal ")) {
            a.kind = Action::Kind::Steal;
            if (!ParseButton(Trim(what.substr(6)), &a.vk, &a.mods, &error)) return Fail(error);
        } else if (lower == "tap tray") {
            a.kind = Action::Kind::TapTray;
        } else if (StartsWith(lower, "tray notify ")) {
            a.kind = Action::Kind::NotifyTray;
            unsigned long v;
            if (!ParseNumber(Trim(what.substr(12)), 0xFFFF, &v)) return Fail("tray notify: a message number, e.g. 0x0202");
            auto rare = std::make_shared<Action::Rare>();
            rare->notification = static_cast<UINT>(v);
            a.rare = std::move(rare);
        } else if (StartsWith(lower, "choose ")) {
            a.kind = Action::Kind::Choose;
            auto rare = std::make_shared<Action::Rare>();
            rare->item = Unquote(Trim(what.substr(7)));
            if (rare->item.empty()) return Fail("choose: which menu item?");
            a.rare = std::move(rare);
        } else if (lower == "dismiss menu") {
            a.kind = Action::Kind::DismissMenu;
        } else if (lower == "close about") {
            a.kind = Action::Kind::CloseAbout;
        } else if (lower == "close klavor") {
            a.kind = Action::Kind::Close;
        } else if (StartsWith(lower, "remove ")) {
            a.kind = Action::Kind::Remove;
            auto rare = std::make_shared<Action::Rare>();
            rare->item = Unquote(Trim(what.substr(7)));
            if (rare->item.empty()) return Fail("remove: which installation? e.g. remove \"Klavor project Klavor\"");
            a.rare = std::move(rare);
        } else if (lower == "reset") {
            a.kind = Action::Kind::Reset;
        } else if (StartsWith(lower, "install ")) {
            a.kind = Action::Kind::Install;
            if (!Cabinet(Unquote(Trim(what.substr(8))), &a)) return false;
        } else {
            return Fail("unknown event '" + what + "'");
        }
        if (t < last) return Fail("events must be in time order");
        last = t;
        s.actions.push_back(std::move(a));
        return true;
    }

    // The cabinet is read, and checked as an installation, with the
    // scenario: a bad one stops the scenario before anything runs.
    bool Cabinet(const std::string& name, Action* a) {
        if (name.empty()) return Fail("install: which cabinet?");
        std::string error;
        std::optional<NamedFile> found = read(name, FileUse::Cabinet, &error);
        if (!found) return Fail("install: " + error);
        const std::string& content = found->content;
        auto cab = cecab::ReadInstallCabinet(config::Bytes(content.begin(), content.end()), found->path, &error);
        if (!cab) return Fail("install: " + error);
        auto rare = std::make_shared<Action::Rare>();
        rare->cabinet = std::make_shared<const cecab::InstallCabinet>(std::move(*cab));
        a->rare = std::move(rare);
        return true;
    }

    bool Line(const std::string& raw) {
        std::string text = raw;
        std::size_t hash = text.find('#');
        if (hash != std::string::npos) text = text.substr(0, hash);
        text = Trim(text);
        if (text.empty()) return true;
        std::size_t space = text.find_first_of(" \t");
        std::string first = text.substr(0, space);
        std::string rest = space == std::string::npos ? "" : Trim(text.substr(space));
        if (!first.empty() && (std::isdigit(static_cast<unsigned char>(first[0])) || first[0] == '+')) {
            sim::Time t;
            if (!Time(first, &t)) return false;
            if (rest.empty()) return Fail("nothing happens at " + first);
            return Event(t, rest);
        }
        if (Lower(first) == "at") {
            std::size_t sp = rest.find_first_of(" \t");
            sim::Time t;
            if (!Time(rest.substr(0, sp), &t)) return false;
            if (sp == std::string::npos) return Fail("nothing happens at " + rest);
            return Event(t, Trim(rest.substr(sp)));
        }
        if (!SetUp(Lower(first), rest)) return false;
        s.setUp.push_back(text);
        return true;
    }
};

}  // namespace

const std::string& Action::Item() const {
    static const std::string none;
    return rare ? rare->item : none;
}

std::string ParseError::Text() const {
    return file + (line ? ":" + std::to_string(line) : std::string()) + ": " + message;
}

std::variant<Scenario, ParseError> ParseScenario(const std::string& text, const std::string& file,
                                                 const FileReader& read) {
    Parser p;
    p.file = file;
    p.read = read;
    p.s.file = file;
    // At most one event a line: room for them all at once, rather than the
    // list doubling (and for a moment held twice) as a long scenario is read.
    p.s.actions.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    // Line by line, as getline splits them (a last line without its newline counts).
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        ++p.line;
        if (!p.Line(text.substr(at, end - at))) return p.err;
        at = end + 1;
    }
    return std::move(p.s);
}

}  // namespace scenario
