// The emulated ARM CPU with the program's address space, and the way calls
// cross between guest code and host code.
//
// The emulator is started once per program, on a stack of its own (see
// fiber.h), and runs until the program ends. Every import points at its
// own trap address; the code hook on the trap page hands the call to the
// host's stack, which serves it and lets the guest go on at the trap's
// `bx lr`, with no stop of the emulator. A call from the host into guest
// code (WinMain, the window procedure) goes through a gate on the trap page
// (`blx ip`) that returns to a trap of its own: the guest's stack carries
// the nesting, the host's frames wait on theirs, and a C++ exception
// (sim::Halted, Fault) never crosses Unicorn's frames.
#ifndef KLAVOR_EMU_MACHINE_H
#define KLAVOR_EMU_MACHINE_H

#include <windows.h>
#include <unicorn/unicorn.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "emu.h"
#include "platform/sim/fiber.h"

namespace emu {

class Machine;

// Thrown by ExitThread on the program's only thread: the process ends
// with this code, from however deep in its calls.
struct ProgramExit {
    std::uint32_t code;
};

// One trapped call, as its handler sees it.
struct Call {
    Call(Machine& machine, const std::string& trapName, std::uint32_t lr) : m(machine), name(trapName), returnTo(lr) {}
    Machine& m;
    const std::string& name;  // what the trap stands for, e.g. "COREDLL.dll!GetMessageW"
    std::uint32_t returnTo;   // the caller's lr

