#include "soak.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "config/config_check.h"
#include "config/config_text.h"
#include "engine/key_table.h"
#include "scenario/disk.h"
#include "scenario/write.h"

namespace soak {
namespace {

using config::Table;

// The program's documented behaviour, written out here rather than taken
// from its headers, so that a change there shows as a failure.
constexpr sim::Time kTick = 100;        // the timer
constexpr sim::Time kHoldTicks = 5;     // quiet ticks before a sequence fires, on the sixth
constexpr long long kSweepTicks = 301;  // from one sweep to the next
constexpr int kTrayIconId = 5000;
constexpr int kExitCodeMenu = 1;
constexpr int kSlotMask = 0xFF;         // a hot-key id's slot
const UINT kVariantMods[3] = {0, MOD_WIN, MOD_SHIFT};
const int kVariantIds[3] = {0x000, 0x100, 0x200};
constexpr UINT kComboMods = MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN;

std::string Ms(sim::Time t) { return std::to_string(t) + "ms"; }

std::string Seconds(sim::Time t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu.%03llu s", static_cast<unsigned long long>(t / 1000),
                  static_cast<unsigned long long>(t % 1000));
    return buf;
}

std::string Slot(int slot) { return "slot " + std::to_string(slot) + " (" + ButtonNames[slot] + ")"; }

bool TakesKey(WORD mode) { return mode == MODE_FREE || mode == MODE_CAPTURE; }

// ---- The configuration line ----------------------------------------------

std::string ConfigLine(const Table& t) {
    config::Bytes image = config::EncodeTable(t);
    std::string line = "config hex";
    char b[4];
    for (std::uint8_t byte : image) {
        std::snprintf(b, sizeof b, " %02x", byte);
        line += b;
    }
    return line;
}

std::optional<Table> TableOf(const Lines& lines, std::size_t* index = nullptr) {
    for (std::size_t i = 0; i < lines.setUp.size(); ++i) {
        const std::string& l = lines.setUp[i];
        if (l.compare(0, 11, "config hex ") != 0) continue;
        std::istringstream in(l.substr(11));
        config::Bytes bytes;
        for (std::string b; in >> b;) bytes.push_back(static_cast<std::uint8_t>(std::stoul(b, nullptr, 16)));
        if (index) *index = i;
        return config::DecodeValue(bytes);
    }
    return std::nullopt;
}

// ---- Generating a run ------------------------------------------------------

const WORD kButtonKeys[KEY_SLOTS] = {0xC1, 0xC2, 0xC3, 0xC4, 0x75, 0x76, 0x72, 0x73};

struct Dice {
    std::mt19937_64& rng;
    unsigned Below(unsigned n) { return static_cast<unsigned>(rng() % n); }
    unsigned Between(unsigned lo, unsigned hi) { return lo + Below(hi - lo + 1); }
    bool Percent(unsigned p) { return Below(100) < p; }
};

WORD RandomKey(Dice& d) {
    unsigned r = d.Below(100);
    if (r < 30) return static_cast<WORD>(d.Below(ACTION_CODE_LABELS));
    if (r < 55) return kButtonKeys[d.Below(KEY_SLOTS)];  // presses of other buttons: chains and loops
    if (r < 58) return VK_LWIN;
    if (r < 88) return static_cast<WORD>(d.Percent(70) ? 'A' + d.Below(26) : '0' + d.Below(10));
    return static_cast<WORD>(d.Below(256));
}

WORD RandomAction(Dice& d) {
    WORD key = RandomKey(d);
    unsigned r = d.Below(100);
    if (r < 30) return static_cast<WORD>(ACTION_WITH_WIN | key);
    if (r < 34) return static_cast<WORD>((d.Between(1, 255) << 8) | key);  // acts as the key alone
    return key;
}

Table RandomTable(Dice& d) {
    Table t = config::DefaultTable();
    for (int s = 0; s < KEY_SLOTS; ++s) {
        KeyEntry& e = t[s];
        unsigned r = d.Below(100);
        e.mode = static_cast<WORD>(r < 20   ? unsigned{MODE_IGNORE}
                                   : r < 35 ? unsigned{MODE_FREE}
                                   : r < 95 ? unsigned{MODE_CAPTURE}
                                            : d.Between(3, 0xFFFF));
        r = d.Below(100);
        if (r < 75)
            e.vk = kButtonKeys[s];
        else if (r < 95)
            e.vk = kButtonKeys[d.Below(KEY_SLOTS)];  // two slots on one key
        else if (r < 97)
            e.vk = VK_LWIN;
        else if (r < 99)
            e.vk = static_cast<WORD>('A' + d.Below(4));
        else
            e.vk = static_cast<WORD>(0x100 | kButtonKeys[d.Below(KEY_SLOTS)]);  // no press reaches it
        e.count = d.Percent(95) ? static_cast<WORD>(d.Below(KEY_ACTIONS)) : static_cast<WORD>(d.Between(5, 0xFFFF));
        for (WORD& a : e.actions) a = RandomAction(d);
    }
    return t;
}

// When the program starts, after its wait for the phone: a look at once,
// then one a second, 30 in all.
sim::Time StartTime(const scenario::Scenario& s) {
    constexpr sim::Time kWait = 1000, kTries = 30;
    // The program looks for "Phone" and "Телефон"; FindWindowW ignores the
    // case of ASCII letters only.
    std::u16string title = s.phoneTitle;
    for (char16_t& c : title)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    bool found = title == u"phone" || title == u"\u0422\u0435\u043b\u0435\u0444\u043e\u043d";
    if (!found || s.phone == scenario::Scenario::Phone::Never) return kTries * kWait;
    if (s.phone == scenario::Scenario::Phone::Up) return 0;
    sim::Time k = std::max<sim::Time>(1, (s.phoneAt + kWait - 1) / kWait);
    return k < kTries ? k * kWait : kTries * kWait;
}

// The keys a press or a theft may name: the eight buttons by name, or any
// key the configuration's slots are on.
std::string KeyWords(Dice& d, const Table& t, bool preferTaken) {
    if (!d.Percent(preferTaken ? 20 : 85)) {
        std::vector<WORD> keys;
        for (const KeyEntry& e : t)
            if (e.vk <= 0xFF && (!preferTaken || TakesKey(e.mode))) keys.push_back(e.vk);
        if (!keys.empty()) {
            WORD vk = keys[d.Below(static_cast<unsigned>(keys.size()))];
            for (int s = 0; s < KEY_SLOTS; ++s)
                if (kButtonKeys[s] == vk) return ButtonNames[s];
            char hex[16];
            std::snprintf(hex, sizeof hex, "key 0x%02X", vk);
            return hex;
        }
    }
    return ButtonNames[d.Below(KEY_SLOTS)];
}

std::string Modifier(Dice& d, unsigned plainPercent) {
    if (d.Percent(plainPercent)) return "";
    return d.Percent(50) ? " with Win" : " with Shift";
}

// Gaps between events: bursts inside one tick, steps across the tick, the
// quiet period before a sequence fires (500 to 600 ms), and long waits
// that cross the 30-second sweep.
sim::Time RandomGap(Dice& d, bool longRun) {
    // A long run also leaves the phone idle for minutes at a time.
    if (longRun && d.Percent(2)) return d.Between(60000, 1200000);
    unsigned r = d.Below(100);
    if (r < 8) return 0;
    if (r < 33) return d.Between(1, 99);
    if (r < 43) return (d.Percent(50) ? 100 : 200) + d.Between(0, 10) - 5;
    if (r < 70) return d.Between(450, 650);
    if (r < 96) return d.Between(100, 1000);
    if (r < 99) return d.Between(1000, 35000);
    return d.Between(30000, 65000);
}

}  // namespace

