#include "scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "engine/capture.h"
#include "config/config_check.h"
#include "config/config_file.h"
#include "config/config_text.h"
#include "platform/wceload/wceload.h"
#include "config/klavor_cab.h"
#include "config/key_names.h"
#include "engine/key_table.h"
#include "res/resource.h"
#include "engine/sequence.h"
#include "app/shell.h"
#include "app/tray.h"

namespace scenario {
namespace {

constexpr sim::Time kSecond = 1000;
constexpr sim::Time kGrace = 10 * kSecond;    // how long a run goes on after its last event
constexpr sim::Time kPhoneWait = 30 * kSecond;  // the program's own wait for the phone

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
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
bool ParseButton(std::string rest, BYTE* vk, UINT* mods, std::string* error) {
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
            if (Lower(rest) != "copy running") return Fail("did you mean 'another copy running'?");
            if (!Once("another copy running")) return false;
            s.anotherCopy = true;
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
            a.notification = static_cast<UINT>(v);
        } else if (StartsWith(lower, "choose ")) {
            a.kind = Action::Kind::Choose;
            a.item = Unquote(Trim(what.substr(7)));
            if (a.item.empty()) return Fail("choose: which menu item?");
        } else if (lower == "dismiss menu") {
            a.kind = Action::Kind::DismissMenu;
        } else if (lower == "close about") {
            a.kind = Action::Kind::CloseAbout;
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
        s.actions.push_back(a);
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
        a->cabinet = std::make_shared<const cecab::InstallCabinet>(std::move(*cab));
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
        return SetUp(Lower(first), rest);
    }
};

// ---- The timeline --------------------------------------------------------

std::string Seconds(sim::Time t) {
    char buf[32];
    // As "%8.3f" of the seconds would print them, without going through floating point.
    std::snprintf(buf, sizeof buf, "%4llu.%03llu s  ", static_cast<unsigned long long>(t / 1000),
                  static_cast<unsigned long long>(t % 1000));
    return buf;
}

std::string WindowName(HWND h) {
    if (!h) return "no window";
    std::string title = sim::Utf8(sim::TitleOf(h));
    if (sim::OwnerOf(h) == sim::kProgram) return "Klavor";
    return title.empty() ? sim::ProcessName(sim::OwnerOf(h)) : "\"" + title + "\"";
}

bool IsModifier(unsigned vk) {
    return vk == VK_LWIN || vk == VK_RWIN || vk == VK_SHIFT || vk == VK_LSHIFT || vk == VK_RSHIFT;
}

// Key events sent together, in their shortest faithful form:
// "Win+X" for Win down, X down, Win up, X up; "X" for X down, X up.
std::string DescribeKeys(const std::vector<sim::Event>& keys) {
    auto is = [&](std::size_t i, unsigned vk, bool up) {
        return i < keys.size() && keys[i].vk == vk && keys[i].up == up;
    };
    std::string out;
    for (std::size_t i = 0; i < keys.size();) {
        if (!out.empty()) out += ", ";
        unsigned vk = keys[i].vk;
        if (vk == VK_LWIN && !keys[i].up && i + 3 < keys.size() && !keys[i + 1].up &&
            is(i + 2, VK_LWIN, true) && is(i + 3, keys[i + 1].vk, true)) {
            out += "Win+" + KeyName(keys[i + 1].vk);
            i += 4;
        } else if (!keys[i].up && is(i + 1, vk, true)) {
            out += KeyName(vk);
            i += 2;
        } else {
            out += KeyName(vk) + (keys[i].up ? " up" : " down");
            i += 1;
        }
    }
    return out;
}

std::vector<std::string> SplitAbout(const std::u16string& text) {
    std::vector<std::string> lines;
    std::string all = sim::Utf8(text);
    std::size_t start = 0;
    for (;;) {
        std::size_t sep = all.find("\n\r", start);
        lines.push_back(all.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 2;
    }
    return lines;
}

std::vector<TimelineLine> Lines(bool trace, std::size_t from) {
    // Events are read one at a time: a long run holds far too many to copy.
    const std::size_t count = sim::EventCount();
    static const std::vector<sim::Call> none;
    const auto& calls = trace ? sim::Trace() : none;
    std::vector<TimelineLine> out;
    std::size_t c = 0;
    if (from > 0 && from < count) {
        const std::uint64_t first = sim::EventAt(from).order;
        while (c < calls.size() && calls[c].order < first) ++c;
    }
    auto flushCalls = [&](std::uint64_t before) {
        for (; c < calls.size() && calls[c].order < before; ++c)
            out.push_back(TimelineLine{calls[c].t, Seconds(calls[c].t) + "    | " + calls[c].Text(), 0, 0,
                                       sim::Event::Kind::Note});
    };
    for (std::size_t i = from; i < count;) {
        const sim::Event e = sim::EventAt(i);
        flushCalls(e.order);
        std::string line;
        using K = sim::Event::Kind;
        switch (e.kind) {
        case K::Note:
            line = e.note;
            break;
        case K::HotKeyPosted:
            line = "  hot key " + std::to_string(e.id) + " to " +
                   (sim::OwnerOf(e.hwnd) == sim::kProgram ? std::string("Klavor")
                                                          : sim::ProcessName(sim::OwnerOf(e.hwnd))) +
                   (e.injected ? " (from a synthesised key)" : "");
            break;
        case K::KeyToForeground:
            if (e.injected) {
                std::vector<sim::Event> keys{e};
                std::size_t j = i + 1;
                // Everything sent in one go, with no other happening between.
                for (; j < count; ++j) {
                    sim::Event next = sim::EventAt(j);
                    if (next.kind != K::KeyToForeground || !next.injected || next.t != e.t || next.hwnd != e.hwnd)
                        break;
                    keys.push_back(std::move(next));
                }
                flushCalls(keys.back().order);
                out.push_back(TimelineLine{e.t, Seconds(e.t) + WindowName(e.hwnd) + " gets " + DescribeKeys(keys), i, j, e.kind});
                i = j;
                continue;
            }
            if (!e.up && !IsModifier(e.vk)) line = "  " + KeyName(e.vk) + " passes to " + WindowName(e.hwnd);
            break;
        case K::WindowCreated:
            break;
        case K::TrayAdded:
            line = "tray icon " + std::to_string(e.id) + " appears";
            break;
        case K::TrayModified:
            line = "tray icon " + std::to_string(e.id) + " changes";
            break;
        case K::TrayRemoved:
            line = "tray icon " + std::to_string(e.id) + " disappears";
            break;
        case K::MenuOpened: {
            std::string items;
            for (const auto& item : e.items) items += (items.empty() ? "" : " | ") + sim::Utf8(item);
            line = "menu opens at x " + std::to_string(e.x) + ", " +
                   ((e.flags & TPM_BOTTOMALIGN) ? "bottom edge at y " : "top edge at y ") + std::to_string(e.y) +
                   ": " + items;
            break;
        }
        case K::MenuClosed:
            line = e.id ? "menu closes with command " + std::to_string(e.id) : "menu closes, nothing chosen";
            break;
        case K::MessageBoxShown: {
            line = "message box \"" + sim::Utf8(e.caption) + "\":";
            for (const auto& l : SplitAbout(e.text)) line += "\n" + std::string(14, ' ') + "| " + l;
            break;
        }
        case K::MessageBoxClosed:
            line = "message box closes";
            break;
        }
        if (!line.empty()) out.push_back(TimelineLine{e.t, Seconds(e.t) + line, i, i + 1, e.kind});
        ++i;
    }
    flushCalls(UINT64_MAX);
    return out;
}

// Another program that takes hot keys for itself.
struct Thief {
    HWND window = nullptr;
    int nextId = 1;
};

// What the events of one run share: the thief, and how many installs and
// resets are still to come (the run goes on after an exit for them).
struct RunState {
    Thief thief;
    int phoneEventsLeft = 0;
};

// The action and the run's state outlive the run; the event keeps only
// pointers, small enough for std::function to hold without an allocation
// of its own.
void ScheduleAction(const Action& action, RunState* run) {
    if (action.kind == Action::Kind::Install || action.kind == Action::Kind::Reset) ++run->phoneEventsLeft;
    sim::At(action.t, [&a = action, run] {
        std::string note = a.text;
        Thief* thief = &run->thief;
        switch (a.kind) {
        case Action::Kind::Press:
            sim::AddNote(note);
            sim::Press(a.vk, a.mods);
            return;
        case Action::Kind::Steal:
            if (!thief->window)
                thief->window = sim::CreateWindowFor(sim::StartProcess("another program"), u"HotKeyThief", u"");
            sim::AddNote(note + ": another program takes the hot key");
            sim::StealHotKey(thief->window, thief->nextId++, a.mods, a.vk);
            return;
        case Action::Kind::TapTray:
        case Action::Kind::NotifyTray: {
            std::vector<sim::TrayIcon> icons = sim::TrayIcons();
            if (icons.empty()) {
                sim::AddNote(note + " (there is no tray icon)");
                return;
            }
            sim::AddNote(note);
            if (a.kind == Action::Kind::TapTray)
                sim::TapTrayIcon(icons.front().hwnd, icons.front().id);
            else
                sim::NotifyTrayIcon(icons.front().hwnd, icons.front().id, a.notification);
            return;
        }
        case Action::Kind::Choose:
            if (!sim::MenuOpen())
                note += " (no menu is open)";
            else if (!sim::ChooseMenuItem(sim::Utf16(a.item)))
                note += " (the menu has no such item)";
            sim::AddNote(note);
            return;
        case Action::Kind::DismissMenu:
            sim::AddNote(sim::DismissMenu() ? note : note + " (no menu is open)");
            return;
        case Action::Kind::CloseAbout:
            sim::AddNote(sim::CloseMessageBox() ? note : note + " (no message box is open)");
            return;
        case Action::Kind::Install:
            --run->phoneEventsLeft;
            sim::AddNote(Install(*a.cabinet, note.substr(note.find(' ') + 1)));
            return;
        case Action::Kind::Reset:
            --run->phoneEventsLeft;
            sim::AddNote("reset: every process ends");
            throw sim::Resetting{};
        }
    });
}

// A shortcut's command, "\Program Files\Klavor\klavor.exe" -x: the file (quoted
// where it has spaces) and what follows it.
std::pair<std::u16string, std::u16string> SplitCommand(const std::u16string& command) {
    if (!command.empty() && command[0] == u'"') {
        std::size_t close = command.find(u'"', 1);
        if (close == std::u16string::npos) return {command.substr(1), u""};
        std::size_t args = command.find_first_not_of(u' ', close + 1);
        return {command.substr(1, close - 1), args == std::u16string::npos ? u"" : command.substr(args)};
    }
    return {command, u""};
}


std::u16string Wide(const WCHAR* s) { return std::u16string(s); }

}  // namespace

void NewProgramProcess() {
    std::memcpy(KeyTable, DefaultKeyTable, sizeof KeyTable);
    ResetSequence();
    recaptureTicks = -1;
    g_hWnd = nullptr;
    g_pUnregisterFunc1 = nullptr;
    g_hInstance = nullptr;
    g_hCoredll = nullptr;
    g_trayBusy = false;
#define KLAVOR_ICON_ID(id) id,
    sim::SetProgramIcons({KLAVOR_ICON_IDS(KLAVOR_ICON_ID)});
#undef KLAVOR_ICON_ID
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
    // Line by line, as getline splits them (a last line without its newline counts).
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        ++p.line;
        if (!p.Line(text.substr(at, end - at))) return p.err;
        at = end + 1;
    }
    return p.s;
}

