#include "machine.h"

#include "base/text.h"
#include "imports.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace emu {

// Served imports, by coredll export name; calls.cpp. Empty if not served.
std::function<std::uint32_t(const Call&)> ServeImport(const std::string& name);

namespace {

// The program's address space around its image (at its own base, below
// these): the guest data, the trap page and the stack, apart from each
// other so that running off one end of any of them meets unmapped memory.
constexpr std::uint32_t kPage = 0x1000;
constexpr std::uint32_t kDataBase = 0x60000000;
constexpr std::uint32_t kDataSize = 0x10000;
constexpr std::uint32_t kTrapBase = 0x60100000;
constexpr std::uint32_t kTrapSlots = kPage / 4;
// The trap page: slot 0 is the gate through which the host calls guest
// code (blx ip), slot 1 where such a call returns to, the imports from slot
// 2 on, and the last slot the emulator's end address, which nothing calls.
constexpr std::uint32_t kGate = kTrapBase;
constexpr std::uint32_t kReturnSlot = 1;
constexpr std::uint32_t kUntil = kTrapBase + kPage - 4;
constexpr std::uint32_t kStackBase = 0x60200000;
constexpr std::uint32_t kDefaultStack = 0x10000;  // Windows CE's usual reserve
constexpr std::uint32_t kMaxStack = 0x01000000;
constexpr std::uint32_t kGateInstruction = 0xE12FFF3C;  // blx ip
constexpr std::uint32_t kTrapInstruction = 0xE12FFF1E;  // bx lr: the call returns once served
constexpr std::uint32_t kMaxText = 0x8000;            // characters in one string argument
constexpr std::uint32_t kMaxBlock = 512;              // instructions in one of Unicorn's blocks

constexpr int kAllRegs[] = {UC_ARM_REG_R0,  UC_ARM_REG_R1,  UC_ARM_REG_R2,  UC_ARM_REG_R3, UC_ARM_REG_R4,
                            UC_ARM_REG_R5,  UC_ARM_REG_R6,  UC_ARM_REG_R7,  UC_ARM_REG_R8, UC_ARM_REG_R9,
                            UC_ARM_REG_R10, UC_ARM_REG_R11, UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR,
                            UC_ARM_REG_PC,  UC_ARM_REG_CPSR};
constexpr int kAllRegCount = sizeof kAllRegs / sizeof kAllRegs[0];
constexpr int kArgRegs[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3, UC_ARM_REG_SP};

// Written only when a RunProgram ends (LastRunCounts).
RunCounts g_lastCounts;

using base::Hex;

std::string Word(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}

std::uint32_t PageUp(std::uint64_t v) { return static_cast<std::uint32_t>((v + kPage - 1) / kPage * kPage); }

std::uint32_t Perms(const Section& s) {
    std::uint32_t p = UC_PROT_NONE;
    if (s.Readable()) p |= UC_PROT_READ;
    if (s.Writable()) p |= UC_PROT_WRITE;
    if (s.Executable()) p |= UC_PROT_EXEC;
    return p;
}

bool SameDll(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The host window procedures standing for the programs': a WNDPROC is a
// bare function, so each slot's thunk finds in its slot the machine that
// registered it and the guest procedure. A machine frees its slots when it
// ends; several machines hold theirs at once.
struct WindowSlot {
    Machine* machine = nullptr;
    std::uint32_t guest = 0;
};
constexpr std::size_t kWindowSlots = 32;
WindowSlot g_windowSlots[kWindowSlots];

template <std::size_t N>
LRESULT CALLBACK WindowThunk(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const WindowSlot& slot = g_windowSlots[N];
    if (!slot.machine) throw Fault("the phone called the window procedure of a program that has ended");
    return slot.machine->CallWindowProcedure(slot.guest, hwnd, msg, wParam, lParam);
}
template <std::size_t... N>
constexpr std::array<WNDPROC, sizeof...(N)> Thunks(std::index_sequence<N...>) {
    return {&WindowThunk<N>...};
}
constexpr std::array<WNDPROC, kWindowSlots> kThunks = Thunks(std::make_index_sequence<kWindowSlots>());

const char* ExceptionName(std::uint32_t intno) {
    switch (intno) {
    case 1: return "undefined instruction";
    case 2: return "software interrupt (svc)";
    case 3: return "prefetch abort";
    case 4: return "data abort";
    case 7: return "breakpoint (bkpt)";
    default: return "CPU exception";
    }
}

// Whether Unicorn ends a block of code after this ARM instruction: it
// writes the pc (a branch, bx, a load or data processing into pc) or calls
// the system. Only instructions that certainly end one are named, so that
// the search for a faulting instruction never stops short of it.
bool EndsBlock(std::uint32_t insn) {
    if (insn >> 28 == 0xF) return (insn & 0x0E000000) == 0x0A000000;  // blx to an immediate
    if ((insn & 0x0E000000) == 0x0A000000) return true;               // b, bl
    if ((insn & 0x0FFFFFD0) == 0x012FFF10) return true;               // bx, blx to a register
    if ((insn & 0x0F000000) == 0x0F000000) return true;               // svc
    if ((insn & 0x0E108000) == 0x08108000) return true;               // ldm with pc
    if ((insn & 0x0C10F000) == 0x0410F000) return true;               // ldr pc
    bool dataProcessing = (insn & 0x0C000000) == 0 && (insn & 0x0E000090) != 0x00000090;
    std::uint32_t op = (insn >> 21) & 0xF;
    return dataProcessing && (insn & 0x0000F000) == 0x0000F000 && (op < 8 || op > 11);
}

const char* AccessName(uc_mem_type type) {
    switch (type) {
    case UC_MEM_WRITE:
    case UC_MEM_WRITE_UNMAPPED:
    case UC_MEM_WRITE_PROT: return "write";
    default: return "read";
    }
}

}  // namespace

// ---- Calls -----------------------------------------------------------------------

std::uint32_t Call::Reg(int i) const {
    if (!(read_ & 1u << i)) {
        regs_[i] = m.Reg(kArgRegs[i]);
        read_ |= 1u << i;
    }
    return regs_[i];
}

std::uint32_t Call::U(int i) const {
    if (i < 4) return Reg(i);
    std::uint32_t at = Reg(4) + 4u * static_cast<std::uint32_t>(i - 4);
    return m.ReadWord(at, *this, "argument " + std::to_string(i + 1) + " on the stack");
}

void Call::Fail(const std::string& what) const {
    throw Fault(m.Path() + ": " + name + " called from " + Hex(returnTo - 4) + ": " + what);
}

LPCWSTR GuestText::get() const {
    if (raw < 0x10000) return reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(raw));
    return text.c_str();
}

