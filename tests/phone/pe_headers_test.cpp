// The headers and imports of the phone's klavor.exe, read back from the
// built file: what the Windows CE 4.20 loader on the phones looks at before
// the program runs its first instruction.
//
// KLAVOR_EXE names the executable, KLAVOR_MAP the linker's map of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/resources/pe_image.h"

#include "platform/emu/imports.h"

namespace {

constexpr std::uint16_t kMachineArm = 0x01C0;
constexpr std::uint16_t kSubsystemWindowsCeGui = 9;

// COFF characteristics.
constexpr std::uint16_t kRelocsStripped = 0x0001;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t k32BitMachine = 0x0100;
constexpr std::uint16_t kDll = 0x2000;

// Section characteristics.
constexpr std::uint32_t kSectionCode = 0x00000020;
constexpr std::uint32_t kSectionExecute = 0x20000000;
constexpr std::uint32_t kSectionWrite = 0x80000000;

constexpr std::size_t kSizeBudget = 20 * 1024;

// What the program calls, by the names coredll exports. A new platform call
// belongs here, in cmake/phone/coredll.def and in the emulated phone.
const std::vector<std::string> kExpectedImports = {
    "AppendMenuW",      "CreatePopupMenu",  "CreateWindowExW", "DefWindowProcW",   "DestroyMenu",
    "DispatchMessageW", "ExitThread",       "FindWindowW",     "FreeLibrary",      "GetMessageW",
    "GetProcAddressW",  "GetStockObject",   "GetSystemMetrics", "LoadIconW",       "LoadLibraryW",
    "MessageBoxW",      "PostQuitMessage",  "RegCloseKey",     "RegOpenKeyExW",    "RegQueryValueExW",
    "RegisterClassW",   "RegisterHotKey",   "SetTimer",        "Shell_NotifyIcon", "Sleep",
    "TrackPopupMenuEx", "TranslateMessage", "UnregisterHotKey", "keybd_event",     "memset",
};

class PhoneExe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* path = std::getenv("KLAVOR_EXE");
        if (!path) return;
        exePath_ = path;
        std::optional<pe::Image> image = pe::Image::Load(path);
        if (image) image_ = new pe::Image(std::move(*image));
    }
    static void TearDownTestSuite() {
        delete image_;
        image_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(image_, nullptr) << "KLAVOR_EXE must name the phone's klavor.exe (" << exePath_ << ")";
        ASSERT_EQ(image_->error(), "") << exePath_;
    }

    const pe::Headers& h() const { return image_->headers(); }

    // The names the program imports from its one DLL.
    std::vector<std::string> ImportNames() const {
        std::vector<std::string> names;
        for (const pe::ImportedDll& dll : image_->imports())
            for (const pe::Import& f : dll.functions) names.push_back(f.name);
        return names;
    }

    static std::string exePath_;
    static pe::Image* image_;
};

std::string PhoneExe::exePath_;
pe::Image* PhoneExe::image_ = nullptr;

TEST_F(PhoneExe, IsAnArmWindowsCe420Program) {
    EXPECT_EQ(h().machine, kMachineArm);
    EXPECT_EQ(h().magic, 0x10B) << "not PE32";
    EXPECT_EQ(h().subsystem, kSubsystemWindowsCeGui);
    // The loader refuses a program that asks for a newer system than it is.
    EXPECT_EQ(h().subsystemMajor, 4);
    EXPECT_EQ(h().subsystemMinor, 20);
    EXPECT_EQ(h().osMajor, 4);
    EXPECT_EQ(h().osMinor, 20);
    EXPECT_EQ(h().characteristics & (kExecutableImage | k32BitMachine | kDll), kExecutableImage | k32BitMachine);
}

TEST_F(PhoneExe, LoadsAtTheProcessSlotBaseWithTheUsualCeStack) {
    EXPECT_EQ(h().imageBase, 0x10000u);
    EXPECT_EQ(h().sectionAlignment, 0x1000u);
    EXPECT_EQ(h().fileAlignment, 0x200u);
    EXPECT_EQ(h().stackReserve, 0x10000u);
    EXPECT_EQ(h().stackCommit, 0x1000u);
    // Relocations are kept, so a loader that does move the image can.
    EXPECT_EQ(h().characteristics & kRelocsStripped, 0);
    EXPECT_NE(h().dataDirs[pe::kRelocDir].second, 0u) << "no base relocations";
}

