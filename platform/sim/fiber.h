// A second stack on the same thread: for the emulator, and for the phone's
// threads (another program's code beside the program's, phone.h).
//
// The emulator runs the program on a stack of its own and is started once
// per run. Every call of the phone is served back on the host's stack; a
// call the phone makes into the program (the window procedure, from inside
// DispatchMessageW or a modal loop) lets the emulator go on while the
// host's frames wait on theirs. So calls nest on the guest's stack and on
// the host's, never inside the emulator's own frames, and an exception (the
// end of a run, a fault) only ever unwinds host frames. A fiber may itself
// resume another: each goes back to whoever resumed it last.
#ifndef KLAVOR_SIM_FIBER_H
#define KLAVOR_SIM_FIBER_H

#include <cstddef>
#include <memory>

namespace sim {

class Fiber {
public:
    using Body = void (*)(void* arg);
    // The body runs on the fiber's stack at the first Resume(). It must
    // return normally: nothing may be thrown out of it.
    Fiber(Body body, void* arg, std::size_t stackSize = std::size_t{1} << 20);
    // The body must have ended, or never started.
    ~Fiber();
    Fiber(const Fiber&) = delete;
    Fiber& operator=(const Fiber&) = delete;

    // From the host: runs the fiber until it yields or its body returns.
    void Resume();
    // From the fiber: back to the host, until the next Resume().
    void Yield();
    bool Started() const { return started_; }
    bool Ended() const { return ended_; }

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    bool started_ = false;
    bool ended_ = false;
    friend struct Impl;
};

}  // namespace sim

#endif