// ---- The machine -------------------------------------------------------------------

Machine::Machine(const PeImage& image, std::uint32_t base) : path_(image.path), base_(base) {
    if (std::uint64_t{base} + image.imageSize > kDataBase || base < kPage || base % kPage)
        throw Fault(path_ + ": the image at " + Hex(base) + ", " + Hex(image.imageSize) +
                    " bytes, does not fit below the phone's own memory at " + Hex(kDataBase));
    if (base != image.imageBase && image.relocationsStripped)
        throw Fault(path_ + ": cannot be moved from its image base " + Hex(image.imageBase) + " to " + Hex(base) +
                    ": its base relocations were stripped");
    if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc_) != UC_ERR_OK) throw Fault("Unicorn cannot open an ARM CPU");
    try {
        // The phones' CPU: an XScale (ARMv5TE). Instructions of later
        // architectures are undefined on it, and so they stop the run here.
        if (uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_PXA270) != UC_ERR_OK)
            throw Fault("Unicorn has no PXA270 CPU model");

        // Handed out by index while calls are served: never moved.
        traps_.reserve(kTrapSlots);
        traps_.push_back(Trap{"the gate into the program", {}, nullptr});
        traps_.push_back(Trap{"the return to the phone", {}, nullptr});

        auto allocate = [this](std::uint32_t size) {
            auto* p = static_cast<std::uint8_t*>(std::aligned_alloc(kPage, size));
            if (!p) throw Fault(path_ + ": no memory for the emulated phone");
            std::memset(p, 0, size);
            memory_.emplace_back(p, &std::free);
            return p;
        };
        std::uint32_t imageBytes = PageUp(image.imageSize);
        std::uint8_t* img = allocate(imageBytes);
        std::memcpy(img, image.memory.data(), image.memory.size());
        ApplyRelocations(image, base, img);
        for (const Import& imp : image.imports) {
            Trap t{imp.Text(), {}, nullptr};
            if (SameDll(imp.dll, KLAVOR_EMU_IMPORT_DLL) && !imp.name.empty()) t.serve = ServeImport(imp.name);
            std::uint32_t addr = AddTrap(std::move(t));
            if (imp.iatRva > image.imageSize - 4)
                throw Fault(path_ + ": the import address of " + imp.Text() + " lies outside the image");
            std::memcpy(img + imp.iatRva, &addr, 4);
        }

        MapRegion(base, PageUp(image.headersSize), UC_PROT_READ, "the image's headers", img);
        for (const Section& s : image.sections)
            MapRegion(base + s.rva, PageUp(s.size), Perms(s), "the image's " + s.name + " section", img + s.rva);
        data_ = allocate(kDataSize);
        MapRegion(kDataBase, kDataSize, UC_PROT_READ | UC_PROT_WRITE, "the guest data", data_);
        std::uint8_t* trapPage = allocate(kPage);
        for (std::uint32_t i = 0; i < kTrapSlots; ++i)
            std::memcpy(trapPage + 4 * i, i == 0 ? &kGateInstruction : &kTrapInstruction, 4);
        MapRegion(kTrapBase, kPage, UC_PROT_READ | UC_PROT_EXEC, "the phone's call traps", trapPage);
        // A DLL's code runs on the thread of the program that loaded it: its
        // own header's reserve means nothing.
        std::uint32_t stack = image.stackReserve && !image.dll ? PageUp(image.stackReserve) : kDefaultStack;
        if (stack > kMaxStack) stack = kMaxStack;
        MapRegion(kStackBase, stack, UC_PROT_READ | UC_PROT_WRITE, "the stack", allocate(stack));
        stackTop_ = kStackBase + stack;

        uc_hook h;
        // No code hook over the image: it would cost a call at every
        // instruction. The trap page's hook, past the gate, finds the calls;
        // the access hook faults unaligned words and halfwords, as the
        // phones' XScale does under Windows CE (the alignment bit of its
        // control register, which Unicorn 2.0's CPU does not honour).
        if (uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(&OnTrap), this, kGate + 4,
                        kTrapBase + kPage - 1) != UC_ERR_OK ||
            uc_hook_add(uc_, &h, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&OnAccess), this, 1,
                        0) != UC_ERR_OK ||
            uc_hook_add(uc_, &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&OnBadAccess), this, 1, 0) !=
                UC_ERR_OK ||
            uc_hook_add(uc_, &h, UC_HOOK_INTR, reinterpret_cast<void*>(&OnInterrupt), this, 1, 0) != UC_ERR_OK)
            throw Fault("Unicorn refused a hook");
        emulator_ = std::make_unique<sim::Fiber>(&EmulatorMain, this);
    } catch (...) {
        uc_close(uc_);
        throw;
    }
}

