// The cabinet container and its MSZIP: what the writer writes, block by
// block and byte for byte as readers nobody here wrote extract it; every
// shape real builders make, read back; gcab's compression; and broken
// containers refused.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <zlib.h>

#include "cab_shapes.h"
#include "cecab/install.h"
#include "cecab/mszip.h"

namespace {

using namespace config;
using namespace cecab;
using namespace cabtest;
namespace fs = std::filesystem;

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
        Bytes bad = Mutated(good, m);
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

}  // namespace
