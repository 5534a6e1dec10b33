// The .000 control file of a Windows CE installation cabinet.
#include "ce_setup.h"
#include "base/little_endian.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

namespace cecab {

using base::LoadLe16;
using base::LoadLe32;

namespace {

// Header offsets.
enum : std::size_t {
    kSignatureAt = 0,
    kUnknown4At = 4,
    kLengthAt = 8,
    kUnknown12At = 12,
    kUnknown16At = 16,
    kProcessorAt = 20,
    kMinMajorAt = 24,
    kMinMinorAt = 28,
    kMaxMajorAt = 32,
    kMaxMinorAt = 36,
    kMinBuildAt = 40,
    kMaxBuildAt = 44,
    kCountsAt = 48,   // six u16 counts
    kOffsetsAt = 60,  // six u32 offsets
    kAppNameAt = 84,  // u16 offset, u16 length
    kProviderAt = 88,
    kUnsupportedAt = 92,
    kUnknown96At = 96,
    kUnknown98At = 98,
};
static_assert(kUnknown98At + 2 == kCeHeaderBytes, "the header is 100 bytes");

enum Section { kStrings, kDirs, kFiles, kHives, kValues, kLinks, kSections };
const char* const kSectionNames[kSections] = {"STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"};

const char kSignature[4] = {'M', 'S', 'C', 'E'};

// Text from the file, printable whatever it holds.
std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return "\"" + out + "\"";
}

struct Fail {
    std::string message;
};

// ---- Writing --------------------------------------------------------------

class Writer {
public:
    Bytes bytes;
    std::size_t Pos() const { return bytes.size(); }
    void U16(std::uint32_t v) {
        if (v > 0xFFFF) throw Fail{"a value of " + std::to_string(v) + " does not fit a 16-bit field"};
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Put16(std::size_t at, std::size_t v, const std::string& what) {
        if (v > 0xFFFF) throw Fail{what + " (" + std::to_string(v) + ") does not fit its 16-bit field"};
        bytes[at] = static_cast<std::uint8_t>(v);
        bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void Put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void Text(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        bytes.push_back(0);
    }
    void Path(const CePath& path, bool terminated = true) {
        for (std::uint16_t id : path) U16(id);
        if (terminated) U16(0);
    }
};

std::size_t PathBytes(const CePath& path, bool terminated = true) { return 2 * (path.size() + (terminated ? 1 : 0)); }

// ---- Reading --------------------------------------------------------------

class Reader {
public:
    Reader(const Bytes& data) : d_(data) {}
    std::size_t Size() const { return d_.size(); }

    // `what` names the field for the message when it lies past the end.
    void Need(std::size_t at, std::size_t n, const std::string& what) const {
        if (at > d_.size() || n > d_.size() - at)
            throw Fail{what + " at offset " + std::to_string(at) + " (" + std::to_string(n) + " bytes) runs past the end of the file (" +
                       std::to_string(d_.size()) + " bytes)"};
    }
    std::uint16_t U16(std::size_t at, const std::string& what) const {
        Need(at, 2, what);
        return LoadLe16(d_.data() + at);
    }
    std::uint32_t U32(std::size_t at, const std::string& what) const {
        Need(at, 4, what);
        return LoadLe32(d_.data() + at);
    }
    // A NUL-terminated string filling exactly n bytes. Some builders pad
    // strings with more NULs to a multiple of 4 and count them.
    std::string Text(std::size_t at, std::size_t n, const std::string& what) const {
        Need(at, n, what);
        if (n == 0) throw Fail{what + " has length 0; it needs at least its terminating NUL"};
        if (d_[at + n - 1] != 0) throw Fail{what + " is not NUL-terminated within its " + std::to_string(n) + " bytes"};
        auto begin = d_.begin() + static_cast<std::ptrdiff_t>(at), end = begin + static_cast<std::ptrdiff_t>(n);
        auto nul = std::find(begin, end, 0);
        if (std::any_of(nul, end, [](std::uint8_t b) { return b != 0; }))
            throw Fail{what + " holds more text after its terminating NUL"};
        return std::string(begin, nul);
    }
    // A list of u16 ids filling exactly n bytes, ended by a 0 id or by the
    // length alone (as real cabinets write a shortcut's name).
    CePath Path(std::size_t at, std::size_t n, const std::string& what) const {
        Need(at, n, what);
        if (n % 2) throw Fail{what + " has length " + std::to_string(n) + "; it must be an even number of bytes"};
        CePath path;
        for (std::size_t i = 0; i < n; i += 2) {
            std::uint16_t id = U16(at + i, what);
            if (id == 0 && i + 2 < n) throw Fail{what + " holds a 0 id before its end"};
            if (id != 0) path.push_back(id);
        }
        return path;
    }
    Bytes Raw(std::size_t at, std::size_t n, const std::string& what) const {
        Need(at, n, what);
        return Bytes(d_.begin() + static_cast<std::ptrdiff_t>(at), d_.begin() + static_cast<std::ptrdiff_t>(at + n));
    }

private:
    const Bytes& d_;
};

std::string EntryName(Section s, std::size_t index, std::size_t count) {
    return std::string(kSectionNames[s]) + " entry " + std::to_string(index + 1) + " of " + std::to_string(count);
}

template <typename Entry>
void CheckUniqueIds(const std::vector<Entry>& entries, Section s) {
    std::set<std::uint16_t> seen;
    for (const Entry& e : entries)
        if (!seen.insert(e.id).second) throw Fail{std::string(kSectionNames[s]) + " id " + std::to_string(e.id) + " appears twice"};
}

template <typename Entry>
bool HasId(const std::vector<Entry>& entries, std::uint16_t id) {
    return std::any_of(entries.begin(), entries.end(), [id](const Entry& e) { return e.id == id; });
}

void CheckPathStrings(const CeSetup& setup, const CePath& path, const std::string& what) {
    for (std::uint16_t id : path)
        if (!HasId(setup.strings, id)) throw Fail{what + " refers to string " + std::to_string(id) + ", which STRINGS does not have"};
}

std::string Range(const std::string& what, unsigned long value, const std::string& allowed) {
    return what + " " + std::to_string(value) + " is out of range (" + allowed + ")";
}

// Everything that does not follow from the layout alone: ids, references,
// field ranges, the shape of registry data.
void CheckMeaning(const CeSetup& setup) {
    if (setup.appName.empty()) throw Fail{"APPNAME is empty"};
    CheckUniqueIds(setup.strings, kStrings);
    CheckUniqueIds(setup.dirs, kDirs);
    CheckUniqueIds(setup.files, kFiles);
    CheckUniqueIds(setup.hives, kHives);
    CheckUniqueIds(setup.values, kValues);
    CheckUniqueIds(setup.links, kLinks);

    for (const CeString& s : setup.strings)
        if (s.id == 0) throw Fail{"STRINGS id 0 is out of range (0 ends a path)"};
    for (const CeDir& d : setup.dirs) {
        std::string what = "DIRS id " + std::to_string(d.id);
        if (d.id == 0) throw Fail{"DIRS id 0 is out of range (0 stands for the installation folder)"};
        if (d.path.empty()) throw Fail{what + " names no folder"};
        CheckPathStrings(setup, d.path, what);
    }
    for (const CeFile& f : setup.files) {
        std::string what = "FILES id " + std::to_string(f.id);
        if (f.id == 0 || f.id > kCeMaxFileId) throw Fail{Range("FILES id", f.id, "1 to 998")};
        if (!HasId(setup.dirs, f.dir)) throw Fail{what + " installs into folder " + std::to_string(f.dir) + ", which DIRS does not have"};
        if (f.name.empty()) throw Fail{what + " has an empty file name"};
        if (f.name.find_first_of("\\/") != std::string::npos) throw Fail{what + ": the file name " + Printable(f.name) + " holds a path"};
        if ((f.flags & kCeFileNoOverwrite) && (f.flags & kCeFileReplaceOnly))
            throw Fail{what + ": flags " + base::Hex(f.flags, 8) + " say both never overwrite and copy only over an existing file"};
        if ((f.flags & kCeFileSkipIfNewer) && (f.flags & kCeFileAlwaysOverwrite))
            throw Fail{what + ": flags " + base::Hex(f.flags, 8) + " say both skip if newer and always overwrite"};
    }
    for (const CeHive& h : setup.hives) {
        std::string what = "REGHIVES id " + std::to_string(h.id);
        if (h.root < kCeRootClassesRoot || h.root > kCeRootUsers) throw Fail{Range(what + ": root", h.root, "1 to 4")};
        CheckPathStrings(setup, h.key, what);
    }
    for (const CeRegValue& v : setup.values) {
        std::string what = "REGKEYS id " + std::to_string(v.id);
        if (!HasId(setup.hives, v.hive)) throw Fail{what + " is under key " + std::to_string(v.hive) + ", which REGHIVES does not have"};
        if (v.expand > 1) throw Fail{Range(what + ": expand", v.expand, "0 or 1")};
        if (v.name.find('\0') != std::string::npos) throw Fail{what + ": the value name holds a NUL"};
        const Bytes& d = v.data;
        switch (v.type & ~static_cast<std::uint32_t>(kCeRegNoClobber)) {
        case kCeRegString:
            // NULs may pad the string, as they pad the STRINGS section's.
            if (d.empty() || d.back() != 0 || std::any_of(std::find(d.begin(), d.end(), 0), d.end(), [](std::uint8_t b) { return b != 0; }))
                throw Fail{what + ": string data must be one NUL-terminated string"};
            break;
        case kCeRegMultiString:
            if (d.size() < 2 || d[d.size() - 1] != 0 || d[d.size() - 2] != 0)
                throw Fail{what + ": multi-string data must end with an empty string (two NULs)"};
            break;
        case kCeRegDword:
            if (d.size() != 4) throw Fail{what + ": a dword has 4 bytes of data, not " + std::to_string(d.size())};
            break;
        case kCeRegBinary:
            break;
        default:
            throw Fail{what + ": type " + base::Hex(v.type, 8) + " is out of range (string, binary, multi-string or dword, "
                                                         "with or without 0x00000002)"};
        }
    }
    for (const CeLink& l : setup.links) {
        std::string what = "LINKS id " + std::to_string(l.id);
        if (l.folder > kCeMaxFolderMacro) throw Fail{Range(what + ": folder", l.folder, "0 to 17")};
        if (l.type == kCeLinkToFile) {
            if (!HasId(setup.files, l.target)) throw Fail{what + " points at file " + std::to_string(l.target) + ", which FILES does not have"};
        } else if (l.type == kCeLinkToFolder) {
            if (l.target != 0 && !HasId(setup.dirs, l.target))
                throw Fail{what + " points at folder " + std::to_string(l.target) + ", which DIRS does not have"};
        } else {
            throw Fail{Range(what + ": type", l.type, "0 folder, 1 file")};
        }
        if (l.name.empty()) throw Fail{what + " has no name"};
        CheckPathStrings(setup, l.name, what);
    }
}

CeSetup Decode(const Reader& r) {
    if (r.Size() < kCeHeaderBytes)
        throw Fail{"too short for the 100-byte header: " + std::to_string(r.Size()) + " bytes"};
    if (r.Raw(kSignatureAt, 4, "signature") != Bytes(kSignature, kSignature + 4))
        throw Fail{"no MSCE signature: not a Windows CE setup file"};
    std::uint32_t length = r.U32(kLengthAt, "length");
    if (length != r.Size())
        throw Fail{"the header gives the file's length as " + std::to_string(length) + " bytes, but it has " +
                   std::to_string(r.Size())};

    CeSetup s;
    s.unknown4 = r.U32(kUnknown4At, "header");
    s.unknown12 = r.U32(kUnknown12At, "header");
    s.unknown16 = r.U32(kUnknown16At, "header");
    s.unknown96 = r.U16(kUnknown96At, "header");
    s.unknown98 = r.U16(kUnknown98At, "header");
    s.processor = r.U32(kProcessorAt, "header");
    s.minVersionMajor = r.U32(kMinMajorAt, "header");
    s.minVersionMinor = r.U32(kMinMinorAt, "header");
    s.maxVersionMajor = r.U32(kMaxMajorAt, "header");
    s.maxVersionMinor = r.U32(kMaxMinorAt, "header");
    s.minBuild = r.U32(kMinBuildAt, "header");
    s.maxBuild = r.U32(kMaxBuildAt, "header");

    auto name = [&](std::size_t field, const char* what) {
        std::size_t at = r.U16(field, "header"), n = r.U16(field + 2, "header");
        if (n == 0) throw Fail{std::string(what) + " is missing (length 0)"};
        if (at < kCeHeaderBytes) throw Fail{std::string(what) + " offset " + std::to_string(at) + " is inside the 100-byte header"};
        return r.Text(at, n, what);
    };
    s.appName = name(kAppNameAt, "APPNAME");
    s.provider = name(kProviderAt, "PROVIDER");

    std::size_t unsupportedAt = r.U16(kUnsupportedAt, "header"), unsupportedLength = r.U16(kUnsupportedAt + 2, "header");
    if (unsupportedLength) {
        if (unsupportedAt < kCeHeaderBytes)
            throw Fail{"UNSUPPORTED offset " + std::to_string(unsupportedAt) + " is inside the 100-byte header"};
        Bytes list = r.Raw(unsupportedAt, unsupportedLength, "UNSUPPORTED");
        if (list.back() != 0 || (list.size() >= 2 && list[list.size() - 2] != 0))
            throw Fail{"UNSUPPORTED does not end with an empty name (two NULs)"};
        // The list ends at its first empty name; NULs after it inside the
        // counted length pad it (CabWiz 2009 pads to a multiple of 4).
        std::string current;
        for (std::size_t i = 0; i + 1 < list.size(); ++i) {
            if (list[i]) {
                current += static_cast<char>(list[i]);
            } else if (!current.empty()) {
                s.unsupported.push_back(current);
                current.clear();
            } else {
                if (std::any_of(list.begin() + static_cast<std::ptrdiff_t>(i), list.end(), [](std::uint8_t b) { return b != 0; }))
                    throw Fail{"UNSUPPORTED holds an empty name before its end"};
                break;
            }
        }
    }

    std::size_t counts[kSections], offsets[kSections];
    for (int i = 0; i < kSections; ++i) {
        counts[i] = r.U16(kCountsAt + 2 * i, "header");
        offsets[i] = r.U32(kOffsetsAt + 4 * i, "header");
        if (counts[i] && offsets[i] < kCeHeaderBytes)
            throw Fail{std::string(kSectionNames[i]) + " offset " + std::to_string(offsets[i]) + " is inside the 100-byte header"};
    }

    // Each section's entries lie end to end from its offset; a count larger
    // than the entries there runs past the end of the file.
    std::size_t at = offsets[kStrings];
    for (std::size_t i = 0; i < counts[kStrings]; ++i) {
        std::string what = EntryName(kStrings, i, counts[kStrings]);
        CeString e;
        e.id = r.U16(at, what);
        std::size_t n = r.U16(at + 2, what);
        e.text = r.Text(at + 4, n, what);
        s.strings.push_back(e);
        at += 4 + n;
    }
    at = offsets[kDirs];
    for (std::size_t i = 0; i < counts[kDirs]; ++i) {
        std::string what = EntryName(kDirs, i, counts[kDirs]);
        CeDir e;
        e.id = r.U16(at, what);
        std::size_t n = r.U16(at + 2, what);
        e.path = r.Path(at + 4, n, what);
        s.dirs.push_back(e);
        at += 4 + n;
    }
    at = offsets[kFiles];
    for (std::size_t i = 0; i < counts[kFiles]; ++i) {
        std::string what = EntryName(kFiles, i, counts[kFiles]);
        CeFile e;
        e.id = r.U16(at, what);
        e.dir = r.U16(at + 2, what);
        e.unknown = r.U16(at + 4, what);
        e.flags = r.U32(at + 6, what);
        std::size_t n = r.U16(at + 10, what);
        e.name = r.Text(at + 12, n, what);
        s.files.push_back(e);
        at += 12 + n;
    }
    at = offsets[kHives];
    for (std::size_t i = 0; i < counts[kHives]; ++i) {
        std::string what = EntryName(kHives, i, counts[kHives]);
        CeHive e;
        e.id = r.U16(at, what);
        e.root = r.U16(at + 2, what);
        e.unknown = r.U16(at + 4, what);
        std::size_t n = r.U16(at + 6, what);
        e.key = r.Path(at + 8, n, what);
        s.hives.push_back(e);
        at += 8 + n;
    }
    at = offsets[kValues];
    for (std::size_t i = 0; i < counts[kValues]; ++i) {
        std::string what = EntryName(kValues, i, counts[kValues]);
        CeRegValue e;
        e.id = r.U16(at, what);
        e.hive = r.U16(at + 2, what);
        e.expand = r.U16(at + 4, what);
        e.type = r.U32(at + 6, what);
        std::size_t n = r.U16(at + 10, what);
        Bytes block = r.Raw(at + 12, n, what);
        auto nul = std::find(block.begin(), block.end(), 0);
        if (nul == block.end()) throw Fail{what + ": the value name is not NUL-terminated within its " + std::to_string(n) + " bytes"};
        e.name.assign(block.begin(), nul);
        e.data.assign(nul + 1, block.end());
        s.values.push_back(e);
        at += 12 + n;
    }
    at = offsets[kLinks];
    for (std::size_t i = 0; i < counts[kLinks]; ++i) {
        std::string what = EntryName(kLinks, i, counts[kLinks]);
        CeLink e;
        e.id = r.U16(at, what);
        e.unknown = r.U16(at + 2, what);
        e.folder = r.U16(at + 4, what);
        e.target = r.U16(at + 6, what);
        e.type = r.U16(at + 8, what);
        std::size_t n = r.U16(at + 10, what);
        e.name = r.Path(at + 12, n, what);
        s.links.push_back(e);
        at += 12 + n;
    }
    CheckMeaning(s);
    return s;
}

}  // namespace

bool operator==(const CeSetup& a, const CeSetup& b) {
    auto header = [](const CeSetup& s) {
        return std::tie(s.unknown4, s.unknown12, s.unknown16, s.unknown96, s.unknown98, s.processor, s.minVersionMajor,
                        s.minVersionMinor, s.maxVersionMajor, s.maxVersionMinor, s.minBuild, s.maxBuild);
    };
    return header(a) == header(b) && a.appName == b.appName && a.provider == b.provider && a.unsupported == b.unsupported &&
           a.strings == b.strings && a.dirs == b.dirs && a.files == b.files && a.hives == b.hives && a.values == b.values &&
           a.links == b.links;
}

std::optional<Bytes> EncodeCeSetup(const CeSetup& s, std::string* error) {
    try {
        for (const std::string* text : {&s.appName, &s.provider})
            if (text->find('\0') != std::string::npos) throw Fail{"APPNAME and PROVIDER cannot hold a NUL"};
        for (const std::string& name : s.unsupported)
            if (name.empty() || name.find('\0') != std::string::npos) throw Fail{"an UNSUPPORTED name is empty or holds a NUL"};

        Writer w;
        w.bytes.assign(kCeHeaderBytes, 0);
        std::copy(kSignature, kSignature + 4, w.bytes.begin() + kSignatureAt);
        w.Put32(kUnknown4At, s.unknown4);
        w.Put32(kUnknown12At, s.unknown12);
        w.Put32(kUnknown16At, s.unknown16);
        w.Put16(kUnknown96At, s.unknown96, "header word 96");
        w.Put16(kUnknown98At, s.unknown98, "header word 98");
        w.Put32(kProcessorAt, s.processor);
        w.Put32(kMinMajorAt, s.minVersionMajor);
        w.Put32(kMinMinorAt, s.minVersionMinor);
        w.Put32(kMaxMajorAt, s.maxVersionMajor);
        w.Put32(kMaxMinorAt, s.maxVersionMinor);
        w.Put32(kMinBuildAt, s.minBuild);
        w.Put32(kMaxBuildAt, s.maxBuild);

        // The names have 16-bit offsets, so they come first, right after the header.
        w.Put16(kAppNameAt, w.Pos(), "APPNAME offset");
        w.Put16(kAppNameAt + 2, s.appName.size() + 1, "APPNAME length");
        w.Text(s.appName);
        w.Put16(kProviderAt, w.Pos(), "PROVIDER offset");
        w.Put16(kProviderAt + 2, s.provider.size() + 1, "PROVIDER length");
        w.Text(s.provider);
        // An empty list points where it would start, with length 0.
        std::size_t start = w.Pos();
        if (!s.unsupported.empty()) {
            for (const std::string& name : s.unsupported) w.Text(name);
            w.Text("");
        }
        w.Put16(kUnsupportedAt, start, "UNSUPPORTED offset");
        w.Put16(kUnsupportedAt + 2, w.Pos() - start, "UNSUPPORTED length");

        std::size_t sizes[kSections] = {s.strings.size(), s.dirs.size(), s.files.size(),
                                        s.hives.size(),   s.values.size(), s.links.size()};
        for (int section = 0; section < kSections; ++section) {
            // Sections follow one another with no byte between them, as
            // every installer's own tools write them; an empty one gets the
            // offset where it would start.
            w.Put16(kCountsAt + 2 * section, sizes[section], std::string(kSectionNames[section]) + " count");
            w.Put32(kOffsetsAt + 4 * section, static_cast<std::uint32_t>(w.Pos()));
            switch (section) {
            case kStrings:
                for (const CeString& e : s.strings) {
                    w.U16(e.id);
                    w.U16(static_cast<std::uint32_t>(e.text.size() + 1));
                    w.Text(e.text);
                }
                break;
            case kDirs:
                for (const CeDir& e : s.dirs) {
                    w.U16(e.id);
                    w.U16(static_cast<std::uint32_t>(PathBytes(e.path)));
                    w.Path(e.path);
                }
                break;
            case kFiles:
                for (const CeFile& e : s.files) {
                    w.U16(e.id);
                    w.U16(e.dir);
                    w.U16(e.unknown);
                    w.U32(e.flags);
                    w.U16(static_cast<std::uint32_t>(e.name.size() + 1));
                    w.Text(e.name);
                }
                break;
            case kHives:
                for (const CeHive& e : s.hives) {
                    w.U16(e.id);
                    w.U16(e.root);
                    w.U16(e.unknown);
                    w.U16(static_cast<std::uint32_t>(PathBytes(e.key)));
                    w.Path(e.key);
                }
                break;
            case kValues:
                for (const CeRegValue& e : s.values) {
                    w.U16(e.id);
                    w.U16(e.hive);
                    w.U16(e.expand);
                    w.U32(e.type);
                    w.U16(static_cast<std::uint32_t>(e.name.size() + 1 + e.data.size()));
                    w.Text(e.name);
                    w.bytes.insert(w.bytes.end(), e.data.begin(), e.data.end());
                }
                break;
            case kLinks:
                for (const CeLink& e : s.links) {
                    w.U16(e.id);
                    w.U16(e.unknown);
                    w.U16(e.folder);
                    w.U16(e.target);
                    w.U16(e.type);
                    // The name's ids alone, with no 0 after them: so every
                    // installer's own tools write a shortcut's name.
                    w.U16(static_cast<std::uint32_t>(PathBytes(e.name, false)));
                    w.Path(e.name, false);
                }
                break;
            }
        }
        w.Put32(kLengthAt, static_cast<std::uint32_t>(w.Pos()));

        // What the installer would refuse, this refuses to write.
        std::string readError;
        std::optional<CeSetup> back = DecodeCeSetup(w.bytes, "the control file", &readError);
        if (!back) throw Fail{readError};
        if (*back != s) throw Fail{"the control file does not read back as written"};
        return w.bytes;
    } catch (const Fail& f) {
        if (error) *error = f.message;
        return std::nullopt;
    }
}

std::optional<CeSetup> DecodeCeSetup(const Bytes& data, const std::string& where, std::string* error) {
    try {
        return Decode(Reader(data));
    } catch (const Fail& f) {
        if (error) *error = where + ": " + f.message;
        return std::nullopt;
    }
}

const CeDir* FindDir(const CeSetup& s, std::uint16_t id) {
    for (const CeDir& d : s.dirs)
        if (d.id == id) return &d;
    return nullptr;
}
const CeFile* FindFile(const CeSetup& s, std::uint16_t id) {
    for (const CeFile& f : s.files)
        if (f.id == id) return &f;
    return nullptr;
}
const CeHive* FindHive(const CeSetup& s, std::uint16_t id) {
    for (const CeHive& h : s.hives)
        if (h.id == id) return &h;
    return nullptr;
}

std::string CePathText(const CeSetup& setup, const CePath& path) {
    std::string out;
    for (std::uint16_t id : path) {
        if (!out.empty()) out += '\\';
        auto it = std::find_if(setup.strings.begin(), setup.strings.end(), [id](const CeString& s) { return s.id == id; });
        out += it == setup.strings.end() ? "?" : it->text;
    }
    return out;
}

std::string CeExpandFolder(const std::string& folder) {
    // Microsoft's "Windows CE Strings" for the Pocket PC.
    static const struct {
        const char* macro;
        const char* folder;
    } kPocketPc[] = {
        {"%CE1%", "\\Program Files"},
        {"%CE2%", "\\Windows"},
        {"%CE4%", "\\Windows\\StartUp"},
        {"%CE5%", "\\My Documents"},
        {"%CE8%", "\\Program Files\\Games"},
        {"%CE11%", "\\Windows\\Start Menu\\Programs"},
        {"%CE14%", "\\Windows\\Start Menu\\Programs\\Games"},
        {"%CE15%", "\\Windows\\Fonts"},
        {"%CE17%", "\\Windows\\Start Menu"},
    };
    std::string first = folder.substr(0, folder.find('\\'));
    for (const auto& m : kPocketPc) {
        std::string macro = m.macro;
        bool same = first.size() == macro.size() &&
                    std::equal(first.begin(), first.end(), macro.begin(),
                               [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
        if (same) return m.folder + folder.substr(first.size());
    }
    return folder;
}

std::string CeFolderMacroText(std::uint16_t folder) {
    return folder == 0 ? "%InstallDir%" : "%CE" + std::to_string(folder) + "%";
}

std::string CeRootName(std::uint16_t root) {
    switch (root) {
    case kCeRootClassesRoot: return "HKEY_CLASSES_ROOT";
    case kCeRootCurrentUser: return "HKEY_CURRENT_USER";
    case kCeRootLocalMachine: return "HKEY_LOCAL_MACHINE";
    case kCeRootUsers: return "HKEY_USERS";
    }
    return "root " + std::to_string(root);
}

std::string CeProcessorName(std::uint32_t processor) {
    static const struct {
        std::uint32_t value;
        const char* name;
    } kNames[] = {
        {0, "any processor"}, {103, "SH3"},        {104, "SH4"},         {386, "Intel 386"},     {486, "Intel 486"},
        {586, "Pentium"},     {601, "PowerPC 601"}, {603, "PowerPC 603"}, {604, "PowerPC 604"}, {620, "PowerPC 620"},
        {821, "Motorola 821"}, {1824, "ARM720"},   {2080, "ARM820"},     {2336, "ARM920"},       {2577, "StrongARM"},
        {4000, "MIPS R4000"}, {10003, "Hitachi SH3"}, {10004, "Hitachi SH3E"}, {10005, "Hitachi SH4"},
        {21064, "Alpha 21064"}, {70001, "ARM7TDMI"},
    };
    for (const auto& n : kNames)
        if (n.value == processor) return n.name;
    return "processor type " + std::to_string(processor);
}

}  // namespace cecab