Machine::~Machine() {
    // A run that ended inside a call (thrown out of a waiting call, or by
    // ExitThread) leaves the emulator waiting in the trap's hook: let it
    // stop, so that its frames unwind as Unicorn's own.
    if (emulator_->Started() && !emulator_->Ended()) {
        stopping_ = true;
        emulator_->Resume();
    }
    emulator_.reset();
    uc_close(uc_);
    for (WindowSlot& slot : g_windowSlots)
        if (slot.machine == this) slot = WindowSlot{};
}

std::uint32_t Machine::AddTrap(Trap trap) {
    if (traps_.size() >= kTrapSlots - 1) throw Fault(path_ + ": more imports than the phone's trap page holds");
    traps_.push_back(std::move(trap));
    return kTrapBase + 4u * static_cast<std::uint32_t>(traps_.size() - 1);
}

void Machine::MapRegion(std::uint32_t begin, std::uint32_t size, std::uint32_t perms, const std::string& name,
                        std::uint8_t* host) {
    if (!size) return;
    if (uc_mem_map_ptr(uc_, begin, size, perms, host) != UC_ERR_OK)
        throw Fault(path_ + ": cannot map " + name + " at " + Hex(begin));
    regions_.push_back(Region{begin, begin + size, perms, name, host});
}

const Region* Machine::RegionOf(std::uint32_t addr) const {
    // Most of what the phone reads and writes is on the stack.
    if (lastRegion_ && addr >= lastRegion_->begin && addr < lastRegion_->end) return lastRegion_;
    for (const Region& r : regions_)
        if (addr >= r.begin && addr < r.end) return lastRegion_ = &r;
    return nullptr;
}

