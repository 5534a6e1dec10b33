// DLLs on the emulated phone, on hand-made ARM DLLs: loaded away from their
// preferred base with their relocations applied, their entry point and
// exports called with words and strings, every malformed table refused with
// the reason; and two machines, each on its own host stack, taking turns
// inside their calls of the phone.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/emu/emu.h"
#include "platform/sim/fiber.h"
#include "platform/sim/phone.h"
#include "tiny_pe.h"

namespace {

using tiny::Program;

constexpr std::uint32_t kPreferred = 0x10000000;

void FreshPhone() {
    sim::Reset();
    sim::SetTracing(true);
}

using base::Hex;

emu::Dll LoadDll(const std::vector<std::uint8_t>& file) {
    std::string error;
    std::optional<emu::Dll> dll = emu::Dll::Load(file, "tiny.dll", &error);
    if (!dll) throw std::runtime_error(error);
    return std::move(*dll);
}

// The DLL most tests load, with what they need to know of it.
struct TestDll {
    Program p = Program::Dll(kPreferred);
    std::uint32_t global = 0;      // .data: the entry point keeps hinstDLL here
    std::uint32_t crash = 0;       // the faulting load in Crash
    std::uint32_t unserved = 0;    // the call of an import the phone does not serve
    std::uint32_t entrySleep = 0;  // the entry point's call of Sleep
};

TestDll MakeDll() {
    TestDll d;
    Program& p = d.p;
    int sleep = p.Import("COREDLL.dll", "Sleep");
    int find = p.Import("COREDLL.dll", "FindWindowW");
    int post = p.Import("COREDLL.dll", "PostMessageW");
    int createFile = p.Import("COREDLL.dll", "CreateFileW");
    const std::uint32_t zero = 0;
    d.global = p.Data(&zero, 4);
    std::uint32_t pointer = p.DataAddress(d.global);  // .data holding the global's address

    // The entry: keeps hinstDLL, sleeps 10 ms more than the reason, accepts.
    p.Op(tiny::kPushR4Lr)
        .LoadAddress(2, d.global)
        .Op(tiny::StrReg(0, 2))
        .Op(0xE281000A)  // add r0, r1, #10
        .CallImport(sleep);
    d.entrySleep = p.CallSiteOfLastImport();
    p.Op(tiny::MovImm(0, 1)).Op(tiny::kPopR4Pc);

    p.Export("Global").LoadAddress(0, d.global).Op(tiny::kBxLr);
    p.Export("Pointer").LoadAddress(0, pointer).Op(tiny::LdrReg(0, 0)).Op(tiny::kBxLr);
    p.Export("Instance").LoadAddress(0, d.global).Op(tiny::LdrReg(0, 0)).Op(tiny::kBxLr);
    // Seven arguments, four in registers and three on the stack, as hex digits.
    p.Export("Digits")
        .Op(tiny::AddLsl(0, 1, 0, 4))
        .Op(tiny::AddLsl(0, 2, 0, 4))
        .Op(tiny::AddLsl(0, 3, 0, 4));
    for (std::uint32_t i = 0; i < 3; ++i) p.Op(tiny::LdrOff(1, tiny::kSp, 4 * i)).Op(tiny::AddLsl(0, 1, 0, 4));
    p.Op(tiny::kBxLr);
    // What a setup program does to a running program: finds its window by
    // class and title, posts it WM_CLOSE; returns the window.
    p.Export("Close").Op(tiny::kPushR4Lr).CallImport(find).Op(tiny::MovReg(4, 0));
    p.Load(1, WM_CLOSE).Op(tiny::MovImm(2, 0)).Op(tiny::MovImm(3, 0)).CallImport(post);
    p.Op(tiny::MovReg(0, 4)).Op(tiny::kPopR4Pc);
    p.Export("Crash").Op(tiny::MovImm(0, 0));
    d.crash = p.Here();
    p.Op(tiny::LdrReg(0, 0)).Op(tiny::kBxLr);
    p.Export("Unserved").Op(tiny::kPushR4Lr).CallImport(createFile);
    d.unserved = p.CallSiteOfLastImport();
    p.Op(tiny::kPopR4Pc);
    return d;
}

class DllTest : public ::testing::Test {
protected:
    void SetUp() override { FreshPhone(); }
};

// Each export's result proves a part of the loading: addresses in code and
// in .data moved by the relocations, imports reached through moved
// literals, the entry point's arguments, the stack arguments, a string
// placed for the call.
TEST_F(DllTest, ExportsRunAtTheNewBaseWithTheirArguments) {
    sim::Pid other = sim::StartProcess("klavor.exe");
    HWND window = sim::CreateWindowFor(other, u"KlavorMain", u"Klavor");
    TestDll d = MakeDll();
    emu::Dll dll = LoadDll(d.p.Build());
    // High in the process's 32 MB slot, 64 KB aligned, never where it prefers.
    const std::uint32_t base = dll.Base(), moved = base - kPreferred;
    EXPECT_EQ(base, 0x01FF0000u);
    emu::PeImage there = dll.Image();
    there.imageBase = base;
    EXPECT_EQ(emu::DllBase(there), 0x01FE0000u);
    EXPECT_TRUE(dll.Attach());
    EXPECT_EQ(sim::TraceOf(), (std::vector<std::string>{"Sleep(11)"}));  // DLL_PROCESS_ATTACH + 10
    sim::ClearTrace();

    struct Case {
        const char* name;
        std::vector<emu::Arg> args;
        std::uint32_t result;
        std::vector<std::string> trace;
    } cases[] = {
        {"Global", {}, d.global + moved, {}},
        {"Pointer", {}, d.global + moved, {}},
        {"Instance", {}, base, {}},
        {"Digits", {1, 2, 3, 4, 5, 6, 7}, 0x1234567, {}},
        {"Close",
         {emu::Arg::Text(u"KlavorMain"), emu::Arg::Text(u"Klavor")},
         static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window)),
         {"FindWindowW(\"KlavorMain\", \"Klavor\") -> " + sim::Hex(reinterpret_cast<std::uintptr_t>(window)),
          "PostMessageW(" + sim::Hex(reinterpret_cast<std::uintptr_t>(window)) + ", 0x10, 0, 0) -> TRUE"}},
    };
    for (const Case& c : cases) {
        sim::ClearTrace();
        EXPECT_TRUE(dll.Has(c.name));
        EXPECT_EQ(dll.Call(c.name, c.args), c.result) << c.name;
        EXPECT_EQ(sim::TraceOf(), c.trace) << c.name;
    }
    std::vector<sim::Received> received = sim::ReceivedBy(window);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].msg, static_cast<UINT>(WM_CLOSE));

    sim::ClearTrace();
    EXPECT_TRUE(dll.Detach());
    EXPECT_EQ(sim::TraceOf(), (std::vector<std::string>{"Sleep(10)"}));  // DLL_PROCESS_DETACH + 10
}

