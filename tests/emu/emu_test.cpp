// The emulated phone's loader on hand-made ARM executables: calls through
// the import table reach the simulated phone with their arguments, and
// every way a program can go wrong stops the run with a message that names
// the address and the import, never a wrong result.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "platform/emu/emu.h"
#include "platform/emu/imports.h"
#include "platform/sim/phone.h"
#include "tiny_pe.h"

namespace {

using tiny::Program;

// A fresh phone that records the trace these tests read.
void FreshPhone() {
    sim::Reset();
    sim::SetTracing(true);
}

emu::PeImage Parse(const std::vector<std::uint8_t>& file) {
    std::string error;
    auto image = emu::ParsePeImage(file, "tiny.exe", &error);
    if (!image) throw std::runtime_error(error);
    return *image;
}

int RunTiny(const Program& p) { return emu::RunProgram(Parse(p.Build()), sim::ProgramInstance(), u"", 5); }

// The fault's message; empty if the program ran to its end.
std::string FaultOf(const Program& p) {
    try {
        RunTiny(p);
    } catch (const emu::Fault& f) {
        return f.what();
    }
    return "";
}

class EmuTest : public ::testing::Test {
protected:
    void SetUp() override { FreshPhone(); }
};

TEST_F(EmuTest, EntryGetsWinMainsArgumentsAndImportsReachThePhone) {
    sim::SetScreen(240, 480);
    Program p;
    int metrics = p.Import("COREDLL.dll", "GetSystemMetrics");
    p.Op(tiny::kPushR4Lr)
        .Op(tiny::MovReg(4, 3))  // r4 = nShowCmd, kept across the call
        .Op(tiny::MovImm(0, 1))  // SM_CYSCREEN
        .CallImport(metrics)
        .Op(tiny::AddReg(0, 0, 4))
        .Op(tiny::kPopR4Pc);
    EXPECT_EQ(RunTiny(p), 480 + 5);
    EXPECT_EQ(sim::TraceOf(), (std::vector<std::string>{"GetSystemMetrics(1) -> 480"}));
}

TEST_F(EmuTest, LibraryNamesAreMatchedWithoutRegardToCase) {
    Program p;
    int metrics = p.Import("coredll.DLL", "GetSystemMetrics");
    p.Op(tiny::kPushR4Lr).Op(tiny::MovImm(0, 0)).CallImport(metrics).Op(tiny::kPopR4Pc);
    EXPECT_EQ(RunTiny(p), 240);
}

TEST_F(EmuTest, ImportsThePhoneDoesNotServeStopTheRunWhenCalled) {
    struct Case {
        std::string dll, name;
        std::uint16_t ordinal;
        std::string shown;
    } cases[] = {
        {"COREDLL.dll", "CreateFileW", 0, "COREDLL.dll!CreateFileW"},
        {"AYGSHELL.dll", "SHFullScreen", 0, "AYGSHELL.dll!SHFullScreen"},
        {"COREDLL.dll", "", 42, "COREDLL.dll#42"},
        // A served name from another library is still not served.
        {"AYGSHELL.dll", "Sleep", 0, "AYGSHELL.dll!Sleep"},
    };
    for (const Case& c : cases) {
        FreshPhone();
        Program p;
        int used = p.Import("COREDLL.dll", "GetSystemMetrics");
        int missing = p.Import(c.dll, c.name, c.ordinal);
        p.Op(tiny::kPushR4Lr).Op(tiny::MovImm(0, 0)).CallImport(used).CallImport(missing);
        std::uint32_t site = p.CallSiteOfLastImport();
        p.Op(tiny::kPopR4Pc);
        char expected[160];
        std::snprintf(expected, sizeof expected, "tiny.exe: %s called from 0x%X: the emulated phone does not provide this import",
                      c.shown.c_str(), site);
        EXPECT_EQ(FaultOf(p), expected);
        EXPECT_EQ(sim::TraceOf(), (std::vector<std::string>{"GetSystemMetrics(0) -> 240"})) << c.shown;
    }
}

TEST_F(EmuTest, TheCpuIsTheXScaleOfThePhones) {
    // ARMv5TE runs: clz (v5) and qadd (the DSP extension).
    Program ok;
    ok.Load(1, 0x00010000)
        .Op(0xE16F0F11)  // clz r0, r1: 15
        .Load(2, 0x7FFFFFF0)
        .Op(0xE1023052)  // qadd r3, r2, r2: saturates to 0x7FFFFFFF
        .Op(0xE2033001)  // and r3, r3, #1
        .Op(tiny::AddReg(0, 0, 3))
        .Op(tiny::kBxLr);
    EXPECT_EQ(RunTiny(ok), 16);

    // Later architectures do not: movw (ARMv6T2) and rev (ARMv6).
    for (std::uint32_t insn : {0xE3000001u, 0xE6BF0F30u}) {
        Program p;
        p.Op(tiny::MovImm(0, 0)).Op(insn).Op(tiny::kBxLr);
        char expected[200];
        std::snprintf(expected, sizeof expected,
                      "tiny.exe: an undefined instruction (%08X) for the phones' CPU (XScale PXA270, ARMv5TE) "
                      "at pc 0x11004, before the program's first call of the phone",
                      insn);
        EXPECT_EQ(FaultOf(p), expected);
    }
}

TEST_F(EmuTest, AccessesOutsideWhatTheProgramMayTouchStopTheRun) {
    struct Case {
        const char* what;
        Program p;
        std::string fault;
    };
    std::vector<Case> cases;
    {
        Program p;
        p.Op(tiny::MovImm(0, 0)).Op(tiny::LdrReg(0, 0)).Op(tiny::kBxLr);
        cases.push_back({"NULL", p, "a read of 4 bytes at 0x0, outside the image, the stack and the guest data at pc 0x11004"});
    }
    {
        Program p;
        p.Load(1, 0x11000).Op(tiny::StrReg(0, 1)).Op(tiny::kBxLr);
        cases.push_back({"code", p, "a write of 4 bytes at 0x11000 in the image's .text section, which is read-only at pc 0x1100C"});
    }
    {
        Program p;
        p.Load(1, 0x10000).Op(tiny::StrReg(0, 1)).Op(tiny::kBxLr);
        cases.push_back({"headers", p, "a write of 4 bytes at 0x10000 in the image's headers, which is read-only at pc 0x1100C"});
    }
    {
        Program p;
        p.Load(0, 0x12000).Op(tiny::BxReg(0));
        cases.push_back({"data as code", p, "code run at 0x12000 in the image's .data section, which is not code at pc 0x12000"});
    }
    {
        Program p;
        p.Load(0, 0x40000000).Op(tiny::BxReg(0));
        cases.push_back({"jump", p, "a jump to 0x40000000, outside the image, the stack and the guest data at pc 0x40000000"});
    }
    {
        Program p;
        p.Op(0xE52DE004)   // push {lr}
            .Op(0xEBFFFFFD);  // bl to the push: recursion without end
        cases.push_back({"stack", p, "a write of 4 bytes at 0x601FFFFC, just below the stack (the stack is full) at pc 0x11000"});
    }
    {
        // Run alone on the registers the fault left (r1 = 0), the load
        // before the faulting one would fault too: both are named.
        Program p;
        p.Load(1, 0x12000).Op(tiny::LdrReg(1, 1)).Op(tiny::LdrReg(0, 1));
        cases.push_back({"which load", p, "a read of 4 bytes at 0x0, outside the image, the stack and the guest data at pc 0x1100C or 0x11010 (the emulator cannot tell which)"});
    }
    {
        Program p;
        p.Op(0xEF000000);  // svc 0: the program has no system calls of its own
        cases.push_back({"svc", p, "a software interrupt (svc) (exception 2) at pc 0x11004"});
    }
    for (Case& c : cases) {
        FreshPhone();
        c.p.Op(tiny::kBxLr);
        std::string fault = FaultOf(c.p);
        EXPECT_EQ(fault.substr(0, fault.rfind(", ")), "tiny.exe: " + c.fault) << c.what;
    }
}

// The phones' XScale under Windows CE faults on a word or halfword that is
// not aligned; bytes anywhere, and aligned words, are fine.
TEST_F(EmuTest, UnalignedWordsAndHalfwordsStopTheRunAsOnThePhone) {
    struct Case {
        const char* what;
        std::uint32_t base;  // r1
        std::uint32_t insn;  // run after r1 is loaded (at 0x1100C)
        std::string fault;   // empty: the program returns r0
    } cases[] = {
        {"ldr", 0x12002, tiny::LdrReg(0, 1), "an unaligned read of 4 bytes at 0x12002 in the image's .data section"},
        {"ldrh", 0x12001, 0xE1D100B0, "an unaligned read of 2 bytes at 0x12001 in the image's .data section"},
        {"str", 0x12006, tiny::StrReg(0, 1), "an unaligned write of 4 bytes at 0x12006 in the image's .data section"},
        {"strh", 0x12003, 0xE1C100B0, "an unaligned write of 2 bytes at 0x12003 in the image's .data section"},
        {"push", 0x6020FF02, 0xE9210003 /* stmdb r1!, {r0, r1} */,
         "an unaligned write of 4 bytes at 0x6020FEFA in the stack"},
        {"ldrb", 0x12003, 0xE5D10000, ""},
        {"aligned ldr", 0x12004, tiny::LdrReg(0, 1), ""},
    };
    for (const Case& c : cases) {
        FreshPhone();
        Program p;
        p.Load(1, c.base).Op(c.insn).Op(tiny::kBxLr);
        std::string fault = FaultOf(p);
        if (c.fault.empty()) {
            EXPECT_EQ(fault, "") << c.what;
            continue;
        }
        char insn[16];
        std::snprintf(insn, sizeof insn, "%08X", c.insn);
        EXPECT_EQ(fault, "tiny.exe: " + c.fault + " (the phones' CPU faults on it) by the instruction " + insn +
                             " at pc 0x1100C, before the program's first call of the phone")
            << c.what;
    }
}

// The stack carries calls into the program; one that returns with its
// stack pointer elsewhere would leave the caller's frame wrong.
TEST_F(EmuTest, AReturnWithTheStackPointerMovedStopsTheRun) {
    Program p;
    p.Op(0xE28DD008).Op(tiny::kBxLr);  // add sp, sp, #8
    EXPECT_EQ(FaultOf(p), "tiny.exe: the entry point returned with its stack pointer at 0x60210008, not 0x60210000, "
                          "before the program's first call of the phone");
}

TEST_F(EmuTest, AFaultAfterACallNamesThatCall) {
    Program p;
    int metrics = p.Import("COREDLL.dll", "GetSystemMetrics");
    p.Op(tiny::kPushR4Lr).Op(tiny::MovImm(0, 1)).CallImport(metrics);
    std::uint32_t site = p.CallSiteOfLastImport();
    p.Op(tiny::LdrReg(0, 0)).Op(tiny::kPopR4Pc);  // reads at the screen height, 320
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "tiny.exe: a read of 4 bytes at 0x140, outside the image, the stack and the guest data at pc 0x%X, "
                  "after the program's last call of the phone, COREDLL.dll!GetSystemMetrics from 0x%X",
                  site + 12, site);
    EXPECT_EQ(FaultOf(p), expected);
}

