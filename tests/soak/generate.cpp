// The runs: made at random from a seeded stream, written as scenarios with
// the scenario library's writer and read back as klavor-sim reads them.
#include <sstream>
#include <stdexcept>

#include "config/config_check.h"
#include "scenario/disk.h"
#include "watch.h"

namespace soak {
namespace {

using config::Table;

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

scenario::Script Generate(std::mt19937_64& rng, const GenerateOptions& options) {
    Dice d{rng};
    scenario::Script out;
    Table t = RandomTable(d);
    // Loops (a send that presses a button that sends back) keep the program
    // firing every tick until it exits: legitimate, and some runs have them.
    for (int tries = 0; tries < 20 && config::HasError(config::CheckTable(t, {})) && !d.Percent(25); ++tries)
        t = RandomTable(d);
    out.setUp.push_back(scenario::ConfigHexLine(config::EncodeTable(t)));
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
        out.setUp.push_back("phone at " + scenario::TimeWord(shape.phoneAt));
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
        now = std::max(now, start);
        first = false;
        if (d.Percent(15)) {
            // Closed as a task list or an installer closes it, whatever the
            // tray shows: the menu or the About box may be open.
            add(place(d.Between(1, 700), true), "close klavor");
        } else {
            // Exit from the tray menu.
            if (tray == About) add(place(d.Between(1, 700), true), "close about");
            if (tray != Menu) add(place(d.Between(1, 700), true), "tap tray");
            add(place(d.Between(1, 700), true), "choose Exit");
        }
        out.setUp.push_back("end " + scenario::TimeWord(now + 10000));
    } else {
        out.setUp.push_back("end " + scenario::TimeWord(std::max(now, start) + d.Between(1, 40000)));
    }
    return out;
}

scenario::Scenario ScenarioOf(const scenario::Script& run) {
    auto parsed = scenario::ParseScenario(scenario::ScriptText(run), "soak.scenario");
    if (auto* e = std::get_if<scenario::ParseError>(&parsed))
        throw std::logic_error("the soak wrote a scenario klavor-sim refuses: " + e->Text());
    return std::get<scenario::Scenario>(std::move(parsed));
}

std::string ScenarioText(const scenario::Script& run, const std::string& heading) {
    scenario::Script saved = run;
    std::istringstream h(heading);
    for (std::string l; std::getline(h, l);) saved.heading.push_back(l);
    const scenario::Scenario s = ScenarioOf(run);
    if (s.configValue)
        if (std::optional<Table> t = config::DecodeValue(*s.configValue)) {
            saved.heading.push_back("");
            saved.heading.push_back("The configuration below, as klavorcfg shows it:");
            std::istringstream cfg(config::FormatConfigText(*t));
            for (std::string l; std::getline(cfg, l);) saved.heading.push_back("  " + l);
        }
    return scenario::ScriptText(saved);
}

}  // namespace soak