Lines Generate(std::mt19937_64& rng, const GenerateOptions& options) {
    Dice d{rng};
    Lines out;
    Table t = RandomTable(d);
    // Loops (a send that presses a button that sends back) keep the program
    // firing every tick until it exits: legitimate, and some runs have them.
    for (int tries = 0; tries < 20 && config::HasError(config::CheckTable(t, {})) && !d.Percent(25); ++tries)
        t = RandomTable(d);
    out.setUp.push_back(ConfigLine(t));
    if (d.Percent(3)) {
        // A value one byte short or long: the program keeps its built-in table.
        std::string& line = out.setUp.back();
        if (d.Percent(50))
            line.resize(line.size() - 3);
        else
            line += " 00";
    }

    scenario::Scenario shape;
    unsigned r = d.Below(100);
    if (r < 85) {
        out.setUp.push_back("phone up");
    } else if (r < 95) {
        shape.phone = scenario::Scenario::Phone::At;
        shape.phoneAt = d.Between(0, 35000);
        out.setUp.push_back("phone at " + Ms(shape.phoneAt));
    } else {
        shape.phone = scenario::Scenario::Phone::Never;
        out.setUp.push_back("phone never");
    }
    r = d.Below(100);
    if (shape.phone != scenario::Scenario::Phone::Never && d.Percent(6)) {
        // The Russian phone, or one whose window the program does not know.
        bool known = d.Percent(70);
        out.setUp.back() += known ? " titled \"\u0422\u0435\u043b\u0435\u0444\u043e\u043d\"" : " titled \"PHONE \u2116 2\"";
        if (!known) shape.phoneTitle = u"PHONE \u2116 2";
    }
    if (r >= 86) out.setUp.push_back(r < 93 ? "coredll without UnregisterFunc1" : "coredll missing");
    bool secondCopy = d.Percent(2);
    if (secondCopy) out.setUp.push_back("another copy running");
    const sim::Time start = StartTime(shape);

    enum { Idle, Menu, About } tray = Idle;
    // One run in a hundred is ten times longer, and spans hours of phone time.
    bool longRun = d.Percent(1);
    std::size_t most = options.maxEvents * (longRun ? 10 : 1);
    std::size_t n = secondCopy ? d.Between(1, 5) : d.Between(static_cast<unsigned>(std::min(options.minEvents, most)),
                                                                 static_cast<unsigned>(most));
    sim::Time t0 = d.Between(1, static_cast<unsigned>(start + 2000));
    sim::Time now = t0, previous = 0;
    bool first = true;
    // Events keep off the tick grid (the program's ticks fall on whole
    // multiples of 100 ms, since it starts on a whole second): one just
    // before or after a tick is as near as it gets. A tray event comes
    // after the one before it has been handled.
    auto place = [&](sim::Time gap, bool trayEvent) {
        sim::Time at = first ? t0 : now + gap;
        if (d.Percent(10)) {
            // Right next to a tick: one or two milliseconds before or after it.
            const int offsets[4] = {-2, -1, 1, 2};
            at = (at / kTick + 1) * kTick + static_cast<sim::Time>(offsets[d.Below(4)]);
        }
        if (trayEvent && !first && at <= previous) at = previous + 1;
        if (at % kTick == 0) at += 1;
        if (at < now) at = now;
        if (at % kTick == 0) at += 1;
        first = false;
        now = previous = at;
        return at;
    };
    auto add = [&](sim::Time at, const std::string& what) { out.events.push_back({at, what}); };

    for (std::size_t i = 0; i < n; ++i) {
        sim::Time gap = RandomGap(d, longRun);
        unsigned kind = d.Below(100);
        if (kind < 72) {
            add(place(gap, false), "press " + KeyWords(d, t, false) + Modifier(d, 70));
        } else if (kind < 82) {
            add(place(gap, false), "steal " + KeyWords(d, t, true) + Modifier(d, 40));
        } else {
            sim::Time at = place(gap, true);
            bool running = at > start;
            std::string what;
            unsigned c = d.Below(100);
            if (tray == Idle) {
                what = c < 70 ? "tap tray" : c < 80 ? "tray notify 0x0202" : c < 87 ? "dismiss menu" : c < 94 ? "close about"
                                                                                                          : "choose Exit";
                if (what == "tap tray" && running) tray = Menu;
            } else if (tray == Menu) {
                what = c < 45 ? "choose \"About Klavor\"" : c < 88 ? "dismiss menu" : c < 92 ? "tray notify 0x0202"
                                                                                       : c < 96 ? "close about" : "tap tray";
                tray = c < 45 ? About : c < 88 ? Idle : Menu;
            } else {
                what = c < 80 ? "close about" : c < 88 ? "dismiss menu" : c < 94 ? "tray notify 0x0202" : "tap tray";
                if (c < 80) tray = Idle;
            }
            add(at, what);
        }
    }
    if (!secondCopy && d.Percent(70)) {
        // Exit from the tray menu.
        now = std::max(now, start);
        first = false;
        if (tray == About) add(place(d.Between(1, 700), true), "close about");
        if (tray != Menu) add(place(d.Between(1, 700), true), "tap tray");
        add(place(d.Between(1, 700), true), "choose Exit");
        out.setUp.push_back("end " + Ms(now + 10000));
    } else {
        out.setUp.push_back("end " + Ms(std::max(now, start) + d.Between(1, 40000)));
    }
    return out;
}

