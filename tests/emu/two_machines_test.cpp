// Two programs at once: a program's machine and a DLL's, each run by its
// own host stack, taking turns inside their calls of the phone as the
// phone's threads do. A switch, made inside a waiting Sleep, hands over to
// the other host stack and back, many times, before either call returns:
// each machine's emulator then waits on a host stack that is itself
// switched out and in. Both must end with their own results, their calls
// in the trace in the order the switches make.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/emu/emu.h"
#include "platform/sim/fiber.h"
#include "platform/sim/phone.h"
#include "tiny_pe.h"

namespace {

using tiny::Program;

// A: three Sleep(100), counted in .data; returns what the Sleeps returned
// (their argument) plus the count: 303.
Program Sleeper() {
    Program a;
    int sleep = a.Import("COREDLL.dll", "Sleep");
    const std::uint32_t zero = 0;
    std::uint32_t counter = a.Data(&zero, 4);
    a.Op(tiny::kPushR4R5R6Lr).Op(tiny::MovImm(4, 3)).Op(tiny::MovImm(5, 0));
    std::uint32_t loop = a.Here();
    a.Load(0, 100).CallImport(sleep).Op(tiny::AddReg(5, 5, 0));
    a.Load(1, counter).Op(tiny::LdrReg(2, 1)).Op(0xE2822001 /* add r2, r2, #1 */).Op(tiny::StrReg(2, 1));
    a.Op(tiny::SubsImm(4, 4, 1)).BranchNe(loop);
    a.Load(1, counter).Op(tiny::LdrReg(0, 1)).Op(tiny::AddReg(0, 0, 5)).Op(tiny::kPopR4R5R6Pc);
    return a;
}

// B, a DLL without an entry point: Work(n, className) sleeps 30 ms n times,
// then finds the window of that class; returns the window plus 30 n.
// Crash faults at once.
Program Worker() {
    Program b = Program::Dll(0x10000000);
    b.entryRva = 0;
    int sleep = b.Import("COREDLL.dll", "Sleep");
    int find = b.Import("COREDLL.dll", "FindWindowW");
    b.Export("Work").Op(tiny::kPushR4R5R6Lr).Op(tiny::MovReg(4, 0)).Op(tiny::MovImm(5, 0)).Op(tiny::MovReg(6, 1));
    std::uint32_t loop = b.Here();
    b.Load(0, 30).CallImport(sleep).Op(tiny::AddReg(5, 5, 0)).Op(tiny::SubsImm(4, 4, 1)).BranchNe(loop);
    b.Op(tiny::MovReg(0, 6)).Op(tiny::MovImm(1, 0)).CallImport(find).Op(tiny::AddReg(0, 0, 5)).Op(tiny::kPopR4R5R6Pc);
    b.Export("Crash").Op(tiny::MovImm(0, 0)).Op(tiny::LdrReg(0, 0)).Op(tiny::kBxLr);
    return b;
}

// The host stacks A and B run on. With a scheduler, each is a fiber and
// the test's own stack resumes one, then the other; without, A runs on the
// test's stack and B's fiber is resumed from inside A's calls.
class TwoStacks {
public:
    TwoStacks(bool scheduler, std::function<void()> a, std::function<void()> b)
        : scheduler_(scheduler), a_(std::move(a)), b_(std::move(b)), fa_(&Body, &a_), fb_(&Body, &b_) {}

    // From inside a call of the phone: hand over to the other program,
    // unless it has ended. Returns when this one's turn comes again.
    void Switch() {
        if (Ended(1 - running_)) return;
        log.push_back(std::string(running_ ? "B" : "A") + "@" + std::to_string(sim::Now()));
        if (scheduler_) {
            Stack(running_).Yield();
        } else if (running_ == 0) {
            running_ = 1;
            fb_.Resume();
            running_ = 0;
        } else {
            fb_.Yield();
        }
    }

    void Run() {
        if (!scheduler_) {
            running_ = 0;
            a_();
            aEnded_ = true;
            while (!fb_.Ended()) {
                running_ = 1;
                fb_.Resume();
            }
            return;
        }
        for (int next = 0; !fa_.Ended() || !fb_.Ended(); next = 1 - next) {
            if (Stack(next).Ended()) next = 1 - next;
            running_ = next;
            Stack(next).Resume();
        }
    }

