// Hand-made Windows CE ARM executables for the loader's tests: a few ARM
// instructions, imports by name or ordinal, and headers that can be spoilt.
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
constexpr int kSp = 13;

constexpr std::uint32_t kImageBase = 0x10000;
constexpr std::uint32_t kText = 0x1000, kData = 0x2000, kIdata = 0x3000;

struct Program {
    std::vector<std::uint32_t> code;
    struct Imp {
        std::string dll, name;
        std::uint16_t ordinal;
    };
    std::vector<Imp> imports;
    std::vector<std::uint8_t> data;  // the start of .data

    std::uint32_t Here() const { return kImageBase + kText + 4 * static_cast<std::uint32_t>(code.size()); }
    Program& Op(std::uint32_t word) {
        code.push_back(word);
        return *this;
    }
    // rd = value, from a literal the code jumps over.
    Program& Load(int rd, std::uint32_t value) {
        return Op(0xE59F0000 | (rd << 12)).Op(0xEA000000).Op(value);  // ldr rd, [pc]; b +4; .word
    }
    // Bytes in .data; their address.
    std::uint32_t Data(const void* bytes, std::size_t size) {
        data.resize((data.size() + 3) & ~std::size_t{3});
        std::uint32_t at = kImageBase + kData + static_cast<std::uint32_t>(data.size());
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
            .Op(IatEntry(i));
    }
    std::uint32_t CallSiteOfLastImport() const { return Here() - 12; }  // the blx

    // The import tables: one descriptor per library, then the lookup and
    // address tables, then the names. Entries are in order of Import().
    std::uint32_t IatEntry(int i) const { return kImageBase + kIdata + IatOffset() + 4 * static_cast<std::uint32_t>(Slot(i)); }

    std::vector<std::uint8_t> Build(std::uint16_t machine = 0x1C0, std::uint16_t subsystem = 9) const {
        std::vector<std::uint8_t> f(0xA00, 0);
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
        u16(coff + 2, 3);
        u16(coff + 16, 224);
        u16(coff + 18, 0x0102);
        u16(opt, 0x10B);
        u32(opt + 16, kText);  // entry
        u32(opt + 28, kImageBase);
        u32(opt + 32, 0x1000);
        u32(opt + 36, 0x200);
        u16(opt + 40, 4);
        u16(opt + 42, 20);
        u16(opt + 48, 4);
        u16(opt + 50, 20);
        u32(opt + 56, 0x4000);
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
        } secs[] = {{".text", kText, 0x400, 0x60000020}, {".data", kData, 0x600, 0xC0000040},
                    {".idata", kIdata, 0x800, 0xC0000040}};
        for (int i = 0; i < 3; ++i) {
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
        return f;
    }

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
