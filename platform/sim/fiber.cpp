#include "fiber.h"

#ifdef __EMSCRIPTEN__

#include <stdexcept>

// The page's WebAssembly has one stack and no way here to switch to
// another: a second program's code (an installation's setup program) does
// not run beside the program there.
namespace sim {
struct Fiber::Impl {};
Fiber::Fiber(Body, void*, std::size_t) {
    throw std::runtime_error("this build of the phone runs one program's code at a time");
}
Fiber::~Fiber() = default;
void Fiber::Resume() {}
void Fiber::Yield() {}
}  // namespace sim

#else

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

// x86-64 (System V): a switch of a dozen instructions. Elsewhere, or with
// KLAVOR_SIM_FIBER_UCONTEXT, the C library's ucontext, which also saves the
// signal mask and so costs a system call each way.
#if defined(__x86_64__) && defined(__ELF__) && !defined(KLAVOR_SIM_FIBER_UCONTEXT)
#define KLAVOR_FIBER_ASM 1
#else
#include <ucontext.h>
#endif

// AddressSanitizer must be told when the stack changes, or it takes the
// other stack's frames for an overflow.
#if defined(__SANITIZE_ADDRESS__)
#define KLAVOR_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KLAVOR_FIBER_ASAN 1
#endif
#endif
#ifdef KLAVOR_FIBER_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

// Valgrind (callgrind, for profiling) likewise.
#if defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#define KLAVOR_FIBER_VALGRIND 1
#endif
#endif

#ifdef KLAVOR_FIBER_ASM
extern "C" void klavor_emu_fiber_switch(void** save, void* load);
extern "C" void klavor_emu_fiber_start();
// Saves the callee-saved registers and the SSE and x87 control words on the
// current stack, stores its pointer in *save, and resumes the stack at load.
// A new stack begins at klavor_emu_fiber_start, which calls r13(r12).
asm(R"(
    .text
    .p2align 4
    .globl klavor_emu_fiber_switch
    .hidden klavor_emu_fiber_switch
    .type klavor_emu_fiber_switch, @function
klavor_emu_fiber_switch:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size klavor_emu_fiber_switch, .-klavor_emu_fiber_switch

    .p2align 4
    .globl klavor_emu_fiber_start
    .hidden klavor_emu_fiber_start
    .type klavor_emu_fiber_start, @function
klavor_emu_fiber_start:
    movq %r12, %rdi
    callq *%r13
    ud2
    .size klavor_emu_fiber_start, .-klavor_emu_fiber_start
)");
#endif

namespace sim {

struct Fiber::Impl {
    Fiber* owner = nullptr;
    Body body = nullptr;
    void* arg = nullptr;
    void* stack = MAP_FAILED;
    std::size_t mapped = 0;  // with the guard page below the stack
    char* bottom = nullptr;
    std::size_t size = 0;
#ifdef KLAVOR_FIBER_ASM
    void* fiberSp = nullptr;
    void* hostSp = nullptr;
#else
    ucontext_t fiberContext{};
    ucontext_t hostContext{};
#endif
#ifdef KLAVOR_FIBER_ASAN
    void* hostFake = nullptr;
    void* fiberFake = nullptr;
    const void* hostBottom = nullptr;
    std::size_t hostSize = 0;
#endif
#ifdef KLAVOR_FIBER_VALGRIND
    unsigned valgrindId = 0;
#endif

    // ASan's bookkeeping around a switch: `from` saves the side being left.
    void StartSwitch(bool toFiber, bool leavingForGood) {
#ifdef KLAVOR_FIBER_ASAN
        void** fake = toFiber ? &hostFake : leavingForGood ? nullptr : &fiberFake;
        if (toFiber)
            __sanitizer_start_switch_fiber(fake, bottom, size);
        else
            __sanitizer_start_switch_fiber(fake, hostBottom, hostSize);
#else
        (void)toFiber;
        (void)leavingForGood;
#endif
    }
    void FinishSwitch(bool onFiber, bool firstTime) {
#ifdef KLAVOR_FIBER_ASAN
        if (onFiber)
            __sanitizer_finish_switch_fiber(firstTime ? nullptr : fiberFake, &hostBottom, &hostSize);
        else
            __sanitizer_finish_switch_fiber(hostFake, nullptr, nullptr);
#else
        (void)onFiber;
        (void)firstTime;
#endif
    }