std::string ScenarioText(const Lines& lines, const std::string& heading) {
    std::string out;
    std::istringstream h(heading);
    for (std::string l; std::getline(h, l);) out += "# " + l + "\n";
    if (std::optional<Table> t = TableOf(lines)) {
        out += "#\n# The configuration below, as klavorcfg shows it:\n";
        std::istringstream cfg(config::FormatConfigText(*t));
        for (std::string l; std::getline(cfg, l);) out += "#   " + l + "\n";
    }
    if (!out.empty()) out += "\n";
    for (const std::string& l : lines.setUp) out += l + "\n";
    out += "\n";
    for (const Lines::Event& e : lines.events) out += Ms(e.t) + " " + e.what + "\n";
    return out;
}

RunResult::Counts& RunResult::Counts::operator+=(const Counts& o) {
    firings += o.firings, firingsWithWin += o.firingsWithWin, chained += o.chained, sweeps += o.sweeps;
    restored += o.restored, steals += o.steals, menus += o.menus, aboutBoxes += o.aboutBoxes, exits += o.exits;
    return *this;
}

std::string RunResult::Counts::Text() const {
    return std::to_string(firings) + " firings (" + std::to_string(firingsWithWin) + " with Win, " +
           std::to_string(chained) + " pressing another button), " + std::to_string(sweeps) + " sweeps (" +
           std::to_string(restored) + " taking a stolen key back), " + std::to_string(steals) + " thefts, " +
           std::to_string(menus) + " menus, " + std::to_string(aboutBoxes) + " About boxes, " + std::to_string(exits) +
           " exits";
}

const char* CheckName(Check c) {
    switch (c) {
    case Check::None: return "none";
    case Check::KeyLeftDown: return "a key left down";
    case Check::HotKeys: return "hot keys";
    case Check::Firing: return "a firing";
    case Check::Timing: return "timing";
    case Check::Tray: return "the tray";
    case Check::Exit: return "the exit";
    case Check::Identity: return "the phone's binary against the host build";
    }
    return "?";
}

// ---- Watching a run ----------------------------------------------------------

namespace {

// Thrown out of the phone's event loop when a check fails: the run stops
// there, as at the end of a scenario.
struct Stop : sim::Halted {};

struct Sent {
    sim::Time t;
    UINT vk;
    bool up;
    bool hotKey;  // caught by a hot key
    HWND to;
    int id;
};

struct Tick {
    sim::Time t;
    int slot;         // the one that fires, or -1
    WORD pressIndex;
    bool sweep;
    std::string Context() const {
        std::string c = slot >= 0 ? "after " + Slot(slot) + " fired at " + Seconds(t) : "";
        if (sweep) c += (c.empty() ? "after the sweep at " : " and swept at ") + Seconds(t);
        return c;
    }
};

class Watch {
public:
    explicit Watch(const scenario::Scenario& s) : s_(s), start_(StartTime(s)) {
        if (s.configValue)
            if (std::optional<Table> t = config::DecodeValue(*s.configValue)) table_ = *t;
        unfree_ = s.coredllLoads && s.coredllExports;
        if (!s.klavorRuns) Unsupported("Klavor is not running at the start");
        for (std::size_t i = 0; i < s.actions.size(); ++i) {
            const scenario::Action& a = s.actions[i];
            using A = scenario::Action::Kind;
            // The soak follows one run of the program on one start of the phone.
            if (a.kind == A::Install || a.kind == A::Reset) Unsupported("an install or a reset, at " + Seconds(a.t));
            if (a.t % kTick == 0) Unsupported("an event on the program's tick grid, at " + Seconds(a.t));
            if (a.t < lastTime_) Unsupported("events out of order");
            // The program handles an event only once the ones at the same
            // time have all run: a choice right after its tap finds no menu.
            if (i > 0 && a.t == lastTime_ && a.kind != A::Press && a.kind != A::Steal)
                Unsupported("a tray event at the same time as the event before it, at " + Seconds(a.t));
            lastTime_ = a.t;
        }
    }

