#include "config_check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "key_names.h"
#include "engine/sequence.h"  // HOLD_TICKS

namespace config {
namespace {

bool TakesKey(WORD mode) { return mode == MODE_FREE || mode == MODE_CAPTURE; }

// The slot whose hot keys catch a key-down of vk while `firing` sends (-1
// for none): the last slot of mode free or capture on that key takes it at
// every sweep, and the firing slot has let go of its own.
int Holder(const Table& t, unsigned vk, int firing) {
    int last = -1;
    for (int s = 0; s < KEY_SLOTS; ++s)
        if (TakesKey(t[s].mode) && t[s].vk == vk) last = s;
    if (last < 0 || t[last].mode != MODE_CAPTURE || last == firing) return -1;
    return last;
}

WORD ClampIndex(const Table& t, int slot, WORD index) { return std::min<WORD>(index, EffectiveCount(&t[slot])); }

ActionCode ActionOf(const Table& t, const Press& p) { return t[p.slot].actions[ClampIndex(t, p.slot, p.index)]; }

// The sequence that firing `p` starts, if its action presses a button.
std::optional<Press> Next(const Table& t, const Press& p) {
    ActionCode a = ActionOf(t, p);
    std::vector<int> caught;
    if ((a & ACTION_FLAG_MASK) == ACTION_WITH_WIN) {
        int h = Holder(t, VK_LWIN, p.slot);
        if (h >= 0) caught.push_back(h);
    }
    int h = Holder(t, a & ACTION_KEY_MASK, p.slot);
    if (h >= 0) caught.push_back(h);
    if (caught.empty()) return std::nullopt;
    // A press on another button drops the one before; two on the same
    // button count up (and an index past the count acts as the count).
    WORD index = caught.size() == 2 && caught[0] == caught[1] ? 1 : 0;
    return Press{caught.back(), ClampIndex(t, caught.back(), index)};
}

}  // namespace

PressRoad FollowPress(const Table& t, Press start) {
    PressRoad road;
    road.presses.push_back({start.slot, ClampIndex(t, start.slot, start.index)});
    std::map<Press, int> seen{{road.presses[0], 0}};
    for (;;) {
        std::optional<Press> next = Next(t, road.presses.back());
        if (!next) return road;
        auto again = seen.find(*next);
        if (again != seen.end()) {
            road.loopsTo = again->second;
            return road;
        }
        seen[*next] = static_cast<int>(road.presses.size());
        road.presses.push_back(*next);
    }
}

int TicksToFire(const Table& t, Press p) { return p.index < EffectiveCount(&t[p.slot]) ? HOLD_TICKS + 1 : 1; }

bool Pressable(const Table& t, int slot) { return t[slot].mode == MODE_CAPTURE && Holder(t, t[slot].vk, -1) == slot; }

namespace {

std::string Seconds(int ms) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%g", ms / 1000.0);
    return buf;
}

const char* const kOrdinals[KEY_ACTIONS] = {"", "second ", "third ", "fourth ", "fifth "};

}  // namespace

ButtonTiming Timing(const Table& t, int slot) {
    ButtonTiming timing;
    const KeyEntry& e = t[slot];
    if (e.mode == MODE_FREE) {
        timing.note = "free: Klavor takes its presses and sends nothing";
    } else if (e.mode != MODE_CAPTURE) {
        timing.note = "left alone: its presses do what they did without Klavor";
    } else if (!Pressable(t, slot)) {
        int taker = -1;
        for (int s = 0; s < KEY_SLOTS; ++s)
            if (TakesKey(t[s].mode) && t[s].vk == e.vk) taker = s;
        timing.note = std::string("its presses go to ") + ButtonNames[taker] + ", later in the table on the same key" +
                      (t[taker].mode == MODE_CAPTURE ? "" : ", which sends nothing");
    }
    if (!timing.note.empty()) return timing;
    for (WORD index = 0; index <= EffectiveCount(&e); ++index) {
        int ticks = TicksToFire(t, {slot, index});
        std::string press = std::string("the ") + kOrdinals[index] + "press";
        if (ticks == 1) {
            timing.presses.push_back("sent within " + Seconds(TIMER_PERIOD_MS) + " s of " + press);
            continue;
        }
        std::string next = PressWord(index + 1);
        timing.presses.push_back("sent " + Seconds((ticks - 1) * TIMER_PERIOD_MS) + "-" +
                                 Seconds(ticks * TIMER_PERIOD_MS) + " s after " + press + ", since a " + next +
                                 " press is configured; for the " + next + ", press again within " +
                                 Seconds((ticks - 1) * TIMER_PERIOD_MS) + " s");
    }
    return timing;
}

