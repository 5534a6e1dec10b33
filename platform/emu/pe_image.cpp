#include "pe_image.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "base/text.h"

namespace emu {
namespace {

constexpr std::uint16_t kMachineArm = 0x1C0;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kSubsystemCeGui = 9;
constexpr std::uint32_t kPage = 0x1000;
constexpr std::uint32_t kMaxImage = 64u << 20;  // far above any phone program
constexpr std::uint16_t kRtGroupIcon = 14;

enum Directory {
    kExports = 0,
    kImports = 1,
    kResources = 2,
    kRelocations = 5,
    kTls = 9,
    kDelayImports = 13,
    kClr = 14,
};

// The file header's characteristics.
constexpr std::uint16_t kRelocsStripped = 0x0001;
constexpr std::uint16_t kFileDll = 0x2000;

// Base relocation types: padding, and a 32-bit address.
constexpr unsigned kRelAbsolute = 0, kRelHighLow = 3;

using base::Hex;

struct Bad {
    std::string what;
};

// Bounds-checked little-endian reads from a byte buffer.
struct Reader {
    const std::vector<std::uint8_t>& bytes;
    const char* what;  // "file" or "image", for messages

    void Need(std::uint64_t at, std::uint64_t size) const {
        if (at > bytes.size() || size > bytes.size() - at)
            throw Bad{"reads past the end of the " + std::string(what) + " at " + Hex(at)};
    }
    std::uint16_t U16(std::uint64_t at) const {
        Need(at, 2);
        return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    }
    std::uint32_t U32(std::uint64_t at) const {
        return static_cast<std::uint32_t>(U16(at)) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
    }
    std::string Ascii(std::uint64_t at) const {
        std::string s;
        for (;; ++at) {
            Need(at, 1);
            if (!bytes[at]) return s;
            if (s.size() > 255) throw Bad{"a name at " + Hex(at) + " has no end"};
            s += static_cast<char>(bytes[at]);
        }
    }
};

void ReadImports(PeImage& pe, const Reader& image, std::uint32_t rva, std::uint32_t size) {
    if (!rva || !size) return;
    for (std::uint32_t d = rva;; d += 20) {
        std::uint32_t lookup = image.U32(d), nameRva = image.U32(d + 12), iat = image.U32(d + 16);
        if (!lookup && !nameRva && !iat) break;
        if (!nameRva || !iat) throw Bad{"an import descriptor at RVA " + Hex(d) + " lacks its name or table"};
        std::string dll = image.Ascii(nameRva);
        if (!lookup) lookup = iat;  // no separate lookup table: the IAT holds the names
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t entry = image.U32(lookup + 4 * i);
            if (!entry) break;
            Import imp;
            imp.dll = dll;
            imp.iatRva = iat + 4 * i;
            if (entry & 0x80000000u) {
                imp.ordinal = static_cast<std::uint16_t>(entry & 0xFFFF);
            } else {
                imp.name = image.Ascii(entry + 2);  // after the hint
                if (imp.name.empty()) throw Bad{"an import of " + dll + " has an empty name"};
            }
            pe.imports.push_back(imp);
        }
    }
}

// A data directory lies inside the image as mapped.
void DirectoryFits(const PeImage& pe, std::uint32_t rva, std::uint32_t size, const char* what) {
    if (rva > pe.imageSize || size > pe.imageSize - rva)
        throw Bad{std::string(what) + " at RVA " + Hex(rva) + ", " + Hex(size) + " bytes, lies outside the image (" +
                  Hex(pe.imageSize) + " bytes)"};
}

const Section* SectionHolding(const PeImage& pe, std::uint64_t rva, std::uint32_t size) {
    for (const Section& s : pe.sections)
        if (rva >= s.rva && rva + size <= std::uint64_t{s.rva} + s.size) return &s;
    return nullptr;
}

// Every name and ordinal, each checked: a name stands for a function of the
// table, every address is inside the image, and none is forwarded to
// another DLL (whose code this loader would have to load as well).
void ReadExports(PeImage& pe, const Reader& image, std::uint32_t rva, std::uint32_t size) {
    if (!rva || !size) return;
    DirectoryFits(pe, rva, size, "the export directory");
    std::uint32_t ordinalBase = image.U32(rva + 16), count = image.U32(rva + 20), nameCount = image.U32(rva + 24);
    std::uint32_t functions = image.U32(rva + 28), names = image.U32(rva + 32), ordinals = image.U32(rva + 36);
    if (std::uint64_t{ordinalBase} + count > 0x10000 || nameCount > 0x10000)
        throw Bad{"the export directory lists " + std::to_string(count) + " functions from ordinal " +
                  std::to_string(ordinalBase) + " and " + std::to_string(nameCount) +
                  " names, beyond the 16-bit ordinals"};
    std::vector<std::vector<std::string>> namesOf(count);
    std::vector<std::string> seen;
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        std::string name = image.Ascii(image.U32(names + 4 * i));
        std::uint16_t index = image.U16(ordinals + 2 * i);
        if (name.empty()) throw Bad{"export name " + std::to_string(i) + " is empty"};
        if (index >= count)
            throw Bad{"the export " + name + " stands for function " + std::to_string(index) + " of " +
                      std::to_string(count)};
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            throw Bad{"the export name " + name + " appears twice"};
        seen.push_back(name);
        namesOf[index].push_back(name);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t at = image.U32(functions + 4 * i);
        auto ordinal = static_cast<std::uint16_t>(ordinalBase + i);
        if (namesOf[i].empty()) namesOf[i].emplace_back();  // by ordinal only
        for (const std::string& name : namesOf[i]) {
            std::string label = name.empty() ? "#" + std::to_string(ordinal) : name;
            if (!at) {
                if (name.empty()) continue;  // an unused ordinal
                throw Bad{"the export " + label + " has no address"};
            }
            if (at >= rva && at - rva < size)
                throw Bad{"the export " + label + " is forwarded to " + image.Ascii(at) +
                          ", which this loader does not follow"};
            if (at >= pe.imageSize)
                throw Bad{"the export " + label + " at RVA " + Hex(at) + " lies past the end of the image (" +
                          Hex(pe.imageSize) + " bytes)"};
            pe.exports.push_back(Export{name, ordinal, at});
        }
    }
}

