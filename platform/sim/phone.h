// The simulated phone: driver and inspection API for tests and tools.
//
// The program under test calls the Win32 API declared in <windows.h>; this
// header is the other side of that seam. It builds a phone (processes,
// windows, the registry, coredll), schedules what happens on it in virtual
// time, and lets a test see what the program did: every API call in order,
// the keys that reached the foreground application, the tray, menus and
// message boxes. It models a phone, not any particular program.
#ifndef KLAVOR_SIM_PHONE_H
#define KLAVOR_SIM_PHONE_H

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

namespace sim {

using Time = std::uint64_t;  // virtual milliseconds since the phone was reset
using Pid = int;

// The process whose code calls the API: the program under test.
constexpr Pid kProgram = 1;

// Thrown out of a waiting call (GetMessageW, Sleep, a modal loop) when the
// run ends: time reached the run limit, or nothing is left to wait for.
struct Halted {
    std::string why;
};

// Thrown out of a waiting call by a driver's event that resets the phone
// under the program (see SoftReset).
struct Resetting : Halted {};

// ---- The phone as a whole ----------------------------------------------
// A fresh phone: time 0, only the program's process, an empty registry,
// the standard folders (see Files), coredll loadable and exporting
// UnregisterFunc1, a 240x320 screen, no scheduled events, an empty trace
// that is off. The run limit is one virtual hour.
void Reset();

// What a process leaves when it ends goes with it: its windows, their hot
// keys, timers and tray icons, its menus and messages. The program's
// process may start again later (as kProgram).
void EndProcess(Pid pid);

// A soft reset, once the program's code has been unwound (a driver's
// event throws Resetting): every process ends, the registry and the files
// stay, time goes on and the scheduled events stay scheduled. Returns
// what the shell then starts from \Windows\StartUp, in the order it lists
// the folder: each entry, with the command of a .lnk shortcut (a file not
// named .lnk, or not a shortcut, starts nothing). Starting the commands is
// the driver's.
struct StartUpEntry {
    std::u16string path;
    std::optional<std::u16string> command;
};
std::vector<StartUpEntry> SoftReset();

// Lets time pass while the program does not run: the scheduled events run
// until the run limit, where Halted is thrown (Resetting by an event).
void Idle();
Time Now();
void SetRunLimit(Time limit);
// Runs fn when virtual time reaches t (events at equal times run in the
// order they were scheduled). Events run only while the program waits.
void At(Time t, std::function<void()> fn);
// Places for n events among those at equal times, as if n events were
// scheduled now: AtPlace schedules one into its place later, so that a
// driver with a long list of events need not hold them all scheduled.
std::uint64_t ReservePlaces(std::size_t n);
void AtPlace(Time t, std::uint64_t place, std::function<void()> fn);

// ---- Processes, windows, screen ------------------------------------------
// Another process's code, run on a stack of its own beside the program's:
// body runs at once until it waits (Sleep) or ends; while it waits, the
// phone goes on (the program gets its messages), and at the time it waited
// for, it goes on in turn. Only its Sleep waits: a thread does not take
// messages. A thread ends when its body returns, when its process ends, or
// with EndThreads() at the end of a run; a fault in it is told as a note.
void RunThread(Pid pid, std::function<void()> body);
std::size_t ThreadsRunning();
void EndThreads();
// The process whose code calls the phone now: a thread's, else the program's.
Pid CurrentProcess();
Pid StartProcess(const std::string& name);
const std::string& ProcessName(Pid pid);
// A window of another process (or of the program, for engine-level tests):
// it has no window procedure; messages sent to it are recorded.
HWND CreateWindowFor(Pid pid, const std::u16string& cls, const std::u16string& title);
Pid OwnerOf(HWND hwnd);
// The first window of this class and title (either may be left out), as
// FindWindowW finds it but without a call in the trace: for a driver.
HWND FindWindowFor(const std::optional<std::u16string>& cls, const std::optional<std::u16string>& title);
// Another process posts a message to a window (a task list's WM_CLOSE);
// false if there is no such window.
bool PostFor(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
std::u16string TitleOf(HWND hwnd);
void SetForeground(HWND hwnd);
void SetScreen(int width, int height);
HINSTANCE ProgramInstance();
// The icon resources the program's image carries; LoadIconW finds only these.
void SetProgramIcons(const std::vector<int>& ids);

// How the phone starts a program from a file, for CreateProcessW: the
// driver's, which knows what runs the file's code. False, with a Win32
// error (ERROR_FILE_NOT_FOUND, ...), when it cannot. Reset() removes it;
// without one CreateProcessW fails.
using ProgramStarter =
    std::function<bool(const std::u16string& path, const std::u16string& commandLine, DWORD* error)>;
void SetProgramStarter(ProgramStarter starter);

// ---- Modules ---------------------------------------------------------------
void SetCoredll(bool loads, bool exportsUnregisterFunc1);

// ---- Files -----------------------------------------------------------------
// The phone's object store: folders and files by absolute path, '\'
// between components, names compared without case ("\Windows\StartUp").
// A fresh phone has \Windows\StartUp, \Windows\Start Menu\Programs,
// \Program Files and \My Documents.
// Makes the folder and those above it; false where a file is in the way.
bool MakeFolder(const std::u16string& path);
// Creates or replaces a file; false (and why) if its folder is missing, a
// folder has the name, or a running process was started from it.
bool WriteFile(const std::u16string& path, const std::vector<std::uint8_t>& data, std::string* why = nullptr);
std::optional<std::vector<std::uint8_t>> ReadFile(const std::u16string& path);
// Deletes a file; false (and why) if there is none or a running process
// was started from it. Removes a folder only if it is empty.
bool DeleteFile(const std::u16string& path, std::string* why = nullptr);
bool RemoveFolder(const std::u16string& path);
bool IsFolder(const std::u16string& path);
bool FileInUse(const std::u16string& path);
// The names in a folder, in the order the shell lists them (case ignored).
std::vector<std::u16string> FolderContents(const std::u16string& path);
// A shortcut file as the shell writes one: the command's length, '#', the
// command: 34#"\Program Files\Klavor\klavor.exe". ShortcutCommand reads
// one back; nullopt for a file that is not a shortcut.
std::vector<std::uint8_t> ShortcutFile(const std::u16string& command);
std::optional<std::u16string> ShortcutCommand(const std::vector<std::uint8_t>& file);
// The file the program now runs from ("" for none): it cannot be replaced
// while the program runs. EndProcess(kProgram) and SoftReset clear it.
void SetProgramImage(const std::u16string& path);
// The same for another process: a copy of a program that is not the one
// under test holds its file too. EndProcess clears it.
void SetProcessImage(Pid pid, const std::u16string& path);

// ---- Registry --------------------------------------------------------------
void SetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name,
                      DWORD type, const std::vector<std::uint8_t>& data);
void CreateRegistryKey(HKEY root, const std::u16string& path);
struct RegistryData {
    DWORD type;
    std::vector<std::uint8_t> data;
};
std::optional<RegistryData> RegistryValue(HKEY root, const std::u16string& path, const std::u16string& name);
bool DeleteRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name);

