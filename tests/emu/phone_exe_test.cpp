// The built ARM klavor.exe on the emulated phone, through klavor-sim
// --phone: what the loader finds in it, and that a run really is the ARM
// binary's, so that the identity tests cannot pass by running anything else.
// Patched copies of the binary, in a temporary folder, go wrong on purpose.
//
// The executable is named by the environment variable KLAVOR_PHONE_EXE.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/emu/emu.h"
#include "platform/sim/phone.h"
#include "scenario/disk.h"
#include "scenario/run.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string WriteTemp(const std::string& name, const Bytes& bytes) {
    std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

struct Result {
    int status;
    std::string out;
};

Result Sim(const std::string& args) {
    Result r{0, ""};
    FILE* p = popen((std::string(KLAVOR_SIM_PATH) + " " + args + " 2>&1").c_str(), "r");
    std::array<char, 4096> buf;
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) r.out.append(buf.data(), n);
    int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

std::size_t Find(const Bytes& file, const Bytes& what) {
    auto it = std::search(file.begin(), file.end(), what.begin(), what.end());
    return it == file.end() ? std::string::npos : static_cast<std::size_t>(it - file.begin());
}

Bytes Utf16(const std::string& ascii) {
    Bytes out;
    for (char c : ascii) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

class PhoneExe : public ::testing::Test {
protected:
    void SetUp() override {
        exe = Env("KLAVOR_PHONE_EXE");
        file = ReadFile(exe);
        ASSERT_FALSE(file.empty()) << "no executable at KLAVOR_PHONE_EXE '" << exe << "'";
        std::string error;
        auto parsed = emu::ParsePeImage(file, exe, &error);
        ASSERT_TRUE(parsed) << error;
        image = *parsed;
    }
    // The file offset of an image address.
    std::size_t FileOffset(std::uint32_t va) const {
        std::uint32_t rva = va - image.imageBase;
        std::size_t pe = file[0x3C] | file[0x3D] << 8;
        std::size_t sections = pe + 24 + (file[pe + 20] | file[pe + 21] << 8);
        for (std::size_t i = 0; i < image.sections.size(); ++i) {
            std::size_t s = sections + 40 * i;
            auto u32 = [&](std::size_t at) {
                return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24);
            };
            if (rva >= u32(s + 12) && rva < u32(s + 12) + u32(s + 16)) return u32(s + 20) + (rva - u32(s + 12));
        }
        return std::string::npos;
    }

    std::string exe;
    Bytes file;
    emu::PeImage image;
    const std::string road = std::string(KLAVOR_SOURCE_DIR) + "/examples/road-of-one-event.scenario";
};

// The icons LoadIconW finds on the emulated phone.
TEST_F(PhoneExe, TheLoaderFindsTheIconGroupsTheTrayLoads) {
    EXPECT_EQ(image.iconGroups, (std::vector<int>{105, 10001, 10002, 10003, 10004}));
}

// The binary moved away from its image base by its base relocations (the
// linker's own, several pages of them over code, data and constants) runs
// as it does at its base: the same timeline, every call of the phone with
// its arguments included. Without them it would not get far.
TEST_F(PhoneExe, MovedByItsRelocationsItRunsAsAtItsBase) {
    ASSERT_GT(image.relocations.size(), 50u);
    auto loaded = scenario::LoadScenario(std::string(KLAVOR_SOURCE_DIR) + "/examples/demo.scenario");
    ASSERT_TRUE(std::holds_alternative<scenario::Scenario>(loaded));
    const auto& demo = std::get<scenario::Scenario>(loaded);
    auto run = [&](const emu::PeImage& program, std::uint32_t base) {
        scenario::RunOptions options;
        options.trace = true;
        options.program = [&program, base](HINSTANCE instance, LPWSTR commandLine, int show) {
            sim::SetProgramIcons(program.iconGroups);
            return emu::RunProgram(program, instance, commandLine, show, base);
        };
        return scenario::Run(demo, options);
    };
    scenario::Outcome home = run(image, image.imageBase);
    ASSERT_EQ(home.fault, "");
    for (std::uint32_t base : {0x00400000u, 0x01FF0000u, 0x3FFF0000u}) {
        scenario::Outcome moved = run(image, base);
        EXPECT_EQ(moved.fault, "") << std::hex << base;
        EXPECT_EQ(moved.timeline, home.timeline) << std::hex << base;
    }
    emu::PeImage unrelocated = image;
    unrelocated.relocations.clear();
    EXPECT_NE(run(unrelocated, 0x00400000).fault, "") << "ran without its relocations";
}