namespace {

class Checker {
public:
    Checker(const Table& table, const Origin& origin) : t_(table), o_(origin) {}

    std::vector<Finding> Run() {
        SlotWarnings();
        SharedKeys();
        Sends();
        std::stable_sort(found_.begin(), found_.end(), [](const Finding& a, const Finding& b) {
            if (a.line != b.line) return a.line < b.line;
            return a.error && !b.error;
        });
        return found_;
    }

private:
    const Table& t_;
    const Origin& o_;
    std::vector<Finding> found_;

    int LineOf(int slot) const { return o_.lines[slot] ? o_.lines[slot] : o_.line; }
    bool SlotsHaveLines() const {
        return std::any_of(o_.lines.begin(), o_.lines.end(), [](int l) { return l != 0; });
    }
    // How a message names a button other than the one it is reported at.
    std::string Ref(int slot) const {
        std::string name = ButtonNames[slot];
        if (o_.namesOnly) return name;
        if (o_.lines[slot]) return name + " (line " + std::to_string(o_.lines[slot]) + ")";
        if (SlotsHaveLines()) return name + " (built in)";
        return name + " (slot " + std::to_string(slot) + ")";
    }
    // How a message names the button it is reported at.
    std::string Subject(int slot) const { return LineOf(slot) && o_.lines[slot] ? ButtonNames[slot] : Ref(slot); }

    void Add(bool error, int slot, const std::string& message, std::vector<int> presses = {},
             std::vector<int> others = {}) {
        int line = LineOf(slot);
        std::string where = o_.file + (line ? ":" + std::to_string(line) : "");
        found_.push_back({error, line, where + (error ? ": error: " : ": warning: ") + message, message, slot,
                          std::move(presses), std::move(others)});
    }

    // The buttons of a road other than the one it starts at, each once.
    static std::vector<int> Others(const std::vector<Press>& road) {
        std::vector<int> others;
        for (const Press& p : road)
            if (p.slot != road[0].slot && std::find(others.begin(), others.end(), p.slot) == others.end())
                others.push_back(p.slot);
        return others;
    }

    WORD ActionOf(const Press& p) const { return config::ActionOf(t_, p); }

    std::string Word(const Press& p) const { return PressWord(ClampIndex(t_, p.slot, p.index)); }

    // "Calendar single sends App2, a press of Contacts (line 2); Contacts
    // single sends ...": each press in `road` firing into the next.
    std::string Road(const std::vector<Press>& road, std::size_t steps) const {
        std::string out;
        for (std::size_t i = 0; i < steps; ++i) {
            const Press& p = road[i];
            const Press& n = road[(i + 1) % road.size()];
            std::string who = i == 0 ? Subject(p.slot) : ButtonNames[p.slot];
            if (i) out += "; ";
            out += who + " " + Word(p) + " sends " + SpellAction(ActionOf(p)) + ", a " +
                   (n.index ? "double press" : "press") + " of " + Ref(n.slot);
        }
        return out;
    }