    bool unsupported() const { return !why_.empty(); }

    void Begin() {
        if (unsupported()) return;
        std::optional<sim::Time> next = NextVisit(0);
        if (next) sim::At(*next, [this] { Visit(); });
    }

    RunResult Finish(const scenario::Outcome& o) {
        RunResult r;
        r.phoneTime = sim::Now();
        if (!failure_ && !unsupported()) {
            try {
                End(o);
            } catch (const Stop&) {
            }
        }
        r.unsupported = unsupported();
        r.whyUnsupported = why_;
        r.failure = failure_;
        r.events = applied_;
        r.counts = counts_;
        return r;
    }

private:
    const scenario::Scenario& s_;
    Table table_ = config::DefaultTable();
    bool unfree_ = true;
    sim::Time start_;
    sim::Time lastTime_ = 0;
    std::string why_;
    std::optional<Failure> failure_;

    // What the program should have done so far.
    std::vector<sim::HotKey> keys_;
    bool started_ = false;
    enum { Idle, Menu, About } tray_ = Idle;
    std::optional<sim::Time> exitAt_;
    std::size_t applied_ = 0;  // scenario actions taken into account
    int steals_ = 0;
    std::string context_;      // what last changed the hot keys, for messages
    RunResult::Counts counts_;

    // What the phone has shown.
    std::size_t cursor_ = 0;
    HWND program_ = nullptr;
    HWND thief_ = nullptr;
    std::set<UINT> held_;
    std::set<UINT> foregroundDown_;
    int boxes_ = 0;
    std::vector<Sent> sent_;
    struct Press {
        sim::Time t;
        int id;
    };
    std::vector<Press> presses_;  // hot keys the program got, not yet counted

    // Ticks.
    std::optional<Tick> pending_;  // looked at before it ran, not yet judged
    // The press sequence the hot keys make: the slot pending (or -1), its
    // press index, and the tick it fires on.
    int button_ = -1;
    WORD pressIndex_ = 0;
    sim::Time due_ = 0;
    bool actionSinceTick_ = false;

    [[noreturn]] void Fail(Check check, const std::string& what) {
        failure_ = Failure{check, sim::Now(), what};
        throw Stop{};
    }

    void Unsupported(const std::string& why) {
        if (why_.empty()) why_ = why;
    }

    bool SecondCopy() const { return s_.anotherCopy; }
    bool Running() const { return started_ && !SecondCopy() && !exitAt_; }

    // ---- the hot-key table as the program and the thief leave it ----

    static bool Combo(const sim::HotKey& k, UINT mods, UINT vk) {
        return (k.mods & kComboMods) == (mods & kComboMods) && k.vk == vk;
    }
    void DropCombo(UINT mods, UINT vk) {
        keys_.erase(std::remove_if(keys_.begin(), keys_.end(), [&](const sim::HotKey& k) { return Combo(k, mods, vk); }),
                    keys_.end());
    }
    void Register(HWND hwnd, int id, UINT mods, UINT vk) {
        for (const sim::HotKey& k : keys_)
            if (Combo(k, mods, vk) && !(k.hwnd == hwnd && k.id == id)) return;  // somebody else holds it
        keys_.erase(std::remove_if(keys_.begin(), keys_.end(),
                                   [&](const sim::HotKey& k) { return k.hwnd == hwnd && k.id == id; }),
                    keys_.end());
        keys_.push_back({hwnd, id, mods, vk});
    }
    void Unregister(HWND hwnd, int id) {
        auto it = std::find_if(keys_.begin(), keys_.end(), [&](const sim::HotKey& k) { return k.hwnd == hwnd && k.id == id; });
        if (it != keys_.end()) keys_.erase(it);
    }
    void FreeSlot(int s) {
        if (!unfree_) return;
        for (UINT mods : kVariantMods) DropCombo(mods, table_[s].vk);
    }
    void CaptureSlot(int s) {
        FreeSlot(s);
        for (int v = 0; v < 3; ++v) Register(program_, kVariantIds[v] + s, kVariantMods[v], table_[s].vk);
    }
    void ReleaseSlot(int s) {
        for (int v = 0; v < 3; ++v) Unregister(program_, kVariantIds[v] + s);
    }
    void Sweep() {
        for (int s = 0; s < KEY_SLOTS; ++s) {
            if (table_[s].mode == MODE_FREE) FreeSlot(s);
            if (table_[s].mode == MODE_CAPTURE) CaptureSlot(s);
        }
    }

    std::string Holder(const std::optional<sim::HotKey>& k) const {
        if (!k) return "nobody";
        if (k->hwnd == program_) {
            int slot = k->id & kSlotMask;
            return "Klavor's id " + std::to_string(k->id) + (slot < KEY_SLOTS ? " (" + Slot(slot) + ")" : "");
        }
        if (k->hwnd == thief_) return "the other program's id " + std::to_string(k->id);
        return sim::Hex(reinterpret_cast<ULONG_PTR>(k->hwnd)) + " id " + std::to_string(k->id);
    }

