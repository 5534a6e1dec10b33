// Hand-made Windows CE ARM executables and DLLs for the loader's tests: a
// few ARM instructions, .data bytes, imports by name or ordinal, exports and
// base relocations, and headers that can be spoilt.
#ifndef KLAVOR_TESTS_TINY_PE_H
#define KLAVOR_TESTS_TINY_PE_H

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tiny {

// ARM (A32) encodings the tests use.
constexpr std::uint32_t kPushR4Lr = 0xE92D4010;  // push {r4, lr}
constexpr std::uint32_t kPopR4Pc = 0xE8BD8010;   // pop {r4, pc}
constexpr std::uint32_t kBxLr = 0xE12FFF1E;
constexpr std::uint32_t MovImm(int rd, std::uint32_t imm8) { return 0xE3A00000 | (rd << 12) | imm8; }
constexpr std::uint32_t MovReg(int rd, int rm) { return 0xE1A00000 | (rd << 12) | rm; }
constexpr std::uint32_t AddReg(int rd, int rn, int rm) { return 0xE0800000 | (rn << 16) | (rd << 12) | rm; }
constexpr std::uint32_t LdrReg(int rd, int rn) { return 0xE5900000 | (rn << 16) | (rd << 12); }  // ldr rd, [rn]
constexpr std::uint32_t StrReg(int rd, int rn) { return 0xE5800000 | (rn << 16) | (rd << 12); }  // str rd, [rn]
constexpr std::uint32_t BxReg(int rm) { return 0xE12FFF10 | rm; }
constexpr std::uint32_t LdrOff(int rd, int rn, std::uint32_t off) {  // ldr rd, [rn, #off]
    return 0xE5900000 | (rn << 16) | (rd << 12) | off;
}
constexpr std::uint32_t StrOff(int rd, int rn, std::uint32_t off) {  // str rd, [rn, #off]
    return 0xE5800000 | (rn << 16) | (rd << 12) | off;
}
constexpr std::uint32_t SubSp(std::uint32_t n) { return 0xE24DD000 | n; }  // sub sp, sp, #n
constexpr std::uint32_t AddSp(std::uint32_t n) { return 0xE28DD000 | n; }  // add sp, sp, #n
constexpr std::uint32_t AddLsl(int rd, int rn, int rm, std::uint32_t shift) {  // add rd, rn, rm, lsl #shift
    return 0xE0800000 | (rn << 16) | (rd << 12) | (shift << 7) | rm;
}
constexpr std::uint32_t SubsImm(int rd, int rn, std::uint32_t imm8) {  // subs rd, rn, #imm8
    return 0xE2500000 | (rn << 16) | (rd << 12) | imm8;
}
constexpr std::uint32_t kPushR4R5R6Lr = 0xE92D4070;  // push {r4, r5, r6, lr}
constexpr std::uint32_t kPopR4R5R6Pc = 0xE8BD8070;   // pop {r4, r5, r6, pc}
constexpr int kSp = 13;

constexpr std::uint32_t kImageBase = 0x10000;
constexpr std::uint32_t kText = 0x1000, kData = 0x2000, kIdata = 0x3000;
// A DLL has two more sections: its exports and its base relocations.
constexpr std::uint32_t kEdata = 0x4000, kReloc = 0x5000;
constexpr std::size_t kEdataFile = 0xA00, kRelocFile = 0xC00;
constexpr std::size_t kFirstRelocationAt = kRelocFile + 8;  // the first block's first entry
constexpr std::size_t kCoff = 0x84;  // the file header: characteristics at kCoff + 18

struct Program {
    std::vector<std::uint32_t> code;
    struct Imp {
        std::string dll, name;
        std::uint16_t ordinal;
    };
    std::vector<Imp> imports;
    std::vector<std::uint8_t> data;  // the start of .data
    std::uint32_t imageBase = kImageBase;  // the preferred one
    bool isDll = false;
    std::uint32_t entryRva = kText;  // 0 for none (a DLL only)
    struct Exp {
        std::string name;
        std::uint32_t rva;
    };
    std::vector<Exp> exports;              // ordinals from 1, names in this order
    std::vector<std::uint32_t> relocations;  // RVAs of the words holding addresses

    // A DLL at this preferred base.
    static Program Dll(std::uint32_t preferredBase) {
        Program p;
        p.imageBase = preferredBase;
        p.isDll = true;
        return p;
    }
    std::uint32_t Here() const { return imageBase + kText + 4 * static_cast<std::uint32_t>(code.size()); }
    // The code from here on is the export of this name.
    Program& Export(const std::string& name) {
        exports.push_back(Exp{name, Here() - imageBase});
        return *this;
    }
    Program& Op(std::uint32_t word) {
        code.push_back(word);
        return *this;
    }
    // rd = value, from a literal the code jumps over.
    Program& Load(int rd, std::uint32_t value) {
        return Op(0xE59F0000 | (rd << 12)).Op(0xEA000000).Op(value);  // ldr rd, [pc]; b +4; .word
    }
    // rd = an address in the image, from a literal the base relocations move.
    Program& LoadAddress(int rd, std::uint32_t address) {
        Load(rd, address);
        relocations.push_back(Here() - 4 - imageBase);
        return *this;
    }
    // Bytes in .data; their address.
    std::uint32_t Data(const void* bytes, std::size_t size) {
        data.resize((data.size() + 3) & ~std::size_t{3});
        std::uint32_t at = imageBase + kData + static_cast<std::uint32_t>(data.size());
        const auto* b = static_cast<const std::uint8_t*>(bytes);
        data.insert(data.end(), b, b + size);
        return at;
    }
    std::uint32_t Text(const std::u16string& text) {
        std::vector<std::uint8_t> b;
        for (char16_t ch : text + u'\0') {
            b.push_back(static_cast<std::uint8_t>(ch));
            b.push_back(static_cast<std::uint8_t>(ch >> 8));
        }
        return Data(b.data(), b.size());
    }
    // A word of .data holding an address in the image, which moves with it.
    std::uint32_t DataAddress(std::uint32_t address) {
        std::uint32_t at = Data(&address, 4);
        relocations.push_back(at - imageBase);
        return at;
    }
    int Import(const std::string& dll, const std::string& name, std::uint16_t ordinal = 0) {
        imports.push_back(Imp{dll, name, ordinal});
        return static_cast<int>(imports.size() - 1);
    }
    // Calls import i through its import address table entry.
    Program& CallImport(int i) {
        return Op(0xE59FC008)  // ldr ip, [pc, #8]
            .Op(0xE59CC000)    // ldr ip, [ip]
            .Op(0xE12FFF3C)    // blx ip
            .Op(0xEA000000)    // b over the literal
            .Op(IatEntry(i))
            .Relocated(Here() - 4);
    }
    Program& Relocated(std::uint32_t address) {
        relocations.push_back(address - imageBase);
        return *this;
    }
    // bne to an address of the code (before or after this instruction).
    Program& BranchNe(std::uint32_t target) {
        std::uint32_t offset = (target - (Here() + 8)) / 4;
        return Op(0x1A000000 | (offset & 0x00FFFFFF));
    }
    std::uint32_t CallSiteOfLastImport() const { return Here() - 12; }  // the blx

    // The import tables: one descriptor per library, then the lookup and
    // address tables, then the names. Entries are in order of Import().
    std::uint32_t IatEntry(int i) const {
        return imageBase + kIdata + IatOffset() + 4 * static_cast<std::uint32_t>(Slot(i));
    }

    std::vector<std::uint8_t> Build(std::uint16_t machine = 0x1C0, std::uint16_t subsystem = 9) const {
        std::vector<std::uint8_t> f(isDll ? 0xE00 : 0xA00, 0);
        auto u16 = [&](std::size_t at, std::uint32_t v) {
            f[at] = static_cast<std::uint8_t>(v);
            f[at + 1] = static_cast<std::uint8_t>(v >> 8);
        };
        auto u32 = [&](std::size_t at, std::uint32_t v) {
            u16(at, v & 0xFFFF);
            u16(at + 2, v >> 16);
        };
        f[0] = 'M';
        f[1] = 'Z';
        u32(0x3C, 0x80);
        u32(0x80, 0x00004550);
        std::size_t coff = 0x84, opt = coff + 20;
        u16(coff, machine);
        u16(coff + 2, isDll ? 5 : 3);
        u16(coff + 16, 224);
        u16(coff + 18, isDll ? 0x2102 : 0x0102);
        u16(opt, 0x10B);
        u32(opt + 16, entryRva);
        u32(opt + 28, imageBase);
        u32(opt + 32, 0x1000);
        u32(opt + 36, 0x200);
        u16(opt + 40, 4);
        u16(opt + 42, 20);
        u16(opt + 48, 4);
        u16(opt + 50, 20);
        u32(opt + 56, isDll ? 0x6000 : 0x4000);
        u32(opt + 60, 0x400);
        u16(opt + 68, subsystem);
        u32(opt + 72, 0x10000);
        u32(opt + 76, 0x1000);
        u32(opt + 92, 16);
        if (!imports.empty()) {
            u32(opt + 96 + 8, kIdata);
            u32(opt + 100 + 8, 0x200);
        }
        struct Sec {
            const char* name;
            std::uint32_t rva, raw, chars;
        } secs[] = {{".text", kText, 0x400, 0x60000020},   {".data", kData, 0x600, 0xC0000040},
                    {".idata", kIdata, 0x800, 0xC0000040}, {".edata", kEdata, kEdataFile, 0x40000040},
                    {".reloc", kReloc, kRelocFile, 0x42000040}};
        for (int i = 0; i < (isDll ? 5 : 3); ++i) {
            std::size_t s = opt + 224 + 40 * static_cast<std::size_t>(i);
            std::memcpy(&f[s], secs[i].name, std::strlen(secs[i].name));
            u32(s + 8, 0x200);
            u32(s + 12, secs[i].rva);
            u32(s + 16, 0x200);
            u32(s + 20, secs[i].raw);
            u32(s + 36, secs[i].chars);
        }
        for (std::size_t i = 0; i < code.size(); ++i) u32(0x400 + 4 * i, code[i]);
        std::copy(data.begin(), data.end(), f.begin() + 0x600);

        // .idata at file 0x800.
        std::vector<std::string> dlls = Dlls();
        std::size_t base = 0x800;
        std::uint32_t lookup = LookupOffset(), iat = IatOffset(), names = NamesOffset();
        std::uint32_t slot = 0;
        for (std::size_t d = 0; d < dlls.size(); ++d) {
            std::size_t desc = base + 20 * d;
            u32(desc, kIdata + lookup + 4 * slot);
            u32(desc + 16, kIdata + iat + 4 * slot);
            for (const Imp& imp : imports) {
                if (imp.dll != dlls[d]) continue;
                std::uint32_t entry;
                if (imp.name.empty()) {
                    entry = 0x80000000u | imp.ordinal;
                } else {
                    entry = kIdata + names;
                    std::memcpy(&f[base + names + 2], imp.name.c_str(), imp.name.size());
                    names += static_cast<std::uint32_t>(imp.name.size() + 4) & ~1u;
                }
                u32(base + lookup + 4 * slot, entry);
                u32(base + iat + 4 * slot, entry);
                ++slot;
            }
            ++slot;  // the zero that ends this library's tables
            u32(desc + 12, kIdata + names);
            std::memcpy(&f[base + names], dlls[d].c_str(), dlls[d].size());
            names += static_cast<std::uint32_t>(dlls[d].size() + 2) & ~1u;
        }
        if (!isDll) return f;

        // .edata: the directory, the address, name and ordinal tables, the
        // names, the DLL's own name.
        std::uint32_t n = static_cast<std::uint32_t>(exports.size());
        std::uint32_t functions = 40, nameTable = functions + 4 * n, ordinals = nameTable + 4 * n;
        std::uint32_t text = ordinals + 2 * n;
        u32(opt + 96, kEdata);
        u32(kEdataFile + 16, 1);  // the ordinal base
        u32(kEdataFile + 20, n);
        u32(kEdataFile + 24, n);
        u32(kEdataFile + 28, kEdata + functions);
        u32(kEdataFile + 32, kEdata + nameTable);
        u32(kEdataFile + 36, kEdata + ordinals);
        for (std::uint32_t i = 0; i < n; ++i) {
            u32(kEdataFile + functions + 4 * i, exports[i].rva);
            u32(kEdataFile + nameTable + 4 * i, kEdata + text);
            u16(kEdataFile + ordinals + 2 * i, i);
            std::memcpy(&f[kEdataFile + text], exports[i].name.c_str(), exports[i].name.size());
            text += static_cast<std::uint32_t>(exports[i].name.size() + 1);
        }
        u32(kEdataFile + 12, kEdata + text);
        std::memcpy(&f[kEdataFile + text], "tiny.dll", 8);
        u32(opt + 100, text + 9);

        // .reloc: a block for each page, each entry HIGHLOW (3) and its
        // offset in the page, a block padded to a word by ABSOLUTE (0).
        std::vector<std::uint32_t> sorted = relocations;
        std::sort(sorted.begin(), sorted.end());
        std::size_t at = kRelocFile;
        for (std::size_t i = 0; i < sorted.size();) {
            std::uint32_t page = sorted[i] & ~0xFFFu;
            std::size_t block = at, e = at + 8;
            for (; i < sorted.size() && (sorted[i] & ~0xFFFu) == page; ++i, e += 2)
                u16(e, 0x3000 | (sorted[i] & 0xFFF));
            if ((e - block) % 4) e += 2;
            u32(block, page);
            u32(block + 4, static_cast<std::uint32_t>(e - block));
            at = e;
        }
        u32(opt + 96 + 5 * 8, kReloc);
        u32(opt + 100 + 5 * 8, static_cast<std::uint32_t>(at - kRelocFile));
        return f;
    }
    // Where the export address table's entry i is in the file.
    static std::size_t ExportAddressAt(int i) { return kEdataFile + 40 + 4 * static_cast<std::size_t>(i); }


private:
    std::vector<std::string> Dlls() const {
        std::vector<std::string> out;
        for (const Imp& imp : imports) {
            bool seen = false;
            for (const auto& d : out) seen = seen || d == imp.dll;
            if (!seen) out.push_back(imp.dll);
        }
        return out;
    }
    int Slot(int i) const {  // the table index of import i
        std::vector<std::string> dlls = Dlls();
        int slot = 0;
        for (const auto& d : dlls) {
            for (std::size_t k = 0; k < imports.size(); ++k) {
                if (imports[k].dll != d) continue;
                if (static_cast<int>(k) == i) return slot;
                ++slot;
            }
            ++slot;
        }
        return -1;
    }
    std::uint32_t TableWords() const { return static_cast<std::uint32_t>(imports.size() + Dlls().size()); }
    std::uint32_t LookupOffset() const { return 20 * static_cast<std::uint32_t>(Dlls().size() + 1); }
    std::uint32_t IatOffset() const { return LookupOffset() + 4 * TableWords(); }
    std::uint32_t NamesOffset() const { return IatOffset() + 4 * TableWords(); }
};

}  // namespace tiny

#endif
