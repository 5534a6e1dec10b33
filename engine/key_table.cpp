#include "key_table.h"

// Application buttons 1 to 4 send themselves with the Windows key on a
// single press, so by default the shell still launches what it is assigned
// to; codes 0 to 16 are labelled below.
#define DEFAULT_ENTRY(vk, a0, a1, a2) \
    { MODE_IGNORE, vk, 2, { a0, a1, a2, 0, 0 } }

#define DEFAULT_KEY_TABLE                              \
    {                                                  \
        DEFAULT_ENTRY(0xC1, 0x40C1, 0x0005, 0x000B), /* Calendar */    \
        DEFAULT_ENTRY(0xC2, 0x40C2, 0x0006, 0x000C), /* Contacts */    \
        DEFAULT_ENTRY(0xC3, 0x40C3, 0x0007, 0x000D), /* Camera */      \
        DEFAULT_ENTRY(0xC4, 0x40C4, 0x0008, 0x000E), /* Record */      \
        DEFAULT_ENTRY(0x75, 0x0001, 0x0000, 0x0000), /* Volume Up */   \
        DEFAULT_ENTRY(0x76, 0x0002, 0x0000, 0x0000), /* Volume Dn */   \
        DEFAULT_ENTRY(0x72, 0x0003, 0x0009, 0x000F), /* Green (talk) */ \
        DEFAULT_ENTRY(0x73, 0x0004, 0x000A, 0x0010), /* Red (end) */   \
    }

const KeyEntry DefaultKeyTable[KEY_SLOTS] = DEFAULT_KEY_TABLE;
KeyEntry KeyTable[KEY_SLOTS] = DEFAULT_KEY_TABLE;

const char* const ButtonNames[KEY_SLOTS] = {
    "Calendar", "Contacts", "Camera", "Record", "Volume Up", "Volume Dn", "Green", "Red",
};

const char* const ActionCodeLabels[ACTION_CODE_LABELS] = {
    "FAKE",       "Volume Up",  "Volume Dn",  "Green Btn",  "Red Btn",    "Calendar*2",
    "Contacts*2", "Camera*2",   "Record*2",   "Green*2",    "Red*2",      "Calendar*3",
    "Contacts*3", "Camera*3",   "Record*3",   "Green*3",    "Red*3",
};

const WCHAR KEY_TABLE_REG_PATH[] = TEXT("SOFTWARE\\Morvane");
const WCHAR KEY_TABLE_REG_VALUE[] = TEXT("klavorKeyTable");

static WORD ReadWord(const BYTE* p) { return (WORD)(p[0] | (p[1] << 8)); }

static void WriteWord(BYTE* p, WORD w) {
    p[0] = (BYTE)(w & 0xFF);
    p[1] = (BYTE)(w >> 8);
}

void DecodeKeyTable(const BYTE* image, KeyEntry* table) {
    for (int i = 0; i < KEY_SLOTS; ++i) {
        const BYTE* p = image + i * KEY_ENTRY_BYTES;
        table[i].mode = ReadWord(p);
        table[i].vk = ReadWord(p + 2);
        table[i].count = ReadWord(p + 4);
        for (int a = 0; a < KEY_ACTIONS; ++a) table[i].actions[a] = ReadWord(p + 6 + 2 * a);
    }
}

void EncodeKeyTable(const KeyEntry* table, BYTE* image) {
    for (int i = 0; i < KEY_SLOTS; ++i) {
        BYTE* p = image + i * KEY_ENTRY_BYTES;
        WriteWord(p, table[i].mode);
        WriteWord(p + 2, table[i].vk);
        WriteWord(p + 4, table[i].count);
        for (int a = 0; a < KEY_ACTIONS; ++a) WriteWord(p + 6 + 2 * a, table[i].actions[a]);
    }
}

WORD EffectiveCount(const KeyEntry* entry) {
    return entry->count > MAX_PRESS_INDEX ? (WORD)MAX_PRESS_INDEX : entry->count;
}
