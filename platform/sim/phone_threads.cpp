// Other programs' code on the phone, beside the program's: a thread runs on
// a stack of its own and takes turns with the program. When it waits
// (Sleep), it gives the phone back, and the phone goes on with whatever is
// due meanwhile, the program's messages included, until the thread's time
// comes round.
#include <stdexcept>

#include "fiber.h"
#include "phone_state.h"

namespace sim {
namespace internal {
namespace {

// Thrown inside a thread's wait when the thread must end; code that lets
// the end of a run pass lets it pass too.
struct Halting : Halted {};

void ThreadMain(void* arg) {
    Thread* t = static_cast<Thread*>(arg);
    try {
        t->body();
    } catch (const Halting&) {
    } catch (const Halted&) {
        // The run ended inside the thread's own code (a run limit reached
        // in one of its calls): the thread ends with it.
    } catch (const std::exception& e) {
        t->fault = e.what();
    } catch (...) {
        t->fault = "an unknown exception";
    }
    t->ended = true;
}

// Lets the thread run until it waits or ends; an ended thread goes.
void Resume(Thread* t) {
    Phone& p = P();
    Thread* outer = p.running;
    p.running = t;
    t->fiber->Resume();
    p.running = outer;
    if (!t->ended) return;
    std::string fault = t->fault;
    Pid pid = t->pid;
    for (auto it = p.threads.begin(); it != p.threads.end(); ++it)
        if (it->get() == t) {
            p.threads.erase(it);
            break;
        }
    if (!fault.empty()) AddNote(ProcessName(pid) + " is stopped by a fault: " + fault);
}

}  // namespace

Pid CurrentPid() { return P().running ? P().running->pid : kProgram; }

void ThreadSleep(Time until) {
    Phone& p = P();
    Thread* t = p.running;
    std::uint64_t serial = ++t->waits;
    At(until, [t, serial] {
        // The thread may have ended meanwhile (its process ended).
        for (const auto& live : P().threads)
            if (live.get() == t && t->waits == serial) return Resume(t);
    });
    t->fiber->Yield();
    if (t->halting) throw Halting{};
}

void EndThreadsOf(Pid pid) {
    Phone& p = P();
    for (;;) {
        Thread* t = nullptr;
        for (const auto& live : p.threads)
            if (pid == 0 || live->pid == pid) t = live.get();
        if (!t) return;
        t->halting = true;
        ++t->waits;  // its pending wake-up finds it gone
        Resume(t);
    }
}

}  // namespace internal

using namespace internal;

void RunThread(Pid pid, std::function<void()> body) {
    Phone& p = P();
    if (p.running) throw std::logic_error("a thread starts another thread");
    auto t = std::make_unique<Thread>();
    t->pid = pid;
    t->body = std::move(body);
    t->fiber = std::make_unique<Fiber>(&ThreadMain, t.get());
    Thread* raw = t.get();
    p.threads.push_back(std::move(t));
    Resume(raw);
}

std::size_t ThreadsRunning() { return P().threads.size(); }

void EndThreads() { EndThreadsOf(0); }

Pid CurrentProcess() { return CurrentPid(); }

}  // namespace sim