// A missing export, a call before the entry point accepted, and the DLL's
// own faults: each names the DLL and the address where it is loaded. A
// fault ends the DLL's code for good, as it ends the process on the phone.
TEST_F(DllTest, FaultsNameTheDllAndTheAddressWhereItRuns) {
    TestDll d = MakeDll();
    const std::vector<std::uint8_t> file = d.p.Build();
    auto fault = [](emu::Dll& dll, const std::string& name) -> std::string {
        try {
            dll.Call(name, {});
        } catch (const emu::Fault& f) {
            return f.what();
        }
        return "";
    };
    {
        emu::Dll dll = LoadDll(file);
        EXPECT_EQ(fault(dll, "Global"),
                  "tiny.dll: Global called before the DLL's entry point accepted DLL_PROCESS_ATTACH");
    }
    const std::uint32_t moved = LoadDll(file).Base() - kPreferred;
    struct Case {
        const char* name;
        std::string fault;
    } cases[] = {
        {"Nope", "tiny.dll: the DLL has no export named Nope"},
        {"Crash", "tiny.dll: a read of 4 bytes at 0x0, outside the image, the stack and the guest data at pc " +
                      Hex(d.crash + moved) + ", after the program's last call of the phone, COREDLL.dll!Sleep from " +
                      Hex(d.entrySleep + moved)},
        {"Unserved", "tiny.dll: COREDLL.dll!CreateFileW called from " + Hex(d.unserved + moved) +
                         ": the emulated phone does not provide this import"},
    };
    for (const Case& c : cases) {
        emu::Dll dll = LoadDll(file);
        ASSERT_TRUE(dll.Attach());
        EXPECT_EQ(fault(dll, c.name), c.fault) << c.name;
        std::string after = "tiny.dll: the export Global called after the DLL's code stopped at a fault";
        EXPECT_EQ(fault(dll, "Global"), c.name == std::string("Nope") ? "" : after) << c.name;
    }
}

