// The button configuration: eight slots, one per hardware button.
//
// The registry value "klavorKeyTable" holds the table's memory image:
// 8 slots of 16 bytes, each eight little-endian 16-bit words, slot 0 first.
#ifndef KLAVOR_ENGINE_KEY_TABLE_H
#define KLAVOR_ENGINE_KEY_TABLE_H

#include <windows.h>

// An action: the low byte is the virtual key to send; a high byte of
// exactly ACTION_WITH_WIN sends it with the left Windows key held.
typedef WORD ActionCode;

enum {
    KEY_SLOTS = 8,
    KEY_ACTIONS = 5,
    MAX_PRESS_INDEX = KEY_ACTIONS - 1,
    KEY_ENTRY_BYTES = 16,
    KEY_TABLE_BYTES = KEY_SLOTS * KEY_ENTRY_BYTES,
    ACTION_CODE_LABELS = 17
};

// What the program does with a button. Any other value acts as MODE_IGNORE.
enum {
    MODE_IGNORE = 0,   // leave the button alone
    MODE_FREE = 1,     // take it away from every other hot-key owner, register nothing
    MODE_CAPTURE = 2   // free it, then hold the program's own hot keys on it
};

#define ACTION_KEY_MASK 0x00FF
#define ACTION_FLAG_MASK 0xFF00
#define ACTION_WITH_WIN 0x4000

struct KeyEntry {
    WORD mode;
    WORD vk;                          // the button's virtual key, passed whole to the hot-key calls
    WORD count;                       // highest press index the button takes
    ActionCode actions[KEY_ACTIONS];  // one per press index: single, double, ...
};

// The configuration in force, process-wide. Starts as the built-in defaults.
extern KeyEntry KeyTable[KEY_SLOTS];

// The built-in configuration: every button left alone.
extern const KeyEntry DefaultKeyTable[KEY_SLOTS];

// The names the program's data gives the eight buttons, by slot, and the
// labels of the extra key codes 0 to 16 used by the default actions.
extern const char* const ButtonNames[KEY_SLOTS];
extern const char* const ActionCodeLabels[ACTION_CODE_LABELS];

// The registry value the table is read from.
extern const WCHAR KEY_TABLE_REG_PATH[];
extern const WCHAR KEY_TABLE_REG_VALUE[];

// Overwrites the table from the registry value, if it can be read and is
// exactly one table long; otherwise the table keeps what it holds.
void LoadKeyTable();

// Converts between the 128-byte stored image and the table layout.
void DecodeKeyTable(const BYTE* image, KeyEntry* table);
void EncodeKeyTable(const KeyEntry* table, BYTE* image);

// The slot's highest press index as the engine uses it: a stored count
// above MAX_PRESS_INDEX acts as MAX_PRESS_INDEX, so that no press index can
// reach past the five actions.
WORD EffectiveCount(const KeyEntry* entry);

#endif