    void CompareHotKeys() {
        std::vector<sim::HotKey> actual = sim::HotKeys();
        auto key = [](const sim::HotKey& k) { return std::make_tuple(k.mods & kComboMods, k.vk, k.hwnd, k.id); };
        auto less = [&](const sim::HotKey& a, const sim::HotKey& b) { return key(a) < key(b); };
        auto same = [&](const std::vector<sim::HotKey>& a, const std::vector<sim::HotKey>& b) {
            return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](const sim::HotKey& x, const sim::HotKey& y) {
                       return key(x) == key(y) && x.mods == y.mods;
                   });
        };
        // Mostly they are in the same order too.
        if (same(actual, keys_)) return;
        std::vector<sim::HotKey> expected = keys_;
        std::sort(actual.begin(), actual.end(), less);
        std::sort(expected.begin(), expected.end(), less);
        if (same(actual, expected)) return;
        // Tell the first combination whose holder differs.
        std::set<std::pair<UINT, UINT>> combos;
        for (const auto* list : {&actual, &expected})
            for (const sim::HotKey& k : *list) combos.insert({k.mods & kComboMods, k.vk});
        for (const auto& held : combos) {
            const UINT mods = held.first, vk = held.second;
            auto find = [&](const std::vector<sim::HotKey>& list) -> std::optional<sim::HotKey> {
                for (const sim::HotKey& k : list)
                    if (Combo(k, mods, vk)) return k;
                return std::nullopt;
            };
            std::optional<sim::HotKey> a = find(actual), e = find(expected);
            if (a.has_value() == e.has_value() && (!a || (a->hwnd == e->hwnd && a->id == e->id))) continue;
            std::string combo = std::string(mods & MOD_WIN ? "Win+" : mods & MOD_SHIFT ? "Shift+" : "") + sim::Hex(vk);
            Fail(Check::HotKeys, (context_.empty() ? "" : context_ + ": ") + "hot key " + combo + " is held by " +
                                     Holder(a) + ", not " + Holder(e));
        }
        Fail(Check::HotKeys, (context_.empty() ? "" : context_ + ": ") + "the hot keys differ");
    }

    // ---- what the phone shows ----

    void ReadEvents() {
        for (std::size_t count = sim::EventCount(); cursor_ < count; ++cursor_) {
            const sim::Event e = sim::EventAt(cursor_);
            using K = sim::Event::Kind;
            switch (e.kind) {
            case K::WindowCreated:
                if (sim::OwnerOf(e.hwnd) == sim::kProgram && e.text == u"KlavorWndClass") {
                    program_ = e.hwnd;
                    if (e.t != start_)
                        Fail(Check::Timing, "the program started at " + Seconds(e.t) + ", not at " + Seconds(start_) +
                                                  " after its wait for the phone");
                }
                if (e.text == u"HotKeyThief") thief_ = e.hwnd;
                break;
            case K::HotKeyPosted:
                held_.insert(e.vk);
                if (e.hwnd == program_ && program_) presses_.push_back({e.t, e.id});
                if (e.injected) sent_.push_back({e.t, e.vk, false, true, e.hwnd, e.id});
                if (e.injected && e.hwnd == program_) ++counts_.chained;
                break;
            case K::KeyToForeground:
                if (e.up)
                    held_.erase(e.vk);
                else
                    held_.insert(e.vk);
                if (e.hwnd) {
                    if (e.up)
                        foregroundDown_.erase(e.vk);
                    else
                        foregroundDown_.insert(e.vk);
                }
                if (e.injected) sent_.push_back({e.t, e.vk, e.up, false, e.hwnd, 0});
                break;
            case K::MenuOpened:
                ++counts_.menus;
                break;
            case K::MessageBoxShown:
                ++counts_.aboutBoxes;
                ++boxes_;
                break;
            case K::MessageBoxClosed:
                --boxes_;
                break;
            default:
                break;
            }
        }
    }

    static std::string Keys(const std::vector<std::pair<UINT, bool>>& keys) {
        std::string out;
        for (const auto& [vk, up] : keys) out += (out.empty() ? "" : ", ") + sim::Hex(vk) + (up ? " up" : " down");
        return out.empty() ? "nothing" : out;
    }

    // The keys sent on the tick `tick` looked at; any sent on another tick
    // had no firing due.
    void JudgeSent(const Tick* tick) {
        std::vector<std::pair<UINT, bool>> got, want;
        for (const Sent& k : sent_) {
            if (!tick || k.t != tick->t)
                Fail(Check::Firing, "key " + sim::Hex(k.vk) + " sent at " + Seconds(k.t) + ", a tick with no firing due");
            got.push_back({k.vk, k.up});
            if (k.hotKey && k.to == program_ && (k.id & kSlotMask) == tick->slot)
                Fail(Check::Firing, Slot(tick->slot) + " fired at " + Seconds(tick->t) + " and its own hot key " +
                                        std::to_string(k.id) + " caught the " + sim::Hex(k.vk) +
                                        " it sent: it had not let go of its hot keys");
        }
        sent_.clear();
        if (tick->slot < 0) {
            if (!got.empty()) Fail(Check::Firing, Keys(got) + " sent on the tick at " + Seconds(tick->t) + ", with no firing due");
            return;
        }
        const KeyEntry& e = table_[tick->slot];
        ActionCode a = e.actions[std::min<WORD>(tick->pressIndex, EffectiveCount(&e))];
        UINT key = a & ACTION_KEY_MASK;
        bool win = (a & ACTION_FLAG_MASK) == ACTION_WITH_WIN;
        if (win) want.push_back({VK_LWIN, false});
        want.push_back({key, false});
        if (win) want.push_back({VK_LWIN, true});
        want.push_back({key, true});
        ++counts_.firings;
        counts_.firingsWithWin += win;
        if (got != want)
            Fail(Check::Firing, Slot(tick->slot) + " fired at " + Seconds(tick->t) + " with press index " +
                                    std::to_string(tick->pressIndex) + ", action " + sim::Hex(a) + ": it sent " +
                                    Keys(got) + ", not " + Keys(want));
    }

    // Every hot key is one press: of the same slot it counts up, of another
    // it starts that slot's sequence afresh. Below the slot's count it fires
    // after five quiet ticks, on the sixth; at the count, on the next tick.
    void CountPresses() {
        for (const Press& p : presses_) {
            int slot = p.id & kSlotMask;
            if (slot >= KEY_SLOTS) continue;
            if (slot == button_) {
                ++pressIndex_;
            } else {
                button_ = slot;
                pressIndex_ = 0;
            }
            due_ = TickAfter(p.t) + (pressIndex_ < EffectiveCount(&table_[slot]) ? kHoldTicks * kTick : 0);
        }
        presses_.clear();
    }

    void JudgeTick() {
        Tick tick = *pending_;
        pending_.reset();
        JudgeSent(&tick);
        if (tick.slot >= 0) {
            button_ = -1;
            ReleaseSlot(tick.slot);
            CaptureSlot(tick.slot);
        }
        if (tick.sweep) {
            ++counts_.sweeps;
            for (const sim::HotKey& k : keys_) counts_.restored += k.hwnd == thief_ && thief_;
            Sweep();
            for (const sim::HotKey& k : keys_) counts_.restored -= k.hwnd == thief_ && thief_;
        }
        if (tick.slot >= 0 || tick.sweep) context_ = tick.Context();
    }

    // ---- the scenario's events, as they should have acted ----

    void StartProgram() {
        started_ = true;
        if (SecondCopy()) return;
        Sweep();
        context_ = "after the start-up sweep at " + Seconds(start_);
    }

    void Apply(const scenario::Action& a) {
        using A = scenario::Action::Kind;
        ++applied_;
        actionSinceTick_ = true;
        switch (a.kind) {
        case A::Press:
            break;
        case A::Steal:
            DropCombo(a.mods, a.vk);
            keys_.push_back({thief_, ++steals_, a.mods, a.vk});
            ++counts_.steals;
            context_ = "after \"" + a.text + "\" at " + Seconds(a.t);
            break;
        case A::NotifyTray:
            if (a.Notification() != WM_LBUTTONDOWN) break;
            [[fallthrough]];  // what a tap sends first
        case A::TapTray:
            // A tap while the menu or the About box is open is ignored.
            if (Running() && tray_ == Idle) tray_ = Menu;
            break;
        case A::Choose:
            if (tray_ != Menu) break;
            if (a.Item() == "About Klavor") tray_ = About;
            if (a.Item() == "Exit") exitAt_ = a.t, tray_ = Idle;
            break;
        case A::DismissMenu:
            if (tray_ == Menu) tray_ = Idle;
            break;
        case A::CloseAbout:
            if (tray_ == About) tray_ = Idle;
            break;
        case A::Install:
        case A::Reset:
            break;  // never run: unsupported
        }
    }

    // Everything due by `now`, in the order the phone ran it.
    void Advance(sim::Time now) {
        const auto& actions = s_.actions;
        for (;;) {
            bool startDue = !started_ && start_ <= now;
            bool actionDue = applied_ < actions.size() && actions[applied_].t <= now && !(exitAt_ && actions[applied_].t > *exitAt_);
            if (startDue && (!actionDue || start_ < actions[applied_].t)) {
                StartProgram();
            } else if (actionDue) {
                Apply(actions[applied_]);
            } else {
                break;
            }
        }
    }

    bool IsTick(sim::Time t) const { return Running() && t > start_ && (t - start_) % kTick == 0; }
    long long TickNumber(sim::Time t) const { return static_cast<long long>((t - start_) / kTick); }
    bool IsSweep(sim::Time t) const { return IsTick(t) && TickNumber(t) % kSweepTicks == 0; }
    sim::Time TickAfter(sim::Time t) const { return t < start_ ? start_ + kTick : start_ + ((t - start_) / kTick + 1) * kTick; }
    sim::Time SweepAfter(sim::Time t) const {
        sim::Time period = kSweepTicks * kTick;
        return t < start_ ? start_ + period : start_ + ((t - start_) / period + 1) * period;
    }

    // ---- the checks ----

    void CheckKeys() {
        if (held_.count(VK_LWIN)) Fail(Check::KeyLeftDown, "the Windows key is left down");
        if (!foregroundDown_.empty())
            Fail(Check::KeyLeftDown, "the foreground application got key " + sim::Hex(*foregroundDown_.begin()) +
                                         " down and not its key up");
        if (!held_.empty()) Fail(Check::KeyLeftDown, "key " + sim::Hex(*held_.begin()) + " is left down");
    }

    // `loops`: the menu and the About box too. Once a run has ended inside
    // one, the phone has closed its loops as the run unwound.
    void CheckTray(bool loops = true) {
        int icons = 0;
        for (const sim::TrayIcon& i : sim::TrayIcons())
            if (sim::OwnerOf(i.hwnd) == sim::kProgram) icons += i.id == kTrayIconId ? 1 : 100;
        int wantIcons = Running() ? 1 : 0;
        if (icons != wantIcons)
            Fail(Check::Tray, Running() ? "the program's tray icon is not there, or not alone" : "the tray icon is left behind");
        if (!loops) return;
        const char* state = tray_ == Menu ? "open" : "closed";
        if (sim::MenuOpen() != (tray_ == Menu)) Fail(Check::Tray, std::string("the menu should be ") + state);
        if (boxes_ != (tray_ == About ? 1 : 0))
            Fail(Check::Tray, "the About box should be " + std::string(tray_ == About ? "open" : "closed") + " (" +
                                  std::to_string(boxes_) + " open)");
    }

    void Look(sim::Time t) {
        if (t > start_ && !SecondCopy() && !program_) Fail(Check::Timing, "the program has no window after its start");
        if (!IsTick(t)) return;
        // Just before the tick at t: what it will do.
        CheckTray();
        if (button_ >= 0 && t > due_)
            Fail(Check::Timing, Slot(button_) + " was due to fire at " + Seconds(due_) + " and was not looked at");
        bool fire = button_ >= 0 && t == due_;
        pending_ = Tick{t, fire ? button_ : -1, pressIndex_, IsSweep(t)};
        actionSinceTick_ = false;
    }

    std::optional<sim::Time> NextVisit(sim::Time now) const {
        std::optional<sim::Time> next;
        auto consider = [&](sim::Time t) {
            if (t > now && (!next || t < *next)) next = t;
        };
        if (applied_ < s_.actions.size()) consider(s_.actions[applied_].t);
        if (!started_) consider(start_ + kTick);
        if (pending_ && (pending_->slot >= 0 || pending_->sweep)) consider(pending_->t + 1);
        if (Running() || !started_) {
            // Ticks where nothing can fire are not looked at: nothing is
            // pending and no event has come since the last look.
            sim::Time base = std::max(now, start_);
            consider(actionSinceTick_ ? TickAfter(base) : SweepAfter(base));
            if (button_ >= 0) consider(due_);
        }
        return next;
    }

    void Visit() {
        sim::Time now = sim::Now();
        ReadEvents();
        if (pending_ && pending_->t < now) JudgeTick();
        if (!sent_.empty()) JudgeSent(nullptr);
        CountPresses();
        Advance(now);
        if (unsupported()) throw Stop{};
        CheckKeys();
        CompareHotKeys();
        Look(now);
        if (std::optional<sim::Time> next = NextVisit(now)) sim::At(*next, [this] { Visit(); });
    }

    void End(const scenario::Outcome& o) {
        sim::Time now = sim::Now();
        ReadEvents();
        if (pending_) JudgeTick();
        if (!sent_.empty()) JudgeSent(nullptr);
        CountPresses();
        Advance(now);
        if (unsupported()) return;
        bool wantExit = (SecondCopy() && started_) || exitAt_.has_value();
        if (o.exited != wantExit)
            Fail(Check::Exit, o.exited ? "the program exited with code " + std::to_string(o.exitCode) + " at " +
                                             Seconds(now) + ", and nothing asked it to"
                                       : "the program is still running, though Exit was chosen");
        if (wantExit) {
            int code = SecondCopy() ? 0 : kExitCodeMenu;
            sim::Time at = SecondCopy() ? start_ : *exitAt_;
            ++counts_.exits;
            if (o.exitCode != code || now != at)
                Fail(Check::Exit, "the program exited with code " + std::to_string(o.exitCode) + " at " + Seconds(now) +
                                      ", not " + std::to_string(code) + " at " + Seconds(at));
            if (!SecondCopy()) {
                for (int s = 0; s < KEY_SLOTS; ++s)
                    if (table_[s].mode == MODE_CAPTURE) ReleaseSlot(s);
                context_ = "after the exit at " + Seconds(at);
            }
            for (const sim::HotKey& k : keys_)
                if (k.hwnd == program_ && program_) Fail(Check::Exit, "the program keeps a hot key after its exit");
        }
        CheckKeys();
        CompareHotKeys();
        CheckTray(o.exited);
    }
};

}  // namespace