std::string Machine::Where(std::uint32_t addr) const {
    if (const Region* r = RegionOf(addr)) return "in " + r->name;
    if (addr < kStackBase && addr >= kStackBase - kPage * 16) return "just below the stack (the stack is full)";
    return "outside the image, the stack and the guest data";
}

std::string Machine::LastCall() const {
    if (lastTrap_ < 0) return "before the program's first call of the phone";
    return "after the program's last call of the phone, " + traps_[static_cast<std::size_t>(lastTrap_)].name +
           " from " + Hex(lastCaller_ - 4);
}

void Machine::Check(std::uint32_t addr, std::uint32_t size, std::uint32_t perm, const Call& c,
                    const std::string& what) const {
    std::uint64_t at = addr, end = std::uint64_t{addr} + size;
    const char* access = perm == UC_PROT_WRITE ? "write" : "read";
    while (at < end) {
        const Region* r = RegionOf(static_cast<std::uint32_t>(at));
        if (!r)
            c.Fail(what + ": " + std::to_string(size) + " bytes at " + Hex(addr) + " reach " + Hex(at) + ", " +
                   Where(static_cast<std::uint32_t>(at)));
        if (!(r->perms & perm))
            c.Fail(what + ": the program passed " + Hex(addr) + ", in " + r->name + ", which it may not " + access);
        at = r->end;
    }
}

void Machine::Read(std::uint32_t addr, void* out, std::uint32_t size, const Call& c, const std::string& what) {
    Check(addr, size, UC_PROT_READ, c, what);
    auto* to = static_cast<std::uint8_t*>(out);
    while (size) {
        const Region* r = RegionOf(addr);
        std::uint32_t n = std::min(size, r->end - addr);
        std::memcpy(to, r->host + (addr - r->begin), n);
        to += n, addr += n, size -= n;
    }
}

void Machine::Write(std::uint32_t addr, const void* data, std::uint32_t size, const Call& c,
                    const std::string& what) {
    Check(addr, size, UC_PROT_WRITE, c, what);
    const auto* from = static_cast<const std::uint8_t*>(data);
    while (size) {
        const Region* r = RegionOf(addr);
        std::uint32_t n = std::min(size, r->end - addr);
        // Writable code would hold translations Unicorn must drop.
        if (r->perms & UC_PROT_EXEC) {
            if (uc_mem_write(uc_, addr, from, n) != UC_ERR_OK) c.Fail(what + ": cannot write " + Hex(addr));
        } else {
            std::memcpy(r->host + (addr - r->begin), from, n);
        }
        from += n, addr += n, size -= n;
    }
}

std::uint32_t Machine::ReadWord(std::uint32_t addr, const Call& c, const std::string& what) {
    std::uint8_t b[4];
    Read(addr, b, 4, c, what);
    return static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16) | static_cast<std::uint32_t>(b[3]) << 24;
}

void Machine::WriteWord(std::uint32_t addr, std::uint32_t v, const Call& c, const std::string& what) {
    std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    Write(addr, b, 4, c, what);
}

GuestText Machine::Text(std::uint32_t addr, const Call& c, const std::string& what) {
    GuestText t;
    t.raw = addr;
    if (addr < 0x10000) return t;  // NULL or an integer resource
    for (std::uint32_t i = 0;; ++i) {
        if (i == kMaxText) c.Fail(what + ": the string at " + Hex(addr) + " has no end");
        std::uint8_t b[2];
        Read(addr + 2 * i, b, 2, c, what);
        auto ch = static_cast<char16_t>(b[0] | b[1] << 8);
        if (!ch) return t;
        t.text += ch;
    }
}

std::uint32_t Machine::Allocate(const void* data, std::uint32_t size) {
    std::uint32_t at = (dataUsed_ + 7) & ~7u;
    if (at + size > kDataSize || at + size < at) throw Fault(path_ + ": the phone's guest data area is full");
    dataUsed_ = at + size;
    if (size) std::memcpy(data_ + at, data, size);
    return kDataBase + at;
}

std::uint32_t Machine::Reg(int reg) const {
    std::uint32_t v = 0;
    uc_reg_read(uc_, reg, &v);
    return v;
}