const char* RelocationTypeName(unsigned type) {
    switch (type) {
    case 1: return "HIGH";
    case 2: return "LOW";
    case 4: return "HIGHADJ";
    case 5: return "ARM_MOV32, a movw and movt pair";
    case 7: return "THUMB_MOV32";
    case 10: return "DIR64";
    default: return "unknown";
    }
}

// The blocks of the base relocation directory: a page RVA, the block's
// size, then 16-bit entries (a type and an offset in the page).
void ReadRelocations(PeImage& pe, const Reader& image, std::uint32_t rva, std::uint32_t size) {
    if (!rva || !size) return;
    DirectoryFits(pe, rva, size, "the base relocation directory");
    const std::uint32_t end = rva + size;
    for (std::uint32_t at = rva; at < end;) {
        if (end - at < 8) throw Bad{"the base relocation directory ends inside a block header at RVA " + Hex(at)};
        std::uint32_t page = image.U32(at), blockSize = image.U32(at + 4);
        if (blockSize < 8 || blockSize % 2 || blockSize > end - at)
            throw Bad{"the base relocation block at RVA " + Hex(at) + " is " + Hex(blockSize) +
                      " bytes long, which does not fit the directory"};
        for (std::uint32_t e = at + 8; e < at + blockSize; e += 2) {
            std::uint16_t entry = image.U16(e);
            unsigned type = entry >> 12;
            std::uint64_t target = std::uint64_t{page} + (entry & 0xFFFu);
            if (type == kRelAbsolute) continue;  // padding
            if (type != kRelHighLow)
                throw Bad{"a base relocation of type " + std::to_string(type) + " (" + RelocationTypeName(type) +
                          ") at RVA " + Hex(target) + ": only HIGHLOW (3) and ABSOLUTE (0) are supported"};
            if (!SectionHolding(pe, target, 4))
                throw Bad{"the base relocation of the word at RVA " + Hex(target) + " lies in no section"};
            pe.relocations.push_back(static_cast<std::uint32_t>(target));
        }
        at += blockSize;
    }
}