TEST_F(PhoneExe, CarriesNothingCe420DoesNotKnow) {
    EXPECT_EQ(h().dllCharacteristics, 0) << "DYNAMIC_BASE, NX_COMPAT and the like mean nothing to CE 4.20";
    EXPECT_EQ(h().win32Version, 0u);
    EXPECT_EQ(h().loaderFlags, 0u);
    // No run-time, so nothing a run-time would bring.
    for (int dir : {pe::kExportDir, pe::kExceptionDir, pe::kSecurityDir, pe::kDebugDir, pe::kTlsDir,
                    pe::kLoadConfigDir, pe::kBoundImportDir, pe::kDelayImportDir, pe::kClrDir})
        EXPECT_EQ(h().dataDirs[dir].second, 0u) << "data directory " << dir << " is in use";
    // A timestamp would make every build differ.
    EXPECT_EQ(h().timeDateStamp, 0u);
}

TEST_F(PhoneExe, NoSectionIsBothWritableAndExecutable) {
    ASSERT_FALSE(image_->sections().empty());
    for (const pe::Section& s : image_->sections()) {
        bool executable = (s.characteristics & (kSectionCode | kSectionExecute)) != 0;
        bool writable = (s.characteristics & kSectionWrite) != 0;
        EXPECT_FALSE(executable && writable) << s.name;
        EXPECT_LE(std::uint64_t{s.fileOffset} + s.fileSize, image_->size()) << s.name << " runs past the file";
    }
}

TEST_F(PhoneExe, StartsAtItsOwnEntryInArmCode) {
    const pe::Section* text = image_->SectionAt(h().entryPoint);
    ASSERT_NE(text, nullptr) << "the entry point is in no section";
    EXPECT_NE(text->characteristics & kSectionExecute, 0u) << "the entry point is in " << text->name;
    EXPECT_EQ(h().entryPoint % 4, 0u) << "an ARM-mode entry is word-aligned (an odd address would be Thumb)";

    const char* mapPath = std::getenv("KLAVOR_MAP");
    ASSERT_NE(mapPath, nullptr) << "KLAVOR_MAP must name the linker map";
    std::ifstream map(mapPath);
    ASSERT_TRUE(map) << mapPath;
    std::regex entry(R"(^\s+0x([0-9a-fA-F]+)\s+WinMainCRTStartup\s*$)");
    std::optional<std::uint64_t> address;
    for (std::string line; std::getline(map, line);) {
        std::smatch m;
        if (std::regex_match(line, m, entry)) address = std::stoull(m[1].str(), nullptr, 16);
    }
    ASSERT_TRUE(address.has_value()) << "WinMainCRTStartup is not in " << mapPath;
    EXPECT_EQ(h().imageBase + h().entryPoint, *address) << "the entry point is not WinMainCRTStartup";
}

TEST_F(PhoneExe, ImportsOnlyFromCoredllAndOnlyByName) {
    ASSERT_EQ(image_->imports().size(), 1u);
    const pe::ImportedDll& dll = image_->imports().front();
    EXPECT_EQ(dll.name, "COREDLL.dll");
    std::cout << "imports from " << dll.name << ":";
    for (const pe::Import& f : dll.functions) {
        EXPECT_FALSE(f.ordinal.has_value()) << "import by ordinal " << *f.ordinal;
        std::cout << " " << f.name;
    }
    std::cout << "\n";

    std::vector<std::string> names = ImportNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "an import is listed twice";
    std::vector<std::string> want = kExpectedImports;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(names, want);
}

// Every import must be one the emulated phone serves, or a scenario run on
// the ARM binary would stop at the first call of it.
TEST_F(PhoneExe, EveryImportIsServedByTheEmulatedPhone) {
#define KLAVOR_NAME(name) #name,
    const std::set<std::string> served = {KLAVOR_EMU_IMPORTS(KLAVOR_NAME)};
#undef KLAVOR_NAME
    for (const std::string& name : ImportNames()) EXPECT_EQ(served.count(name), 1u) << name << " is not served";
}

TEST_F(PhoneExe, FitsTheSizeBudget) {
    std::cout << exePath_ << ": " << image_->size() << " bytes\n";
    EXPECT_LE(image_->size(), kSizeBudget);
}

}  // namespace