void Machine::SetReg(int reg, std::uint32_t v) { uc_reg_write(uc_, reg, &v); }

Machine::Registers Machine::ReadRegisters() const {
    Registers at{};
    void* ptrs[kAllRegCount];
    for (int i = 0; i < 16; ++i) ptrs[i] = &at.r[i];
    ptrs[16] = &at.cpsr;
    uc_reg_read_batch(uc_, const_cast<int*>(kAllRegs), ptrs, kAllRegCount);
    return at;
}

std::uint32_t Machine::CodeWord(std::uint32_t addr) const {
    std::uint32_t word = 0;
    if (const Region* r = RegionOf(addr))
        if (addr + 4 <= r->end) std::memcpy(&word, r->host + (addr - r->begin), 4);
    return word;
}

std::uint32_t Machine::Handle(const void* h, const Call& c) const {
    auto v = reinterpret_cast<std::uintptr_t>(h);
    if (v > 0xFFFFFFFFu) c.Fail("the phone's handle " + Hex(v) + " does not fit the program's 32 bits");
    return static_cast<std::uint32_t>(v);
}

WNDPROC Machine::WindowProcedure(std::uint32_t guest, const Call& c) {
    if (!guest) return nullptr;
    std::size_t free = kWindowSlots;
    for (std::size_t i = 0; i < kWindowSlots; ++i) {
        if (g_windowSlots[i].machine == this && g_windowSlots[i].guest == guest) return kThunks[i];
        if (!g_windowSlots[i].machine && free == kWindowSlots) free = i;
    }
    if (free == kWindowSlots)
        c.Fail("more window procedures than the emulated phone keeps for all its programs (" +
               std::to_string(kWindowSlots) + ")");
    g_windowSlots[free] = WindowSlot{this, guest};
    return kThunks[free];
}

LRESULT Machine::CallWindowProcedure(std::uint32_t guest, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto h = reinterpret_cast<std::uintptr_t>(hwnd);
    if (h > 0xFFFFFFFFu) throw Fault(path_ + ": the phone's window handle " + Hex(h) + " does not fit 32 bits");
    // The guest's WPARAM and LPARAM are 32-bit words; LRESULT is a LONG.
    std::uint32_t r = CallGuest(guest,
                                {static_cast<std::uint32_t>(h), msg, static_cast<std::uint32_t>(wParam),
                                 static_cast<std::uint32_t>(lParam)},
                                "the window procedure");
    return static_cast<LRESULT>(static_cast<std::int32_t>(r));
}

std::uint32_t Machine::HostFunctionTrap(const std::string& name, const void* fn,
                                        std::function<std::uint32_t(const Call&)> serve) {
    for (std::size_t i = kReturnSlot + 1; i < traps_.size(); ++i)
        if (traps_[i].hostFunction == fn && traps_[i].name == name)
            return kTrapBase + 4u * static_cast<std::uint32_t>(i);
    return AddTrap(Trap{name, std::move(serve), fn});
}

// ---- Running guest code ---------------------------------------------------------

// Below the caller's stack pointer the stack is free: a call from inside a
// served call nests on the same stack, as on the phone.
std::uint32_t Machine::FreeStack() const { return (depth_ == 0 ? stackTop_ : Reg(UC_ARM_REG_SP)) & ~7u; }

// Below top, where the stack pointer is free, are size bytes of the stack.
std::uint32_t Machine::Below(std::uint32_t top, std::uint64_t size, const char* what) const {
    if (top < kStackBase || top > stackTop_ || top - kStackBase < size)
        throw Fault(path_ + ": " + what + ": no room on the stack for its arguments at " + Hex(top) + ", " +
                    LastCall());
    return static_cast<std::uint32_t>(top - size);
}

void Machine::PutOnStack(std::uint32_t addr, const void* data, std::uint32_t size) {
    const Region* r = RegionOf(stackTop_ - 1);
    std::memcpy(r->host + (addr - r->begin), data, size);
}

std::uint32_t Machine::CallGuest(std::uint32_t address, std::initializer_list<std::uint32_t> args,
                                 const char* what) {
    return Enter(address, args.begin(), args.size(), FreeStack(), what);
}

