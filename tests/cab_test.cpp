// Installation cabinets for the phone: the .000 control file byte by byte,
// the container, reading them back, and refusing broken ones.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include <zlib.h>

#include "cecab/cabinet.h"
#include "cecab/ce_setup.h"
#include "config/klavor_cab.h"
#include "cecab/mszip.h"

namespace {

using namespace config;
using namespace cecab;
namespace fs = std::filesystem;

// Little-endian bytes laid out by hand, for the expected files.
struct Le {
    Bytes b;
    Le& U16(unsigned v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        return *this;
    }
    Le& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    Le& Text(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
        return *this;
    }
    Le& Zeros(std::size_t n) {
        b.insert(b.end(), n, 0);
        return *this;
    }
    Le& Raw(const Bytes& d) {
        b.insert(b.end(), d.begin(), d.end());
        return *this;
    }
};

Bytes ConfigImage() {
    Table t = DefaultTable();
    for (KeyEntry& e : t) e.mode = MODE_CAPTURE;
    t[6].actions[1] = 0x40C5;
    return EncodeTable(t);
}

void PutU16(Bytes& b, std::size_t at, unsigned v);
void PutU32(Bytes& b, std::size_t at, std::uint32_t v);

// Noise behind the headers of an ARM Windows CE program.
Bytes SomeExe(std::size_t n = 40000, unsigned machine = 0x01C0, unsigned subsystem = 9) {
    std::mt19937 rng(7);
    Bytes exe(n);
    for (auto& b : exe) b = static_cast<std::uint8_t>(rng());
    exe[0] = 'M', exe[1] = 'Z';
    PutU32(exe, 0x3C, 0x80);
    PutU32(exe, 0x80, 0x00004550);
    PutU16(exe, 0x84, machine);
    PutU16(exe, 0x80 + 24 + 68, subsystem);
    return exe;
}

void PutU16(Bytes& b, std::size_t at, unsigned v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
    PutU16(b, at, v & 0xFFFF);
    PutU16(b, at + 2, v >> 16);
}
unsigned GetU16(const Bytes& b, std::size_t at) { return b.at(at) | (b.at(at + 1) << 8); }

Bytes Encode(const CeSetup& s) {
    std::string error;
    std::optional<Bytes> bytes = EncodeCeSetup(s, &error);
    EXPECT_TRUE(bytes) << error;
    return bytes ? *bytes : Bytes();
}

// ---- The control file --------------------------------------------------

// Every byte of Klavor's control file, from the format's tables and what
// real cabinets hold.
Bytes ExpectedControlFile(const std::optional<Bytes>& value) {
    const bool reg = value.has_value();
    Le h;
    const std::uint32_t strings = 122, dirs = reg ? 204 : 179, files = dirs + 26;
    const std::uint32_t hives = files + 23, keys = reg ? hives + 14 : hives, links = reg ? keys + 155 : keys;
    const std::uint32_t total = links + 28;
    h.Raw({'M', 'S', 'C', 'E'}).U32(0).U32(total).U32(0).U32(1);  // 0..19
    h.U32(0);                                                   // 20 processor: any
    h.U32(4).U32(20).U32(100).U32(0);                           // 24 min 4.20, 32 max 100.0
    h.U32(0).U32(0);                                            // 40 builds: no limit
    h.U16(reg ? 7 : 5).U16(3).U16(1).U16(reg ? 1 : 0).U16(reg ? 1 : 0).U16(2);  // 48 counts
    h.U32(strings).U32(dirs).U32(files).U32(hives).U32(keys).U32(links);         // 60 offsets
    h.U16(100).U16(7).U16(107).U16(15).U16(122).U16(0).U16(0).U16(0);            // 84 names, 96
    EXPECT_EQ(h.b.size(), 100u);
    h.Text("Klavor").Text("Klavor project");
    EXPECT_EQ(h.b.size(), strings);
    h.U16(1).U16(6).Text("%CE1%").U16(2).U16(7).Text("Klavor").U16(3).U16(6).Text("%CE4%");
    h.U16(4).U16(7).Text("%CE11%").U16(5).U16(11).Text("Klavor.lnk");
    if (reg) h.U16(6).U16(9).Text("SOFTWARE").U16(7).U16(8).Text("Morvane");
    EXPECT_EQ(h.b.size(), dirs);
    h.U16(1).U16(6).U16(1).U16(2).U16(0);  // %CE1%\Klavor
    h.U16(2).U16(4).U16(3).U16(0);         // %CE4%
    h.U16(3).U16(4).U16(4).U16(0);         // %CE11%
    EXPECT_EQ(h.b.size(), files);
    h.U16(1).U16(1).U16(1).U32(0x40000000).U16(11).Text("klavor.exe");
    EXPECT_EQ(h.b.size(), hives);
    if (reg) {
        h.U16(1).U16(3).U16(0).U16(6).U16(6).U16(7).U16(0);  // HKLM\SOFTWARE\Morvane
        EXPECT_EQ(h.b.size(), keys);
        h.U16(1).U16(1).U16(0).U32(1).U16(15 + 128).Text("klavorKeyTable").Raw(*value);
    }
    EXPECT_EQ(h.b.size(), links);
    h.U16(1).U16(0).U16(4).U16(1).U16(1).U16(2).U16(5);   // Klavor.lnk in %CE4% to file 1
    h.U16(2).U16(0).U16(11).U16(1).U16(1).U16(2).U16(5);  // and in %CE11%
    EXPECT_EQ(h.b.size(), total);
    return h.b;
}

// What klavorcfg wrote before real cabinets were looked at: sections on
// 4-byte boundaries, the shortcut named "Klavor" (the folder's string) and
// ended by a 0 id, no maximum version. Phones may hold such cabinets still.
Bytes ControlFileBefore(const std::optional<Bytes>& value) {
    const bool reg = value.has_value();
    Le h;
    const std::uint32_t strings = 124, dirs = reg ? 180 : 156, files = reg ? 200 : 176;
    const std::uint32_t hives = reg ? 224 : 200, keys = reg ? 240 : 200, links = reg ? 396 : 200;
    const std::uint32_t total = links + 16;
    h.Raw({'M', 'S', 'C', 'E'}).U32(0).U32(total).U32(0).U32(1);  // 0..19
    h.U32(0);                                                   // 20 processor: any
    h.U32(4).U32(20).U32(0).U32(0);                             // 24 min 4.20, 32 no max
    h.U32(0).U32(0);                                            // 40 builds: no limit
    h.U16(reg ? 5 : 3).U16(2).U16(1).U16(reg ? 1 : 0).U16(reg ? 1 : 0).U16(1);  // 48 counts
    h.U32(strings).U32(dirs).U32(files).U32(hives).U32(keys).U32(links);         // 60 offsets
    h.U16(100).U16(7).U16(107).U16(15).U16(0).U16(0).U16(0).U16(0);              // 84 names, 96
    EXPECT_EQ(h.b.size(), 100u);
    h.Text("Klavor").Text("Klavor project").Zeros(2);
    EXPECT_EQ(h.b.size(), strings);
    h.U16(1).U16(6).Text("%CE1%").U16(2).U16(7).Text("Klavor").U16(3).U16(6).Text("%CE4%");
    if (reg) h.U16(4).U16(9).Text("SOFTWARE").U16(5).U16(8).Text("Morvane");
    h.Zeros(reg ? 0 : 1);
    EXPECT_EQ(h.b.size(), dirs);
    h.U16(1).U16(6).U16(1).U16(2).U16(0);  // %CE1%\Klavor
    h.U16(2).U16(4).U16(3).U16(0);         // %CE4%
    h.Zeros(2);
    EXPECT_EQ(h.b.size(), files);
    h.U16(1).U16(1).U16(1).U32(0x40000000).U16(11).Text("klavor.exe").Zeros(1);
    EXPECT_EQ(h.b.size(), hives);
    if (reg) {
        h.U16(1).U16(3).U16(0).U16(6).U16(4).U16(5).U16(0).Zeros(2);  // HKLM\SOFTWARE\Morvane
        EXPECT_EQ(h.b.size(), keys);
        h.U16(1).U16(1).U16(0).U32(1).U16(15 + 128).Text("klavorKeyTable").Raw(*value).Zeros(1);
    }
    EXPECT_EQ(h.b.size(), links);
    h.U16(1).U16(0).U16(4).U16(1).U16(1).U16(4).U16(2).U16(0);  // "Klavor" in %CE4% to file 1
    EXPECT_EQ(h.b.size(), total);
    return h.b;
}

TEST(CeSetupFile, KlavorsControlFileIsExactlyTheDocumentedLayout) {
    const Bytes image = ConfigImage();
    for (std::optional<Bytes> value : {std::optional<Bytes>(image), std::optional<Bytes>()}) {
        Bytes written = Encode(KlavorSetup(value));
        EXPECT_EQ(written, ExpectedControlFile(value)) << (value ? "with" : "without") << " the value";
        std::string error;
        std::optional<CeSetup> back = DecodeCeSetup(written, "x.000", &error);
        ASSERT_TRUE(back) << error;
        EXPECT_TRUE(*back == KlavorSetup(value));
        EXPECT_EQ(back->appName, "Klavor");
        EXPECT_EQ(back->provider, "Klavor project");
        EXPECT_EQ(back->minVersionMajor, 4u);
        EXPECT_EQ(back->minVersionMinor, 20u);
        EXPECT_EQ(back->maxVersionMajor, 100u);
        const CeRegValue* v = FindKlavorValue(*back);
        ASSERT_EQ(v != nullptr, value.has_value());
        if (v) {
            EXPECT_EQ(v->data, image);
        }
    }
}

CeSetup Everything() {
    CeSetup s;
    s.unknown4 = 7, s.unknown12 = 8, s.unknown16 = 9, s.unknown96 = 10, s.unknown98 = 11;
    s.processor = 2577, s.minVersionMajor = 4, s.minVersionMinor = 21, s.maxVersionMajor = 5, s.maxVersionMinor = 1;
    s.minBuild = 1, s.maxBuild = 0xE0000000;
    s.appName = "Odd App", s.provider = "";
    s.unsupported = {"HPC", "PALM PC2"};
    s.strings = {{3, "%CE11%"}, {9, "Sub"}, {4, "Software"}, {5, "Odd"}};
    s.dirs = {{2, {3, 9}}, {7, {5}}};
    s.files = {{12, 2, 12, kCeFileShared | kCeFileNoSkip, "a.dll"}, {5, 7, 0, 0, "readme.txt"}};
    s.hives = {{1, kCeRootCurrentUser, 0, {4, 5}}, {2, kCeRootClassesRoot, 0, {}}};
    s.values = {{1, 1, 1, kCeRegString, "Path", {'%', 'C', 'E', '1', '%', 0}},
                {2, 1, 0, kCeRegMultiString | kCeRegNoClobber, "", {'a', 0, 'b', 'c', 0, 0}},
                {3, 2, 0, kCeRegDword, "n", {1, 2, 3, 4}},
                {4, 2, 0, kCeRegBinary, "empty", {}}};
    s.links = {{1, 0, 11, 12, kCeLinkToFile, {9}}, {2, 3, 0, 7, kCeLinkToFolder, {9, 5}}, {3, 0, 17, 0, kCeLinkToFolder, {5}}};
    return s;
}

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

// A control file as CabWiz 2009 and Visual Studio 2008 write them (padded:
// every string padded with NULs to a multiple of 4, the padding counted in
// its length), or as the 2003-2005 builders do: CabWiz's header values,
// ids in no order, FILES +4 the file's place in the source list, a folder
// that holds only the shortcut, no UNSUPPORTED list, and the shortcut's
// name a string of its own, ".lnk" included, with no 0 id after it.
Bytes RealControlFile(bool padded) {
    auto bare = [padded](Le& le, const std::string& s) -> Le& {
        std::size_t n = s.size() + 1;
        return le.Text(s).Zeros(padded ? (n + 3) / 4 * 4 - n : 0);
    };
    auto text = [padded, bare](Le& le, const std::string& s) -> Le& {  // with its length before it
        std::size_t n = s.size() + 1;
        return bare(le.U16(static_cast<unsigned>(padded ? (n + 3) / 4 * 4 : n)), s);
    };
    Le names, strings, dirs, files, hives, keys, links;
    bare(names, "Showcase");
    const std::size_t providerAt = 100 + names.b.size();
    bare(names, "Maker Ltd");
    const std::pair<unsigned, const char*> kStrings[] = {{7, "%CE1%"},  {2, "Showcase"}, {3, "%CE11%"},
                                                         {4, "Showcase.lnk"}, {5, "Software"}, {6, "Maker"}};
    for (const auto& [id, t] : kStrings) text(strings.U16(id), t);
    dirs.U16(9).U16(6).U16(7).U16(2).U16(0);  // %CE1%\Showcase
    dirs.U16(1).U16(4).U16(3).U16(0);         // %CE11%, only for the shortcut
    text(files.U16(2).U16(9).U16(1).U32(0x00000001), "show.exe");
    text(files.U16(1).U16(9).U16(2).U32(0x90000001), "helper.dll");
    hives.U16(1).U16(3).U16(0).U16(6).U16(5).U16(6).U16(0);  // HKLM\Software\Maker
    keys.U16(1).U16(1).U16(1).U32(0).U16(20).Text("Path").Text("%CE1%\\Showcase");
    keys.U16(2).U16(1).U16(0).U32(1).U16(8).Text("Blob").Raw({1, 2, 3});
    links.U16(1).U16(0).U16(11).U16(2).U16(1).U16(2).U16(4);  // Showcase.lnk in %CE11% to show.exe
    Le h;
    std::size_t at = 100 + names.b.size();
    std::vector<std::uint32_t> offsets;
    for (const Le* section : {&strings, &dirs, &files, &hives, &keys, &links}) {
        offsets.push_back(static_cast<std::uint32_t>(at));
        at += section->b.size();
    }
    h.Raw({'M', 'S', 'C', 'E'}).U32(0).U32(static_cast<std::uint32_t>(at)).U32(0).U32(1);
    h.U32(2577).U32(4).U32(2).U32(5).U32(999).U32(0).U32(0xE0000000);
    h.U16(6).U16(2).U16(2).U16(1).U16(2).U16(1);
    for (std::uint32_t o : offsets) h.U32(o);
    h.U16(100).U16(static_cast<unsigned>(providerAt - 100)).U16(static_cast<unsigned>(providerAt));
    h.U16(static_cast<unsigned>(100 + names.b.size() - providerAt)).U16(static_cast<unsigned>(100 + names.b.size())).U16(0);
    h.U16(0).U16(0);
    for (const Le* part : {&names, &strings, &dirs, &files, &hives, &keys, &links}) h.Raw(part->b);
    return h.b;
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

struct Mutation {
    const char* what;
    std::size_t at;
    int width;  // 2 or 4
    std::uint32_t value;
    const char* message;
};

TEST(CeSetupFile, RefusesFieldsOutOfRangeOffsetsOutsideAndCountsThatLie) {
    const Bytes good = ExpectedControlFile(ConfigImage());  // layout as in the test above
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
        Bytes bad = good;
        if (m.width == 2) PutU16(bad, m.at, m.value);
        else PutU32(bad, m.at, m.value);
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

// ---- The container -----------------------------------------------------

struct CommandResult {
    int status;
    std::string out;
};

CommandResult Command(const std::string& command) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return {-1, ""};
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int raw = ::pclose(p);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
}

class CabinetTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("klavor-cab-" + std::to_string(::getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string Save(const std::string& name, const Bytes& data) {
        std::ofstream((dir / name).string(), std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                                     static_cast<std::streamsize>(data.size()));
        return (dir / name).string();
    }
    static Bytes Load(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

Bytes KlavorCab(const std::optional<Bytes>& value, const Bytes& exe = SomeExe(), std::int64_t when = 1700000000) {
    std::string error;
    std::optional<Bytes> cab = BuildKlavorCabinet(exe, value, when, &error);
    EXPECT_TRUE(cab) << error;
    return cab ? *cab : Bytes();
}

TEST_F(CabinetTest, KlavorsCabinetReadsBackWithTheControlFileFirst) {
    const Bytes exe = SomeExe(), image = ConfigImage();
    for (std::optional<Bytes> value : {std::optional<Bytes>(image), std::optional<Bytes>()}) {
        Bytes cab = KlavorCab(value, exe);
        std::string error;
        std::optional<InstallCabinet> read = ReadInstallCabinet(cab, "Klavor.cab", &error);
        ASSERT_TRUE(read) << error;
        ASSERT_EQ(read->members.size(), 2u);
        EXPECT_EQ(read->members[0].name, "KLAVOR.000");
        EXPECT_EQ(read->members[0].data, ExpectedControlFile(value));
        EXPECT_EQ(read->members[1].name, "KLAVOR.001");
        EXPECT_EQ(read->members[1].data, exe);
        EXPECT_TRUE(read->setup == KlavorSetup(value));
        EXPECT_EQ(KlavorCab(value, exe), cab);  // the same inputs make the same file
    }
}

TEST(CabDate, IsTheMomentInUtcAsDosStoresIt) {
    const struct {
        std::int64_t seconds;
        unsigned date, time;
    } cases[] = {
        {1700000000, (43u << 9) | (11 << 5) | 14, (22u << 11) | (13 << 5) | 10},  // 2023-11-14 22:13:20
        {1709208001, (44u << 9) | (2 << 5) | 29, 12u << 11},                     // 2024-02-29 12:00:01: even seconds
        {315532800, (0u << 9) | (1 << 5) | 1, 0},                                // 1980-01-01, the first
        {0, (0u << 9) | (1 << 5) | 1, 0},                                        // before it: the first
        {100000000000, (127u << 9) | (12 << 5) | 31, (23u << 11) | (59 << 5) | 29},  // after 2107: the last
    };
    for (const auto& c : cases) {
        DosDateTime d = DosDateTimeUtc(c.seconds);
        EXPECT_EQ(d.date, c.date) << c.seconds;
        EXPECT_EQ(d.time, c.time) << c.seconds;
    }
}

TEST_F(CabinetTest, WriterSplitsDataInChecksummedBlocksAndKeepsTheOrder) {
    std::vector<CabMember> members = {{"A.000", {1, 2, 3}}, {"BIG.003", SomeExe(70000)}, {"E.002", {}}, {"C.001", {9}}};
    std::string error;
    std::optional<Bytes> cab = WriteCabinet(members, 0, &error);
    ASSERT_TRUE(cab) << error;
    std::optional<Cabinet> back = ReadCabinet(*cab, "x.cab", &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->members.size(), members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(back->members[i].name, members[i].name);
        EXPECT_EQ(back->members[i].data, members[i].data);
        EXPECT_EQ(back->members[i].attributes, kCabArchive);
    }
    EXPECT_EQ(back->folders, std::vector<std::uint16_t>{kCabStored});
    EXPECT_NE(back->setId, 0u);
    // 70004 bytes: blocks of 32768, 32768 and 4468, each with its checksum.
    ASSERT_EQ(GetU16(*cab, 36 + 4), 3u);
    std::size_t block = GetU16(*cab, 36) | (GetU16(*cab, 38) << 16);
    for (unsigned size : {32768u, 32768u, 4468u}) {
        EXPECT_EQ(GetU16(*cab, block + 4), size);
        EXPECT_NE(GetU16(*cab, block) | GetU16(*cab, block + 2), 0u);
        block += 8 + size;
    }
    EXPECT_EQ(block, cab->size());

    // Only empty members: a folder with no data blocks, as cabextract takes it.
    cab = WriteCabinet({{"E.000", {}}, {"F.001", {}}}, 0, &error);
    ASSERT_TRUE(cab) << error;
    EXPECT_EQ(GetU16(*cab, 36 + 4), 0u);  // data blocks
    back = ReadCabinet(*cab, "x.cab", &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->members.size(), 2u);
    EXPECT_TRUE(back->members[1].data.empty());

    EXPECT_FALSE(WriteCabinet({}, 0, &error));
    EXPECT_EQ(error, "a cabinet needs at least one member");
    EXPECT_FALSE(WriteCabinet({{std::string(256, 'N'), {}}}, 0, &error));
    EXPECT_NE(error.find("a member's name has at most 255 bytes"), std::string::npos) << error;
}

// Readers nobody here wrote take what the writer writes, byte for byte.
TEST_F(CabinetTest, CabextractAndGcabExtractItByteForByte) {
#if !defined(CABEXTRACT_PATH) || !defined(GCAB_PATH)
    GTEST_SKIP() << "cabextract or gcab is missing (cab.readers.skipped says which)";
#else
    const Bytes exe = SomeExe(), image = ConfigImage();
    std::string cab = Save("Klavor.cab", KlavorCab(image, exe));
    CommandResult list = Command("'" CABEXTRACT_PATH "' -l '" + cab + "'");
    EXPECT_EQ(list.status, 0) << list.out;
    // The date is 1700000000 in UTC, whatever the time zone.
    EXPECT_NE(list.out.find("     40000 | 14.11.2023 22:13:20 | KLAVOR.001\n"), std::string::npos) << list.out;
    EXPECT_LT(list.out.find("KLAVOR.000"), list.out.find("KLAVOR.001")) << list.out;
    CommandResult test = Command("'" CABEXTRACT_PATH "' -t '" + cab + "'");
    EXPECT_EQ(test.status, 0) << test.out;
    EXPECT_NE(test.out.find("All done, no errors."), std::string::npos) << test.out;
    CommandResult listed = Command("'" GCAB_PATH "' -l '" + cab + "'");
    EXPECT_EQ(listed.out, "KLAVOR.000 450 2023-11-14 22:13:20 0x20\nKLAVOR.001 40000 2023-11-14 22:13:20 0x20\n");
    for (const std::string& command : {"'" CABEXTRACT_PATH "' -q -d '" + (dir / "c").string() + "' '" + cab + "'",
                                       "mkdir '" + (dir / "g").string() + "' && '" GCAB_PATH "' -x -C '" + (dir / "g").string() +
                                           "' '" + cab + "'"}) {
        CommandResult extract = Command(command);
        EXPECT_EQ(extract.status, 0) << command << ": " << extract.out;
    }
    for (const char* out : {"c", "g"}) {
        EXPECT_EQ(Load(dir / out / "KLAVOR.001"), exe) << out;
        EXPECT_EQ(Load(dir / out / "KLAVOR.000"), ExpectedControlFile(image)) << out;
    }
#endif
}

// ---- Cabinets other tools make -------------------------------------------

// One MSZIP block as a compressor that carries its window writes it: the
// folder's last 32 KB before the block are its dictionary.
Bytes MszipBlock(const Bytes& stream, std::size_t from, std::size_t n, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    std::size_t window = std::min<std::size_t>(from, 32768);
    if (window) deflateSetDictionary(&z, stream.data() + from - window, static_cast<uInt>(window));
    Bytes out(2 + deflateBound(&z, n) + 64);
    out[0] = 'C', out[1] = 'K';
    z.next_in = const_cast<Bytef*>(stream.data() + from);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out.data() + 2;
    z.avail_out = static_cast<uInt>(out.size() - 2);
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(2 + z.total_out);
    deflateEnd(&z);
    return out;
}

// Words xor'ed, a last partial word first byte highest: the cabinet
// format's checksum, as its documentation gives it.
std::uint32_t CabChecksum(const Bytes& b, std::uint32_t sum) {
    std::size_t i = 0;
    for (; i + 4 <= b.size(); i += 4) sum ^= static_cast<std::uint32_t>(b[i] | b[i + 1] << 8 | b[i + 2] << 16 | b[i + 3] << 24);
    std::uint32_t last = 0;
    for (; i < b.size(); ++i) last = (last << 8) | b[i];
    return sum ^ last;
}

struct Shape {
    const char* what;
    std::vector<std::uint16_t> compression;  // per folder
    std::size_t headerReserve = 0, folderReserve = 0, dataReserve = 0;
    bool reserveInChecksum = false;
    int level = 6, strategy = Z_DEFAULT_STRATEGY;
    bool checksums = true;
};

// A cabinet laid out by hand: the members in their folders (CabMember's
// folder and attributes), the file table in the order given.
Bytes ShapedCab(const std::vector<CabMember>& members, const Shape& shape) {
    const std::size_t folders = shape.compression.size();
    const bool reserve = shape.headerReserve || shape.folderReserve || shape.dataReserve;
    std::vector<Bytes> streams(folders);
    Le files;
    for (const CabMember& m : members) {
        Bytes& stream = streams.at(m.folder);
        files.U32(static_cast<std::uint32_t>(m.data.size())).U32(static_cast<std::uint32_t>(stream.size())).U16(m.folder);
        files.U16(0x5A6E).U16(0x6000).U16(m.attributes).Text(m.name);
        stream.insert(stream.end(), m.data.begin(), m.data.end());
    }
    std::vector<Le> data(folders);
    std::vector<unsigned> blocks(folders);
    for (std::size_t f = 0; f < folders; ++f) {
        for (std::size_t from = 0; from < streams[f].size(); from += 32768, ++blocks[f]) {
            std::size_t n = std::min<std::size_t>(32768, streams[f].size() - from);
            Bytes stored = shape.compression[f] == kCabMszip ? MszipBlock(streams[f], from, n, shape.level, shape.strategy)
                                                             : Bytes(streams[f].begin() + from, streams[f].begin() + from + n);
            Le sizes;
            sizes.U16(static_cast<unsigned>(stored.size())).U16(static_cast<unsigned>(n));
            Bytes reserved(shape.dataReserve, 0xA5);
            // The format's checksum: the data, then the sizes (and, as the
            // format's documentation has it, the reserved bytes after them).
            Bytes header = sizes.b;
            if (shape.reserveInChecksum) header.insert(header.end(), reserved.begin(), reserved.end());
            std::uint32_t sum = CabChecksum(header, CabChecksum(stored, 0));
            data[f].U32(shape.checksums ? sum : 0).Raw(sizes.b).Raw(reserved).Raw(stored);
        }
    }
    Le h;
    std::size_t tables = 36 + (reserve ? 4 + shape.headerReserve : 0) + folders * (8 + shape.folderReserve);
    std::size_t at = tables + files.b.size(), total = at;
    for (const Le& d : data) total += d.b.size();
    h.Raw({'M', 'S', 'C', 'F'}).U32(0).U32(static_cast<std::uint32_t>(total)).U32(0).U32(static_cast<std::uint32_t>(tables)).U32(0);
    h.Raw({3, 1}).U16(static_cast<unsigned>(folders)).U16(static_cast<unsigned>(members.size())).U16(reserve ? 4 : 0);
    h.U16(0x1234).U16(0);
    if (reserve) h.U16(static_cast<unsigned>(shape.headerReserve)).Raw({static_cast<std::uint8_t>(shape.folderReserve), static_cast<std::uint8_t>(shape.dataReserve)}).Raw(Bytes(shape.headerReserve, 0x5C));
    for (std::size_t f = 0; f < folders; ++f) {
        h.U32(static_cast<std::uint32_t>(at)).U16(blocks[f]).U16(shape.compression[f]).Raw(Bytes(shape.folderReserve, 0xC3));
        at += data[f].b.size();
    }
    h.Raw(files.b);
    for (const Le& d : data) h.Raw(d.b);
    return h.b;
}

// A .NET assembly: an x86 PE with a CLR header, as CF programs are built.
Bytes DotNetExe() {
    Bytes exe = SomeExe(3000, 0x014C, 2);
    PutU16(exe, 0x80 + 20, 224);         // optional header size
    PutU16(exe, 0x80 + 24, 0x10B);       // PE32
    PutU32(exe, 0x80 + 24 + 92, 16);     // data directories
    PutU32(exe, 0x80 + 24 + 96 + 14 * 8, 0x2008);
    PutU32(exe, 0x80 + 24 + 96 + 14 * 8 + 4, 72);
    return exe;
}

// What the nine real cabinets' builders make: every shape read as an
// installation, every member's bytes as put in, and show says what the
// installer does with the members and the container.
TEST_F(CabinetTest, ReadsEveryShapeOfRealCabinets) {
    Bytes big(70000);
    std::mt19937 rng(3);
    for (std::size_t i = 0; i < big.size(); ++i)  // text-like, with matches reaching into earlier blocks
        big[i] = i < 20000 ? static_cast<std::uint8_t>('a' + rng() % 20) : big[i - 20000 + (i % 7)];
    const Bytes setup = RealControlFile(true), net = DotNetExe(), helper = SomeExe(5000);
    std::vector<CabMember> members = {{"SHOWCASE.000", setup, 0x20, 0}, {"SETUP.999", SomeExe(900), 0x21, 1},
                                      {"SHOW.002", net, 0x00, 0},      {"HELPER.001", helper, 0x20, 2},
                                      {"_setup.xml", big, 0x20, 2}};
    const Shape shapes[] = {
        {"2003-2005 builders: stored, three folders", {kCabStored, kCabStored, kCabStored}},
        {"CabWiz 2009: MSZIP, 32 reserved bytes per folder", {kCabMszip, kCabMszip, kCabMszip}, 0, 32},
        {"Visual Studio 2008: 52 reserved bytes per folder", {kCabStored, kCabStored, kCabStored}, 0, 52},
        {"reserved bytes in the header and every block, in the checksums", {kCabMszip, kCabStored, kCabMszip}, 20, 4, 6, true},
        {"MSZIP of stored deflate blocks", {kCabMszip, kCabMszip, kCabMszip}, 0, 0, 0, false, 0},
        {"MSZIP with fixed codes only", {kCabMszip, kCabMszip, kCabMszip}, 0, 0, 0, false, 9, Z_FIXED},
        {"MSZIP, Huffman codes only", {kCabMszip, kCabMszip, kCabMszip}, 0, 0, 0, false, 9, Z_HUFFMAN_ONLY},
        {"MSZIP, run lengths", {kCabMszip, kCabMszip, kCabMszip}, 0, 0, 0, false, 9, Z_RLE},
        {"no checksums given", {kCabMszip, kCabStored, kCabMszip}, 0, 0, 0, false, 6, Z_DEFAULT_STRATEGY, false},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.what);
        std::string error;
        std::optional<InstallCabinet> cab = ReadInstallCabinet(ShapedCab(members, shape), "real.cab", &error);
        ASSERT_TRUE(cab) << error;
        ASSERT_EQ(cab->members.size(), members.size());
        for (std::size_t i = 0; i < members.size(); ++i) {
            EXPECT_EQ(cab->members[i].name, members[i].name);
            EXPECT_TRUE(cab->members[i].data == members[i].data) << members[i].name;
            EXPECT_EQ(cab->members[i].attributes, members[i].attributes);
            EXPECT_EQ(cab->members[i].folder, members[i].folder);
        }
        EXPECT_EQ(cab->layout.folders, shape.compression);
        EXPECT_EQ(cab->layout.setId, 0x1234u);
        const std::string text = DescribeInstallCabinet(*cab, "real.cab");
        std::vector<std::string> lines = {
            "# real.cab: a Windows CE installation cabinet for \"Showcase\" from \"Maker Ltd\"\n",
            "# for Windows CE 4.02 to 5.999, StrongARM\n",
            "#   copy show.exe (SHOW.002, 3000 bytes) into \\Program Files\\Showcase (%CE1%\\Showcase); warns if skipped\n",
            "#   copy helper.dll (HELPER.001, 5000 bytes) into \\Program Files\\Showcase (%CE1%\\Showcase); warns if skipped, "
            "self-registers, shared\n",
            "#   make the shortcut Showcase.lnk in \\Windows\\Start Menu\\Programs (%CE11%) to \\Program Files\\Showcase\\show.exe\n",
            "#   set HKEY_LOCAL_MACHINE\\Software\\Maker \"Path\" = string \"%CE1%\\Showcase\", with %CEn% in it expanded\n",
            "# SETUP.999 is a setup program the installer runs\n",
            "# _setup.xml is for the installers of Windows Mobile 5 and later; Windows Mobile 2003's passes over it\n",
            "# show.exe is a .NET Compact Framework assembly, not native code: the phone runs it only with the .NET Compact "
            "Framework installed\n",
            "# It sets no klavorKeyTable value",
        };
        if (shape.folderReserve)
            lines.push_back("# the cabinet has 3 folders and reserved areas (" + std::to_string(shape.headerReserve) +
                            " bytes in the header, " + std::to_string(shape.folderReserve) + " per folder, " +
                            std::to_string(shape.dataReserve) + " per data block), which the installer passes over\n");
        if (shape.compression[1] == kCabMszip)
            lines.push_back("# warning: the cabinet is compressed (MSZIP); Pocket PC 2003 does not take compressed cabinets");
        for (const std::string& line : lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
        for (const char* absent : {"warning: show.exe", "not in the order", "# warning: the shortcut"})
            EXPECT_EQ(text.find(absent), std::string::npos) << absent << "\n---\n" << text;
    }
}

// gcab's own MSZIP (gcab -z), and a folder of many members.
TEST_F(CabinetTest, ReadsWhatGcabCompresses) {
#ifndef GCAB_PATH
    GTEST_SKIP() << "no gcab (cab.readers.skipped)";
#else
    std::vector<CabMember> members = {{"KLAVOR.000", ExpectedControlFile(ConfigImage())}, {"KLAVOR.001", SomeExe(90000)}};
    for (int i = 0; i < 40; ++i) members.push_back({"F" + std::to_string(i) + ".TXT", Bytes(static_cast<std::size_t>(i * 997), static_cast<std::uint8_t>(i))});
    std::string args;
    for (const CabMember& m : members) {
        Save(m.name, m.data);
        args += " " + m.name;
    }
    for (const std::string& options : {std::string("-c -z"), std::string("-c")}) {
        CommandResult made = Command("cd '" + dir.string() + "' && '" GCAB_PATH "' " + options + " out.cab" + args);
        ASSERT_EQ(made.status, 0) << made.out;
        std::string error;
        std::optional<Cabinet> cab = ReadCabinet(Load(dir / "out.cab"), "out.cab", &error);
        ASSERT_TRUE(cab) << options << ": " << error;
        EXPECT_EQ(cab->folders, std::vector<std::uint16_t>{options == "-c -z" ? kCabMszip : kCabStored}) << options;
        ASSERT_EQ(cab->members.size(), members.size()) << options;
        for (std::size_t i = 0; i < members.size(); ++i) {
            EXPECT_EQ(cab->members[i].name, members[i].name) << options;
            EXPECT_TRUE(cab->members[i].data == members[i].data) << options << " " << members[i].name;
        }
    }
#endif
}

// Inflate's refusals, each where a damaged or hostile block goes wrong.
TEST(Mszip, RefusesBlocksThatDoNotExpandAsTheySay) {
    Bytes text(5000);
    std::mt19937 rng(11);
    for (auto& b : text) b = static_cast<std::uint8_t>(rng());  // only the window holds the next block's bytes
    const Bytes good = MszipBlock(text, 0, text.size(), 9, Z_DEFAULT_STRATEGY);
    Bytes history = text;  // the block after `text`, compressed against it
    history.insert(history.end(), text.begin(), text.begin() + 100);
    const Bytes later = MszipBlock(history, text.size(), 100, 9, Z_DEFAULT_STRATEGY);
    const struct {
        const char* what;
        Bytes block;
        std::size_t expanded;
        Bytes before;  // the folder's data so far
        const char* message;
    } cases[] = {
        {"no signature", {'C', 'X', 0x03, 0x00}, 1, {}, "does not start with the MSZIP signature CK"},
        {"block type 3", {'C', 'K', 0x07}, 1, {}, "a deflate block of type 3, which does not exist"},
        {"stored, length and complement disagree", {'C', 'K', 0x01, 0x02, 0x00, 0xFD, 0xFE, 'h', 'i'}, 2, {},
         "a stored deflate block's length and its complement disagree"},
        {"stored, cut short", {'C', 'K', 0x01, 0x05, 0x00, 0xFA, 0xFF, 'h', 'i'}, 5, {}, "the compressed data ends early"},
        {"more than it says", good, 4999, {}, "expands past the 4999 bytes it says it holds"},
        {"less than it says", good, 5001, {}, "expands to 5000 bytes, not the 5001 it says it holds"},
        {"cut short", Bytes(good.begin(), good.end() - 3), 5000, {}, "the compressed data ends early"},
        {"a reference before the folder's start", later, 100, {}, "bytes back, before the start of the folder's data"},
    };
    for (const auto& c : cases) {
        Bytes stream = c.before;
        std::string error;
        EXPECT_FALSE(ExpandMszipBlock(c.block.data(), c.block.size(), c.expanded, stream, &error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
    // The same two blocks read as one folder: the window carries over.
    Bytes stream;
    std::string error;
    ASSERT_TRUE(ExpandMszipBlock(good.data(), good.size(), 5000, stream, &error)) << error;
    ASSERT_TRUE(ExpandMszipBlock(later.data(), later.size(), 100, stream, &error)) << error;
    EXPECT_EQ(stream, history);
}

// Offsets in the two-member cabinet: header 0..35, folder 36..43, files from 44.
constexpr std::size_t kFolderAt = 36, kFilesAt = 44;

TEST_F(CabinetTest, RefusesBrokenContainers) {
    const Bytes good = KlavorCab(ConfigImage());
    const std::size_t size = good.size();
    const Mutation cases[] = {
        {"not a cabinet", 0, 4, 0x4643534E, "x.cab: not a cabinet (it does not start with MSCF)"},
        {"total too big", 8, 4, static_cast<std::uint32_t>(size + 1), "x.cab: truncated: the header says the cabinet is"},
        {"total too small", 8, 4, static_cast<std::uint32_t>(size - 1), "but the file has"},
        {"file table past the end", 16, 4, 1000000, "the file table's offset 1000000 is past the end"},
        {"file table elsewhere", 16, 4, 60, "the file table's offset is 60, but the folder table ends at 44"},
        {"version", 24, 2, 0x0202, "cabinet format version 2.2"},
        {"two folders", 26, 2, 2, "x.cab: "},
        {"file count lies", 28, 2, 3, "x.cab: "},
        {"next cabinet", 30, 2, 2, "part of a set of several cabinets"},
        {"data past the end", kFolderAt, 4, 1000000, "data block 1 of 2 at offset 1000000 runs past the end"},
        {"data inside the tables", kFolderAt, 4, 40, "lies inside the cabinet's tables"},
        {"data block count lies", kFolderAt + 4, 2, 3, "data block 3 of 3"},
        {"compression", kFolderAt + 6, 2, 3, "uses compression 3"},
        {"member bigger than the data", kFilesAt, 4, 100000, "runs past the end of its folder's data"},
        {"member in a missing folder", kFilesAt + 8, 2, 1, "KLAVOR.000: folder 1, but the cabinet has 1"},
        {"members that overlap", kFilesAt, 4, 18000,
         "folder 1's members hold 58000 bytes, more than its data (40450 bytes): they overlap"},
        // A damaged cabinet's bytes should not reach the phone.
        {"a byte of the program changed", size - 100, 2, 0xBEEF, "folder 1's data block 2 of 2 has the checksum 0x"},
    };
    for (const Mutation& m : cases) {
        Bytes bad = good;
        if (m.width == 2) PutU16(bad, m.at, m.value);
        else PutU32(bad, m.at, m.value);
        std::string error;
        EXPECT_FALSE(ReadInstallCabinet(bad, "x.cab", &error)) << m.what;
        EXPECT_EQ(error.rfind("x.cab: ", 0), 0u) << m.what << ": " << error;
        EXPECT_NE(error.find(m.message), std::string::npos) << m.what << ": " << error;
    }
    // Every truncation, and a stray byte anywhere: refused or read, never
    // a read outside the file.
    std::string error;
    for (std::size_t n = 0; n < size; n += (n < 600 ? 1 : 97)) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ReadInstallCabinet(cut, "x.cab", &error)) << n;
        EXPECT_EQ(error.rfind("x.cab: ", 0), 0u) << error;
        if (n >= 12) {
            PutU32(cut, 8, static_cast<std::uint32_t>(n));
            EXPECT_FALSE(ReadInstallCabinet(cut, "x.cab", &error)) << n;
        }
    }
    for (std::size_t at = 0; at < 700; ++at) {
        Bytes bad = good;
        bad[at] ^= 0x81;
        if (!ReadInstallCabinet(bad, "x.cab", &error)) {
            EXPECT_EQ(error.rfind("x.cab: ", 0), 0u) << error;
        }
    }
}

TEST_F(CabinetTest, RefusesCabinetsThatAreNotInstallations) {
    const Bytes control = Encode(KlavorSetup(ConfigImage()));
    std::string error;
    auto read = [&](std::vector<CabMember> members) {
        std::optional<Bytes> cab = WriteCabinet(members, 1700000000, &error);
        EXPECT_TRUE(cab) << error;
        return cab && ReadInstallCabinet(*cab, "x.cab", &error);
    };
    EXPECT_FALSE(read({{"KLAVOR.000", control}}));
    EXPECT_EQ(error, "x.cab: KLAVOR.000 installs klavor.exe from member number 1, which the cabinet does not hold");
    EXPECT_FALSE(read({{"KLAVOR.001", {1}}, {"README.TXT", {2}}}));
    EXPECT_EQ(error, "x.cab: no .000 member: not a Windows CE installation cabinet");
    EXPECT_FALSE(read({{"KLAVOR.000", control}, {"A.001", {1}}, {"B.001", {2}}}));
    EXPECT_EQ(error, "x.cab: members A.001 and B.001 have the same number");
    EXPECT_FALSE(read({{"KLAVOR.000", {'M', 'S', 'C', 'E'}}, {"A.001", {1}}}));
    EXPECT_EQ(error, "x.cab: KLAVOR.000: too short for the 100-byte header: 4 bytes");
    EXPECT_TRUE(read({{"KLAVOR.000", control}, {"A.001", {1}}})) << error;
}

TEST(CabExe, OnlyAnArmWindowsCeProgramPasses) {
    EXPECT_EQ(ExeProblem(SomeExe()), std::nullopt);
    EXPECT_EQ(ExeProblem(SomeExe(4096, 0x01C2)), std::nullopt);  // Thumb
    EXPECT_EQ(ExeProblem(SomeExe(4096, 0x8664, 2)), "a program for x86-64, not ARM");
    EXPECT_EQ(ExeProblem(SomeExe(4096, 0x01C4, 9)), "a program for ARMv7 Thumb-2, which these phones' processors lack, not ARM");
    EXPECT_EQ(ExeProblem(SomeExe(4096, 0x01C0, 2)), "an ARM program, but not for Windows CE (subsystem 2, not 9)");
    EXPECT_EQ(ExeProblem(Bytes{'h', 'i'}), "not a Windows program (no MZ header)");
    Bytes pastTheEnd = SomeExe(4096);
    pastTheEnd.resize(0x80 + 24 + 68 + 1);  // the subsystem word's last byte missing
    EXPECT_EQ(ExeProblem(pastTheEnd), "not a Windows program (no PE header)");
    PutU32(pastTheEnd, 0x3C, 0xFFFFFFF0);
    EXPECT_EQ(ExeProblem(pastTheEnd), "not a Windows program (no PE header)");
}

// ---- What show prints --------------------------------------------------

TEST_F(CabinetTest, DescriptionListsWhatTheInstallerDoesThenTheConfiguration) {
    const Bytes image = ConfigImage();
    std::string error;
    std::optional<InstallCabinet> cab = ReadInstallCabinet(KlavorCab(image), "Klavor.cab", &error);
    ASSERT_TRUE(cab) << error;
    std::string text = DescribeInstallCabinet(*cab, "Klavor.cab");
    const std::string installs =
        "# Klavor.cab: a Windows CE installation cabinet for \"Klavor\" from \"Klavor project\"\n"
        "# for Windows CE 4.20 to 100.00, any processor\n"
        "# The installer will:\n"
        "#   make the folder \\Program Files\\Klavor (%CE1%\\Klavor)\n"
        "#   make the folder \\Windows\\StartUp (%CE4%)\n"
        "#   make the folder \\Windows\\Start Menu\\Programs (%CE11%)\n"
        "#   copy klavor.exe (KLAVOR.001, 40000 bytes) into \\Program Files\\Klavor (%CE1%\\Klavor); always overwrites\n"
        "#   make the shortcut Klavor.lnk in \\Windows\\StartUp (%CE4%) to \\Program Files\\Klavor\\klavor.exe\n"
        "#   make the shortcut Klavor.lnk in \\Windows\\Start Menu\\Programs (%CE11%) to \\Program Files\\Klavor\\klavor.exe\n"
        "#   set HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvane \"klavorKeyTable\" = binary, 128 bytes\n";
    EXPECT_EQ(text.substr(0, installs.size()), installs) << text;
    // The rest is show's description of the value: a configuration again.
    EXPECT_EQ(text.substr(installs.size()), DescribeValue(image, "Klavor.cab klavorKeyTable"));
    std::optional<Table> again = ParseConfigText(text, "shown", &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(EncodeTable(*again), image);

    cab = ReadInstallCabinet(KlavorCab(std::nullopt), "Klavor.cab", &error);
    ASSERT_TRUE(cab) << error;
    text = DescribeInstallCabinet(*cab, "Klavor.cab");
    EXPECT_EQ(text.find("#   set "), std::string::npos) << text;
    EXPECT_NE(text.find("# It sets no klavorKeyTable value: Klavor keeps the one the registry holds, or else its "
                        "built-in configuration:\n" + FormatConfigText(DefaultTable())),
              std::string::npos)
        << text;

    // A cabinet klavorcfg wrote before: its shortcut is no shortcut.
    std::optional<Bytes> before = WriteCabinet({{"KLAVOR.000", ControlFileBefore(image)}, {"KLAVOR.001", SomeExe()}}, 0, &error);
    ASSERT_TRUE(before) << error;
    cab = ReadInstallCabinet(*before, "Old.cab", &error);
    ASSERT_TRUE(cab) << error;
    text = DescribeInstallCabinet(*cab, "Old.cab");
    for (const char* line : {"# for Windows CE 4.20 or later, any processor\n",
                             "#   make the shortcut Klavor in \\Windows\\StartUp (%CE4%) to \\Program Files\\Klavor\\klavor.exe\n",
                             "# warning: the shortcut Klavor has no .lnk: the installer makes a file of that name, which the "
                             "phone does not take for a shortcut\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
}

TEST_F(CabinetTest, DescriptionOfAForeignCabinetShowsEveryKindOfEntry) {
    CeSetup s = Everything();
    std::string error;
    std::optional<Bytes> cab = WriteCabinet({{"X.000", Encode(s)}, {"A.005", {1}}, {"B.012", {2, 3}}, {"S.999", {4}}}, 0, &error);
    ASSERT_TRUE(cab) << error;
    std::optional<InstallCabinet> read = ReadInstallCabinet(*cab, "odd.cab", &error);
    ASSERT_TRUE(read) << error;
    std::string text = DescribeInstallCabinet(*read, "odd.cab");
    for (const char* line : {
             "# for Windows CE 4.21 to 5.01, StrongARM\n",
             "# not for: \"HPC\" \"PALM PC2\"\n",
             "#   copy a.dll (B.012, 2 bytes) into \\Windows\\Start Menu\\Programs\\Sub (%CE11%\\Sub); cannot be skipped, shared\n",
             "#   copy readme.txt (A.005, 1 byte) into Odd; asks before overwriting\n",
             "#   make the shortcut Sub in \\Windows\\Start Menu\\Programs (%CE11%) to \\Windows\\Start Menu\\Programs\\Sub\\a.dll\n",
             "#   make the shortcut Sub\\Odd in %InstallDir% to Odd\n",
             "#   make the shortcut Odd in \\Windows\\Start Menu (%CE17%) to the installation folder\n",
             "#   set HKEY_CURRENT_USER\\Software\\Odd \"Path\" = string \"%CE1%\", with %CEn% in it expanded\n",
             "#   set HKEY_CURRENT_USER\\Software\\Odd the default value = multi-string \"a\" \"bc\", unless it exists already\n",
             "#   set HKEY_CLASSES_ROOT \"n\" = dword 0x04030201\n",
             "# S.999 is a setup program the installer runs\n",
             "# warning: a.dll is not a Windows program (no MZ header); the phones cannot run it\n",
             "# warning: the members are not in the order the installer expects (.000 first, then descending)\n",
             "# It sets no klavorKeyTable value",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
}

}  // namespace