TEST_F(EmuTest, BadPointersGivenToThePhoneStopTheRunBeforeTheCall) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::uint32_t>> args;  // register, value
        std::string fault;
    } cases[] = {
        {"GetMessageW", {{0, 0x40000000}}, "the MSG: 28 bytes at 0x40000000 reach 0x40000000, outside the image, the stack and the guest data"},
        {"GetMessageW", {{0, 0}}, "the program passed no MSG to fill"},
        {"GetMessageW", {{0, 0x11000}}, "the MSG: the program passed 0x11000, in the image's .text section, which it may not write"},
        {"GetMessageW", {{0, 0x13FF0}}, "the MSG: 28 bytes at 0x13FF0 reach 0x14000, outside the image, the stack and the guest data"},
        {"memset", {{0, 0x13F00}, {1, 0}, {2, 0x1000}}, "the destination: 4096 bytes at 0x13F00 reach 0x14000, outside the image, the stack and the guest data"},
        {"FindWindowW", {{0, 0x7FFF0000}, {1, 0}}, "argument 1: 2 bytes at 0x7FFF0000 reach 0x7FFF0000, outside the image, the stack and the guest data"},
        {"RegOpenKeyExW", {{0, 0x80000002}, {1, 0}, {2, 0}, {3, 0}}, ""},
    };
    for (const Case& c : cases) {
        FreshPhone();
        Program p;
        int imp = p.Import("COREDLL.dll", c.name);
        p.Op(tiny::kPushR4Lr);
        for (const auto& [reg, value] : c.args) p.Load(reg, value);
        if (std::string(c.name) == "RegOpenKeyExW") {
            // The fifth argument, the HKEY result, on the stack: into .text.
            p.Load(4, 0x11000).Op(0xE52D4004);  // push {r4}
        }
        p.CallImport(imp);
        std::uint32_t site = p.CallSiteOfLastImport();
        p.Op(tiny::kPopR4Pc);
        std::string fault = FaultOf(p);
            std::string expected = c.fault;
        if (std::string(c.name) == "RegOpenKeyExW")
            expected = "the HKEY result: the program passed 0x11000, in the image's .text section, which it may not write";
        char prefix[80];
        std::snprintf(prefix, sizeof prefix, "tiny.exe: COREDLL.dll!%s called from 0x%X: ", c.name, site);
        EXPECT_EQ(fault.substr(0, std::string(prefix).size() + expected.size()), prefix + expected);
        EXPECT_TRUE(sim::Trace().empty()) << c.name << ": " << sim::Trace().front().Text();
    }
}

