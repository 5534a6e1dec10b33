// The simulated phone's shared state, for its own source files only.
//
// The phone is one process-wide object; each phone_*.cpp models one area of
// the platform on it (time, windows and messages, input and hot keys, the
// registry, the shell, modules, the trace) behind phone.h and <windows.h>.
#ifndef KLAVOR_SIM_PHONE_STATE_H
#define KLAVOR_SIM_PHONE_STATE_H

#include <shellapi.h>

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <type_traits>
#include <utility>

#include "fiber.h"
#include "phone.h"

namespace sim {
namespace internal {

constexpr Time kDefaultRunLimit = 60ull * 60ull * 1000ull;
constexpr ULONG_PTR kWindowBase = 0x10000;
constexpr ULONG_PTR kKeyBase = 0x20000;
constexpr ULONG_PTR kIconBase = 0x30000;
constexpr ULONG_PTR kMenuBase = 0x40000;
constexpr ULONG_PTR kBrushBase = 0x50000;
constexpr ULONG_PTR kCoredll = 0x7F000000;
constexpr ULONG_PTR kProgramInstance = 0x00400000;
constexpr ULONG_PTR kProcessHandleBase = 0x60000;

struct Window {
    Pid pid;
    std::u16string cls;
    std::u16string title;
    WNDPROC proc = nullptr;
    bool alive = true;  // false once its process has ended; kept for what happened before
};

struct WindowClass {
    WNDPROC proc;
    UINT style;
};

// Timers fire in the order of their due times; at equal times, the one set
// first goes first.
using TimerKey = std::pair<Time, std::uint64_t>;  // due, order of SetTimer
struct Timer {
    HWND hwnd;
    UINT id;
    UINT period;
};

// Scheduled events run by time, then in the order they were scheduled.
using ScheduleKey = std::pair<Time, std::uint64_t>;

struct RegValue {
    DWORD type;
    std::vector<std::uint8_t> data;
};

struct Menu {
    struct Item {
        UINT flags;
        UINT_PTR id;
        std::u16string label;
    };
    std::vector<Item> items;
};

// A modal loop in progress (a tracked menu or a message box). Loops nest:
// a message dispatched inside one may open another.
struct Modal {
    enum class Kind { Menu, Box } kind = Kind::Menu;
    bool open = false;
    HMENU menu = nullptr;
    int result = 0;
    std::u16string text;
    std::u16string caption;
};

// The observable events, kept lean: a day of phone time holds hundreds of
// thousands of them, nearly all keys. The few kinds with texts keep them
// beside; Events() builds the full records only for a caller that asks.
struct EventRecord {
    Time t;
    std::uint64_t order;
    HWND hwnd;
    std::int32_t id;
    std::uint32_t extra;  // index into notes (Note) or texts (other kinds with texts)
    std::uint16_t vk;
    std::uint8_t kind;
    std::uint8_t mods;
    bool up;
    bool injected;
};

struct EventTexts {
    UINT flags = 0;
    int x = 0;
    int y = 0;
    std::u16string text;
    std::u16string caption;
    std::vector<std::u16string> items;
};

// What a driver has told and forgotten goes (Forget): `first` and its
// like are the run's own numbers of what is kept first, so that numbers
// stay as they were.
struct EventLog {
    std::deque<EventRecord> records;
    std::deque<std::string> notes;
    std::deque<EventTexts> texts;
    std::size_t first = 0, notesFirst = 0, textsFirst = 0;
    std::vector<Event> full;  // Events(): records[0, full.size()) built so far
};

// Another program's code, running beside the program's (phone_threads.cpp).
struct Thread {
    Pid pid = 0;
    std::function<void()> body;
    std::unique_ptr<Fiber> fiber;
    std::uint64_t waits = 0;  // numbers its waits, so that a stale wake-up does nothing
    bool halting = false;     // its process ends: its wait throws
    bool ended = false;
    std::string fault;
};

// A file or folder of the phone's object store.
struct FileNode {
    std::u16string path;  // as first written: "\\Windows\\StartUp"
    bool folder = false;
    std::vector<std::uint8_t> data;
};

struct Phone {
    Time now = 0;
    Time limit = kDefaultRunLimit;
    std::uint64_t seq = 0;
    std::uint64_t order = 0;  // of calls and events together
    std::map<ScheduleKey, std::function<void()>> scheduled;

    std::vector<std::string> processes;  // index = pid
    std::map<Pid, std::u16string> images;  // the file each running process was started from
    std::vector<Window> windows;         // handle = kWindowBase + index
    std::map<std::pair<Pid, std::u16string>, WindowClass> classes;
    HWND foreground = nullptr;
    int screenWidth = 240;
    int screenHeight = 320;
    std::set<int> icons;

    bool coredllLoads = true;
    bool coredllExports = true;
    int coredllRefs = 0;

    std::map<std::u16string, std::map<std::u16string, RegValue>> registry;  // lower-case paths
    std::map<std::u16string, FileNode> files;                               // by lower-case path
    std::map<ULONG_PTR, std::u16string> openKeys;
    ULONG_PTR nextKey = kKeyBase;

    std::vector<HotKey> hotKeys;
    std::set<BYTE> held;

    std::deque<MSG> queue;  // the program's thread
    bool quitPosted = false;
    int quitCode = 0;
    std::map<TimerKey, Timer> timers;
    std::map<std::pair<HWND, UINT>, TimerKey> timerOf;  // (window, id) to its place above
    std::deque<Received> received;