    void ToFiber() {
        StartSwitch(true, false);
#ifdef KLAVOR_FIBER_ASM
        klavor_emu_fiber_switch(&hostSp, fiberSp);
#else
        swapcontext(&hostContext, &fiberContext);
#endif
        FinishSwitch(false, false);
    }

    void ToHost(bool forGood) {
        StartSwitch(false, forGood);
#ifdef KLAVOR_FIBER_ASM
        klavor_emu_fiber_switch(&fiberSp, hostSp);
#else
        swapcontext(&fiberContext, &hostContext);
#endif
        FinishSwitch(true, false);
    }

    // The first frame on the fiber's stack.
    static void Entry(void* self) {
        auto* impl = static_cast<Impl*>(self);
        impl->FinishSwitch(true, true);
        impl->body(impl->arg);
        impl->owner->ended_ = true;
        impl->ToHost(true);
        std::abort();  // an ended fiber is never resumed
    }

#ifndef KLAVOR_FIBER_ASM
    static void UcontextEntry(unsigned hi, unsigned lo) {
        Entry(reinterpret_cast<void*>((static_cast<std::uintptr_t>(hi) << 32) | lo));
    }
#endif
};

Fiber::Fiber(Body body, void* arg, std::size_t stackSize) : impl_(std::make_unique<Impl>()) {
    Impl& f = *impl_;
    f.owner = this;
    f.body = body;
    f.arg = arg;
    const std::size_t page = 4096;
    f.size = (stackSize + page - 1) / page * page;
    f.mapped = f.size + page;
    f.stack = mmap(nullptr, f.mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (f.stack == MAP_FAILED) throw std::runtime_error("no memory for a second stack");
    // A guard page: an overflow faults at once instead of writing elsewhere.
    mprotect(f.stack, page, PROT_NONE);
    f.bottom = static_cast<char*>(f.stack) + page;
#ifdef KLAVOR_FIBER_VALGRIND
    f.valgrindId = VALGRIND_STACK_REGISTER(f.bottom, f.bottom + f.size);
#endif
#ifdef KLAVOR_FIBER_ASM
    // The frame klavor_emu_fiber_switch pops: the control words, r15, r14,
    // r13 (the entry), r12 (its argument), rbx, rbp, then the return into
    // klavor_emu_fiber_start, which must find the stack 16-byte aligned.
    auto top = reinterpret_cast<std::uintptr_t>(f.bottom + f.size) & ~std::uintptr_t{15};
    auto* ret = reinterpret_cast<std::uint64_t*>(top - 24);
    std::uint64_t* frame = ret - 7;
    std::uint32_t mxcsr;
    std::uint16_t fpucw;
    asm volatile("stmxcsr %0" : "=m"(mxcsr));
    asm volatile("fnstcw %0" : "=m"(fpucw));
    frame[0] = mxcsr | static_cast<std::uint64_t>(fpucw) << 32;
    frame[1] = 0;                                             // r15
    frame[2] = 0;                                             // r14
    frame[3] = reinterpret_cast<std::uint64_t>(&Impl::Entry);  // r13
    frame[4] = reinterpret_cast<std::uint64_t>(&f);            // r12
    frame[5] = 0;                                             // rbx
    frame[6] = 0;                                             // rbp
    *ret = reinterpret_cast<std::uint64_t>(&klavor_emu_fiber_start);
    f.fiberSp = frame;
#else
    getcontext(&f.fiberContext);
    f.fiberContext.uc_stack.ss_sp = f.bottom;
    f.fiberContext.uc_stack.ss_size = f.size;
    f.fiberContext.uc_link = nullptr;
    auto self = reinterpret_cast<std::uintptr_t>(&f);
    makecontext(&f.fiberContext, reinterpret_cast<void (*)()>(&Impl::UcontextEntry), 2,
                static_cast<unsigned>(self >> 32), static_cast<unsigned>(self & 0xFFFFFFFFu));
#endif
}

Fiber::~Fiber() {
#ifdef KLAVOR_FIBER_VALGRIND
    VALGRIND_STACK_DEREGISTER(impl_->valgrindId);
#endif
    munmap(impl_->stack, impl_->mapped);
}

void Fiber::Resume() {
    if (ended_) throw std::logic_error("a second stack was resumed after its end");
    started_ = true;
    impl_->ToFiber();
}

void Fiber::Yield() { impl_->ToHost(false); }

}  // namespace sim

#endif