std::uint32_t Machine::CallGuest(std::uint32_t address, const std::vector<Arg>& args, const char* what) {
    std::uint32_t top = FreeStack();
    std::vector<std::uint32_t> words;
    for (const Arg& a : args) {
        if (!a.IsText()) {
            words.push_back(a.Word());
            continue;
        }
        std::vector<std::uint8_t> bytes;
        for (char16_t ch : a.String() + u'\0') {
            bytes.push_back(static_cast<std::uint8_t>(ch));
            bytes.push_back(static_cast<std::uint8_t>(ch >> 8));
        }
        auto size = static_cast<std::uint32_t>(bytes.size());
        top = Below(top, size, what) & ~7u;
        PutOnStack(top, bytes.data(), size);
        words.push_back(top);
    }
    return Enter(address, words.data(), words.size(), top, what);
}

std::uint32_t Machine::Enter(std::uint32_t address, const std::uint32_t* args, std::size_t count, std::uint32_t top,
                             const char* what) {
    if (address & 1) throw Fault(path_ + ": " + what + " at " + Hex(address) + " is Thumb code; the program is ARM code");
    // A fault stops the emulator for good, as it ends the process on the phone.
    if (emulator_->Ended()) throw Fault(path_ + ": " + what + " called after the code stopped at a fault");
    // lr, which the waiting trap's bx lr returns by; the rest the guest
    // code keeps or the caller may not rely on.
    std::uint32_t lr = Reg(UC_ARM_REG_LR);
    // From the fifth on, the arguments are on the stack, the fifth at sp.
    std::size_t onStack = count > 4 ? count - 4 : 0;
    std::uint32_t sp = top;
    if (onStack) {
        sp = Below(top, 4 * std::uint64_t{onStack}, what) & ~7u;
        PutOnStack(sp, args + 4, 4 * static_cast<std::uint32_t>(onStack));
    }
    std::uint32_t regs[7] = {0, 0, 0, 0, address, sp, kGate};
    for (std::size_t i = 0; i < count && i < 4; ++i) regs[i] = args[i];
    static const int callRegs[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3,
                                   UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR};
    void* regPtrs[7];
    for (int i = 0; i < 7; ++i) regPtrs[i] = &regs[i];
    uc_reg_write_batch(uc_, const_cast<int*>(callRegs), regPtrs, 7);

    struct Depth {
        int& d;
        explicit Depth(int& depth) : d(depth) { ++d; }
        ~Depth() { --d; }
    } depth(depth_);
    // The guest goes on from where it waits (a trap's bx lr, now to the
    // gate) or, the first time, starts at the gate; the gate calls ip and
    // returns to the return slot. Calls of the phone on the way are served
    // here, each perhaps calling into the guest again.
    for (;;) {
        Continue();
        if (emulator_->Ended()) FailRun();
        if (trapSlot_ != kReturnSlot) {
            Serve(trapSlot_);
            continue;
        }
        std::uint32_t result = Reg(UC_ARM_REG_R0);
        if (Reg(UC_ARM_REG_SP) != sp)
            throw Fault(path_ + ": " + what + " returned with its stack pointer at " + Hex(Reg(UC_ARM_REG_SP)) +
                        ", not " + Hex(sp) + ", " + LastCall());
        SetReg(UC_ARM_REG_LR, lr);
        return result;
    }
}

void Machine::Continue() { emulator_->Resume(); }

// On the emulator's stack: the one run of the program, until it ends.
void Machine::EmulatorMain(void* self) {
    auto* m = static_cast<Machine*>(self);
    m->endError_ = uc_emu_start(m->uc_, kGate, kUntil, 0, 0);
}

void Machine::Serve(std::uint32_t slot) {
    const Trap& trap = traps_[slot];  // traps_ never moves
    std::uint32_t lr = Reg(UC_ARM_REG_LR);
    Call c{*this, trap.name, lr};
    lastTrap_ = static_cast<int>(slot);
    lastCaller_ = lr;
    ++counts_.calls;
    if (!trap.serve) c.Fail("the emulated phone does not provide this import");
    SetReg(UC_ARM_REG_R0, trap.serve(c));
    if (lr & 1) c.Fail("it returns to Thumb code at " + Hex(lr) + "; the program is ARM code");
}

