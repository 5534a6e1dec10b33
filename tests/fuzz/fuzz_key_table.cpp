// Loading the table from whatever the registry holds: any type, any length.
// The program either takes the exact 128-byte image or keeps every built-in
// slot; nothing in between.
//
// Input: byte 0 picks what the registry holds (the value, only the key, or
// nothing), bytes 1-4 the value's type (little-endian), the rest its data.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "engine/key_table.h"
#include "platform/sim/phone.h"
#include "scenario/run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t shape = size > 0 ? data[0] % 3 : 0;
    DWORD type = 0;
    for (std::size_t i = 1; i < 5 && i < size; ++i) type |= static_cast<DWORD>(data[i]) << (8 * (i - 1));
    std::vector<std::uint8_t> value(data + std::min<std::size_t>(size, 5), data + size);

    sim::Reset();
    scenario::NewProgramProcess();
    const std::u16string path = KEY_TABLE_REG_PATH, name = KEY_TABLE_REG_VALUE;
    if (shape == 0) sim::SetRegistryValue(HKEY_LOCAL_MACHINE, path, name, type, value);
    if (shape == 1) sim::CreateRegistryKey(HKEY_LOCAL_MACHINE, path);

    LoadKeyTable();

    std::uint8_t image[KEY_TABLE_BYTES];
    EncodeKeyTable(KeyTable, image);
    bool exact = value.size() == KEY_TABLE_BYTES && std::memcmp(image, value.data(), KEY_TABLE_BYTES) == 0;
    bool defaults = std::memcmp(KeyTable, DefaultKeyTable, sizeof KeyTable) == 0;
    if (shape == 0 && value.size() == KEY_TABLE_BYTES)
        FUZZ_CHECK(exact, "a value of exactly one table must replace the whole table");
    else
        FUZZ_CHECK(defaults, "a missing value or one of " + std::to_string(value.size()) +
                                 " bytes must leave every slot at its default");
    return 0;
}