std::optional<Failure> CompareTimelines(const std::string& host, const std::string& phone) {
    std::size_t h = 0, p = 0, line = 0;
    sim::Time t = 0;
    // Lines begin with the time, "  12.345 s"; those that go on with a
    // message box's text do not.
    auto timeOf = [&t](const std::string& l) {
        unsigned long long sec = 0, ms = 0;
        if (std::sscanf(l.c_str(), "%llu.%3llu s", &sec, &ms) == 2) t = sec * 1000 + ms;
    };
    auto next = [](const std::string& text, std::size_t& at, std::string* out) {
        if (at >= text.size()) return false;
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        *out = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    for (;;) {
        std::string a, b;
        bool moreHost = next(host, h, &a), morePhone = next(phone, p, &b);
        ++line;
        if (!moreHost && !morePhone) return std::nullopt;
        if (moreHost && morePhone && a == b) {
            timeOf(a);
            continue;
        }
        if (morePhone) timeOf(b);
        if (moreHost) timeOf(a);
        auto shown = [](bool more, const std::string& l) { return more ? "\"" + l + "\"" : "nothing (its timeline has ended)"; };
        return Failure{Check::Identity, t,
                       "the timelines part at line " + std::to_string(line) + ": the host build has " + shown(moreHost, a) +
                           ", the phone's binary " + shown(morePhone, b)};
    }
}

RunResult CheckRun(const scenario::Scenario& s, const std::function<void()>& tamper, const Phone& phone) {
    Watch watch(s);
    if (watch.unsupported()) return watch.Finish({});
    // The host build's run, calls included, for the phone's to match.
    std::string host;
    if (phone) host = scenario::Run(s, /*trace=*/true).timeline;
    scenario::RunOptions options;
    options.started = [&] {
        watch.Begin();
        if (tamper) tamper();
    };
    options.program = phone;
    options.trace = phone != nullptr;
    options.timeline = phone != nullptr;
    scenario::Outcome o = scenario::Run(s, options);
    RunResult r = watch.Finish(o);
    if (!phone || r.unsupported) return r;
    // A fault of the emulated program is what went wrong, whatever the
    // checks made of the program's stopping.
    if (!o.fault.empty())
        r.failure = Failure{Check::Identity, r.phoneTime, "the phone's binary was stopped by a fault: " + o.fault};
    else if (!r.failure)
        r.failure = CompareTimelines(host, o.timeline);
    return r;
}

RunResult CheckLines(const Lines& lines, const std::function<void()>& tamper, const Phone& phone) {
    auto parsed = scenario::ParseScenario(ScenarioText(lines), "soak.scenario");
    if (auto* e = std::get_if<scenario::ParseError>(&parsed))
        throw std::logic_error("the soak wrote a scenario klavor-sim refuses: " + e->Text());
    return CheckRun(std::get<scenario::Scenario>(parsed), tamper, phone);
}

// ---- Shrinking -------------------------------------------------------------------

Lines Shrink(const Lines& failing, const std::function<bool(const Lines&)>& stillFails, std::size_t budget) {
    Lines best = failing;
    std::size_t runs = 0;
    auto attempt = [&](const Lines& candidate) {
        if (runs >= budget) return false;
        ++runs;
        if (!stillFails(candidate)) return false;
        best = candidate;
        return true;
    };
    auto without = [](const Lines& l, std::size_t from, std::size_t count) {
        Lines out = l;
        out.events.erase(out.events.begin() + static_cast<std::ptrdiff_t>(from),
                         out.events.begin() + static_cast<std::ptrdiff_t>(std::min(from + count, l.events.size())));
        return out;
    };

    // Events: drop chunks, halving their size when none can go (ddmin).
    std::size_t parts = 2;
    while (!best.events.empty() && runs < budget) {
        std::size_t size = best.events.size();
        std::size_t chunk = (size + parts - 1) / parts;
        bool dropped = false;
        for (std::size_t from = 0; from < size && !dropped; from += chunk) dropped = attempt(without(best, from, chunk));
        if (dropped) {
            parts = std::max<std::size_t>(parts - 1, 2);
        } else if (chunk == 1) {
            break;
        } else {
            parts = std::min(size, parts * 2);
        }
    }

    // Set-up: the phone up at once, coredll as usual, one copy.
    for (std::size_t i = 0; i < best.setUp.size();) {
        const std::string& l = best.setUp[i];
        bool plain = l == "phone up" || l.compare(0, 6, "config") == 0 || l.compare(0, 3, "end") == 0;
        Lines candidate = best;
        candidate.setUp.erase(candidate.setUp.begin() + static_cast<std::ptrdiff_t>(i));
        if (plain || !attempt(candidate)) ++i;
    }

    // The configuration: slots left alone, then plainer entries.
    std::size_t line = 0;
    if (std::optional<Table> table = TableOf(best, &line)) {
        Table t = *table;
        auto tryTable = [&](const Table& candidateTable) {
            Lines candidate = best;
            candidate.setUp[line] = ConfigLine(candidateTable);
            if (!attempt(candidate)) return false;
            t = candidateTable;
            return true;
        };
        for (int s = 0; s < KEY_SLOTS; ++s) {
            Table c = t;
            c[s] = config::DefaultTable()[s];
            if (std::memcmp(&c[s], &t[s], sizeof c[s]) != 0) tryTable(c);
        }
        for (int s = 0; s < KEY_SLOTS; ++s) {
            if (t[s].mode == MODE_IGNORE) continue;
            for (int a = KEY_ACTIONS - 1; a >= 0; --a) {
                if (t[s].actions[a] == 0) continue;
                Table c = t;
                c[s].actions[a] = 0;
                tryTable(c);
            }
            if (t[s].count != 0) {
                Table c = t;
                c[s].count = 0;
                tryTable(c);
            }
        }
    }
    return best;
}

Lines ShrinkFailure(const Lines& failing, Check check, const Phone& phone, std::size_t budget) {
    auto fails = [check, &phone](const Lines& l) {
        RunResult r = CheckLines(l, {}, phone);
        return !r.unsupported && r.failure && r.failure->check == check;
    };
    Lines shrunk = Shrink(failing, fails, budget);
    // End the run soon after the failure.
    RunResult r = CheckLines(shrunk, {}, phone);
    if (r.failure) {
        Lines shorter = shrunk;
        for (std::string& l : shorter.setUp)
            if (l.compare(0, 4, "end ") == 0) l = "end " + Ms(r.failure->t + 1000);
        if (fails(shorter)) shrunk = shorter;
    }
    return shrunk;
}

}  // namespace soak
