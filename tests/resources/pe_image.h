// A reader of the built klavor.exe's and klavor_setup.dll's PE images, for
// the tests that check what the linker and windres made: the headers, the
// imports, the exports, the base relocations and the resources.
// It reads PE32 (the phone, desktop 32-bit) and PE32+ (desktop 64-bit).
//
// Nothing in the file is trusted: every read is bounds-checked, and the
// first malformed structure stops the reading with error() saying what.
#ifndef KLAVOR_TESTS_PE_IMAGE_H
#define KLAVOR_TESTS_PE_IMAGE_H

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace pe {

using Bytes = std::vector<std::uint8_t>;

// A resource type or name: a number or a string.
using ResId = std::variant<std::uint16_t, std::u16string>;

constexpr std::uint16_t kRtIcon = 3;
constexpr std::uint16_t kRtGroupIcon = 14;

enum DataDirectory {
    kExportDir = 0,
    kImportDir = 1,
    kResourceDir = 2,
    kExceptionDir = 3,
    kSecurityDir = 4,
    kRelocDir = 5,
    kDebugDir = 6,
    kTlsDir = 9,
    kLoadConfigDir = 10,
    kBoundImportDir = 11,
    kDelayImportDir = 13,
    kClrDir = 14,
    kDataDirCount = 16
};

// The COFF file header and the optional header, field by field.
struct Headers {
    std::uint16_t machine = 0, sectionCount = 0, optionalSize = 0, characteristics = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint16_t magic = 0;
    std::uint32_t entryPoint = 0;  // RVA
    std::uint64_t imageBase = 0;
    std::uint32_t sectionAlignment = 0, fileAlignment = 0;
    std::uint16_t osMajor = 0, osMinor = 0, imageMajor = 0, imageMinor = 0, subsystemMajor = 0, subsystemMinor = 0;
    std::uint32_t win32Version = 0, sizeOfImage = 0, sizeOfHeaders = 0, checksum = 0;
    std::uint16_t subsystem = 0, dllCharacteristics = 0;
    std::uint64_t stackReserve = 0, stackCommit = 0, heapReserve = 0, heapCommit = 0;
    std::uint32_t loaderFlags = 0, dataDirCount = 0;
    std::pair<std::uint32_t, std::uint32_t> dataDirs[kDataDirCount] = {};  // RVA, size
};

struct Section {
    std::string name;
    std::uint32_t rva = 0, virtualSize = 0, fileOffset = 0, fileSize = 0, characteristics = 0;
};

// One imported function: by name (with the loader's hint) or by ordinal.
struct Import {
    std::string name;                     // empty for an import by ordinal
    std::optional<std::uint16_t> ordinal;
    std::uint16_t hint = 0;
};

struct ImportedDll {
    std::string name;
    std::vector<Import> functions;
};

// One exported function, by name (a name is what a caller looks up).
struct Export {
    std::string name;
    std::uint32_t ordinal = 0;  // with the directory's base added
    std::uint32_t rva = 0;
};

// One base relocation: where, and of which kind (3: a 32-bit address).
struct Relocation {
    std::uint32_t rva = 0;
    std::uint16_t type = 0;
};

class Image {
public:
    explicit Image(Bytes image) : image_(std::move(image)) { Parse(); }

    static std::optional<Image> Load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        return Image(Bytes(std::istreambuf_iterator<char>(in), {}));
    }

    const std::string& error() const { return error_; }
    std::size_t size() const { return image_.size(); }
    const Headers& headers() const { return headers_; }
    const std::vector<Section>& sections() const { return sections_; }
    const std::vector<ImportedDll>& imports() const { return imports_; }
    // The export directory's own name of the module, and its named exports.
    const std::string& exportName() const { return exportName_; }
    const std::vector<Export>& exports() const { return exports_; }
    // Every base relocation but the padding entries (type 0).
    const std::vector<Relocation>& relocations() const { return relocations_; }

    // The 32-bit word at an RVA, as the file holds it.
    std::optional<std::uint32_t> WordAt(std::uint32_t rva) const {
        try {
            return U32(FileOffsetOf(rva, 4));
        } catch (const Bad&) {
            return std::nullopt;
        }
    }

    // The section an RVA lies in, if any.
    const Section* SectionAt(std::uint32_t rva) const {
        for (const Section& s : sections_)
            if (rva >= s.rva && rva - s.rva < std::max(s.virtualSize, s.fileSize)) return &s;
        return nullptr;
    }

    // Resources, flattened to type -> name -> data (the first language of
    // each, which is all windres writes).
    std::optional<Bytes> FindResource(const ResId& type, const ResId& name) const {
        auto t = resources_.find(type);
        if (t == resources_.end()) return std::nullopt;
        auto n = t->second.find(name);
        if (n == t->second.end()) return std::nullopt;
        return n->second;
    }

    // The same by numbers. (A lookup through temporary ResIds trips GCC 12's
    // -Wmaybe-uninitialized on std::variant's string member.)
    std::optional<Bytes> FindResource(std::uint16_t type, std::uint16_t name) const {
        for (const auto& [t, names] : resources_) {
            const std::uint16_t* typeId = std::get_if<std::uint16_t>(&t);
            if (!typeId || *typeId != type) continue;
            for (const auto& [n, data] : names) {
                const std::uint16_t* nameId = std::get_if<std::uint16_t>(&n);
                if (nameId && *nameId == name) return data;
            }
        }
        return std::nullopt;
    }

    std::vector<ResId> ResourceNames(const ResId& type) const {
        std::vector<ResId> out;
        auto t = resources_.find(type);
        if (t != resources_.end())
            for (const auto& [name, data] : t->second) out.push_back(name);
        return out;
    }

private:
    struct Bad {
        std::string what;
    };

    bool Has(std::size_t offset, std::size_t size) const {
        return offset <= image_.size() && size <= image_.size() - offset;
    }
    std::uint16_t U16(std::size_t at) const {
        if (!Has(at, 2)) throw Bad{"read past the end at " + std::to_string(at)};
        return static_cast<std::uint16_t>(image_[at] | image_[at + 1] << 8);
    }
    std::uint32_t U32(std::size_t at) const {
        return static_cast<std::uint32_t>(U16(at)) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
    }
    std::uint64_t U64(std::size_t at) const {
        return static_cast<std::uint64_t>(U32(at)) | static_cast<std::uint64_t>(U32(at + 4)) << 32;
    }
    std::string CString(std::size_t at, std::size_t limit) const {
        std::string s;
        for (std::size_t i = 0;; ++i) {
            if (i == limit) throw Bad{"a string at " + std::to_string(at) + " runs on past " + std::to_string(limit)};
            if (!Has(at + i, 1)) throw Bad{"a string at " + std::to_string(at) + " runs past the end"};
            char c = static_cast<char>(image_[at + i]);
            if (c == 0) return s;
            s += c;
        }
    }

    std::size_t FileOffsetOf(std::uint32_t rva, std::uint32_t size) const {
        const Section* s = SectionAt(rva);
        if (!s) throw Bad{"RVA " + std::to_string(rva) + " is in no section"};
        std::size_t off = std::size_t{s->fileOffset} + (rva - s->rva);
        if (!Has(off, size) || std::uint64_t{rva - s->rva} + size > s->fileSize)
            throw Bad{"data at RVA " + std::to_string(rva) + " is not in the file"};
        return off;
    }

    void ParseHeaders() {
        if (!Has(0, 64) || image_[0] != 'M' || image_[1] != 'Z') throw Bad{"no MZ header"};
        std::size_t pe = U32(0x3C);
        if (U32(pe) != 0x00004550u) throw Bad{"no PE signature"};
        std::size_t coff = pe + 4;
        Headers& h = headers_;
        h.machine = U16(coff);
        h.sectionCount = U16(coff + 2);
        h.timeDateStamp = U32(coff + 4);
        h.optionalSize = U16(coff + 16);
        h.characteristics = U16(coff + 18);
        std::size_t opt = coff + 20;
        h.magic = U16(opt);
        bool plus;
        if (h.magic == 0x10B)
            plus = false;
        else if (h.magic == 0x20B)
            plus = true;
        else
            throw Bad{"unknown optional header magic " + std::to_string(h.magic)};
        h.entryPoint = U32(opt + 16);
        h.imageBase = plus ? U64(opt + 24) : U32(opt + 28);
        h.sectionAlignment = U32(opt + 32);
        h.fileAlignment = U32(opt + 36);
        h.osMajor = U16(opt + 40);
        h.osMinor = U16(opt + 42);
        h.imageMajor = U16(opt + 44);
        h.imageMinor = U16(opt + 46);
        h.subsystemMajor = U16(opt + 48);
        h.subsystemMinor = U16(opt + 50);
        h.win32Version = U32(opt + 52);
        h.sizeOfImage = U32(opt + 56);
        h.sizeOfHeaders = U32(opt + 60);
        h.checksum = U32(opt + 64);
        h.subsystem = U16(opt + 68);
        h.dllCharacteristics = U16(opt + 70);
        std::size_t sizes = opt + 72;
        if (plus) {
            h.stackReserve = U64(sizes);
            h.stackCommit = U64(sizes + 8);
            h.heapReserve = U64(sizes + 16);
            h.heapCommit = U64(sizes + 24);
            sizes += 32;
        } else {
            h.stackReserve = U32(sizes);
            h.stackCommit = U32(sizes + 4);
            h.heapReserve = U32(sizes + 8);
            h.heapCommit = U32(sizes + 12);
            sizes += 16;
        }
        h.loaderFlags = U32(sizes);
        h.dataDirCount = U32(sizes + 4);
        std::size_t dirs = sizes + 8;
        if (h.dataDirCount > kDataDirCount || dirs + 8 * h.dataDirCount > opt + h.optionalSize)
            throw Bad{"data directories do not fit in the optional header"};
        for (std::uint32_t i = 0; i < h.dataDirCount; ++i) h.dataDirs[i] = {U32(dirs + 8 * i), U32(dirs + 8 * i + 4)};

        std::size_t table = opt + h.optionalSize;
        for (std::uint16_t i = 0; i < h.sectionCount; ++i) {
            std::size_t s = table + 40 * i;
            if (!Has(s, 40)) throw Bad{"the section table runs past the end"};
            Section section;
            section.name = std::string(reinterpret_cast<const char*>(&image_[s]), 8);
            section.name.resize(section.name.find('\0') == std::string::npos ? 8 : section.name.find('\0'));
            section.virtualSize = U32(s + 8);
            section.rva = U32(s + 12);
            section.fileSize = U32(s + 16);
            section.fileOffset = U32(s + 20);
            section.characteristics = U32(s + 36);
            sections_.push_back(section);
        }
    }

    void ParseImports() {
        auto [rva, size] = headers_.dataDirs[kImportDir];
        if (rva == 0 || size == 0) return;
        bool plus = headers_.magic == 0x20B;
        std::size_t slot = plus ? 8 : 4;
        for (std::uint32_t entry = rva;; entry += 20) {
            std::size_t at = FileOffsetOf(entry, 20);
            std::uint32_t lookup = U32(at), nameRva = U32(at + 12), thunks = U32(at + 16);
            if (lookup == 0 && nameRva == 0 && thunks == 0) break;  // the table's end
            ImportedDll dll;
            dll.name = CString(FileOffsetOf(nameRva, 1), 256);
            // The lookup table, or the address table where there is none.
            std::uint32_t list = lookup != 0 ? lookup : thunks;
            for (std::uint32_t i = 0;; ++i) {
                if (i == 4096) throw Bad{"the imports of " + dll.name + " do not end"};
                std::size_t e = FileOffsetOf(list + i * static_cast<std::uint32_t>(slot), static_cast<std::uint32_t>(slot));
                std::uint64_t value = plus ? U64(e) : U32(e);
                if (value == 0) break;
                std::uint64_t byOrdinal = plus ? std::uint64_t{1} << 63 : std::uint64_t{1} << 31;
                Import import;
                if (value & byOrdinal) {
                    import.ordinal = static_cast<std::uint16_t>(value & 0xFFFF);
                } else {
                    std::size_t hintName = FileOffsetOf(static_cast<std::uint32_t>(value), 2);
                    import.hint = U16(hintName);
                    import.name = CString(hintName + 2, 256);
                }
                dll.functions.push_back(import);
            }
            imports_.push_back(std::move(dll));
        }
    }

    void ParseExports() {
        auto [rva, size] = headers_.dataDirs[kExportDir];
        if (rva == 0 || size == 0) return;
        std::size_t at = FileOffsetOf(rva, 40);
        exportName_ = CString(FileOffsetOf(U32(at + 12), 1), 256);
        std::uint32_t base = U32(at + 16), functionCount = U32(at + 20), nameCount = U32(at + 24);
        std::uint32_t functions = U32(at + 28), names = U32(at + 32), ordinals = U32(at + 36);
        if (functionCount > 4096 || nameCount > functionCount) throw Bad{"an export directory with counts that lie"};
        for (std::uint32_t i = 0; i < nameCount; ++i) {
            Export e;
            e.name = CString(FileOffsetOf(U32(FileOffsetOf(names + 4 * i, 4)), 1), 256);
            std::uint16_t index = U16(FileOffsetOf(ordinals + 2 * i, 2));
            if (index >= functionCount) throw Bad{"export " + e.name + " has no address"};
            e.ordinal = base + index;
            e.rva = U32(FileOffsetOf(functions + 4 * std::uint32_t{index}, 4));
            exports_.push_back(e);
        }
    }

    void ParseRelocations() {
        auto [rva, size] = headers_.dataDirs[kRelocDir];
        if (rva == 0 || size == 0) return;
        for (std::uint32_t block = rva; block < rva + size;) {
            std::size_t at = FileOffsetOf(block, 8);
            std::uint32_t page = U32(at), blockSize = U32(at + 4);
            if (blockSize < 8 || blockSize % 2 != 0 || blockSize > rva + size - block)
                throw Bad{"a relocation block of " + std::to_string(blockSize) + " bytes"};
            std::size_t entries = FileOffsetOf(block, blockSize) + 8;
            for (std::uint32_t i = 0; i < (blockSize - 8) / 2; ++i) {
                std::uint16_t entry = U16(entries + 2 * i);
                if (entry >> 12 == 0) continue;  // padding to a word
                relocations_.push_back({page + (entry & 0x0FFFu), static_cast<std::uint16_t>(entry >> 12)});
            }
            block += blockSize;
        }
    }

    ResId IdOf(std::uint32_t nameField) const {
        if (!(nameField & 0x80000000u)) return static_cast<std::uint16_t>(nameField & 0xFFFF);
        std::size_t at = rsrc_ + (nameField & 0x7FFFFFFFu);
        std::u16string s;
        std::uint16_t length = U16(at);
        for (std::uint16_t i = 0; i < length; ++i) s += static_cast<char16_t>(U16(at + 2 + 2 * i));
        return s;
    }

    // The entries of one directory table: (id, offset field).
    std::vector<std::pair<ResId, std::uint32_t>> Table(std::size_t dir) const {
        std::vector<std::pair<ResId, std::uint32_t>> out;
        std::size_t count = static_cast<std::size_t>(U16(dir + 12)) + U16(dir + 14);
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t e = dir + 16 + 8 * i;
            out.emplace_back(IdOf(U32(e)), U32(e + 4));
        }
        return out;
    }

    std::size_t Subdirectory(std::uint32_t field) const {
        if (!(field & 0x80000000u)) throw Bad{"a data entry where a directory belongs"};
        return rsrc_ + (field & 0x7FFFFFFFu);
    }

    void ParseResources() {
        auto [rva, size] = headers_.dataDirs[kResourceDir];
        if (rva == 0 || size == 0) return;  // a DLL may have none: then no resource is found
        rsrc_ = FileOffsetOf(rva, size);
        for (const auto& [type, typeField] : Table(rsrc_)) {
            for (const auto& [name, nameField] : Table(Subdirectory(typeField))) {
                auto languages = Table(Subdirectory(nameField));
                if (languages.empty()) throw Bad{"a resource with no language"};
                std::uint32_t dataField = languages.front().second;
                if (dataField & 0x80000000u) throw Bad{"a directory where data belongs"};
                std::size_t entry = rsrc_ + dataField;
                std::uint32_t dataRva = U32(entry), dataSize = U32(entry + 4);
                std::size_t off = FileOffsetOf(dataRva, dataSize);
                resources_[type][name] = Bytes(image_.begin() + static_cast<std::ptrdiff_t>(off),
                                               image_.begin() + static_cast<std::ptrdiff_t>(off + dataSize));
            }
        }
    }

    void Parse() {
        try {
            ParseHeaders();
            ParseImports();
            ParseExports();
            ParseRelocations();
            ParseResources();
        } catch (const Bad& bad) {
            error_ = bad.what;
        }
    }

    Bytes image_;
    Headers headers_;
    std::vector<Section> sections_;
    std::vector<ImportedDll> imports_;
    std::string exportName_;
    std::vector<Export> exports_;
    std::vector<Relocation> relocations_;
    std::size_t rsrc_ = 0;
    std::map<ResId, std::map<ResId, Bytes>> resources_;
    std::string error_;
};

}  // namespace pe

#endif