    std::uint32_t U(int i) const;  // argument word i: r0-r3, then the stack; read once each
    std::int32_t I(int i) const { return static_cast<std::int32_t>(U(i)); }
    [[noreturn]] void Fail(const std::string& what) const;

private:
    mutable std::uint32_t regs_[5] = {};  // r0-r3, sp
    mutable unsigned read_ = 0;           // which of them are read
    std::uint32_t Reg(int i) const;
};

// A string argument as the host call takes it: NULL, an integer resource
// (below 0x10000) passed as it is, or the UTF-16 text copied from guest memory.
struct GuestText {
    std::uint32_t raw = 0;
    std::u16string text;
    LPCWSTR get() const;
};

// Guest memory: the image's sections, the stack, the guest data area and
// the trap page, each with the access the program has to it, held in host
// memory that the host reads and writes directly.
struct Region {
    std::uint32_t begin, end;
    std::uint32_t perms;  // UC_PROT_*
    std::string name;
    std::uint8_t* host;   // the bytes of begin
};

// A guest data access, as Unicorn reports it.
struct Access {
    uc_mem_type type = UC_MEM_READ;
    std::uint32_t address = 0;
    int size = 0;
    bool operator==(const Access& o) const { return type == o.type && address == o.address && size == o.size; }
};

class Machine {
public:
    // The image mapped at base, moved there by its base relocations if that
    // is not its own image base. Any number of machines may exist at once,
    // each with its own address space and emulator, and run interleaved:
    // each is called only from the host stack that runs its program, which
    // may itself be a fiber switched out and in while the machine waits in
    // a call of the phone.
    Machine(const PeImage& image, std::uint32_t base);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Runs guest code at address with word arguments (r0-r3, then the
    // stack) until it returns; the result is r0. The guest code keeps
    // r4-r11 and sp, as the calling standard has it (a return with sp
    // elsewhere stops the run), and lr is as it was.
    std::uint32_t CallGuest(std::uint32_t address, std::initializer_list<std::uint32_t> args, const char* what);
    // The same with strings among the arguments: each is placed on the
    // guest's stack, above the arguments, for the duration of the call.
    std::uint32_t CallGuest(std::uint32_t address, const std::vector<Arg>& args, const char* what);

    // Guest memory as the program may use it: a read needs read access, a
    // write needs write access, else the call fails naming what it was for.
    void Read(std::uint32_t addr, void* out, std::uint32_t size, const Call& c, const std::string& what);
    void Write(std::uint32_t addr, const void* data, std::uint32_t size, const Call& c, const std::string& what);
    // Fails unless the program may access all of [addr, addr + size) so
    // (perm: UC_PROT_READ or UC_PROT_WRITE).
    void Check(std::uint32_t addr, std::uint32_t size, std::uint32_t perm, const Call& c,
               const std::string& what) const;
    std::uint32_t ReadWord(std::uint32_t addr, const Call& c, const std::string& what);
    void WriteWord(std::uint32_t addr, std::uint32_t v, const Call& c, const std::string& what);
    GuestText Text(std::uint32_t addr, const Call& c, const std::string& what);
    // Bytes in the guest data area, for what the phone hands the program.
    std::uint32_t Allocate(const void* data, std::uint32_t size);

    std::uint32_t Reg(int reg) const;
    void SetReg(int reg, std::uint32_t v);

    // A host value the program gets as a 32-bit word (a handle).
    std::uint32_t Handle(const void* h, const Call& c) const;

    // The window procedure at a guest address, as a host WNDPROC that calls
    // it on this machine.
    WNDPROC WindowProcedure(std::uint32_t guest, const Call& c);
    LRESULT CallWindowProcedure(std::uint32_t guest, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    // A trap address for a host function the phone handed out (the result
    // of GetProcAddressW), served by serve.
    std::uint32_t HostFunctionTrap(const std::string& name, const void* fn,
                                   std::function<std::uint32_t(const Call&)> serve);

    const std::string& Path() const { return path_; }
    std::uint32_t Base() const { return base_; }
    // The program's own data accesses and calls of the phone so far.
    const RunCounts& Counts() const { return counts_; }

private:
    struct Trap {
        std::string name;
        std::function<std::uint32_t(const Call&)> serve;  // empty: not served
        const void* hostFunction = nullptr;
    };
    // The registers as a fault found them; pc is where the faulting block began.
    struct Registers {
        std::uint32_t r[16];
        std::uint32_t cpsr;
    };

    std::uint32_t AddTrap(Trap trap);
    std::uint32_t FreeStack() const;
    std::uint32_t Below(std::uint32_t top, std::uint64_t size, const char* what) const;
    void PutOnStack(std::uint32_t addr, const void* data, std::uint32_t size);
    std::uint32_t Enter(std::uint32_t address, const std::uint32_t* args, std::size_t count, std::uint32_t top,
                        const char* what);
    void MapRegion(std::uint32_t begin, std::uint32_t size, std::uint32_t perms, const std::string& name,
                   std::uint8_t* host);
    const Region* RegionOf(std::uint32_t addr) const;
    void Continue();
    void Serve(std::uint32_t slot);
    [[noreturn]] void FailRun();
    std::vector<std::uint32_t> InstructionsMaking(const Access& fault, const Registers& at);
    std::string PcOf(const Access& fault, const Registers& at);
    Registers ReadRegisters() const;
    std::uint32_t CodeWord(std::uint32_t addr) const;
    std::string Where(std::uint32_t addr) const;
    std::string LastCall() const;

    static void EmulatorMain(void* self);
    static void OnTrap(uc_engine* uc, std::uint64_t address, std::uint32_t size, void* self);
    static void OnAccess(uc_engine* uc, uc_mem_type type, std::uint64_t address, int size, std::int64_t value,
                         void* self);
    static bool OnBadAccess(uc_engine* uc, uc_mem_type type, std::uint64_t address, int size, std::int64_t value,
                            void* self);
    static void OnInterrupt(uc_engine* uc, std::uint32_t intno, void* self);

    std::string path_;
    std::uint32_t base_ = 0;
    uc_engine* uc_ = nullptr;
    std::vector<std::unique_ptr<std::uint8_t[], void (*)(void*)>> memory_;  // page-aligned host bytes
    std::vector<Region> regions_;
    mutable const Region* lastRegion_ = nullptr;
    std::vector<Trap> traps_;  // index = (address - kTrapBase) / 4; never reallocated
    std::uint8_t* data_ = nullptr;
    std::uint32_t dataUsed_ = 0;
    std::uint32_t stackTop_ = 0;
    int depth_ = 0;

    // The emulator's own stack, and what it reports when it hands over.
    std::unique_ptr<sim::Fiber> emulator_;
    std::uint32_t trapSlot_ = 0;  // the trap that handed over
    uc_err endError_ = UC_ERR_OK;  // once the emulator has stopped for good
    bool stopping_ = false;        // the run ends: the emulator is to stop

    // Set by the hooks, read once the emulator has stopped.
    bool bad_ = false;  // a bad access: badAccess_
    Access badAccess_;
    bool misaligned_ = false;  // an unaligned access: badAccess_, at misalignedAt_
    Registers misalignedAt_{};
    bool interrupted_ = false;
    std::uint32_t interrupt_ = 0;
    std::uint32_t interruptPc_ = 0;

    // Finding the faulting instruction: each instruction of the faulting
    // block is run alone on the registers the fault left.
    bool probing_ = false;
    Access probeFor_;
    bool probeHit_ = false;

    RunCounts counts_;

    // The program's last call of the phone, for messages about what came after.
    int lastTrap_ = -1;
    std::uint32_t lastCaller_ = 0;
};

}  // namespace emu

#endif