// CreateProcessW takes ten arguments, six of them on the stack, and fills a
// 16-byte PROCESS_INFORMATION only when it succeeds; the program then
// closes the handle it got. What the phone's starter sees, what the trace
// shows and what the program read back.
TEST_F(EmuTest, CreateProcessWTakesItsStackArgumentsAndFillsTheProcessInformation) {
    const std::u16string exe = u"\\Program Files\\Klavor\\klavor.exe";
    struct Case {
        const char* what;
        std::uint32_t flags;
        bool folder;      // a current folder, which Windows CE refuses
        bool starts;      // what the phone's starter answers
        bool infoInCode;  // the PROCESS_INFORMATION in .text
        std::vector<std::string> trace;
        std::uint32_t hThread;  // as the program read it back
        int started;            // calls of the starter
        std::string fault;
    } cases[] = {
        {"started", 0x4, false, true, false,
         {"CreateProcessW(\"\\Program Files\\Klavor\\klavor.exe\", \"-q\", NULL, NULL, 0, 0x4, NULL, NULL, NULL, "
          "information) -> TRUE",
          "CloseHandle(0x60000) -> TRUE"},
         0x60001, 1, ""},
        {"flags refused", 0x8, false, true, false,
         {"CreateProcessW(\"\\Program Files\\Klavor\\klavor.exe\", \"-q\", NULL, NULL, 0, 0x8, NULL, NULL, NULL, "
          "information) -> FALSE, ERROR_INVALID_PARAMETER",
          "CloseHandle(0x11111110) -> FALSE"},
         0x22222220, 0, ""},
        {"folder refused", 0, true, true, false,
         {"CreateProcessW(\"\\Program Files\\Klavor\\klavor.exe\", \"-q\", NULL, NULL, 0, 0x0, NULL, \"\\Temp\", "
          "NULL, information) -> FALSE, ERROR_INVALID_PARAMETER",
          "CloseHandle(0x11111110) -> FALSE"},
         0x22222220, 0, ""},
        {"information in code", 0, false, true, true, {}, 0, 0,
         "the PROCESS_INFORMATION: the program passed 0x11000, in the image's .text section, which it may not write"},
    };
    for (const Case& c : cases) {
        FreshPhone();
        std::vector<std::pair<std::u16string, std::u16string>> starts;  // path, command line
        sim::SetProgramStarter([&](const std::u16string& path, const std::u16string& line, DWORD* error) {
            starts.emplace_back(path, line);
            *error = ERROR_FILE_NOT_FOUND;
            return c.starts;
        });
        Program p;
        int create = p.Import("COREDLL.dll", "CreateProcessW");
        int close = p.Import("COREDLL.dll", "CloseHandle");
        const std::uint32_t marker[4] = {0x11111110, 0x22222220, 0x33333330, 0x44444440};
        std::uint32_t info = c.infoInCode ? tiny::kImageBase + tiny::kText : p.Data(marker, sizeof marker);
        std::uint32_t stack[6] = {0, c.flags, 0, c.folder ? p.Text(u"\\Temp") : 0, 0, info};
        std::uint32_t image = p.Text(exe), line = p.Text(u"-q");
        p.Op(tiny::kPushR4Lr).Op(tiny::SubSp(24));
        for (std::uint32_t i = 0; i < 6; ++i) p.Load(0, stack[i]).Op(tiny::StrOff(0, tiny::kSp, 4 * i));
        p.Load(4, info).Load(0, image).Load(1, line).Op(tiny::MovImm(2, 0)).Op(tiny::MovImm(3, 0)).CallImport(create);
        std::uint32_t site = p.CallSiteOfLastImport();
        p.Op(tiny::AddSp(24))
            .Op(tiny::LdrOff(0, 4, 0))  // hProcess
            .CallImport(close)
            .Op(tiny::LdrOff(0, 4, 4))  // hThread
            .Op(tiny::kPopR4Pc);
        std::string fault;
        std::uint32_t result = 0;
        try {
            result = static_cast<std::uint32_t>(RunTiny(p));
        } catch (const emu::Fault& f) {
            fault = f.what();
        }
        if (!c.fault.empty()) {
            char prefix[80];
            std::snprintf(prefix, sizeof prefix, "tiny.exe: COREDLL.dll!CreateProcessW called from 0x%X: ", site);
            EXPECT_EQ(fault, prefix + c.fault) << c.what;
        } else {
            EXPECT_EQ(fault, "") << c.what;
            EXPECT_EQ(result, c.hThread) << c.what;
        }
        EXPECT_EQ(sim::TraceOf(), c.trace) << c.what;
        ASSERT_EQ(starts.size(), static_cast<std::size_t>(c.started)) << c.what;
        for (const auto& [path, commandLine] : starts) {
            EXPECT_EQ(path, exe) << c.what;
            EXPECT_EQ(commandLine, u"-q") << c.what;
        }
    }
}