void ReadIconGroups(PeImage& pe, const Reader& image, std::uint32_t rva, std::uint32_t size) {
    if (!rva || !size) return;
    auto entries = [&](std::uint32_t dir) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        std::uint32_t count = static_cast<std::uint32_t>(image.U16(dir + 12)) + image.U16(dir + 14);
        for (std::uint32_t i = 0; i < count; ++i) out.emplace_back(image.U32(dir + 16 + 8 * i), image.U32(dir + 20 + 8 * i));
        return out;
    };
    for (const auto& [type, typeField] : entries(rva)) {
        if (type != kRtGroupIcon) continue;
        if (!(typeField & 0x80000000u)) throw Bad{"the icon groups are not a resource directory"};
        for (const auto& [name, field] : entries(rva + (typeField & 0x7FFFFFFFu))) {
            (void)field;
            if (!(name & 0x80000000u)) pe.iconGroups.push_back(static_cast<int>(name & 0xFFFF));
        }
    }
}

}  // namespace

std::string Import::Text() const {
    return name.empty() ? dll + "#" + std::to_string(ordinal) : dll + "!" + name;
}

const Export* PeImage::FindExport(const std::string& exportName) const {
    for (const Export& e : exports)
        if (!e.name.empty() && e.name == exportName) return &e;
    return nullptr;
}