    std::vector<std::string> log;  // "A@10": at 10 ms, inside A's call, over to B

private:
    static void Body(void* f) { (*static_cast<std::function<void()>*>(f))(); }
    sim::Fiber& Stack(int i) { return i ? fb_ : fa_; }
    bool Ended(int i) const { return i ? fb_.Ended() : scheduler_ ? fa_.Ended() : aEnded_; }

    bool scheduler_;
    std::function<void()> a_, b_;
    sim::Fiber fa_, fb_;
    int running_ = 0;
    bool aEnded_ = false;
};

TEST(TwoMachines, TakeTurnsInsideTheirCallsOfThePhone) {
    struct Case {
        const char* what;
        std::vector<sim::Time> switches;  // when a switch is made
        const char* bExport;
        std::vector<std::string> trace;  // "time call"
        std::vector<std::string> log;
        std::string bFault;  // empty: B returns the window plus 90
    } cases[] = {
        // A's first Sleep (0 to 100) hands over at 10; B's first (from 10)
        // hands back at 20; A's second (from 100) hands over again at 130,
        // where B's first returns, late, and B's second hands back at 160.
        // A then runs to its end, and B after it.
        {"once each way", {10, 20, 130, 160}, "Work",
         {"0 Sleep(100)", "10 Sleep(30)", "100 Sleep(100)", "130 Sleep(30)", "200 Sleep(100)", "300 Sleep(30)",
          "330 FindWindowW"},
         {"A@10", "B@20", "A@130", "B@160"}, ""},
        // Inside A's first Sleep, three turns of B's; inside B's first, two
        // of A's. B's second Sleep (from 45) hands back at 55 and returns
        // only once A has ended.
        {"many times inside one call", {5, 15, 25, 35, 45, 55}, "Work",
         {"0 Sleep(100)", "5 Sleep(30)", "45 Sleep(30)", "100 Sleep(100)", "200 Sleep(100)", "300 Sleep(30)",
          "330 FindWindowW"},
         {"A@5", "B@15", "A@25", "B@35", "A@45", "B@55"}, ""},
        // A fault in B, while A waits in its call, leaves A's run whole.
        {"B faults while A waits", {10}, "Crash", {"0 Sleep(100)", "100 Sleep(100)", "200 Sleep(100)"}, {"A@10"},
         "tiny.dll: a read of 4 bytes at 0x0"},
    };
    // B's stack resumed from inside A's call, or both on fibers.
    for (const Case& c : cases) {
        for (bool scheduler : {false, true}) {
            const std::string what = c.what + std::string(scheduler ? ", both on fibers" : ", B from inside A's call");
            sim::Reset();
            sim::SetTracing(true);
            HWND window = sim::CreateWindowFor(sim::StartProcess("other.exe"), u"KlavorMain", u"");
            std::string error;
            std::optional<emu::PeImage> exe = emu::ParsePeImage(Sleeper().Build(), "tiny.exe", &error);
            std::optional<emu::Dll> dll = emu::Dll::Load(Worker().Build(), "tiny.dll", &error);
            ASSERT_TRUE(exe && dll) << error;

            int aResult = -1;
            std::uint32_t bResult = 0;
            std::string aFault, bFault;
            TwoStacks stacks(
                scheduler,
                [&] {
                    try {
                        aResult = emu::RunProgram(*exe, sim::ProgramInstance(), u"", 5);
                    } catch (const emu::Fault& f) {
                        aFault = f.what();
                    }
                },
                [&] {
                    try {
                        dll->Attach();
                        bResult = dll->Call(c.bExport, {3, emu::Arg::Text(u"KlavorMain")});
                    } catch (const emu::Fault& f) {
                        bFault = f.what();
                    }
                });
            for (sim::Time t : c.switches) sim::At(t, [&stacks] { stacks.Switch(); });
            stacks.Run();

            EXPECT_EQ(aFault, "") << what;
            EXPECT_EQ(aResult, 303) << what;
            if (c.bFault.empty()) {
                EXPECT_EQ(bFault, "") << what;
                EXPECT_EQ(bResult, reinterpret_cast<std::uintptr_t>(window) + 90) << what;
            } else {
                EXPECT_EQ(bFault.substr(0, c.bFault.size()), c.bFault) << what;
            }
            std::vector<std::string> trace;
            for (const sim::Call& call : sim::Trace())
                trace.push_back(std::to_string(call.t) + " " + (call.name == "Sleep" ? call.Text() : call.name));
            EXPECT_EQ(trace, c.trace) << what;
            EXPECT_EQ(stacks.log, c.log) << what;
        }
    }
}

}  // namespace