TEST_F(EmuTest, MemsetWritesGuestMemoryAndLeavesNoTrace) {
    Program p;
    int memset = p.Import("COREDLL.dll", "memset");
    p.Op(tiny::kPushR4Lr)
        .Load(0, 0x12010)
        .Load(1, 0x1A5)  // only the low byte counts
        .Load(2, 6)
        .CallImport(memset)
        .Op(tiny::MovReg(4, 0))        // memset returns its destination
        .Op(0xE5D40005)                // ldrb r0, [r4, #5]: the last byte set
        .Op(0xE5D41006)                // ldrb r1, [r4, #6]: the next, untouched
        .Op(tiny::AddReg(0, 0, 1))
        .Op(tiny::kPopR4Pc);
    EXPECT_EQ(RunTiny(p), 0xA5);
    EXPECT_TRUE(sim::Trace().empty());
}

TEST_F(EmuTest, ExitThreadEndsTheProgramWithItsCode) {
    Program p;
    int exitThread = p.Import("COREDLL.dll", "ExitThread");
    p.Op(tiny::kPushR4Lr).Op(tiny::MovImm(0, 7)).CallImport(exitThread).Op(0xE3000001);  // never reached: movw
    EXPECT_EQ(RunTiny(p), 7);
    EXPECT_TRUE(sim::Trace().empty());
}