void ApplyRelocations(const PeImage& image, std::uint32_t base, std::uint8_t* memory) {
    const std::uint32_t delta = base - image.imageBase;  // modulo 2^32, as the CPU adds
    if (!delta) return;
    for (std::uint32_t at : image.relocations) {
        std::uint8_t* w = memory + at;
        std::uint32_t v = static_cast<std::uint32_t>(w[0] | w[1] << 8 | w[2] << 16) |
                          static_cast<std::uint32_t>(w[3]) << 24;
        v += delta;
        for (int k = 0; k < 4; ++k) w[k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
}

std::optional<PeImage> ParsePeImage(const std::vector<std::uint8_t>& file, const std::string& name,
                                    std::string* error) {
    PeImage pe;
    pe.path = name;
    try {
        Reader f{file, "file"};
        if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') throw Bad{"not an executable (no MZ header)"};
        std::uint32_t peAt = f.U32(0x3C);
        if (f.U32(peAt) != 0x00004550u) throw Bad{"no PE signature"};
        std::uint32_t coff = peAt + 4;
        std::uint16_t machine = f.U16(coff);
        if (machine != kMachineArm)
            throw Bad{"machine " + Hex(machine) + " is not ARM (" + Hex(kMachineArm) + ")"};
        std::uint16_t sectionCount = f.U16(coff + 2);
        pe.characteristics = f.U16(coff + 18);
        pe.dll = (pe.characteristics & kFileDll) != 0;
        pe.relocationsStripped = (pe.characteristics & kRelocsStripped) != 0;
        std::uint16_t optSize = f.U16(coff + 16);
        std::uint32_t opt = coff + 20;
        if (f.U16(opt) != kPe32) throw Bad{"not a 32-bit (PE32) image"};
        if (optSize < 96 + 16 * 8) throw Bad{"the optional header is too short"};
        pe.entryRva = f.U32(opt + 16);
        pe.imageBase = f.U32(opt + 28);
        std::uint32_t sectionAlign = f.U32(opt + 32);
        pe.imageSize = f.U32(opt + 56);
        pe.headersSize = f.U32(opt + 60);
        std::uint16_t subsystem = f.U16(opt + 68);
        pe.stackReserve = f.U32(opt + 72);
        std::uint32_t dirCount = f.U32(opt + 92);
        auto dir = [&](int i) -> std::pair<std::uint32_t, std::uint32_t> {
            if (static_cast<std::uint32_t>(i) >= dirCount) return {0, 0};
            return {f.U32(opt + 96 + 8 * static_cast<std::uint32_t>(i)),
                    f.U32(opt + 100 + 8 * static_cast<std::uint32_t>(i))};
        };
        if (subsystem != kSubsystemCeGui)
            throw Bad{"subsystem " + std::to_string(subsystem) + " is not Windows CE (9)"};
        if (pe.imageBase % kPage || sectionAlign % kPage || !sectionAlign)
            throw Bad{"image base " + Hex(pe.imageBase) + " or section alignment " + Hex(sectionAlign) +
                      " is not a multiple of the page size"};
        if (!pe.imageSize || pe.imageSize > kMaxImage || pe.headersSize > pe.imageSize ||
            pe.headersSize > file.size() || std::uint64_t{pe.imageBase} + pe.imageSize > 0x80000000ull)
            throw Bad{"image size " + Hex(pe.imageSize) + " or headers size " + Hex(pe.headersSize) +
                      " is impossible"};
        for (int d : {kTls, kDelayImports, kClr})
            if (dir(d).second) throw Bad{"data directory " + std::to_string(d) + " (TLS, delay imports or CLR) is not supported"};

        pe.memory.assign(pe.imageSize, 0);
        std::copy(file.begin(), file.begin() + pe.headersSize, pe.memory.begin());
        std::uint32_t table = opt + optSize;
        for (std::uint16_t i = 0; i < sectionCount; ++i) {
            std::uint32_t s = table + 40u * i;
            f.Need(s, 40);
            Section sec;
            for (int c = 0; c < 8 && file[s + c]; ++c) sec.name += static_cast<char>(file[s + c]);
            std::uint32_t vsize = f.U32(s + 8), rawSize = f.U32(s + 16), rawAt = f.U32(s + 20);
            sec.rva = f.U32(s + 12);
            sec.size = vsize ? vsize : rawSize;
            sec.characteristics = f.U32(s + 36);
            if (sec.rva % sectionAlign || sec.rva < pe.headersSize || sec.rva > pe.imageSize ||
                sec.size > pe.imageSize - sec.rva)
                throw Bad{"section " + sec.name + " at RVA " + Hex(sec.rva) + " does not fit the image"};
            if (rawSize > sec.size) rawSize = sec.size;  // the file's padding is not loaded
            if (rawSize) {
                f.Need(rawAt, rawSize);
                std::copy(file.begin() + rawAt, file.begin() + rawAt + rawSize, pe.memory.begin() + sec.rva);
            }
            for (const Section& other : pe.sections)
                if (sec.rva < other.rva + other.size && other.rva < sec.rva + sec.size)
                    throw Bad{"sections " + other.name + " and " + sec.name + " overlap"};
            pe.sections.push_back(sec);
        }
        bool entryOk = pe.dll && !pe.entryRva;  // a DLL need not have one
        for (const Section& s : pe.sections)
            entryOk = entryOk || (s.Executable() && pe.entryRva >= s.rva && pe.entryRva < s.rva + s.size);
        if (!entryOk) throw Bad{"the entry point " + Hex(pe.imageBase + pe.entryRva) + " is in no code section"};

        Reader image{pe.memory, "image"};
        ReadImports(pe, image, dir(kImports).first, dir(kImports).second);
        ReadExports(pe, image, dir(kExports).first, dir(kExports).second);
        ReadRelocations(pe, image, dir(kRelocations).first, dir(kRelocations).second);
        ReadIconGroups(pe, image, dir(kResources).first, dir(kResources).second);
    } catch (const Bad& bad) {
        *error = name + ": " + bad.what;
        return std::nullopt;
    }
    return pe;
}

std::optional<PeImage> LoadPeImage(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot read the file";
        return std::nullopt;
    }
    std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParsePeImage(file, path, error);
}

}  // namespace emu
