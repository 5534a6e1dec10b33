// Keys and hot keys: the road of every key event, and the one hot-key table
// for the whole phone.
#include <algorithm>

#include "phone_state.h"

namespace sim {
namespace internal {

UINT HeldModifiers(BYTE except) {
    UINT mods = 0;
    for (BYTE k : P().held) {
        if (k == except) continue;
        if (k == VK_LWIN || k == VK_RWIN) mods |= MOD_WIN;
        if (k == VK_SHIFT || k == VK_LSHIFT || k == VK_RSHIFT) mods |= MOD_SHIFT;
        if (k == 0x11 || k == 0xA2 || k == 0xA3) mods |= MOD_CONTROL;
        if (k == 0x12 || k == 0xA4 || k == 0xA5) mods |= MOD_ALT;
    }
    return mods;
}

const UINT kComboMods = MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN;

HotKey* FindHotKey(UINT mods, UINT vk) {
    for (auto& k : P().hotKeys)
        if ((k.mods & kComboMods) == (mods & kComboMods) && k.vk == vk) return &k;
    return nullptr;
}

// The road of every key event, from a hardware button or keybd_event: the
// modifier state, then the hot-key table (a matching key-down becomes
// WM_HOTKEY for its holder and goes no further), else the foreground window.
void RouteKey(BYTE vk, bool up, bool injected) {
    UINT mods = HeldModifiers(vk);
    if (up)
        P().held.erase(vk);
    else
        P().held.insert(vk);
    if (!up) {
        if (HotKey* k = FindHotKey(mods, vk)) {
            HotKey hk = *k;
            PostTo(hk.hwnd, WM_HOTKEY, static_cast<WPARAM>(hk.id), MAKELONG(mods, vk));
            Event e = MakeEvent(Event::Kind::HotKeyPosted);
            e.hwnd = hk.hwnd;
            e.id = hk.id;
            e.mods = mods;
            e.vk = vk;
            e.injected = injected;
            Emit(e);
            return;
        }
    }
    HWND to = Win(P().foreground) ? P().foreground : nullptr;
    if (to) PostTo(to, up ? WM_KEYUP : WM_KEYDOWN, vk, 0);
    Event e = MakeEvent(Event::Kind::KeyToForeground);
    e.hwnd = to;
    e.vk = vk;
    e.up = up;
    e.injected = injected;
    Emit(e);
}

BOOL WINAPI SimUnregisterFunc1(UINT fsModifiers, UINT vk) {
    Traced tr("UnregisterFunc1", [&] { return Join({Num(fsModifiers), Hex(vk)}); });
    auto& keys = P().hotKeys;
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const HotKey& k) {
                                  return (k.mods & kComboMods) == (fsModifiers & kComboMods) &&
                                         k.vk == vk;
                              }),
               keys.end());
    return tr.Bool(TRUE);
}

}  // namespace internal

using namespace internal;

void KeyDown(BYTE vk) { RouteKey(vk, false, false); }
void KeyUp(BYTE vk) { RouteKey(vk, true, false); }

void Press(BYTE vk, UINT mods) {
    std::vector<BYTE> modifiers;
    if (mods & MOD_WIN) modifiers.push_back(VK_LWIN);
    if (mods & MOD_SHIFT) modifiers.push_back(VK_SHIFT);
    if (mods & MOD_CONTROL) modifiers.push_back(0x11);
    if (mods & MOD_ALT) modifiers.push_back(0x12);
    for (BYTE m : modifiers) KeyDown(m);
    KeyDown(vk);
    KeyUp(vk);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) KeyUp(*it);
}

bool RegisterHotKeyFor(HWND hwnd, int id, UINT mods, UINT vk) {
    if (!Win(hwnd)) return false;
    HotKey* held = FindHotKey(mods, vk);
    if (held && !(held->hwnd == hwnd && held->id == id)) return false;
    auto& keys = P().hotKeys;
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const HotKey& k) { return k.hwnd == hwnd && k.id == id; }),
               keys.end());
    keys.push_back(HotKey{hwnd, id, mods, vk});
    return true;
}

void StealHotKey(HWND hwnd, int id, UINT mods, UINT vk) {
    auto& keys = P().hotKeys;
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const HotKey& k) {
                                  return (k.mods & kComboMods) == (mods & kComboMods) && k.vk == vk;
                              }),
               keys.end());
    RegisterHotKeyFor(hwnd, id, mods, vk);
}

std::vector<HotKey> HotKeys() { return P().hotKeys; }

std::optional<HotKey> HotKeyHolder(UINT mods, UINT vk) {
    if (HotKey* k = FindHotKey(mods, vk)) return *k;
    return std::nullopt;
}

}  // namespace sim

using namespace sim;
using namespace sim::internal;

extern "C" {

BOOL WINAPI RegisterHotKey(HWND hWnd, int id, UINT fsModifiers, UINT vk) {
    Traced tr("RegisterHotKey", [&] { return Join({H(hWnd), Num(id), Num(fsModifiers), Hex(vk)}); });
    Window* w = Win(hWnd);
    if (!w) {
        P().lastError = ERROR_INVALID_HANDLE;
        return tr.Bool(FALSE);
    }
    if (!RegisterHotKeyFor(hWnd, id, fsModifiers, vk)) {
        P().lastError = ERROR_HOTKEY_ALREADY_REGISTERED;
        return tr.Bool(FALSE);
    }
    return tr.Bool(TRUE);
}

BOOL WINAPI UnregisterHotKey(HWND hWnd, int id) {
    Traced tr("UnregisterHotKey", [&] { return Join({H(hWnd), Num(id)}); });
    auto& keys = P().hotKeys;
    auto it = std::find_if(keys.begin(), keys.end(),
                           [&](const HotKey& k) { return k.hwnd == hWnd && k.id == id; });
    if (it == keys.end()) {
        P().lastError = ERROR_HOTKEY_NOT_REGISTERED;
        return tr.Bool(FALSE);
    }
    keys.erase(it);
    return tr.Bool(TRUE);
}

void WINAPI keybd_event(BYTE bVk, BYTE bScan, DWORD dwFlags, DWORD dwExtraInfo) {
    Traced tr("keybd_event", [&] { return Join({Hex(bVk), Num(bScan), Num(dwFlags), Num(dwExtraInfo)}); });
    RouteKey(bVk, (dwFlags & KEYEVENTF_KEYUP) != 0, true);
    tr.Void();
}

}  // extern "C"
