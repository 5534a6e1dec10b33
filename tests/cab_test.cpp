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

#include "cabinet.h"
#include "ce_setup.h"
#include "install_cab.h"

namespace {

using namespace config;
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

// Every byte of Klavor's control file, from the format's tables.
Bytes ExpectedControlFile(const std::optional<Bytes>& value) {
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
        {"length", 8, 4, 413, "the header gives the file's length as 413 bytes, but it has 412"},
        {"STRINGS offset in the header", 60, 4, 50, "STRINGS offset 50 is inside the 100-byte header"},
        {"LINKS offset past the end", 80, 4, 100000, "LINKS entry 1 of 1 at offset 100000"},
        {"LINKS count lies", 58, 2, 2, "LINKS entry 2 of 2 at offset 412"},
        {"STRINGS count lies", 48, 2, 40, "STRINGS entry"},
        {"APPNAME past the end", 84, 2, 410, "APPNAME at offset 410 (7 bytes) runs past the end of the file (412 bytes)"},
        {"APPNAME missing", 86, 2, 0, "APPNAME is missing"},
        {"PROVIDER not terminated", 90, 2, 14, "PROVIDER is not NUL-terminated within its 14 bytes"},
        {"string length 0", 126, 2, 0, "STRINGS entry 1 of 5 has length 0"},
        {"string id twice", 134, 2, 1, "STRINGS id 1 appears twice"},
        {"dir with a missing string", 184, 2, 9, "DIRS id 1 refers to string 9, which STRINGS does not have"},
        {"dir path odd length", 182, 2, 5, "has length 5"},
        {"file id 999", 200, 2, 999, "FILES id 999 is out of range (1 to 998)"},
        {"file into a missing dir", 202, 2, 3, "FILES id 1 installs into folder 3, which DIRS does not have"},
        {"file flags that contradict", 206, 4, 0x60000000, "both skip if newer and always overwrite"},
        {"hive root", 226, 2, 5, "REGHIVES id 1: root 5 is out of range (1 to 4)"},
        {"value under a missing hive", 242, 2, 2, "REGKEYS id 1 is under key 2"},
        {"value expand", 244, 2, 2, "REGKEYS id 1: expand 2 is out of range (0 or 1)"},
        {"value type", 246, 4, 0x00000005, "REGKEYS id 1: type 0x00000005 is out of range"},
        {"value as a dword", 246, 4, 0x00010001, "a dword has 4 bytes of data, not 128"},
        {"value longer than the file", 250, 2, 400, "REGKEYS entry 1 of 1 at offset 252 (400 bytes) runs past the end"},
        {"link folder", 400, 2, 18, "LINKS id 1: folder 18 is out of range (0 to 17)"},
        {"link type", 404, 2, 2, "LINKS id 1: type 2 is out of range (0 folder, 1 file)"},
        {"link to a missing file", 402, 2, 2, "LINKS id 1 points at file 2, which FILES does not have"},
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

Bytes KlavorCab(const std::optional<Bytes>& value, const Bytes& exe = SomeExe(), std::time_t when = 1700000000) {
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

TEST_F(CabinetTest, MembersKeepTheirOrderAndSpanDataBlocks) {
    std::vector<CabMember> members = {{"A.000", {1, 2, 3}}, {"BIG.003", SomeExe(70000)}, {"E.002", {}}, {"C.001", {9}}};
    std::string error;
    std::optional<Bytes> cab = WriteCabinet(members, 0, &error);  // 1970: dated 1980
    ASSERT_TRUE(cab) << error;
    std::optional<std::vector<CabMember>> back = ReadCabinet(*cab, "x.cab", &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->size(), members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ((*back)[i].name, members[i].name);
        EXPECT_EQ((*back)[i].data, members[i].data);
    }
    EXPECT_EQ(GetU16(*cab, 36 + 6), 0u);  // compression: none

    // Only empty members: a folder with no data blocks, as cabextract takes it.
    cab = WriteCabinet({{"E.000", {}}, {"F.001", {}}}, 0, &error);
    ASSERT_TRUE(cab) << error;
    EXPECT_EQ(GetU16(*cab, 36 + 4), 0u);  // data blocks
    back = ReadCabinet(*cab, "x.cab", &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->size(), 2u);
    EXPECT_EQ((*back)[1].name, "F.001");
    EXPECT_TRUE((*back)[1].data.empty());
}

#ifdef CABEXTRACT_PATH
TEST_F(CabinetTest, CabextractListsTestsAndExtractsIt) {
    const Bytes exe = SomeExe(), image = ConfigImage();
    std::string cab = Save("Klavor.cab", KlavorCab(image, exe));
    CommandResult list = Command("'" CABEXTRACT_PATH "' -l '" + cab + "'");
    EXPECT_EQ(list.status, 0) << list.out;
    std::time_t when = 1700000000;
    std::tm local{};
    char date[16];
    std::strftime(date, sizeof date, "%d.%m.%Y", ::localtime_r(&when, &local));
    EXPECT_NE(list.out.find(std::string("     40000 | ") + date), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("KLAVOR.000\n"), std::string::npos) << list.out;
    EXPECT_LT(list.out.find("KLAVOR.000"), list.out.find("KLAVOR.001")) << list.out;
    EXPECT_NE(list.out.find("All done, no errors."), std::string::npos) << list.out;
    CommandResult test = Command("'" CABEXTRACT_PATH "' -t '" + cab + "'");
    EXPECT_EQ(test.status, 0) << test.out;
    EXPECT_NE(test.out.find("All done, no errors."), std::string::npos) << test.out;
    CommandResult extract = Command("'" CABEXTRACT_PATH "' -q -d '" + (dir / "out").string() + "' '" + cab + "'");
    EXPECT_EQ(extract.status, 0) << extract.out;
    EXPECT_EQ(Load(dir / "out" / "KLAVOR.001"), exe);
    EXPECT_EQ(Load(dir / "out" / "KLAVOR.000"), ExpectedControlFile(image));
}
#endif

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
        "# for Windows CE 4.20 or later, any processor\n"
        "# The installer will:\n"
        "#   make the folder \\Program Files\\Klavor (%CE1%\\Klavor)\n"
        "#   make the folder \\Windows\\StartUp (%CE4%)\n"
        "#   copy klavor.exe (KLAVOR.001, 40000 bytes) into \\Program Files\\Klavor (%CE1%\\Klavor); always overwrites\n"
        "#   make the shortcut Klavor in \\Windows\\StartUp (%CE4%) to \\Program Files\\Klavor\\klavor.exe\n"
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
