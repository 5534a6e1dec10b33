#include "capture.h"

#include "key_table.h"

HWND g_hWnd = NULL;
UnregisterFunc1Proc g_pUnregisterFunc1 = NULL;
int recaptureTicks = -1;

// The three combinations a slot holds, in the order every primitive uses.
static const int HOTKEY_ID_BASES[3] = { HOTKEY_ID_PLAIN, HOTKEY_ID_WIN, HOTKEY_ID_SHIFT };
static const UINT HOTKEY_MODIFIERS[3] = { 0, MOD_WIN, MOD_SHIFT };

void FreeButton(int slot) {
    // Without the export there is nothing to free with; capturing still
    // registers whatever combinations nobody else holds.
    if (g_pUnregisterFunc1 == NULL) return;
    for (int v = 0; v < 3; ++v) g_pUnregisterFunc1(HOTKEY_MODIFIERS[v], KeyTable[slot].vk);
}

void CaptureButton(int slot) {
    FreeButton(slot);
    for (int v = 0; v < 3; ++v)
        RegisterHotKey(g_hWnd, HOTKEY_ID_BASES[v] + slot, HOTKEY_MODIFIERS[v], KeyTable[slot].vk);
}

void ReleaseButton(int slot) {
    for (int v = 0; v < 3; ++v) UnregisterHotKey(g_hWnd, HOTKEY_ID_BASES[v] + slot);
}

void CaptureAll() {
    for (int slot = 0; slot < KEY_SLOTS; ++slot) {
        if (KeyTable[slot].mode == MODE_FREE)
            FreeButton(slot);
        else if (KeyTable[slot].mode == MODE_CAPTURE)
            CaptureButton(slot);
    }
    recaptureTicks = RECAPTURE_TICKS;
}

void ReleaseAll() {
    // Freed buttons are not handed back: their former owners re-register
    // them when they need them.
    for (int slot = 0; slot < KEY_SLOTS; ++slot)
        if (KeyTable[slot].mode == MODE_CAPTURE) ReleaseButton(slot);
    recaptureTicks = -1;
}

void RecaptureTick() {
    // Other programs may have taken the buttons back since the last sweep.
    if (recaptureTicks > 0)
        --recaptureTicks;
    else if (recaptureTicks == 0)
        CaptureAll();
}