// The instructions of the faulting block that, run alone on the registers
// the fault left, make the same access: the faulting one among them.
// Unicorn names only the block's start; running the block's instructions
// one by one costs nothing until a fault.
std::vector<std::uint32_t> Machine::InstructionsMaking(const Access& fault, const Registers& at) {
    std::vector<std::uint32_t> found;
    const Region* code = RegionOf(at.r[15]);
    if (!code || !(code->perms & UC_PROT_EXEC)) return found;
    // Unicorn's blocks already translated would run on past one step.
    std::uint64_t end = std::min<std::uint64_t>(code->end, std::uint64_t{at.r[15]} + 4 * kMaxBlock);
    uc_ctl_remove_cache(uc_, std::uint64_t{at.r[15]}, end);
    probing_ = true;
    probeFor_ = fault;
    for (std::uint32_t pc = at.r[15], n = 0; pc + 4 <= code->end && n < kMaxBlock; pc += 4, ++n) {
        for (int i = 0; i < 15; ++i) SetReg(kAllRegs[i], at.r[i]);
        SetReg(UC_ARM_REG_CPSR, at.cpsr);
        probeHit_ = false;
        uc_emu_start(uc_, pc, kUntil, 0, 1);
        if (probeHit_) found.push_back(pc);
        if (EndsBlock(CodeWord(pc))) break;
    }
    probing_ = false;
    return found;
}

std::string Machine::PcOf(const Access& fault, const Registers& at) {
    std::vector<std::uint32_t> pcs = InstructionsMaking(fault, at);
    if (pcs.empty()) return "in the block of code at pc " + Hex(at.r[15]);
    std::string out = "at pc " + Hex(pcs[0]);
    if (misaligned_) out = "by the instruction " + Word(CodeWord(pcs[0])) + " " + out;
    for (std::size_t i = 1; i < pcs.size(); ++i) out += (i + 1 == pcs.size() ? " or " : ", ") + Hex(pcs[i]);
    if (pcs.size() > 1) out += " (the emulator cannot tell which)";
    return out;
}

void Machine::FailRun() {
    std::string what;
    std::string pc;
    if (misaligned_ || bad_) {
        const Access& a = badAccess_;
        std::string size = std::to_string(a.size) + " bytes";
        std::string at = Hex(a.address);
        Registers regs = misaligned_ ? misalignedAt_ : ReadRegisters();
        if (misaligned_) {
            what = std::string("an unaligned ") + AccessName(a.type) + " of " + size + " at " + at + " " +
                   Where(a.address) + " (the phones' CPU faults on it)";
        } else {
            switch (a.type) {
            case UC_MEM_READ_UNMAPPED: what = "a read of " + size + " at " + at + ", " + Where(a.address); break;
            case UC_MEM_WRITE_UNMAPPED: what = "a write of " + size + " at " + at + ", " + Where(a.address); break;
            case UC_MEM_FETCH_UNMAPPED: what = "a jump to " + at + ", " + Where(a.address); break;
            case UC_MEM_WRITE_PROT: what = "a write of " + size + " at " + at + " " + Where(a.address) + ", which is read-only"; break;
            case UC_MEM_READ_PROT: what = "a read of " + size + " at " + at + " " + Where(a.address) + ", which is not readable"; break;
            case UC_MEM_FETCH_PROT: what = "code run at " + at + " " + Where(a.address) + ", which is not code"; break;
            default: what = "a bad access at " + at; break;
            }
        }
        // A fetch faults where it would have run; a data access somewhere
        // in the block Unicorn names.
        bool fetch = a.type == UC_MEM_FETCH_UNMAPPED || a.type == UC_MEM_FETCH_PROT;
        pc = fetch ? "at pc " + at : PcOf(a, regs);
    } else if (endError_ == UC_ERR_INSN_INVALID) {
        std::uint32_t at = Reg(UC_ARM_REG_PC);
        what = "an undefined instruction (" + Word(CodeWord(at)) + ") for the phones' CPU (XScale PXA270, ARMv5TE)";
        pc = "at pc " + Hex(at);
    } else if (interrupted_) {
        what = std::string("a ") + ExceptionName(interrupt_) + " (exception " + std::to_string(interrupt_) + ")";
        pc = "at pc " + Hex(interruptPc_);
    } else if (endError_ != UC_ERR_OK) {
        what = std::string("the emulator failed: ") + uc_strerror(endError_);
        pc = "at pc " + Hex(Reg(UC_ARM_REG_PC));
    } else {
        what = "the emulator stopped for no reason it gave";
        pc = "at pc " + Hex(Reg(UC_ARM_REG_PC));
    }
    throw Fault(path_ + ": " + what + " " + pc + ", " + LastCall());
}