    void SlotWarnings() {
        for (int s = 0; s < KEY_SLOTS; ++s) {
            const KeyEntry& e = t_[s];
            if (e.mode > MODE_CAPTURE)
                Add(false, s, Subject(s) + ": mode " + std::to_string(e.mode) +
                                  " is not leave, free or capture; the program leaves the button alone");
            if (e.count != EffectiveCount(&e))
                Add(false, s, Subject(s) + ": presses " + std::to_string(e.count) + " acts as presses " +
                                  std::to_string(EffectiveCount(&e)) + " (" + PressWord(MAX_PRESS_INDEX) +
                                  " is the most the program counts)");
            if (e.mode != MODE_CAPTURE) continue;
            std::vector<std::string> silent;
            std::vector<int> presses;
            for (int a = 0; a <= EffectiveCount(&e); ++a)
                if ((e.actions[a] & ACTION_KEY_MASK) == 0 && (e.actions[a] & ACTION_FLAG_MASK) != ACTION_WITH_WIN) {
                    silent.push_back(PressWord(a));
                    presses.push_back(a);
                }
            if (silent.empty()) continue;
            std::string words;
            for (std::size_t i = 0; i < silent.size(); ++i)
                words += (i == 0 ? "" : i + 1 == silent.size() ? " and " : ", ") + silent[i];
            Add(false, s, Subject(s) + " " + words + (silent.size() == 1 ? " sends" : " send") +
                              " code 0 (\"" + ActionCodeLabels[0] + "\"), which nothing receives",
                presses);
        }
    }

    void SharedKeys() {
        for (int s = 0; s < KEY_SLOTS; ++s) {
            if (!TakesKey(t_[s].mode)) continue;
            int last = -1;
            for (int o = s + 1; o < KEY_SLOTS; ++o)
                if (TakesKey(t_[o].mode) && t_[o].vk == t_[s].vk) last = o;
            if (last < 0) continue;
            std::string key = keys::Spell(t_[s].vk);
            std::string both = Subject(s) + " and " + Ref(last) + " are both on key " + key + ": " +
                               ButtonNames[last] + ", later in the table, ";
            bool mine = t_[s].mode == MODE_CAPTURE, theirs = t_[last].mode == MODE_CAPTURE;
            std::string me = ButtonNames[s], them = ButtonNames[last];
            if (mine && theirs)
                Add(false, s, both + "takes its hot keys from " + me + " at every sweep, so presses of " + me +
                                  " go to " + them, {}, {last});
            else if (mine)
                Add(false, s, both + "frees its hot keys at every sweep, so presses of " + me + " never reach Klavor",
                    {}, {last});
            else
                Add(false, s, both + "takes the key at every sweep, so the line for " + me + " does nothing", {},
                    {last});
        }
    }

    void Sends() {
        std::set<std::vector<Press>> loops;
        for (int s = 0; s < KEY_SLOTS; ++s) {
            if (!Pressable(t_, s)) continue;
            for (WORD index = 0; index <= EffectiveCount(&t_[s]); ++index) {
                PressRoad road = FollowPress(t_, {s, index});
                if (road.loopsTo < 0) {
                    if (road.presses.size() > 1) Chain(road.presses);
                    continue;
                }
                std::vector<Press> loop(road.presses.begin() + road.loopsTo, road.presses.end());
                // Start where the earliest line is, so that one loop is told once.
                auto first = std::min_element(loop.begin(), loop.end(), [&](const Press& a, const Press& b) {
                    return std::make_pair(LineOf(a.slot), a) < std::make_pair(LineOf(b.slot), b);
                });
                std::rotate(loop.begin(), first, loop.end());
                if (loops.insert(loop).second) Loop(loop);
            }
        }
    }

    void Chain(const std::vector<Press>& road) {
        const Press& end = road.back();
        Add(false, road[0].slot,
            Road(road, road.size() - 1) + "; " + ButtonNames[end.slot] + " " + Word(end) + " then sends " +
                SpellAction(ActionOf(end)),
            {road[0].index}, Others(road));
    }

    void Loop(const std::vector<Press>& loop) {
        int ticks = 0;
        for (const Press& p : loop) ticks += TicksToFire(t_, p);
        std::string rate = ticks == static_cast<int>(loop.size())
                               ? "one every tick"
                               : std::to_string(loop.size()) + (loop.size() == 1 ? " action" : " actions") +
                                     " every " + std::to_string(ticks) + " ticks";
        Add(true, loop[0].slot,
            Road(loop, loop.size()) + " again: from one press Klavor would send actions on its own forever, " + rate +
                ", until it exits",
            {loop[0].index}, Others(loop));
    }
};

}  // namespace

std::vector<Finding> CheckTable(const Table& table, const Origin& origin) { return Checker(table, origin).Run(); }

bool HasError(const std::vector<Finding>& findings) {
    return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.error; });
}

}  // namespace config
