// The control file (the cabinet's .000 member) on its own: every field
// written and read back, the shapes real builders and older klavorcfgs
// wrote, and refusing what is out of range, cut short or made up.
#include <gtest/gtest.h>

#include "cab_shapes.h"

namespace {

using namespace config;
using namespace cecab;
using namespace cabtest;

TEST(CeSetupFile, EveryFieldReadsBackAsWritten) {
    CeSetup s = Everything();
    Bytes bytes = Encode(s);
    std::string error;
    std::optional<CeSetup> back = DecodeCeSetup(bytes, "x.000", &error);
    ASSERT_TRUE(back) << error;
    EXPECT_TRUE(*back == s);
    EXPECT_EQ(GetU16(bytes, 92), 100u + 8 + 1);  // UNSUPPORTED after the two names
    EXPECT_EQ(GetU16(bytes, 94), 4u + 9 + 1);    // "HPC", "PALM PC2", ""
    // Paths read as the installer joins them.
    EXPECT_EQ(CePathText(*back, back->dirs[0].path), "%CE11%\\Sub");
    EXPECT_EQ(CeExpandFolder("%ce11%\\Sub"), "\\Windows\\Start Menu\\Programs\\Sub");
    EXPECT_EQ(CeExpandFolder("%CE3%\\Sub"), "%CE3%\\Sub");  // no Pocket PC folder
}

TEST(CeSetupFile, ReadsTheShapesRealCabinetsAndOlderKlavorsHave) {
    std::string error;
    std::optional<CeSetup> plain = DecodeCeSetup(RealControlFile(false), "plain.000", &error);
    ASSERT_TRUE(plain) << error;
    std::optional<CeSetup> padded = DecodeCeSetup(RealControlFile(true), "padded.000", &error);
    ASSERT_TRUE(padded) << error;
    EXPECT_TRUE(*padded == *plain);  // the padding is no part of any string
    EXPECT_EQ(plain->appName, "Showcase");
    EXPECT_EQ(plain->provider, "Maker Ltd");
    EXPECT_TRUE(plain->unsupported.empty());
    // UNSUPPORTED ends at its first empty name; CabWiz 2009 pads the list
    // with NULs to a multiple of 4 inside its length. A name after the end
    // is no padding.
    const struct {
        Bytes list;
        std::vector<std::string> names;  // none read: refused
    } lists[] = {{{'H', 'P', 'C', 0, 0}, {"HPC"}},
                 {{'H', 'P', 'C', 0, 0, 0, 0, 0}, {"HPC"}},
                 {{'H', 'P', 'C', 0, 'J', 'O', 'R', 'D', 'A', 'N', 0, 0}, {"HPC", "JORDAN"}},
                 {{'H', 'P', 'C', 0, 0, 'X', 0, 0}, {}}};
    for (const auto& l : lists) {
        std::optional<CeSetup> read = DecodeCeSetup(RealControlFile(true, l.list), "listed.000", &error);
        if (l.names.empty()) {
            EXPECT_FALSE(read);
            EXPECT_EQ(error, "listed.000: UNSUPPORTED holds an empty name before its end");
        } else {
            ASSERT_TRUE(read) << error;
            EXPECT_EQ(read->unsupported, l.names);
        }
    }
    EXPECT_EQ(plain->strings[3].text, "Showcase.lnk");
    ASSERT_EQ(plain->links.size(), 1u);
    EXPECT_EQ(plain->links[0].name, CePath{4});
    EXPECT_EQ(CePathText(*plain, plain->dirs[0].path), "%CE1%\\Showcase");
    EXPECT_EQ(plain->files[1].unknown, 2u);
    EXPECT_EQ(plain->files[1].flags, 0x90000001u);
    EXPECT_EQ(std::vector<std::uint32_t>({plain->processor, plain->minVersionMajor, plain->minVersionMinor, plain->maxVersionMajor,
                                          plain->maxVersionMinor, plain->maxBuild}),
              std::vector<std::uint32_t>({2577, 4, 2, 5, 999, 0xE0000000}));

    // What klavorcfg wrote before: read as it stands, the shortcut "Klavor".
    for (std::optional<Bytes> value : {std::optional<Bytes>(ConfigImage()), std::optional<Bytes>()}) {
        std::optional<CeSetup> before = DecodeCeSetup(ControlFileBefore(value), "old.000", &error);
        ASSERT_TRUE(before) << error;
        ASSERT_EQ(before->links.size(), 1u);
        EXPECT_EQ(CePathText(*before, before->links[0].name), "Klavor");
        EXPECT_EQ(before->maxVersionMajor, 0u);
        EXPECT_EQ(FindKlavorValue(*before) != nullptr, value.has_value());
    }
}

TEST(CeSetupFile, RefusesFieldsOutOfRangeOffsetsOutsideAndCountsThatLie) {
    const Bytes good = ExpectedControlFile(ConfigImage());  // Klavor's, laid out in cab_shapes.h
    const Mutation cases[] = {
        {"signature", 0, 4, 0x45435358, "no MSCE signature"},
        {"length", 8, 4, 451, "the header gives the file's length as 451 bytes, but it has 450"},
        {"STRINGS offset in the header", 60, 4, 50, "STRINGS offset 50 is inside the 100-byte header"},
        {"LINKS offset past the end", 80, 4, 100000, "LINKS entry 1 of 2 at offset 100000"},
        {"LINKS count lies", 58, 2, 3, "LINKS entry 3 of 3 at offset 450"},
        {"STRINGS count lies", 48, 2, 40, "STRINGS entry"},
        {"APPNAME past the end", 84, 2, 448, "APPNAME at offset 448 (7 bytes) runs past the end of the file (450 bytes)"},
        {"APPNAME missing", 86, 2, 0, "APPNAME is missing"},
        {"PROVIDER not terminated", 90, 2, 14, "PROVIDER is not NUL-terminated within its 14 bytes"},
        {"string length 0", 124, 2, 0, "STRINGS entry 1 of 7 has length 0"},
        {"text after a string's NUL", 124, 2, 10, "STRINGS entry 1 of 7 holds more text after its terminating NUL"},
        {"string id twice", 132, 2, 1, "STRINGS id 1 appears twice"},
        {"dir with a missing string", 208, 2, 9, "DIRS id 1 refers to string 9, which STRINGS does not have"},
        {"dir path with a 0 inside", 208, 2, 0, "DIRS entry 1 of 3 holds a 0 id before its end"},
        {"dir path odd length", 206, 2, 5, "has length 5"},
        {"file id 999", 230, 2, 999, "FILES id 999 is out of range (1 to 998)"},
        {"file into a missing dir", 232, 2, 4, "FILES id 1 installs into folder 4, which DIRS does not have"},
        {"file flags that contradict", 236, 4, 0x60000000, "both skip if newer and always overwrite"},
        {"hive root", 255, 2, 5, "REGHIVES id 1: root 5 is out of range (1 to 4)"},
        {"value under a missing hive", 269, 2, 2, "REGKEYS id 1 is under key 2"},
        {"value expand", 271, 2, 2, "REGKEYS id 1: expand 2 is out of range (0 or 1)"},
        {"value type", 273, 4, 0x00000005, "REGKEYS id 1: type 0x00000005 is out of range"},
        {"value as a dword", 273, 4, 0x00010001, "a dword has 4 bytes of data, not 128"},
        {"value longer than the file", 277, 2, 400, "REGKEYS entry 1 of 1 at offset 279 (400 bytes) runs past the end"},
        {"link folder", 426, 2, 18, "LINKS id 1: folder 18 is out of range (0 to 17)"},
        {"link type", 430, 2, 2, "LINKS id 1: type 2 is out of range (0 folder, 1 file)"},
        {"link to a missing file", 428, 2, 2, "LINKS id 1 points at file 2, which FILES does not have"},
        {"link with a missing name", 434, 2, 8, "LINKS id 1 refers to string 8, which STRINGS does not have"},
    };
    for (const Mutation& m : cases) {
        Bytes bad = Mutated(good, m);
        std::string error;
        EXPECT_FALSE(DecodeCeSetup(bad, "k.cab: KLAVOR.000", &error)) << m.what;
        EXPECT_EQ(error.rfind("k.cab: KLAVOR.000: ", 0), 0u) << m.what << ": " << error;
        EXPECT_NE(error.find(m.message), std::string::npos) << m.what << ": " << error;
    }
}

TEST(CeSetupFile, EveryTruncationAndStrayByteIsReadWithinBounds) {
    const Bytes good = ExpectedControlFile(ConfigImage());
    std::string error;
    for (std::size_t n = 0; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(DecodeCeSetup(cut, "x", &error)) << n;
        // Also with the length word telling the truth, so the sections are
        // what runs past the end. The value's data is the only part that a
        // cut can shorten and leave readable; its length word then lies.
        if (n >= 12) {
            PutU32(cut, 8, static_cast<std::uint32_t>(n));
            EXPECT_FALSE(DecodeCeSetup(cut, "x", &error)) << n;
        }
    }
    // Any one byte changed: read or refused, and what is read writes back
    // the same (under the sanitizers, never a read outside the data).
    int accepted = 0;
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (std::uint8_t v : {0x00, 0x01, 0x7F, 0xFF}) {
            Bytes bad = good;
            if (bad[at] == v) continue;
            bad[at] = v;
            std::optional<CeSetup> read = DecodeCeSetup(bad, "x", &error);
            if (!read) {
                EXPECT_EQ(error.rfind("x: ", 0), 0u) << error;
                continue;
            }
            ++accepted;
            std::optional<Bytes> again = EncodeCeSetup(*read, &error);
            ASSERT_TRUE(again) << at << ": " << error;
            EXPECT_TRUE(*DecodeCeSetup(*again, "x", &error) == *read) << at;
        }
    }
    EXPECT_GT(accepted, 0);  // the header's unknown words and the data take any value
}

TEST(CeSetupFile, WriterRefusesWhatCannotBeRead) {
    CeSetup s = KlavorSetup(std::nullopt);
    std::string error;
    s.links[0].target = 2;
    EXPECT_FALSE(EncodeCeSetup(s, &error));
    EXPECT_NE(error.find("LINKS id 1 points at file 2"), std::string::npos) << error;
    s = KlavorSetup(std::nullopt);
    s.appName = std::string(70000, 'a');  // its length is a 16-bit field
    EXPECT_FALSE(EncodeCeSetup(s, &error));
    EXPECT_NE(error.find("APPNAME length (70001) does not fit"), std::string::npos) << error;
}

}  // namespace