std::vector<std::string> CheckConfiguration(const Scenario& s) {
    std::vector<std::string> out;
    if (!s.configValue) return out;
    std::optional<config::Table> table = config::DecodeValue(*s.configValue);
    if (!table) return out;
    for (const config::Finding& f : config::CheckTable(*table, s.configOrigin)) out.push_back(f.text);
    return out;
}

std::string KeyName(unsigned vk) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", vk);
    if (vk < ACTION_CODE_LABELS) return std::string(ActionCodeLabels[vk]) + " (" + hex + ")";
    if (vk == VK_LWIN) return "Win";
    if (vk == VK_SHIFT) return "Shift";
    for (int slot = 0; slot < KEY_SLOTS; ++slot)
        if (DefaultKeyTable[slot].vk == vk) return std::string(ButtonNames[slot]) + " key (" + hex + ")";
    return hex;
}

namespace {

int HostWinMain(HINSTANCE instance, LPWSTR commandLine, int show) { return WinMain(instance, nullptr, commandLine, show); }

std::optional<Program> HostLoader(const std::vector<std::uint8_t>& file, const std::string&, std::string* why) {
    if (std::optional<std::string> problem = cecab::ExeProblem(file)) {
        *why = *problem;
        return std::nullopt;
    }
    return Program(HostWinMain);
}

Outcome RunProgram(const Scenario& s, bool trace, const Program& program, const Loader& loader,
                   const std::function<void()>& started) {
    sim::Reset();
    sim::SetTracing(trace);
    NewProgramProcess();
    sim::SetCoredll(s.coredllLoads, s.coredllExports);
    sim::SetScreen(s.screenWidth, s.screenHeight);
    if (s.configValue)
        sim::SetRegistryValue(HKEY_LOCAL_MACHINE, Wide(KEY_TABLE_REG_PATH), Wide(KEY_TABLE_REG_VALUE), REG_BINARY,
                              *s.configValue);

    sim::AddNote("configuration: " + (s.configValue ? s.configSource : std::string("none (built-in defaults)")) +
                 "; coredll " +
                 (!s.coredllLoads ? "missing" : s.coredllExports ? "with UnregisterFunc1" : "without UnregisterFunc1") +
                 "; screen " + std::to_string(s.screenWidth) + "x" + std::to_string(s.screenHeight));
    // The phone application comes up as the scenario says, counted from
    // each start of the phone; a reset before then calls it off.
    int boot = 0;
    auto startPhone = [&s, &boot] {
        auto up = [title = s.phoneTitle, &boot, startedBy = boot] {
            if (startedBy != boot) return;
            HWND phone = sim::CreateWindowFor(sim::StartProcess("phone"), u"Dialog", title);
            sim::SetForeground(phone);
            sim::AddNote("the phone application's window \"" + sim::Utf8(title) + "\" is up");
        };
        if (s.phone == Scenario::Phone::Up) up();
        if (s.phone == Scenario::Phone::At) sim::At(sim::Now() + s.phoneAt, up);
    };
    if (s.anotherCopy) {
        sim::CreateWindowFor(sim::StartProcess("klavor (first copy)"), u"KlavorWndClass", u"Klavor Window");
        sim::AddNote("another copy of Klavor is running");
    }
    startPhone();

    RunState state;
    sim::Time last = s.phone == Scenario::Phone::At ? s.phoneAt : 0;
    if (s.phone == Scenario::Phone::Never) last = kPhoneWait;
    for (const Action& a : s.actions) {
        ScheduleAction(a, &state);
        last = std::max(last, a.t);
    }
    sim::SetRunLimit(s.end ? *s.end : last + kGrace);

    if (started) started();
    Outcome o;
    Program next = s.klavorRuns ? (program ? program : Program(HostWinMain)) : Program();
    std::u16string commandLine;
    bool running = false;
    for (;;) {
        try {
            if (next) {
                Program now = std::move(next);
                next = nullptr;
                sim::AddNote("Klavor starts");
                running = o.started = true;
                o.exited = false;
                std::vector<WCHAR> arguments(commandLine.begin(), commandLine.end());
                arguments.push_back(0);
                o.exitCode = now(sim::ProgramInstance(), arguments.data(), 5 /* SW_SHOW */);
                running = false;
                o.exited = true;
                sim::AddNote("Klavor exits with code " + std::to_string(o.exitCode));
                if (state.phoneEventsLeft == 0) break;
                // What the program left goes with its process.
                sim::EndProcess(sim::kProgram);
            }
            sim::Idle();
        } catch (const sim::Resetting&) {
            running = false;
            o.exited = false;
            ++boot;
            state.thief.window = nullptr;
            std::vector<sim::StartUpEntry> entries = sim::SoftReset();
            startPhone();
            for (const sim::StartUpEntry& e : entries) {
                std::string entry = sim::Utf8(e.path);
                if (!e.command) {
                    sim::AddNote(entry + " is not a shortcut (.lnk): it starts nothing");
                    continue;
                }
                auto [target, arguments] = SplitCommand(*e.command);
                std::string starts = entry + " starts " + sim::Utf8(target);
                std::optional<std::vector<std::uint8_t>> file = sim::ReadFile(target);
                std::string why;
                std::optional<Program> loaded;
                if (!file)
                    why = "there is no such file";
                else if (next)
                    why = "the simulated phone runs one program at a time";
                else if (!(loaded = (loader ? loader : Loader(HostLoader))(*file, sim::Utf8(target), &why)))
                    why = "not a program the phone can run: " + why;
                if (!loaded) {
                    sim::AddNote(starts + ": " + why);
                    continue;
                }
                sim::AddNote(starts);
                next = std::move(*loaded);
                commandLine = arguments;
                NewProgramProcess();
                sim::SetProgramImage(target);
            }
        } catch (const sim::Halted&) {
            sim::AddNote(running ? "the scenario ends; Klavor is still running" : "the scenario ends");
            break;
        } catch (const std::exception& fault) {
            running = false;
            o.fault = fault.what();
            sim::AddNote("Klavor is stopped by a fault: " + o.fault);
            break;
        }
    }
    o.running = running;
    return o;
}

}  // namespace

Outcome Run(const Scenario& s, bool trace, const Program& program, const Loader& loader) {
    Outcome o = RunProgram(s, trace, program, loader, nullptr);
    o.timeline = JoinTimeline(Lines(trace, 0));
    return o;
}

Outcome RunWatched(const Scenario& s, const std::function<void()>& started, const Program& program, bool trace) {
    Outcome o = RunProgram(s, trace, program, nullptr, started);
    if (trace) o.timeline = JoinTimeline(Lines(true, 0));
    return o;
}

std::vector<TimelineLine> TimelineLines(bool trace, std::size_t fromEvent) { return Lines(trace, fromEvent); }

std::string JoinTimeline(const std::vector<TimelineLine>& lines) {
    std::string out;
    for (const TimelineLine& l : lines) {
        out += l.text;
        out += '\n';
    }
    return out;
}

}  // namespace scenario
