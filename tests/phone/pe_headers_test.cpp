// The headers and imports of the phone's klavor.exe and of the cabinet's
// setup program klavor_setup.dll, read back from the built files: what the
// Windows CE 4.20 loader on the phones looks at before the code runs its
// first instruction.
//
// KLAVOR_EXE names the executable, KLAVOR_MAP the linker's map of it;
// KLAVOR_SETUP_DLL and KLAVOR_SETUP_MAP the same for the DLL.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
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
constexpr std::size_t kSetupSizeBudget = 8 * 1024;

// Base relocation type: a 32-bit address.
constexpr std::uint16_t kRelocHighLow = 3;

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

// One file of the phone build, named by an environment variable, read once
// for its tests.
constexpr char kExeVariable[] = "KLAVOR_EXE";
constexpr char kSetupVariable[] = "KLAVOR_SETUP_DLL";

template <const char* Variable>
class PhoneBuildFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* path = std::getenv(Variable);
        if (!path) return;
        path_ = path;
        std::optional<pe::Image> image = pe::Image::Load(path);
        if (image) image_ = new pe::Image(std::move(*image));
    }
    static void TearDownTestSuite() {
        delete image_;
        image_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(image_, nullptr) << Variable << " must name the phone build's file (" << path_ << ")";
        ASSERT_EQ(image_->error(), "") << path_;
    }

    const pe::Headers& h() const { return image_->headers(); }

    // No section both writable and executable, none past the file's end.
    void ExpectSoundSections() const {
        for (const pe::Section& s : image_->sections()) {
            bool executable = (s.characteristics & (kSectionCode | kSectionExecute)) != 0;
            bool writable = (s.characteristics & kSectionWrite) != 0;
            EXPECT_FALSE(executable && writable) << s.name;
            EXPECT_LE(std::uint64_t{s.fileOffset} + s.fileSize, image_->size()) << s.name << " runs past the file";
        }
    }

    // The names the file imports from its DLLs.
    std::vector<std::string> ImportNames() const {
        std::vector<std::string> names;
        for (const pe::ImportedDll& dll : image_->imports())
            for (const pe::Import& f : dll.functions) names.push_back(f.name);
        return names;
    }

    static inline std::string path_;
    static inline pe::Image* image_ = nullptr;
};

using PhoneExe = PhoneBuildFile<kExeVariable>;

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
    ExpectSoundSections();
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
    std::cout << path_ << ": " << image_->size() << " bytes\n";
    EXPECT_LE(image_->size(), kSizeBudget);
}

// ---- klavor_setup.dll ------------------------------------------------------

// The installer's four calls, as it looks them up: by these names, with
// nothing added. The export table lists names sorted, since a loader
// searches it by halves.
const std::vector<std::string> kSetupExports = {"Install_Exit", "Install_Init", "Uninstall_Exit", "Uninstall_Init"};
// Closing a running Klavor and starting the installed one.
const std::vector<std::string> kSetupImports = {"CloseHandle", "CreateProcessW", "FindWindowW", "PostMessageW",
                                                "Sleep"};
constexpr std::uint64_t kSetupImageBase = 0x10000000;

// The symbols of a linker map that are defined at an address: name -> address.
std::map<std::string, std::uint64_t> MapSymbols(const std::string& path) {
    std::map<std::string, std::uint64_t> out;
    std::ifstream map(path);
    std::regex symbol(R"(^\s+0x([0-9a-fA-F]+)\s+([A-Za-z_][A-Za-z0-9_]*)\s*$)");
    for (std::string line; std::getline(map, line);) {
        std::smatch m;
        if (std::regex_match(line, m, symbol)) out[m[2].str()] = std::stoull(m[1].str(), nullptr, 16);
    }
    return out;
}

class PhoneSetupDll : public PhoneBuildFile<kSetupVariable> {
protected:
    static std::string MapPath() {
        const char* path = std::getenv("KLAVOR_SETUP_MAP");
        return path ? path : "";
    }
};