// Another phone title in the binary: the ARM code waits thirty seconds in
// vain, where the host build finds the phone at once.
TEST_F(PhoneExe, ARunIsTheBinarysOwn) {
    Bytes phone = Utf16("Phone");
    phone.insert(phone.end(), {0, 0});
    std::size_t at = Find(file, phone);
    ASSERT_NE(at, std::string::npos) << "the title \"Phone\" is not in the binary";
    Bytes patched = file;
    patched[at + 8] = 'f';  // "Phonf"
    std::string exit = testing::TempDir() + "exit-at-40s.scenario";
    std::ofstream(exit) << "40s tap tray\n+100ms choose Exit\n";
    Result host = Sim(exit);
    Result as = Sim("--phone " + exe + " " + exit);
    Result other = Sim("--phone " + WriteTemp("klavor-phonf.exe", patched) + " " + exit);
    EXPECT_EQ(as.out, host.out);
    EXPECT_NE(other.out, host.out);
    EXPECT_NE(other.out.find("  30.000 s  tray icon 5000 appears\n"), std::string::npos) << other.out;
    EXPECT_EQ(other.status, 1);
}

TEST_F(PhoneExe, AnUndefinedInstructionStopsTheRunWithStatusFour) {
    Bytes patched = file;
    std::size_t entry = FileOffset(image.imageBase + image.entryRva);
    ASSERT_NE(entry, std::string::npos);
    const std::uint8_t movw[] = {0x01, 0x00, 0x00, 0xE3};  // movw r0, #1: ARMv6T2, not on XScale
    std::copy(std::begin(movw), std::end(movw), patched.begin() + static_cast<std::ptrdiff_t>(entry));
    std::string path = WriteTemp("klavor-movw.exe", patched);
    Result r = Sim("--phone " + path + " " + road);
    char pc[16];
    std::snprintf(pc, sizeof pc, "0x%X", image.imageBase + image.entryRva);
    std::string fault = path + ": an undefined instruction (E3000001) for the phones' CPU (XScale PXA270, ARMv5TE) at pc " +
                        pc + ", before the program's first call of the phone";
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.out.find("   0.000 s  Klavor is stopped by a fault: " + fault + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("klavor-sim: " + fault + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("exits with code"), std::string::npos);
}

// An import renamed in the binary's name table: the program gets as far as
// its first call of it, and the run stops there, naming it.
TEST_F(PhoneExe, AnImportThePhoneDoesNotServeStopsTheRunAtItsCall) {
    Bytes name = {'S', 'l', 'e', 'e', 'p', 0};
    std::size_t at = Find(file, name);
    ASSERT_NE(at, std::string::npos);
    Bytes patched = file;
    patched[at + 4] = 'q';  // "Sleeq"
    std::string path = WriteTemp("klavor-sleeq.exe", patched);
    std::string never = testing::TempDir() + "phone-never.scenario";
    std::ofstream(never) << "phone never\n";
    Result r = Sim("--trace --phone " + path + " " + never);
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.out.find("klavor-sim: " + path + ": COREDLL.dll!Sleeq called from 0x"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(": the emulated phone does not provide this import\n"), std::string::npos) << r.out;
    // The two looks for the phone ran; the sleep after them did not.
    EXPECT_NE(r.out.find("| FindWindowW(\"Dialog\", \"Телефон\") -> NULL\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("| Sleep("), std::string::npos) << r.out;
}

}  // namespace
