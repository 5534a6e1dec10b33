// Cabinets and control files laid out by hand, byte by byte, for the tests
// of the container, the control file, the installation and Klavor's own
// cabinet: what each is expected to write or made to read.
#ifndef KLAVOR_TESTS_CECAB_CAB_SHAPES_H
#define KLAVOR_TESTS_CECAB_CAB_SHAPES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cecab/cabinet.h"
#include "cecab/ce_setup.h"
#include "config/klavor_cab.h"

namespace cabtest {

using config::Bytes;

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

inline void PutU16(Bytes& b, std::size_t at, unsigned v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
    PutU16(b, at, v & 0xFFFF);
    PutU16(b, at + 2, v >> 16);
}
inline unsigned GetU16(const Bytes& b, std::size_t at) { return b.at(at) | (b.at(at + 1) << 8); }

// A field of a good file set to a bad value, and what the reader says.
struct Mutation {
    const char* what;
    std::size_t at;
    int width;  // 2 or 4
    std::uint32_t value;
    const char* message;
};

inline Bytes Mutated(const Bytes& good, const Mutation& m) {
    Bytes bad = good;
    if (m.width == 2)
        PutU16(bad, m.at, m.value);
    else
        PutU32(bad, m.at, m.value);
    return bad;
}

// A configuration value: every button captured, one action changed.
inline Bytes ConfigImage() {
    config::Table t = config::DefaultTable();
    for (KeyEntry& e : t) e.mode = MODE_CAPTURE;
    t[6].actions[1] = 0x40C5;
    return config::EncodeTable(t);
}

// Noise behind the headers of an ARM Windows CE program.
inline Bytes SomeExe(std::size_t n = 40000, unsigned machine = 0x01C0, unsigned subsystem = 9) {
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

inline Bytes Encode(const cecab::CeSetup& s) {
    std::string error;
    std::optional<Bytes> bytes = cecab::EncodeCeSetup(s, &error);
    EXPECT_TRUE(bytes) << error;
    return bytes ? *bytes : Bytes();
}

inline Bytes KlavorCab(const std::optional<Bytes>& value, const Bytes& exe = SomeExe(), std::int64_t when = 1700000000) {
    std::string error;
    std::optional<Bytes> cab = config::BuildKlavorCabinet(exe, value, when, &error);
    EXPECT_TRUE(cab) << error;
    return cab ? *cab : Bytes();
}

// Every byte of Klavor's control file, from the format's tables and what
// real cabinets hold.
inline Bytes ExpectedControlFile(const std::optional<Bytes>& value) {
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
inline Bytes ControlFileBefore(const std::optional<Bytes>& value) {
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

// A control file as CabWiz 2009 and Visual Studio 2008 write them (padded:
// every string padded with NULs to a multiple of 4, the padding counted in
// its length), or as the 2003-2005 builders do: CabWiz's header values,
// ids in no order, FILES +4 the file's place in the source list, a folder
// that holds only the shortcut, no UNSUPPORTED list, and the shortcut's
// name a string of its own, ".lnk" included, with no 0 id after it.
// `unsupported`: the UNSUPPORTED list's bytes, as they stand in the file.
inline Bytes RealControlFile(bool padded, const Bytes& unsupported = {}) {
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
    const std::size_t unsupportedAt = 100 + names.b.size();
    names.Raw(unsupported);
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
    h.U16(static_cast<unsigned>(unsupportedAt - providerAt)).U16(static_cast<unsigned>(unsupportedAt));
    h.U16(static_cast<unsigned>(unsupported.size()));
    h.U16(0).U16(0);
    for (const Le* part : {&names, &strings, &dirs, &files, &hives, &keys, &links}) h.Raw(part->b);
    return h.b;
}

// A setup with every kind of entry and every field set.
inline cecab::CeSetup Everything() {
    using namespace cecab;
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

}  // namespace cabtest

#endif