// Everything the file says is checked against the file before the DLL is
// loaded; each refusal says what is wrong.
TEST_F(DllTest, MalformedDllsAreRefusedWithTheReason) {
    TestDll d = MakeDll();
    const std::vector<std::uint8_t> good = d.p.Build();
    auto u16 = [](std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
        f[at] = static_cast<std::uint8_t>(v);
        f[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto u32 = [&](std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
        u16(f, at, v & 0xFFFF);
        u16(f, at + 2, v >> 16);
    };
    auto word = [&](std::size_t at) {
        return static_cast<std::uint32_t>(good[at] | good[at + 1] << 8 | good[at + 2] << 16) |
               static_cast<std::uint32_t>(good[at + 3]) << 24;
    };
    const std::uint32_t exportCount = static_cast<std::uint32_t>(d.p.exports.size());
    const std::size_t names = tiny::kEdataFile + 40 + 4 * exportCount, ordinals = names + 4 * exportCount;
    auto relocationType = [](std::vector<std::uint8_t>& f, std::uint8_t type) {
        f[tiny::kFirstRelocationAt + 1] = static_cast<std::uint8_t>(type << 4 | (f[tiny::kFirstRelocationAt + 1] & 0xF));
    };
    const std::uint32_t firstRelocation = word(tiny::kRelocFile) + (word(tiny::kFirstRelocationAt) & 0xFFF);
    const std::size_t optional = tiny::kCoff + 20;
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> spoil;
        std::string error;
    } cases[] = {
        {"not a DLL", [&](auto& f) { u16(f, tiny::kCoff + 18, 0x0102); },
         "tiny.dll: not a DLL (its file header's characteristics, 0x0102, lack IMAGE_FILE_DLL, 0x2000)"},
        {"relocations stripped", [&](auto& f) { u16(f, tiny::kCoff + 18, 0x2103); },
         "tiny.dll: its base relocations were stripped (IMAGE_FILE_RELOCS_STRIPPED), so it cannot be loaded "
         "anywhere but at its image base 0x10000000"},
        {"ARM_MOV32 relocation", [&](auto& f) { relocationType(f, 5); },
         "tiny.dll: a base relocation of type 5 (ARM_MOV32, a movw and movt pair) at RVA " + Hex(firstRelocation) +
             ": only HIGHLOW (3) and ABSOLUTE (0) are supported"},
        {"relocation in the headers", [&](auto& f) { u32(f, tiny::kRelocFile, 0); },
         "tiny.dll: the base relocation of the word at RVA " + Hex(firstRelocation & 0xFFF) + " lies in no section"},
        {"relocations outside the image", [&](auto& f) { u32(f, optional + 96 + 5 * 8, 0x5FFC); },
         "tiny.dll: the base relocation directory at RVA 0x5FFC, " + Hex(word(optional + 100 + 5 * 8)) +
             " bytes, lies outside the image (0x6000 bytes)"},
        {"export past the end", [&](auto& f) { u32(f, Program::ExportAddressAt(0), 0x6000); },
         "tiny.dll: the export Global at RVA 0x6000 lies past the end of the image (0x6000 bytes)"},
        {"export forwarded", [&](auto& f) { u32(f, Program::ExportAddressAt(2), word(names)); },
         "tiny.dll: the export Instance is forwarded to Global, which this loader does not follow"},
        {"export of no function", [&](auto& f) { u16(f, ordinals, exportCount); },
         "tiny.dll: the export Global stands for function " + std::to_string(exportCount) + " of " +
             std::to_string(exportCount)},
        {"export named twice", [&](auto& f) { u32(f, names + 4, word(names)); },
         "tiny.dll: the export name Global appears twice"},
        {"export with no address", [&](auto& f) { u32(f, Program::ExportAddressAt(1), 0); },
         "tiny.dll: the export Pointer has no address"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> file = good;
        c.spoil(file);
        std::string error;
        EXPECT_FALSE(emu::Dll::Load(file, "tiny.dll", &error)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
    }
    std::string error;
    EXPECT_TRUE(emu::Dll::Load(good, "tiny.dll", &error)) << error;
}

// A DLL is no program, and a program's relocations are read but, at its
// own base, not needed.
TEST_F(DllTest, RunProgramRefusesADll) {
    TestDll d = MakeDll();
    std::string error;
    std::optional<emu::PeImage> image = emu::ParsePeImage(d.p.Build(), "tiny.dll", &error);
    ASSERT_TRUE(image) << error;
    EXPECT_TRUE(image->dll);
    EXPECT_EQ(image->relocations.size(), d.p.relocations.size());
    try {
        emu::RunProgram(*image, sim::ProgramInstance(), u"", 5);
        ADD_FAILURE() << "ran";
    } catch (const emu::Fault& f) {
        EXPECT_EQ(std::string(f.what()), "tiny.dll: a DLL, not a program (its file header says IMAGE_FILE_DLL)");
    }
}

}  // namespace
