// Counting presses of a captured button and sending the configured key.
//
// Presses of one button close together make a sequence; it fires when the
// button has been quiet for HOLD_TICKS ticks, or on the next tick once the
// press count reaches the slot's count.
#ifndef KLAVOR_ENGINE_SEQUENCE_H
#define KLAVOR_ENGINE_SEQUENCE_H

#include <windows.h>

#include "key_table.h"

enum {
    TIMER_ID = 1234,
    TIMER_PERIOD_MS = 100,
    HOLD_TICKS = 5
};

#define HOLD_IDLE 0xFFFF
#define NO_BUTTON (-1)

struct SequenceState {
    int currentButton;  // slot whose sequence is pending, or NO_BUTTON
    WORD pressIndex;    // presses after the first
    WORD holdTicks;     // ticks left before the pending sequence fires
};

extern SequenceState g_sequence;

void ResetSequence();
LRESULT OnHotKey(WPARAM id);
LRESULT OnTimerTick();
void FireSequence();
void SendAction(ActionCode action);

#endif
