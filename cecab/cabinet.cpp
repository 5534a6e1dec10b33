// Cabinet files: the structure walked within the file's bounds, then each
// folder's data blocks checked and expanded into the members.
#include "cabinet.h"
#include "base/little_endian.h"
#include "mszip.h"

#include <algorithm>
#include <cstdio>

namespace cecab {

using base::LoadLe16;
using base::LoadLe32;

namespace {

constexpr std::size_t kHeaderBytes = 36;
constexpr std::size_t kFolderBytes = 8;
constexpr std::size_t kFileBytes = 16;
constexpr std::size_t kDataBytes = 8;
constexpr std::size_t kMaxNameBytes = 256;  // including the NUL
constexpr std::uint32_t kSignature = 0x4643534D;  // "MSCF"

enum : std::uint16_t { kFlagPrevious = 0x0001, kFlagNext = 0x0002, kFlagReserve = 0x0004 };

struct Fail {
    std::string message;
};

std::string SizeText(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// The cabinet format's checksum of a data block: the data's little-endian
// words xor'ed together, a last partial word taken first byte highest,
// then the block's two size words on top.
std::uint32_t Checksum(const std::uint8_t* p, std::size_t n, std::uint32_t seed) {
    std::uint32_t sum = seed;
    for (; n >= 4; n -= 4, p += 4) sum ^= LoadLe32(p);
    std::uint32_t last = 0;
    for (std::size_t i = 0; i < n; ++i) last = (last << 8) | p[i];
    return sum ^ last;
}

std::uint32_t BlockChecksum(const std::uint8_t* sizes, const std::uint8_t* reserve, std::size_t reserveBytes,
                            const std::uint8_t* data, std::size_t dataBytes) {
    std::uint32_t sum = Checksum(data, dataBytes, 0);
    if (reserveBytes) sum = Checksum(reserve, reserveBytes, sum);
    return Checksum(sizes, 4, sum);
}

class Reader {
public:
    explicit Reader(const Bytes& data) : d_(data) {}
    std::size_t Size() const { return d_.size(); }
    void Need(std::size_t at, std::size_t n, const std::string& what) const {
        if (at > d_.size() || n > d_.size() - at)
            throw Fail{what + " at offset " + std::to_string(at) + " runs past the end of the file (" + SizeText(d_.size()) + ")"};
    }
    std::uint8_t U8(std::size_t at, const std::string& what) const {
        Need(at, 1, what);
        return d_[at];
    }
    std::uint16_t U16(std::size_t at, const std::string& what) const {
        Need(at, 2, what);
        return LoadLe16(d_.data() + at);
    }
    std::uint32_t U32(std::size_t at, const std::string& what) const {
        Need(at, 4, what);
        return LoadLe32(d_.data() + at);
    }
    const std::uint8_t* At(std::size_t at) const { return d_.data() + at; }

private:
    const Bytes& d_;
};

struct FileEntry {
    std::uint32_t size, offset;  // offset within the folder's expanded data
};

Cabinet Read(const Bytes& content) {
    Reader r(content);
    if (r.Size() < 4 || r.U32(0, "signature") != kSignature) throw Fail{"not a cabinet (it does not start with MSCF)"};
    if (r.Size() < kHeaderBytes)
        throw Fail{"truncated: " + SizeText(r.Size()) + ", less than a cabinet header (" + SizeText(kHeaderBytes) + ")"};
    std::uint32_t total = r.U32(8, "header");
    if (total > r.Size())
        throw Fail{"truncated: the header says the cabinet is " + SizeText(total) + ", the file has " + SizeText(r.Size())};
    if (total < r.Size())
        throw Fail{"the header says the cabinet is " + SizeText(total) + ", but the file has " + SizeText(r.Size())};
    unsigned minor = r.U8(24, "header"), major = r.U8(25, "header");
    if (major != 1 || minor != 3)
        throw Fail{"cabinet format version " + std::to_string(major) + "." + std::to_string(minor) + "; only 1.3 is known"};
    std::size_t folders = r.U16(26, "header"), files = r.U16(28, "header");
    std::uint16_t flags = r.U16(30, "header");
    if (flags & (kFlagPrevious | kFlagNext)) throw Fail{"part of a set of several cabinets; only a single cabinet can be read"};
    if (flags & ~kFlagReserve) throw Fail{"unknown header flags " + std::to_string(flags)};
    if (folders == 0) throw Fail{"the cabinet holds no folder"};
    if (files == 0) throw Fail{"the cabinet holds no file"};

    Cabinet cab;
    cab.setId = r.U16(32, "header");
    std::size_t at = kHeaderBytes;
    if (flags & kFlagReserve) {
        cab.headerReserve = r.U16(at, "reserve sizes");
        cab.folderReserve = r.U8(at + 2, "reserve sizes");
        cab.dataReserve = r.U8(at + 3, "reserve sizes");
        at += 4;
        r.Need(at, cab.headerReserve, "the header's reserved area");
        at += cab.headerReserve;
    }

    struct Folder {
        std::size_t dataAt, blocks;
    };
    std::vector<Folder> folderTable;
    for (std::size_t i = 0; i < folders; ++i) {
        std::string what = "folder entry " + std::to_string(i + 1) + " of " + std::to_string(folders);
        r.Need(at, kFolderBytes + cab.folderReserve, what);
        folderTable.push_back({r.U32(at, what), r.U16(at + 4, what)});
        cab.folders.push_back(r.U16(at + 6, what));
        at += kFolderBytes + cab.folderReserve;
    }

    std::size_t filesAt = r.U32(16, "header");
    if (filesAt >= r.Size())
        throw Fail{"the file table's offset " + std::to_string(filesAt) + " is past the end of the file (" + SizeText(r.Size()) + ")"};
    if (filesAt != at)
        throw Fail{"the file table's offset is " + std::to_string(filesAt) + ", but the folder table ends at " + std::to_string(at)};
    std::vector<FileEntry> table;
    for (std::size_t i = 0; i < files; ++i) {
        std::string what = "file entry " + std::to_string(i + 1) + " of " + std::to_string(files);
        r.Need(at, kFileBytes, what);
        FileEntry e{r.U32(at, what), r.U32(at + 4, what)};
        CabMember m;
        m.folder = r.U16(at + 8, what);
        m.attributes = r.U16(at + 14, what);
        std::size_t nameAt = at + kFileBytes, n = 0;
        while (r.U8(nameAt + n, what + "'s name") != 0) {
            if (++n >= kMaxNameBytes) throw Fail{what + ": the name is longer than 255 bytes"};
        }
        m.name.assign(reinterpret_cast<const char*>(r.At(nameAt)), n);
        if (m.name.empty()) throw Fail{what + " has no name"};
        if (m.folder >= folders)
            throw Fail{m.name + ": folder " + std::to_string(m.folder) + ", but the cabinet has " + std::to_string(folders)};
        table.push_back(e);
        cab.members.push_back(std::move(m));
        at = nameAt + n + 1;
    }

    for (std::size_t f = 0; f < folders; ++f) {
        const Folder& folder = folderTable[f];
        const std::uint16_t compression = cab.folders[f];
        std::string where = "folder " + std::to_string(f + 1);
        if (compression != kCabStored && compression != kCabMszip)
            throw Fail{where + " uses compression " + std::to_string(compression) + "; only none and MSZIP can be read"};
        if (folder.dataAt < at)
            throw Fail{where + "'s data offset " + std::to_string(folder.dataAt) + " lies inside the cabinet's tables (which end at " +
                       std::to_string(at) + ")"};
        // The blocks' sizes first, so that no member is expanded from a
        // folder whose blocks lie outside the file. A folder of empty
        // files has no data blocks at all.
        std::size_t block = folder.dataAt;
        std::uint64_t stream = 0;
        for (std::size_t b = 0; b < folder.blocks; ++b) {
            std::string what = where + "'s data block " + std::to_string(b + 1) + " of " + std::to_string(folder.blocks);
            r.Need(block, kDataBytes + cab.dataReserve, what);
            std::size_t stored = r.U16(block + 4, what), expanded = r.U16(block + 6, what);
            if (expanded == 0 || expanded > kCabBlockBytes)
                throw Fail{what + " expands to " + SizeText(expanded) + " (1 to 32768 allowed)"};
            if (compression == kCabStored && stored != expanded)
                throw Fail{what + " stores " + SizeText(stored) + " but says it holds " + SizeText(expanded) + ", uncompressed"};
            r.Need(block + kDataBytes + cab.dataReserve, stored, what + "'s data");
            block += kDataBytes + cab.dataReserve + stored;
            stream += expanded;
        }
        std::uint64_t held = 0;
        for (std::size_t i = 0; i < table.size(); ++i) {
            const FileEntry& e = table[i];
            if (cab.members[i].folder != f) continue;
            if (static_cast<std::uint64_t>(e.offset) + e.size > stream)
                throw Fail{cab.members[i].name + " (" + SizeText(e.size) + " from offset " + std::to_string(e.offset) +
                           ") runs past the end of its folder's data (" + SizeText(static_cast<std::size_t>(stream)) + ")"};
            held += e.size;
        }
        // Members lie one after the other in their folder; ones that share
        // bytes would let a small file claim any amount of memory.
        if (held > stream)
            throw Fail{where + "'s members hold " + SizeText(static_cast<std::size_t>(held)) + ", more than its data (" +
                       SizeText(static_cast<std::size_t>(stream)) + "): they overlap"};

        Bytes data;
        block = folder.dataAt;
        for (std::size_t b = 0; b < folder.blocks; ++b) {
            std::string what = where + "'s data block " + std::to_string(b + 1) + " of " + std::to_string(folder.blocks);
            std::uint32_t checksum = r.U32(block, what);
            std::size_t stored = r.U16(block + 4, what), expanded = r.U16(block + 6, what);
            const std::uint8_t* reserve = r.At(block + kDataBytes);
            const std::uint8_t* bytes = reserve + cab.dataReserve;
            // 0 means none was given. Builders disagree on whether the
            // block's reserved bytes count, so either sum is taken.
            if (checksum != 0 && checksum != BlockChecksum(r.At(block + 4), reserve, 0, bytes, stored) &&
                checksum != BlockChecksum(r.At(block + 4), reserve, cab.dataReserve, bytes, stored))
                throw Fail{what + " has the checksum " + base::Hex(checksum, 8) + ", but its data gives " +
                           base::Hex(BlockChecksum(r.At(block + 4), reserve, 0, bytes, stored), 8) + ": the cabinet is damaged"};
            if (compression == kCabStored) {
                data.insert(data.end(), bytes, bytes + stored);
            } else {
                std::string error;
                if (!ExpandMszipBlock(bytes, stored, expanded, data, &error)) throw Fail{what + ": " + error};
            }
            block += kDataBytes + cab.dataReserve + stored;
        }
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (cab.members[i].folder != f) continue;
            auto from = data.begin() + static_cast<std::ptrdiff_t>(table[i].offset);
            cab.members[i].data.assign(from, from + static_cast<std::ptrdiff_t>(table[i].size));
        }
    }
    return cab;
}

// Days since 1970-01-01 to the civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int* year, unsigned* month, unsigned* day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

}  // namespace

bool LooksLikeCabinet(const std::string& content) { return content.compare(0, 4, "MSCF") == 0; }

DosDateTime DosDateTimeUtc(std::int64_t seconds) {
    constexpr std::int64_t kFirst = 315532800;    // 1980-01-01 00:00:00 UTC
    constexpr std::int64_t kLast = 4354819198;    // 2107-12-31 23:59:58 UTC
    if (seconds < kFirst) seconds = kFirst;
    if (seconds > kLast) seconds = kLast;
    int year;
    unsigned month, day;
    CivilFromDays(seconds / 86400, &year, &month, &day);
    const auto inDay = static_cast<unsigned>(seconds % 86400);
    DosDateTime dos;
    dos.date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    dos.time = static_cast<std::uint16_t>(((inDay / 3600) << 11) | ((inDay / 60 % 60) << 5) | (inDay % 60 / 2));
    return dos;
}

std::optional<Bytes> WriteCabinet(const std::vector<CabMember>& members, std::int64_t modified, std::string* error) {
    auto fail = [error](const std::string& message) -> std::optional<Bytes> {
        if (error) *error = message;
        return std::nullopt;
    };
    if (members.empty()) return fail("a cabinet needs at least one member");
    if (members.size() > 0xFFFF) return fail("a cabinet holds at most 65535 members");
    std::uint64_t streamBytes = 0;
    std::size_t tableBytes = 0;
    for (const CabMember& m : members) {
        if (m.name.empty()) return fail("a member has no name");
        if (m.name.size() >= kMaxNameBytes) return fail(m.name.substr(0, 40) + "...: a member's name has at most 255 bytes");
        if (m.name.find('\0') != std::string::npos) return fail("a member's name cannot hold a NUL");
        streamBytes += m.data.size();
        tableBytes += kFileBytes + m.name.size() + 1;
    }
    const std::uint64_t blocks = (streamBytes + kCabBlockBytes - 1) / kCabBlockBytes;
    if (blocks > 0xFFFF) return fail("the members hold more than a folder's 65535 data blocks of 32768 bytes");
    const std::size_t filesAt = kHeaderBytes + kFolderBytes, dataAt = filesAt + tableBytes;
    const std::uint64_t total = dataAt + blocks * kDataBytes + streamBytes;
    if (total > 0x7FFFFFFF) return fail("the cabinet would be larger than 2 GB");

    // The set id ties the cabinets of a set together; one cabinet needs
    // only one that is not 0, and the same contents give the same.
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](const std::uint8_t* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) hash = (hash ^ p[i]) * 16777619u;
    };
    for (const CabMember& m : members) {
        mix(reinterpret_cast<const std::uint8_t*>(m.name.c_str()), m.name.size() + 1);
        mix(m.data.data(), m.data.size());
    }
    std::uint16_t setId = static_cast<std::uint16_t>(hash ^ (hash >> 16));
    if (setId == 0) setId = 1;

    Bytes cab(dataAt, 0);
    Put32(cab, 0, kSignature);
    Put32(cab, 8, static_cast<std::uint32_t>(total));
    Put32(cab, 16, static_cast<std::uint32_t>(filesAt));
    cab[24] = 3, cab[25] = 1;
    Put16(cab, 26, 1);
    Put16(cab, 28, static_cast<std::uint32_t>(members.size()));
    Put16(cab, 32, setId);
    Put32(cab, kHeaderBytes, static_cast<std::uint32_t>(dataAt));
    Put16(cab, kHeaderBytes + 4, static_cast<std::uint32_t>(blocks));
    Put16(cab, kHeaderBytes + 6, kCabStored);
    const DosDateTime date = DosDateTimeUtc(modified);
    std::size_t at = filesAt;
    std::uint32_t offset = 0;
    for (const CabMember& m : members) {
        Put32(cab, at, static_cast<std::uint32_t>(m.data.size()));
        Put32(cab, at + 4, offset);
        Put16(cab, at + 10, date.date);
        Put16(cab, at + 12, date.time);
        Put16(cab, at + 14, kCabArchive);
        std::copy(m.name.begin(), m.name.end(), cab.begin() + static_cast<std::ptrdiff_t>(at + kFileBytes));
        at += kFileBytes + m.name.size() + 1;
        offset += static_cast<std::uint32_t>(m.data.size());
    }

    Bytes stream;
    stream.reserve(static_cast<std::size_t>(streamBytes));
    for (const CabMember& m : members) stream.insert(stream.end(), m.data.begin(), m.data.end());
    cab.reserve(static_cast<std::size_t>(total));
    for (std::size_t from = 0; from < stream.size(); from += kCabBlockBytes) {
        const std::size_t n = std::min(kCabBlockBytes, stream.size() - from);
        const std::size_t block = cab.size();
        cab.resize(block + kDataBytes);
        Put16(cab, block + 4, static_cast<std::uint32_t>(n));
        Put16(cab, block + 6, static_cast<std::uint32_t>(n));
        Put32(cab, block, BlockChecksum(cab.data() + block + 4, nullptr, 0, stream.data() + from, n));
        cab.insert(cab.end(), stream.begin() + static_cast<std::ptrdiff_t>(from),
                   stream.begin() + static_cast<std::ptrdiff_t>(from + n));
    }

    // The installer goes by the members' order and names, so make sure of them.
    std::string readError;
    std::optional<Cabinet> back = ReadCabinet(cab, "the cabinet written", &readError);
    if (!back) return fail("the cabinet written does not read back: " + readError);
    bool same = back->members.size() == members.size();
    for (std::size_t i = 0; same && i < members.size(); ++i)
        same = back->members[i].name == members[i].name && back->members[i].data == members[i].data;
    if (!same) return fail("the cabinet written does not hold the members in the order given");
    return cab;
}

std::optional<Cabinet> ReadCabinet(const Bytes& content, const std::string& file, std::string* error) {
    try {
        return Read(content);
    } catch (const Fail& f) {
        if (error) *error = file + ": " + f.message;
        return std::nullopt;
    }
}

}  // namespace cecab