    std::vector<TrayIcon> tray;
    std::map<ULONG_PTR, Menu> menus;
    ULONG_PTR nextMenu = kMenuBase;
    std::vector<Modal*> modals;  // the open loops, innermost last; each lives in its API call

    std::vector<std::unique_ptr<Thread>> threads;
    Thread* running = nullptr;  // the thread whose code runs now; null: the program's

    DispatchWatch watch;
    ClockWatch clockWatch;
    ProgramStarter starter;
    ULONG_PTR nextProcessHandle = 0;

    DWORD lastError = 0;
    bool tracing = false;
    std::deque<Call> trace;
    std::size_t traceFirst = 0;  // the number of trace[0] among the run's calls
    EventLog events;
};

// The one phone. It is reached on every call the program makes, so it is a
// plain global rather than a function-local static with its guard.
extern Phone g_phone;
inline Phone& P() { return g_phone; }

// ---- Helpers (phone.cpp) ----
char16_t Lower(char16_t c);
std::u16string LowerStr(std::u16string s);
std::u16string Str(LPCWSTR s);
bool IsIntResource(LPCWSTR s);

// ---- Trace and events (phone_trace.cpp) ----
std::string Quote(LPCWSTR s);
std::string H(const void* h);
std::string Num(long long v);
std::string Join(std::initializer_list<std::string> parts);
Event MakeEvent(Event::Kind kind);
// Records an event at the current time, after everything before it.
void Emit(const Event& e);

// Records a call when it starts, so that calls made from inside it (a window
// procedure run by CreateWindowExW or DispatchMessageW) follow it in the
// trace. Arguments and results are given as text or as a function that
// makes the text: it runs only while the trace is on.
class Traced {
public:
    Traced(const char* name, const char* args) { Start(name, [args] { return std::string(args); }); }
    // However the call ends, by returning or by the end of a run, its record
    // is then complete.
    ~Traced() {
        if (Call* c = Record()) c->returned = true;
    }
    Traced(const Traced&) = delete;
    Traced& operator=(const Traced&) = delete;
    template <typename Args, typename = std::enable_if_t<std::is_invocable_r_v<std::string, Args>>>
    Traced(const char* name, Args&& args) {
        Start(name, std::forward<Args>(args));
    }

    template <typename T>
    T Returns(T value, const char* text) {
        if (Call* c = Record()) c->result = text;
        return value;
    }
    template <typename T, typename Text, typename = std::enable_if_t<std::is_invocable_r_v<std::string, Text>>>
    T Returns(T value, Text&& text) {
        if (Call* c = Record()) c->result = text();
        return value;
    }
    BOOL Bool(BOOL value) { return Returns(value, value ? "TRUE" : "FALSE"); }
    // For a call that waited: it is shown at the time it returned.
    void ReturnedNow() {
        if (Call* c = Record()) c->t = P().now;
    }
    void Void() {
        if (Call* c = Record()) c->result.clear();
    }

private:
    template <typename Args>
    void Start(const char* name, Args&& args) {
        Phone& p = P();
        order_ = ++p.order;
        if (!p.tracing) return;
        index_ = p.traceFirst + p.trace.size();
        p.trace.push_back(Call{p.now, name, args(), "", order_});
    }
    // The call's record, unless the trace was off or cleared since it started.
    Call* Record() {
        Phone& p = P();
        if (index_ < p.traceFirst || index_ - p.traceFirst >= p.trace.size()) return nullptr;
        Call& c = p.trace[index_ - p.traceFirst];
        return c.order == order_ ? &c : nullptr;
    }

    std::size_t index_ = SIZE_MAX;
    std::uint64_t order_ = 0;
};

// ---- Windows and messages (phone_windows.cpp) ----
// A window that exists; AnyWin also finds those whose process has ended.
Window* Win(HWND h);
Window* AnyWin(HWND h);
HWND NewWindow(Pid pid, const std::u16string& cls, const std::u16string& title, WNDPROC proc);
void PostTo(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LONG DispatchTo(const MSG* m);

// ---- Time and waiting (phone_time.cpp) ----
// The clock moves on to t (later than now), and whoever watches it is told.
void MoveClock(Time t);
void RunEventsUntil(Time t);
bool NextMessage(MSG* out, const std::function<bool()>& stop);

// ---- Input and hot keys (phone_input.cpp) ----
extern const UINT kComboMods;
HotKey* FindHotKey(UINT mods, UINT vk);
void RouteKey(BYTE vk, bool up, bool injected);
BOOL WINAPI SimUnregisterFunc1(UINT fsModifiers, UINT vk);

// ---- Threads (phone_threads.cpp) ----
// The process whose code calls the phone now.
Pid CurrentPid();
// The running thread waits until then, while the phone goes on.
void ThreadSleep(Time until);
// Ends the threads of a process (0: every one), unwinding their waits.
void EndThreadsOf(Pid pid);

// ---- Shell (phone_shell.cpp) ----
// Runs the loop as the innermost until the driver closes it.
void RunModal(Modal& loop);

// ---- Registry (phone_registry.cpp) ----
std::u16string RegPath(HKEY root, const std::u16string& path);

// ---- Files (phone_files.cpp) ----
// The folders a fresh phone has.
void MakeStandardFolders();

}  // namespace internal
}  // namespace sim

#endif
