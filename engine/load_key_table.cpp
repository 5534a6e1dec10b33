// Reading the configuration from the registry, once, at start-up.
#include "key_table.h"

void LoadKeyTable() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY_TABLE_REG_PATH, 0, 0, &key) != ERROR_SUCCESS) return;

    BYTE image[KEY_TABLE_BYTES];
    DWORD size = sizeof image;
    // A longer value fails the query; a shorter one would leave part of the
    // buffer unfilled, so only a value of exactly one table is taken.
    if (RegQueryValueExW(key, KEY_TABLE_REG_VALUE, NULL, NULL, image, &size) == ERROR_SUCCESS &&
        size == sizeof image)
        DecodeKeyTable(image, KeyTable);

    RegCloseKey(key);
}