// ---- Hooks: on the emulator's stack, inside Unicorn; they never throw ----------------

void Machine::OnTrap(uc_engine* uc, std::uint64_t address, std::uint32_t, void* self) {
    auto* m = static_cast<Machine*>(self);
    if (m->probing_) {
        uc_emu_stop(uc);
        return;
    }
    m->trapSlot_ = static_cast<std::uint32_t>((address - kTrapBase) / 4);
    m->emulator_->Yield();
    if (m->stopping_) uc_emu_stop(uc);
}

void Machine::OnAccess(uc_engine* uc, uc_mem_type type, std::uint64_t address, int size, std::int64_t,
                       void* self) {
    auto* m = static_cast<Machine*>(self);
    ++(type == UC_MEM_WRITE ? m->counts_.stores : m->counts_.loads);
    if (size <= 1 || !(address & static_cast<std::uint64_t>(size - 1))) return;
    Access a{type, static_cast<std::uint32_t>(address), size};
    if (m->probing_) {
        m->probeHit_ |= a == m->probeFor_;
        return;
    }
    if (m->misaligned_ || m->bad_) return;
    // The registers as the faulting instruction found them: the rest of
    // its block still runs before the emulator stops.
    m->misaligned_ = true;
    m->badAccess_ = a;
    m->misalignedAt_ = m->ReadRegisters();
    uc_emu_stop(uc);
}

bool Machine::OnBadAccess(uc_engine*, uc_mem_type type, std::uint64_t address, int size, std::int64_t,
                          void* self) {
    auto* m = static_cast<Machine*>(self);
    Access a{type, static_cast<std::uint32_t>(address), size};
    if (m->probing_) {
        m->probeHit_ |= a == m->probeFor_;
        return false;
    }
    if (!m->bad_ && !m->misaligned_) {
        m->bad_ = true;
        m->badAccess_ = a;
    }
    return false;  // not handled: the run stops
}

void Machine::OnInterrupt(uc_engine* uc, std::uint32_t intno, void* self) {
    auto* m = static_cast<Machine*>(self);
    if (!m->probing_ && !m->interrupted_) {
        m->interrupted_ = true;
        m->interrupt_ = intno;
        uc_reg_read(uc, UC_ARM_REG_PC, &m->interruptPc_);
    }
    uc_emu_stop(uc);
}

// ---- Starting a program --------------------------------------------------------------

int RunProgram(const PeImage& image, HINSTANCE instance, const std::u16string& commandLine, int show) {
    return RunProgram(image, instance, commandLine, show, image.imageBase);
}

int RunProgram(const PeImage& image, HINSTANCE instance, const std::u16string& commandLine, int show,
               std::uint32_t base) {
    if (image.dll) throw Fault(image.path + ": a DLL, not a program (its file header says IMAGE_FILE_DLL)");
    Machine m(image, base);
    // However the run ends: normally, by ExitThread, or thrown out of a call.
    struct Record {
        const Machine& m;
        ~Record() { g_lastCounts = m.Counts(); }
    } record{m};
    auto inst = reinterpret_cast<std::uintptr_t>(instance);
    if (inst > 0xFFFFFFFFu) throw Fault(image.path + ": the phone's instance handle does not fit 32 bits");
    std::u16string line = commandLine + u'\0';
    std::uint32_t cmd = m.Allocate(line.data(), static_cast<std::uint32_t>(line.size() * 2));
    std::uint32_t code;
    try {
        // The entry may return the exit code or end the thread with it.
        code = m.CallGuest(base + image.entryRva,
                           {static_cast<std::uint32_t>(inst), 0, cmd, static_cast<std::uint32_t>(show)},
                           "the entry point");
    } catch (const ProgramExit& exit) {
        code = exit.code;
    }
    return static_cast<int>(code);
}

RunCounts LastRunCounts() { return g_lastCounts; }

std::vector<std::string> ServedImports() {
#define KLAVOR_EMU_NAME(name) #name,
    return {KLAVOR_EMU_IMPORTS(KLAVOR_EMU_NAME)};
#undef KLAVOR_EMU_NAME
}

}  // namespace emu
