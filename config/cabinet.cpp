// Cabinet files through libgcab, with a bounds-checked look at the
// structure first.
#include "cabinet.h"
#include "little_endian.h"

#include <libgcab.h>

#include <memory>

namespace config {
namespace {

constexpr std::size_t kHeaderBytes = 36;
constexpr std::size_t kFolderBytes = 8;
constexpr std::size_t kFileBytes = 16;
constexpr std::size_t kDataBytes = 8;
constexpr std::size_t kMaxNameBytes = 256;  // including the NUL
constexpr std::size_t kMaxBlockBytes = 32768;

enum : std::uint16_t { kFlagPrevious = 0x0001, kFlagNext = 0x0002, kFlagReserve = 0x0004 };
enum : std::uint16_t { kCompressNone = 0, kCompressMszip = 1 };

struct Fail {
    std::string message;
};

template <typename T>
using GPtr = std::unique_ptr<T, void (*)(gpointer)>;

template <typename T>
GPtr<T> Own(T* object) {
    return GPtr<T>(object, g_object_unref);
}

std::string Take(GError* error) {
    std::string message = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    return message;
}

std::string SizeText(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

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
    std::string name;
    std::uint32_t size, offset;  // offset within the folder's expanded data
    std::uint16_t folder;
};

// The file table of a cabinet whose every offset, count and size has been
// checked against the file, so that whatever libgcab then reads lies inside it.
std::vector<FileEntry> CheckStructure(const Bytes& content) {
    Reader r(content);
    if (r.Size() < 4 || r.U32(0, "signature") != 0x4643534D)  // "MSCF"
        throw Fail{"not a cabinet (it does not start with MSCF)"};
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

    std::size_t at = kHeaderBytes, folderReserve = 0, dataReserve = 0;
    if (flags & kFlagReserve) {
        std::size_t headerReserve = r.U16(at, "reserve sizes");
        folderReserve = r.U8(at + 2, "reserve sizes");
        dataReserve = r.U8(at + 3, "reserve sizes");
        at += 4;
        r.Need(at, headerReserve, "the header's reserved area");
        at += headerReserve;
    }

    struct Folder {
        std::size_t dataAt, blocks;
        std::uint16_t compression;
    };
    std::vector<Folder> folderTable;
    for (std::size_t i = 0; i < folders; ++i) {
        std::string what = "folder entry " + std::to_string(i + 1) + " of " + std::to_string(folders);
        r.Need(at, kFolderBytes + folderReserve, what);
        folderTable.push_back({r.U32(at, what), r.U16(at + 4, what), r.U16(at + 6, what)});
        at += kFolderBytes + folderReserve;
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
        FileEntry e{"", r.U32(at, what), r.U32(at + 4, what), r.U16(at + 8, what)};
        std::size_t nameAt = at + kFileBytes, n = 0;
        while (r.U8(nameAt + n, what + "'s name") != 0) {
            if (++n >= kMaxNameBytes) throw Fail{what + ": the name is longer than 255 bytes"};
        }
        e.name.assign(reinterpret_cast<const char*>(r.At(nameAt)), n);
        if (e.name.empty()) throw Fail{what + " has no name"};
        if (e.folder >= folders)
            throw Fail{e.name + ": folder " + std::to_string(e.folder) + ", but the cabinet has " + std::to_string(folders)};
        table.push_back(e);
        at = nameAt + n + 1;
    }

    for (std::size_t f = 0; f < folders; ++f) {
        const Folder& folder = folderTable[f];
        std::string where = "folder " + std::to_string(f + 1);
        if (folder.compression != kCompressNone && folder.compression != kCompressMszip)
            throw Fail{where + " uses compression " + std::to_string(folder.compression) + "; only none and MSZIP can be read"};
        if (folder.dataAt < at)
            throw Fail{where + "'s data offset " + std::to_string(folder.dataAt) + " lies inside the cabinet's tables (which end at " +
                       std::to_string(at) + ")"};
        // A folder of empty files has no data blocks at all; the files'
        // check below refuses anything else in one.
        std::size_t block = folder.dataAt;
        std::uint64_t stream = 0;
        for (std::size_t b = 0; b < folder.blocks; ++b) {
            std::string what = where + "'s data block " + std::to_string(b + 1) + " of " + std::to_string(folder.blocks);
            r.Need(block, kDataBytes + dataReserve, what);
            std::size_t stored = r.U16(block + 4, what), expanded = r.U16(block + 6, what);
            if (expanded == 0 || expanded > kMaxBlockBytes)
                throw Fail{what + " expands to " + SizeText(expanded) + " (1 to 32768 allowed)"};
            if (folder.compression == kCompressNone && stored != expanded)
                throw Fail{what + " stores " + SizeText(stored) + " but says it holds " + SizeText(expanded) + ", uncompressed"};
            r.Need(block + kDataBytes + dataReserve, stored, what + "'s data");
            block += kDataBytes + dataReserve + stored;
            stream += expanded;
        }
        for (const FileEntry& e : table) {
            if (e.folder != f) continue;
            if (static_cast<std::uint64_t>(e.offset) + e.size > stream)
                throw Fail{e.name + " (" + SizeText(e.size) + " from offset " + std::to_string(e.offset) +
                           ") runs past the end of its folder's data (" + SizeText(static_cast<std::size_t>(stream)) + ")"};
        }
    }
    return table;
}

// DOS dates run from 1980 to 2107.
GDateTime* DosDate(std::time_t modified) {
    GDateTime* date = g_date_time_new_from_unix_local(static_cast<gint64>(modified));
    if (date && g_date_time_get_year(date) >= 1980 && g_date_time_get_year(date) <= 2107) return date;
    bool early = !date ? modified < 0 : g_date_time_get_year(date) < 1980;
    if (date) g_date_time_unref(date);
    return early ? g_date_time_new_local(1980, 1, 1, 0, 0, 0) : g_date_time_new_local(2107, 12, 31, 23, 59, 58);
}

}  // namespace

bool LooksLikeCabinet(const std::string& content) { return content.compare(0, 4, "MSCF") == 0; }

std::optional<Bytes> WriteCabinet(const std::vector<CabMember>& members, std::time_t modified, std::string* error) {
    auto fail = [error](const std::string& message) -> std::optional<Bytes> {
        if (error) *error = message;
        return std::nullopt;
    };
    if (members.empty()) return fail("a cabinet needs at least one member");
    GPtr<GCabCabinet> cabinet = Own(gcab_cabinet_new());
    GPtr<GCabFolder> folder = Own(gcab_folder_new(GCAB_COMPRESSION_NONE));
    GDateTime* date = DosDate(modified);
    for (const CabMember& m : members) {
        GBytes* bytes = g_bytes_new(m.data.data(), m.data.size());
        GPtr<GCabFile> file = Own(gcab_file_new_with_bytes(m.name.c_str(), bytes));
        g_bytes_unref(bytes);
        gcab_file_set_attributes(file.get(), GCAB_FILE_ATTRIBUTE_ARCH);
        gcab_file_set_date_time(file.get(), date);
        GError* e = nullptr;
        if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &e)) {
            g_date_time_unref(date);
            return fail(m.name + ": " + Take(e));
        }
    }
    g_date_time_unref(date);
    GError* e = nullptr;
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &e)) return fail(Take(e));
    GPtr<GOutputStream> out = Own(g_memory_output_stream_new_resizable());
    if (!gcab_cabinet_write_simple(cabinet.get(), out.get(), nullptr, nullptr, nullptr, &e) ||
        !g_output_stream_close(out.get(), nullptr, &e))
        return fail(Take(e));
    auto* memory = G_MEMORY_OUTPUT_STREAM(out.get());
    const auto* data = static_cast<const std::uint8_t*>(g_memory_output_stream_get_data(memory));
    Bytes cab(data, data + g_memory_output_stream_get_data_size(memory));

    // The installer goes by the members' order, so make sure of it.
    std::vector<FileEntry> table;
    try {
        table = CheckStructure(cab);
    } catch (const Fail& f) {
        return fail("the cabinet written does not read back: " + f.message);
    }
    bool same = table.size() == members.size();
    for (std::size_t i = 0; same && i < table.size(); ++i)
        same = table[i].name == members[i].name && table[i].size == members[i].data.size();
    if (!same) return fail("the cabinet written does not hold the members in the order given");
    return cab;
}