// ---- Input and hot keys ----------------------------------------------------
// A hardware key going down or up. It takes the same road as keybd_event.
void KeyDown(BYTE vk);
void KeyUp(BYTE vk);
// A hardware button press: the modifier keys of mods (MOD_WIN, MOD_SHIFT,
// MOD_CONTROL, MOD_ALT) go down, the key goes down and up, the modifiers up.
void Press(BYTE vk, UINT mods = 0);
// RegisterHotKey on behalf of another process's window.
bool RegisterHotKeyFor(HWND hwnd, int id, UINT mods, UINT vk);
// Another process taking a combination for its window, as a remapper or
// the shell does: it drops whoever holds it, then registers it.
void StealHotKey(HWND hwnd, int id, UINT mods, UINT vk);

struct HotKey {
    HWND hwnd;
    int id;
    UINT mods;
    UINT vk;
};
std::vector<HotKey> HotKeys();
std::optional<HotKey> HotKeyHolder(UINT mods, UINT vk);

// ---- Messages ----------------------------------------------------------------
// Taking messages off the program's queue directly, for tests that drive
// the program without a message loop.
std::vector<MSG> TakeProgramMessages();

// Called around every message the phone hands to one of the program's
// window procedures, by DispatchMessageW or inside a modal loop: before it
// with `done` false, after it returns with `done` true (not when the run
// ends inside it). For a driver that follows the program's own state as
// messages arrive. Reset() removes it.
using DispatchWatch = std::function<void(const MSG& message, bool done)>;
void WatchDispatch(DispatchWatch watch);

// Called whenever virtual time moves on, with the phone's clock already at
// the new time and nothing yet done there: everything that happened
// before has happened at an earlier time. For a driver that tells what
// happened as it goes. Reset() removes it.
using ClockWatch = std::function<void()>;
void WatchClock(ClockWatch watch);

