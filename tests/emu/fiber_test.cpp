// The emulator's own stack: control passes back and forth in order, the
// fiber's stack is its own and deep, an exception on the host's side leaves
// the suspended fiber whole, and a fiber resumed from another fiber returns
// to it however often that one is switched out and in meanwhile. Built twice: with the x86-64 switch and
// with ucontext (KLAVOR_SIM_FIBER_UCONTEXT).
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sim/fiber.h"

namespace {

struct Script {
    sim::Fiber* fiber = nullptr;
    std::vector<std::string> log;
    int yields = 3;
};

void Body(void* arg) {
    auto* s = static_cast<Script*>(arg);
    for (int i = 0; i < s->yields; ++i) {
        s->log.push_back("fiber " + std::to_string(i));
        s->fiber->Yield();
    }
    s->log.push_back("fiber ends");
}

// Uses about `depth` KB of the fiber's stack, then yields from the bottom.
int Deep(sim::Fiber* f, int depth) {
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    if (depth == 0) {
        f->Yield();
        return pad[0];
    }
    return Deep(f, depth - 1) + pad[0];
}

TEST(Fiber, ControlPassesBackAndForthInOrder) {
    Script s;
    sim::Fiber fiber(&Body, &s);
    s.fiber = &fiber;
    EXPECT_FALSE(fiber.Started());
    for (int i = 0; i < 4; ++i) {
        s.log.push_back("host " + std::to_string(i));
        fiber.Resume();
    }
    EXPECT_TRUE(fiber.Ended());
    EXPECT_EQ(s.log, (std::vector<std::string>{"host 0", "fiber 0", "host 1", "fiber 1", "host 2", "fiber 2", "host 3",
                                               "fiber ends"}));
    EXPECT_THROW(fiber.Resume(), std::logic_error);
}

TEST(Fiber, HostExceptionsLeaveTheSuspendedFiberWhole) {
    struct State {
        sim::Fiber* fiber;
        int result = -1;
    } state;
    sim::Fiber fiber(
        [](void* arg) {
            auto* st = static_cast<State*>(arg);
            st->result = Deep(st->fiber, 200);  // 200 KB deep when it yields
        },
        &state);
    state.fiber = &fiber;
    // Host frames thrown through while the fiber waits at the bottom of its stack.
    auto hostFrames = [&](int n, auto& self) -> void {
        if (n == 0) {
            fiber.Resume();
            throw std::runtime_error("the run ends");
        }
        self(n - 1, self);
    };
    EXPECT_THROW(hostFrames(10, hostFrames), std::runtime_error);
    EXPECT_FALSE(fiber.Ended());
    fiber.Resume();
    EXPECT_TRUE(fiber.Ended());
    int expected = 0;
    for (int d = 0; d <= 200; ++d) expected += static_cast<char>(d);
    EXPECT_EQ(state.result, expected);
}

// Two host stacks, each a fiber that resumes a fiber of its own (as each
// program's host stack resumes its emulator) and is switched out while that
// one waits; each inner fiber must come back to its own outer one.
struct Nest {
    std::string name;
    std::vector<std::string>* log = nullptr;
    sim::Fiber* outer = nullptr;
    sim::Fiber* inner = nullptr;
};

void Inner(void* arg) {
    auto* n = static_cast<Nest*>(arg);
    for (int i = 0; i < 2; ++i) {
        n->log->push_back(n->name + " inner " + std::to_string(i));
        n->inner->Yield();
    }
    n->log->push_back(n->name + " inner ends");
}

void Outer(void* arg) {
    auto* n = static_cast<Nest*>(arg);
    for (const char* step : {"starts", "between", "after"}) {
        n->inner->Resume();
        n->log->push_back(n->name + " outer " + step);
        n->outer->Yield();
    }
}

TEST(Fiber, AFiberResumedFromAFiberReturnsToItAcrossItsSwitches) {
    std::vector<std::string> log;
    Nest one{"1", &log}, two{"2", &log};
    sim::Fiber inner1(&Inner, &one), inner2(&Inner, &two), outer1(&Outer, &one), outer2(&Outer, &two);
    one.outer = &outer1, one.inner = &inner1, two.outer = &outer2, two.inner = &inner2;
    for (int i = 0; i < 4; ++i) {
        outer1.Resume();
        outer2.Resume();
    }
    EXPECT_TRUE(inner1.Ended() && inner2.Ended() && outer1.Ended() && outer2.Ended());
    EXPECT_EQ(log, (std::vector<std::string>{"1 inner 0", "1 outer starts", "2 inner 0", "2 outer starts",
                                             "1 inner 1", "1 outer between", "2 inner 1", "2 outer between",
                                             "1 inner ends", "1 outer after", "2 inner ends", "2 outer after"}));
}

}  // namespace
