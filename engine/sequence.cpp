#include "sequence.h"

#include "capture.h"
#include "key_table.h"

SequenceState g_sequence = { NO_BUTTON, 0, HOLD_IDLE };

void ResetSequence() {
    g_sequence.currentButton = NO_BUTTON;
    g_sequence.pressIndex = 0;
    g_sequence.holdTicks = HOLD_IDLE;
}

LRESULT OnHotKey(WPARAM id) {
    // The plain, Windows and Shift hot keys of a slot count alike.
    int button = (int)(id & HOTKEY_SLOT_MASK);
    if (button >= KEY_SLOTS) return 0;  // not one of ours: leave the state alone

    if (button == g_sequence.currentButton) {
        ++g_sequence.pressIndex;
    } else {
        // A sequence pending on another button is dropped unsent.
        g_sequence.currentButton = button;
        g_sequence.pressIndex = 0;
    }
    g_sequence.holdTicks =
        g_sequence.pressIndex < EffectiveCount(&KeyTable[button]) ? (WORD)HOLD_TICKS : (WORD)0;
    return 0;
}

LRESULT OnTimerTick() {
    if (g_sequence.holdTicks != 0)
        --g_sequence.holdTicks;
    else if (g_sequence.currentButton >= 0)
        FireSequence();
    RecaptureTick();
    return 0;
}

void FireSequence() {
    int button = g_sequence.currentButton;
    const KeyEntry* entry = &KeyTable[button];
    g_sequence.holdTicks = HOLD_IDLE;
    // Presses past the limit still send the last action.
    WORD count = EffectiveCount(entry);
    if (g_sequence.pressIndex > count) g_sequence.pressIndex = count;

    // Let go of the button first, or its own hot keys would catch the key
    // we are about to send.
    ReleaseButton(button);
    SendAction(entry->actions[g_sequence.pressIndex]);
    CaptureButton(button);
    g_sequence.currentButton = NO_BUTTON;
}

void SendAction(ActionCode action) {
    BYTE key = (BYTE)(action & ACTION_KEY_MASK);
    bool withWin = (action & ACTION_FLAG_MASK) == ACTION_WITH_WIN;
    if (withWin) keybd_event(VK_LWIN, 0, 0, 0);
    keybd_event(key, 0, 0, 0);
    if (withWin) keybd_event(VK_LWIN, 0, KEYEVENTF_KEYUP, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
}
