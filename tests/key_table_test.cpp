// Loading the configuration from the registry value.
#include "engine_fixture.h"

#include <array>

namespace {

using Image = std::vector<std::uint8_t>;

Image ImageOf(const KeyEntry* table) {
    Image image(KEY_TABLE_BYTES);
    EncodeKeyTable(table, image.data());
    return image;
}

// A configuration unlike the defaults in every slot, modes included.
Image AllCapturedImage() {
    KeyEntry table[KEY_SLOTS];
    std::memcpy(table, DefaultKeyTable, sizeof table);
    for (int i = 0; i < KEY_SLOTS; ++i) {
        table[i].mode = MODE_CAPTURE;
        table[i].count = static_cast<WORD>(i % 5);
        table[i].actions[4] = static_cast<WORD>(0x4000 | (0x30 + i));
    }
    return ImageOf(table);
}

void StoreValue(const Image& image, DWORD type = REG_BINARY) {
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane", u"klavorKeyTable", type, image);
}

bool TableIsDefault() { return std::memcmp(KeyTable, DefaultKeyTable, sizeof KeyTable) == 0; }

using KeyTableTest = EngineTest;

TEST_F(KeyTableTest, StoredImageIsLittleEndianWordsSlotZeroFirst) {
    Image image = ImageOf(DefaultKeyTable);
    // Slot 0: mode 0, vk 0xC1, count 2, actions 0x40C1 5 0x0B 0 0.
    const Image slot0 = {0x00, 0x00, 0xC1, 0x00, 0x02, 0x00, 0xC1, 0x40,
                         0x05, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Image(image.begin(), image.begin() + 16), slot0);
    // Slot 7 (Red): vk 0x73, actions 4, 0x0A, 0x10.
    const Image slot7 = {0x00, 0x00, 0x73, 0x00, 0x02, 0x00, 0x04, 0x00,
                         0x0A, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Image(image.begin() + 112, image.end()), slot7);
    KeyEntry back[KEY_SLOTS];
    DecodeKeyTable(image.data(), back);
    EXPECT_EQ(std::memcmp(back, DefaultKeyTable, sizeof back), 0);
}

TEST_F(KeyTableTest, ValueOfExactlyOneTableReplacesEverySlotWithTheCallsInOrder) {
    Image stored = AllCapturedImage();
    StoreValue(stored, REG_DWORD);  // the type is not looked at
    LoadKeyTable();
    EXPECT_EQ(ImageOf(KeyTable), stored);
    for (int i = 0; i < KEY_SLOTS; ++i) EXPECT_EQ(KeyTable[i].mode, MODE_CAPTURE) << "slot " << i;
    EXPECT_EQ(sim::TraceOf(),
              (std::vector<std::string>{
                  "RegOpenKeyExW(0x80000002, \"SOFTWARE\\Morvane\", 0, 0) -> ERROR_SUCCESS, key 0x20000",
                  "RegQueryValueExW(0x20000, \"klavorKeyTable\", NULL, NULL, buffer, 128)"
                  " -> ERROR_SUCCESS, size 128",
                  "RegCloseKey(0x20000) -> ERROR_SUCCESS",
              }));
}

TEST_F(KeyTableTest, ValuesOfAnyOtherLengthLeaveTheDefaults) {
    Image full = AllCapturedImage();
    for (std::size_t size : {129u, 200u, 127u, 64u, 1u, 0u}) {
        SCOPED_TRACE("value of " + std::to_string(size) + " bytes");
        scenario::NewProgramProcess();
        Image value(size, 0x02);  // every word mode/capture-looking
        std::copy(full.begin(), full.begin() + static_cast<long>(std::min<std::size_t>(size, 128)), value.begin());
        StoreValue(value);
        sim::ClearTrace();
        LoadKeyTable();
        EXPECT_TRUE(TableIsDefault());
        // The key is closed whatever the query said.
        EXPECT_EQ(sim::TraceOf({"RegCloseKey"}).size(), 1u);
    }
}

TEST_F(KeyTableTest, MissingKeyOrValueLeavesTheDefaultsAndCapturesNothing) {
    LoadKeyTable();  // no key at all: nothing to close
    EXPECT_TRUE(TableIsDefault());
    EXPECT_EQ(sim::TraceOf({"RegQueryValueExW", "RegCloseKey"}).size(), 0u);

    sim::CreateRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane");
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane", u"otherValue", REG_BINARY,
                          AllCapturedImage());
    sim::ClearTrace();
    LoadKeyTable();
    EXPECT_TRUE(TableIsDefault());
    EXPECT_EQ(sim::TraceOf({"RegCloseKey"}).size(), 1u);

    sim::ClearTrace();
    CaptureAll();
    Ticks(700);
    EXPECT_TRUE(sim::Trace().empty()) << sim::Trace().front().Text();
}

}  // namespace