TEST_F(EmuTest, TheEndOfARunUnwindsThroughHostFramesOnly) {
    Program p;
    int sleep = p.Import("COREDLL.dll", "Sleep");
    p.Op(tiny::kPushR4Lr).Load(0, 5000).CallImport(sleep).Op(tiny::MovImm(0, 9)).Op(tiny::kPopR4Pc);
    sim::SetRunLimit(1000);
    EXPECT_THROW(RunTiny(p), sim::Halted);
    // The machine is gone with its run; the next program starts afresh.
    FreshPhone();
    EXPECT_EQ(RunTiny(p), 9);
    EXPECT_EQ(sim::Now(), 5000u);
}

TEST_F(EmuTest, MalformedExecutablesAreRefusedWithTheReason) {
    Program p;
    p.Op(tiny::kBxLr);
    std::string error;
    auto refused = [&](std::vector<std::uint8_t> file) {
        error.clear();
        return !emu::ParsePeImage(file, "bad.exe", &error);
    };
    EXPECT_TRUE(refused(p.Build(0x8664)));
    EXPECT_EQ(error, "bad.exe: machine 0x8664 is not ARM (0x1C0)");
    EXPECT_TRUE(refused(p.Build(0x1C0, 2)));
    EXPECT_EQ(error, "bad.exe: subsystem 2 is not Windows CE (9)");
    std::vector<std::uint8_t> file = p.Build();
    EXPECT_TRUE(refused(std::vector<std::uint8_t>(file.begin(), file.begin() + 0x500)));
    EXPECT_EQ(error, "bad.exe: reads past the end of the file at 0x400");
    std::vector<std::uint8_t> entry = file;
    entry[0x84 + 20 + 16 + 1] = 0x20;  // the entry point in .data
    EXPECT_TRUE(refused(entry));
    EXPECT_EQ(error, "bad.exe: the entry point 0x12000 is in no code section");
    std::vector<std::uint8_t> section = file;
    section[0x84 + 20 + 224 + 40 + 12 + 1] = 0x30;  // .data moved onto .idata
    EXPECT_TRUE(refused(section));
    EXPECT_EQ(error, "bad.exe: sections .data and .idata overlap");
    std::vector<std::uint8_t> tls = file;
    tls[0x84 + 20 + 96 + 9 * 8 + 4] = 8;
    EXPECT_TRUE(refused(tls));
    EXPECT_EQ(error, "bad.exe: data directory 9 (TLS, delay imports or CLR) is not supported");
    EXPECT_TRUE(refused({'M', 'Z'}));
    EXPECT_EQ(error, "bad.exe: not an executable (no MZ header)");
    EXPECT_FALSE(refused(file)) << error;
}

// The loader serves exactly the calls the stand-in <windows.h> and
// <shellapi.h> declare (WinMain is the program's own), and the two it does
// itself.
TEST(EmuImports, TheServedListIsThePhoneApi) {
    std::set<std::string> declared = {"memset", "ExitThread"};
    for (const char* header : {"windows.h", "shellapi.h"}) {
        std::ifstream in(std::string(KLAVOR_SOURCE_DIR) + "/platform/include/" + header);
        std::stringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        std::regex proto(R"(WINAPI\s+(\w+)\s*\()");
        for (auto it = std::sregex_iterator(s.begin(), s.end(), proto); it != std::sregex_iterator(); ++it)
            if ((*it)[1] != "WinMain") declared.insert((*it)[1]);
    }
    std::vector<std::string> served = emu::ServedImports();
    EXPECT_EQ(std::set<std::string>(served.begin(), served.end()), declared);
    EXPECT_EQ(served.size(), declared.size()) << "a name is listed twice";
}

}  // namespace