// ---- Shell -----------------------------------------------------------------
struct TrayIcon {
    HWND hwnd;
    UINT id;
    DWORD cbSize;
    UINT flags;
    UINT callbackMessage;
    HICON icon;
    std::u16string tip;
};
std::vector<TrayIcon> TrayIcons();
// A tap on a tray icon: its owner gets the callback message with the icon's
// id and WM_LBUTTONDOWN, then WM_LBUTTONUP. False if there is no such icon.
bool TapTrayIcon(HWND hwnd, UINT id);
// Any other notification (lParam) for the icon.
bool NotifyTrayIcon(HWND hwnd, UINT id, UINT mouseMessage);

// Menus and message boxes are modal loops that nest: one can open inside
// another. These act on the innermost loop still open, and only if it is of
// their kind. MenuOpen: the innermost open loop is a menu.
bool MenuOpen();
// Picks the open menu's item with this label; false if no menu is open or
// it has no such item.
bool ChooseMenuItem(const std::u16string& label);
bool DismissMenu();
bool CloseMessageBox();
// How many modal loops are open, nested in one another.
std::size_t OpenModalLoops();

// ---- What happened -------------------------------------------------------
struct Call {
    Time t;
    std::string name;
    std::string args;
    std::string result;
    std::uint64_t order = 0;  // shared with Event::order: what came first
    bool returned = false;     // false while the call is still going on (its time and result may change)
    std::string Text() const;  // "name(args) -> result"
};
// The trace is recorded only while it is on: it is off after Reset, and a
// caller that reads it turns it on first (formatting every call costs more
// than the rest of the phone together). Trace() and TraceOf() throw
// std::logic_error while it is off, so that a test cannot read an empty
// trace by mistake.
void SetTracing(bool on);
bool Tracing();
const std::deque<Call>& Trace();
// The number of Trace().front() among the run's calls: calls before it are
// forgotten (Forget) or cleared (ClearTrace).
std::size_t FirstCall();
// The trace as text, only the calls with these names (all if empty).
std::vector<std::string> TraceOf(const std::vector<std::string>& names = {});
void ClearTrace();

// Observable happenings on the phone, in order.
struct Event {
    enum class Kind {
        KeyToForeground,  // vk, up, hwnd (the foreground window or null), injected
        HotKeyPosted,     // hwnd (holder), id, mods, vk
        WindowCreated,    // hwnd, text (class), caption (title)
        TrayAdded,        // hwnd, id, flags
        TrayModified,
        TrayRemoved,
        MenuOpened,       // x, y, flags, items
        MenuClosed,       // id (the chosen command, 0 if dismissed)
        MessageBoxShown,  // text, caption, flags
        MessageBoxClosed,
        Note,             // a driver's own remark, note
    };
    Kind kind = Kind::Note;
    Time t = 0;
    std::uint64_t order = 0;
    HWND hwnd = nullptr;
    UINT vk = 0;
    bool up = false;
    bool injected = false;
    int id = 0;
    UINT mods = 0;
    UINT flags = 0;
    int x = 0;
    int y = 0;
    std::u16string text;
    std::u16string caption;
    std::vector<std::u16string> items;
    std::string note;
};
// All events kept, built in full on the first call after new ones
// happened; EventCount() and EventAt() read them one by one without
// keeping copies, for long runs.
const std::vector<Event>& Events();
// Every event of the run so far, forgotten ones included; EventAt(i)
// takes i from FirstEvent() on.
std::size_t EventCount();
std::size_t FirstEvent();
Event EventAt(std::size_t i);
// Forgets the events, the calls and the messages received that came before
// `order` (Event::order, Call::order, Received::order), for a driver that has told them: a long run then holds
// only what is still to be told. Numbers and orders stay as they were.
void Forget(std::uint64_t order);
void AddNote(const std::string& note);

// Keys that reached the foreground application, in order.
struct Delivery {
    Time t;
    HWND to;
    BYTE vk;
    bool up;
    bool injected;
};
std::vector<Delivery> Delivered();

// Messages that reached windows without a window procedure (other
// processes' windows), in order.
struct Received {
    Time t;
    HWND to;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::uint64_t order = 0;  // shared with Event::order and Call::order
};
std::vector<Received> ReceivedBy(HWND hwnd);

// ---- Helpers -----------------------------------------------------------------
// The phone's strings are UTF-16; handles and codes print in hex.
using base::Hex;
using base::Utf16;
using base::Utf8;

}  // namespace sim

#endif
