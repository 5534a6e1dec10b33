// Where the hot keys should be: the phone's one table as the program and
// the thief should have left it.
#include <algorithm>
#include <set>
#include <tuple>

#include "watch.h"

namespace soak {
namespace {

bool Combo(const sim::HotKey& k, UINT mods, UINT vk) {
    return (k.mods & kComboMods) == (mods & kComboMods) && k.vk == vk;
}

}  // namespace

void HotKeys::DropCombo(UINT mods, UINT vk) {
    keys_.erase(std::remove_if(keys_.begin(), keys_.end(), [&](const sim::HotKey& k) { return Combo(k, mods, vk); }),
                keys_.end());
}

void HotKeys::Register(HWND hwnd, int id, UINT mods, UINT vk) {
    for (const sim::HotKey& k : keys_)
        if (Combo(k, mods, vk) && !(k.hwnd == hwnd && k.id == id)) return;  // somebody else holds it
    keys_.erase(std::remove_if(keys_.begin(), keys_.end(),
                               [&](const sim::HotKey& k) { return k.hwnd == hwnd && k.id == id; }),
                keys_.end());
    keys_.push_back({hwnd, id, mods, vk});
}

void HotKeys::Unregister(HWND hwnd, int id) {
    auto it = std::find_if(keys_.begin(), keys_.end(), [&](const sim::HotKey& k) { return k.hwnd == hwnd && k.id == id; });
    if (it != keys_.end()) keys_.erase(it);
}

void HotKeys::Steal(UINT mods, UINT vk) {
    DropCombo(mods, vk);
    keys_.push_back({log_.thief, ++steals_, mods, vk});
}

void HotKeys::Free(int slot) {
    if (!unfree_) return;
    for (UINT mods : kVariantMods) DropCombo(mods, table_[slot].vk);
}

void HotKeys::Capture(int slot) {
    Free(slot);
    for (int v = 0; v < 3; ++v) Register(log_.program, kVariantIds[v] + slot, kVariantMods[v], table_[slot].vk);
}

void HotKeys::Release(int slot) {
    for (int v = 0; v < 3; ++v) Unregister(log_.program, kVariantIds[v] + slot);
}

void HotKeys::Sweep() {
    for (int s = 0; s < KEY_SLOTS; ++s) {
        if (table_[s].mode == MODE_FREE) Free(s);
        if (table_[s].mode == MODE_CAPTURE) Capture(s);
    }
}

std::size_t HotKeys::HeldByThief() const {
    std::size_t n = 0;
    for (const sim::HotKey& k : keys_) n += k.hwnd == log_.thief && log_.thief;
    return n;
}

bool HotKeys::ProgramHoldsAny() const {
    for (const sim::HotKey& k : keys_)
        if (k.hwnd == log_.program && log_.program) return true;
    return false;
}

std::string HotKeys::Holder(const std::optional<sim::HotKey>& k) const {
    if (!k) return "nobody";
    if (k->hwnd == log_.program) {
        int slot = k->id & kSlotMask;
        return "Klavor's id " + std::to_string(k->id) + (slot < KEY_SLOTS ? " (" + Slot(slot) + ")" : "");
    }
    if (k->hwnd == log_.thief) return "the other program's id " + std::to_string(k->id);
    return sim::Hex(reinterpret_cast<ULONG_PTR>(k->hwnd)) + " id " + std::to_string(k->id);
}

void HotKeys::Compare() const {
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
    const std::string where = context.empty() ? "" : context + ": ";
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
        Fail(Check::HotKeys, where + "hot key " + combo + " is held by " + Holder(a) + ", not " + Holder(e));
    }
    Fail(Check::HotKeys, where + "the hot keys differ");
}

}  // namespace soak
