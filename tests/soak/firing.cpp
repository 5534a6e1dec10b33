// Firing and timing: the press sequence the hot keys make, and whether
// each tick sent exactly what it should, when it should.
#include <algorithm>
#include <utility>

#include "watch.h"

namespace soak {
namespace {

std::string Keys(const std::vector<std::pair<UINT, bool>>& keys) {
    std::string out;
    for (const auto& [vk, up] : keys) out += (out.empty() ? "" : ", ") + sim::Hex(vk) + (up ? " up" : " down");
    return out.empty() ? "nothing" : out;
}

}  // namespace

std::string Tick::Context() const {
    std::string c = slot >= 0 ? "after " + Slot(slot) + " fired at " + Seconds(t) : "";
    if (sweep) c += (c.empty() ? "after the sweep at " : " and swept at ") + Seconds(t);
    return c;
}

// Below the slot's count a sequence fires after five quiet ticks, on the
// sixth; at the count, on the next tick.
void Firing::Count(std::vector<Press>& presses) {
    for (const Press& p : presses) {
        int slot = p.id & kSlotMask;
        if (slot >= KEY_SLOTS) continue;
        if (slot == button_) {
            ++pressIndex_;
        } else {
            button_ = slot;
            pressIndex_ = 0;
        }
        due_ = grid_.TickAfter(p.t) + (pressIndex_ < EffectiveCount(&table_[slot]) ? kHoldTicks * kTick : 0);
    }
    presses.clear();
}

void Firing::Look(sim::Time t, bool sweep) {
    if (button_ >= 0 && t > due_)
        Fail(Check::Timing, Slot(button_) + " was due to fire at " + Seconds(due_) + " and was not looked at");
    bool fire = button_ >= 0 && t == due_;
    looked_ = Tick{t, fire ? button_ : -1, pressIndex_, sweep};
}

Tick Firing::TakeLooked() {
    Tick tick = *looked_;
    looked_.reset();
    if (tick.slot >= 0) button_ = -1;
    return tick;
}

void Firing::JudgeStray(const std::vector<Sent>& sent) {
    if (!sent.empty())
        Fail(Check::Firing, "key " + sim::Hex(sent[0].vk) + " sent at " + Seconds(sent[0].t) + ", a tick with no firing due");
}

void Firing::Judge(const Tick& tick, std::vector<Sent>& sent, HWND program, RunResult::Counts& counts) const {
    std::vector<std::pair<UINT, bool>> got, want;
    for (const Sent& k : sent) {
        if (k.t != tick.t)
            Fail(Check::Firing, "key " + sim::Hex(k.vk) + " sent at " + Seconds(k.t) + ", a tick with no firing due");
        got.push_back({k.vk, k.up});
        if (k.hotKey && k.to == program && (k.id & kSlotMask) == tick.slot)
            Fail(Check::Firing, Slot(tick.slot) + " fired at " + Seconds(tick.t) + " and its own hot key " +
                                    std::to_string(k.id) + " caught the " + sim::Hex(k.vk) +
                                    " it sent: it had not let go of its hot keys");
    }
    sent.clear();
    if (tick.slot < 0) {
        if (!got.empty()) Fail(Check::Firing, Keys(got) + " sent on the tick at " + Seconds(tick.t) + ", with no firing due");
        return;
    }
    const KeyEntry& e = table_[tick.slot];
    ActionCode a = e.actions[std::min<WORD>(tick.pressIndex, EffectiveCount(&e))];
    UINT key = a & ACTION_KEY_MASK;
    bool win = (a & ACTION_FLAG_MASK) == ACTION_WITH_WIN;
    if (win) want.push_back({VK_LWIN, false});
    want.push_back({key, false});
    if (win) want.push_back({VK_LWIN, true});
    want.push_back({key, true});
    ++counts.firings;
    counts.firingsWithWin += win;
    if (got != want)
        Fail(Check::Firing, Slot(tick.slot) + " fired at " + Seconds(tick.t) + " with press index " +
                                std::to_string(tick.pressIndex) + ", action " + sim::Hex(a) + ": it sent " + Keys(got) +
                                ", not " + Keys(want));
}

}  // namespace soak
