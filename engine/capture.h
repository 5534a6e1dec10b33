// Taking buttons away from their usual owners and giving them back.
//
// A captured slot i holds three hot keys on the program's window, all on
// the slot's key: plain (id i), with the Windows key (0x100 + i) and with
// Shift (0x200 + i). Freeing a slot drops whatever registration anybody
// holds for those three combinations.
#ifndef KLAVOR_ENGINE_CAPTURE_H
#define KLAVOR_ENGINE_CAPTURE_H

#include <windows.h>

enum {
    HOTKEY_ID_PLAIN = 0x000,
    HOTKEY_ID_WIN = 0x100,
    HOTKEY_ID_SHIFT = 0x200,
    HOTKEY_SLOT_MASK = 0xFF,
    RECAPTURE_TICKS = 300  // ticks between the end of one sweep and the next
};

// coredll's undocumented export: drops any registration of a hot-key
// combination, whoever holds it.
typedef BOOL(WINAPI* UnregisterFunc1Proc)(UINT fsModifiers, UINT vk);

// Filled in by the shell at start-up.
extern HWND g_hWnd;                              // the program's window
extern UnregisterFunc1Proc g_pUnregisterFunc1;  // NULL where coredll lacks it

// Ticks until the next periodic sweep; negative once the buttons are released.
extern int recaptureTicks;

void FreeButton(int slot);
void CaptureButton(int slot);
void ReleaseButton(int slot);
void CaptureAll();
void ReleaseAll();
void RecaptureTick();

#endif