TEST_F(PhoneSetupDll, IsAnArmWindowsCe420Dll) {
    EXPECT_EQ(h().machine, kMachineArm);
    EXPECT_EQ(h().magic, 0x10B) << "not PE32";
    EXPECT_EQ(h().subsystem, kSubsystemWindowsCeGui);
    EXPECT_EQ(h().subsystemMajor, 4);
    EXPECT_EQ(h().subsystemMinor, 20);
    EXPECT_EQ(h().osMajor, 4);
    EXPECT_EQ(h().osMinor, 20);
    EXPECT_EQ(h().characteristics & (kExecutableImage | k32BitMachine | kDll), kExecutableImage | k32BitMachine | kDll);
    EXPECT_EQ(h().sectionAlignment, 0x1000u);
    EXPECT_EQ(h().fileAlignment, 0x200u);
}

// A DLL may be put anywhere: every address in its code and data must be
// one the loader can move, so the relocations are there and each points at
// a word that holds an address inside the image.
TEST_F(PhoneSetupDll, CanBeLoadedAwayFromItsBase) {
    EXPECT_EQ(h().imageBase, kSetupImageBase);
    EXPECT_NE(h().imageBase, 0x10000u) << "klavor.exe's base";
    EXPECT_EQ(h().characteristics & kRelocsStripped, 0) << "relocations stripped";
    const pe::Section* reloc = nullptr;
    for (const pe::Section& s : image_->sections())
        if (s.name == ".reloc") reloc = &s;
    ASSERT_NE(reloc, nullptr) << "no .reloc section";
    EXPECT_EQ(h().dataDirs[pe::kRelocDir].first, reloc->rva);
    ASSERT_FALSE(image_->relocations().empty()) << "a .reloc with no entries";
    for (const pe::Relocation& r : image_->relocations()) {
        EXPECT_EQ(r.type, kRelocHighLow) << "at RVA " << r.rva;
        std::optional<std::uint32_t> word = image_->WordAt(r.rva);
        ASSERT_TRUE(word.has_value()) << "a relocation at RVA " << r.rva << " outside the file's sections";
        EXPECT_GE(*word, h().imageBase) << "at RVA " << r.rva;
        EXPECT_LT(*word, h().imageBase + h().sizeOfImage) << "at RVA " << r.rva;
    }
    std::cout << image_->relocations().size() << " relocations\n";
}

TEST_F(PhoneSetupDll, CarriesNothingCe420DoesNotKnow) {
    EXPECT_EQ(h().dllCharacteristics, 0);
    EXPECT_EQ(h().win32Version, 0u);
    EXPECT_EQ(h().loaderFlags, 0u);
    EXPECT_EQ(h().timeDateStamp, 0u);
    for (int dir : {pe::kResourceDir, pe::kExceptionDir, pe::kSecurityDir, pe::kDebugDir, pe::kTlsDir,
                    pe::kLoadConfigDir, pe::kBoundImportDir, pe::kDelayImportDir, pe::kClrDir})
        EXPECT_EQ(h().dataDirs[dir].second, 0u) << "data directory " << dir << " is in use";
    ExpectSoundSections();
}

// Each export is found by its plain name and leads to that function's ARM
// code, as the linker placed it.
TEST_F(PhoneSetupDll, ExportsTheInstallersFourCallsByName) {
    EXPECT_EQ(image_->exportName(), "klavor_setup.dll");
    std::vector<std::string> names;
    for (const pe::Export& e : image_->exports()) names.push_back(e.name);
    EXPECT_EQ(names, kSetupExports);

    std::map<std::string, std::uint64_t> symbols = MapSymbols(MapPath());
    ASSERT_FALSE(symbols.empty()) << "KLAVOR_SETUP_MAP must name the linker map (" << MapPath() << ")";
    for (const pe::Export& e : image_->exports()) {
        ASSERT_EQ(symbols.count(e.name), 1u) << e.name << " is not in the map";
        EXPECT_EQ(h().imageBase + e.rva, symbols[e.name]) << e.name << " leads elsewhere";
        const pe::Section* s = image_->SectionAt(e.rva);
        ASSERT_NE(s, nullptr) << e.name;
        EXPECT_NE(s->characteristics & kSectionExecute, 0u) << e.name << " is in " << s->name;
        EXPECT_EQ(e.rva % 4, 0u) << e.name << " is not ARM code";
    }
}