std::optional<std::vector<CabMember>> ReadCabinet(const Bytes& content, const std::string& file, std::string* error) {
    auto fail = [&](const std::string& message) -> std::optional<std::vector<CabMember>> {
        if (error) *error = file + ": " + message;
        return std::nullopt;
    };
    std::vector<FileEntry> table;
    try {
        table = CheckStructure(content);
    } catch (const Fail& f) {
        return fail(f.message);
    }

    GBytes* bytes = g_bytes_new(content.data(), content.size());
    GPtr<GInputStream> in = Own(g_memory_input_stream_new_from_bytes(bytes));
    g_bytes_unref(bytes);
    GPtr<GCabCabinet> cabinet = Own(gcab_cabinet_new());
    GError* e = nullptr;
    if (!gcab_cabinet_load(cabinet.get(), in.get(), nullptr, &e)) return fail(Take(e));
    if (!gcab_cabinet_extract(cabinet.get(), nullptr, nullptr, nullptr, nullptr, nullptr, &e)) return fail(Take(e));

    // libgcab lists each folder's files in the cabinet's order; the file
    // table may interleave folders.
    GPtrArray* folders = gcab_cabinet_get_folders(cabinet.get());
    std::vector<std::vector<GCabFile*>> byFolder(folders->len);
    for (guint f = 0; f < folders->len; ++f) {
        GSList* list = gcab_folder_get_files(static_cast<GCabFolder*>(g_ptr_array_index(folders, f)));
        for (GSList* p = list; p; p = p->next) byFolder[f].push_back(static_cast<GCabFile*>(p->data));
        g_slist_free(list);
    }
    std::vector<std::size_t> next(byFolder.size(), 0);
    std::vector<CabMember> members;
    for (const FileEntry& entry : table) {
        if (entry.folder >= byFolder.size() || next[entry.folder] >= byFolder[entry.folder].size())
            return fail(entry.name + ": not found by the cabinet library");
        GCabFile* f = byFolder[entry.folder][next[entry.folder]++];
        GBytes* data = gcab_file_get_bytes(f);
        gsize size = 0;
        const auto* p = data ? static_cast<const std::uint8_t*>(g_bytes_get_data(data, &size)) : nullptr;
        if (entry.name != gcab_file_get_name(f) || size != entry.size)
            return fail(entry.name + ": the cabinet library reads it as " + gcab_file_get_name(f) + " of " + SizeText(size));
        members.push_back({entry.name, p ? Bytes(p, p + size) : Bytes()});
    }
    return members;
}

}  // namespace config