TEST_F(PhoneSetupDll, EntersAtDllMainInArmCode) {
    std::map<std::string, std::uint64_t> symbols = MapSymbols(MapPath());
    ASSERT_EQ(symbols.count("DllMain"), 1u) << "DllMain is not in " << MapPath();
    EXPECT_EQ(h().imageBase + h().entryPoint, symbols["DllMain"]) << "the entry point is not DllMain";
    const pe::Section* text = image_->SectionAt(h().entryPoint);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(text->characteristics & kSectionExecute, 0u);
    EXPECT_EQ(h().entryPoint % 4, 0u);
}

TEST_F(PhoneSetupDll, ImportsOnlyFromCoredllAndOnlyByName) {
    ASSERT_EQ(image_->imports().size(), 1u);
    const pe::ImportedDll& dll = image_->imports().front();
    EXPECT_EQ(dll.name, "COREDLL.dll");
    std::vector<std::string> names;
    for (const pe::Import& f : dll.functions) {
        EXPECT_FALSE(f.ordinal.has_value()) << "import by ordinal " << *f.ordinal;
        names.push_back(f.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, kSetupImports);
}

// No C run-time, no libgcc, no start-up code: the linker took the setup's
// own object and the import library's stubs, and nothing else.
TEST_F(PhoneSetupDll, LinksOnlyItsOwnCode) {
    std::ifstream map(MapPath());
    ASSERT_TRUE(map) << "KLAVOR_SETUP_MAP must name the linker map (" << MapPath() << ")";
    const std::regex load(R"(^LOAD (\S+)$)");
    const std::regex member(R"(^(\S+\.a)\(\S+\)$)");
    // An input section: " .text  0x10001000  0x1a8 FILE".
    const std::regex input(R"(^ (?:\.\S+)?\s+0x[0-9a-fA-F]+\s+0x([0-9a-fA-F]+) (\S+)$)");
    const auto ownObject = [](const std::string& file) {
        return file.size() >= 20 && file.compare(file.size() - 20, 20, "klavor_setup.cpp.obj") == 0;
    };
    const auto importStub = [](const std::string& file) { return file.rfind("libcoredll_setup.a", 0) == 0; };
    std::set<std::string> loaded;
    bool ownCode = false;
    for (std::string line; std::getline(map, line);) {
        std::smatch m;
        if (std::regex_match(line, m, load)) {
            loaded.insert(m[1].str());
        } else if (std::regex_match(line, m, member)) {
            EXPECT_EQ(m[1].str(), "libcoredll_setup.a") << "pulled in: " << line;
        } else if (std::regex_match(line, m, input)) {
            const std::string file = m[2].str();
            EXPECT_TRUE(ownObject(file) || importStub(file)) << "linked in: " << line;
            if (ownObject(file) && std::stoul(m[1].str(), nullptr, 16) != 0) ownCode = true;
        }
    }
    EXPECT_TRUE(ownCode) << "the setup's own code is not in the map";
    ASSERT_EQ(loaded.size(), 3u) << "the link's inputs";
    int objects = 0, libraries = 0, defs = 0;
    for (const std::string& file : loaded) {
        objects += ownObject(file);
        libraries += file == "libcoredll_setup.a";
        defs += file.size() > 17 && file.compare(file.size() - 17, 17, "/klavor_setup.def") == 0;
    }
    EXPECT_EQ(objects + libraries + defs, 3) << "the link's inputs are not the object, the imports and the exports";
}

TEST_F(PhoneSetupDll, FitsTheSizeBudget) {
    std::cout << path_ << ": " << image_->size() << " bytes\n";
    EXPECT_LE(image_->size(), kSetupSizeBudget);
}

}  // namespace
