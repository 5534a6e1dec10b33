// The simulated phone as a whole: the one phone object, its reset, the
// processes on it and the screen, and the text helpers the other files share.
//
// A deterministic model of the parts of Windows CE a small resident utility
// touches, split by area: phone_time.cpp (the clock, scheduled events,
// timers, waiting), phone_windows.cpp (windows, classes and messages),
// phone_input.cpp (keys and the hot-key table), phone_registry.cpp,
// phone_shell.cpp (tray, menus, message boxes), phone_modules.cpp (coredll)
// and phone_trace.cpp (what happened). Time is virtual and moves only while
// the program waits (Sleep, an empty message queue, a modal loop).
#include <algorithm>
#include <cstdio>

#include "phone_state.h"

namespace sim {
namespace internal {

Phone g_phone;

char16_t Lower(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c - u'A' + u'a');
    return c;
}

std::u16string LowerStr(std::u16string s) {
    for (auto& c : s) c = Lower(c);
    return s;
}

std::u16string Str(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

bool IsIntResource(LPCWSTR s) { return (reinterpret_cast<ULONG_PTR>(s) >> 16) == 0; }

}  // namespace internal

using namespace internal;

void Reset() {
    // A thread's frames are unwound before its stack goes.
    EndThreadsOf(0);
    P() = Phone{};
    P().processes = {"(none)", "program"};
    MakeStandardFolders();
}

void EndProcess(Pid pid) {
    Phone& p = P();
    EndThreadsOf(pid);
    p.images.erase(pid);
    std::set<HWND> gone;
    for (std::size_t i = 0; i < p.windows.size(); ++i) {
        Window& w = p.windows[i];
        if (w.pid != pid || !w.alive) continue;
        w.alive = false;
        gone.insert(reinterpret_cast<HWND>(kWindowBase + i));
    }
    auto ofGone = [&gone](HWND h) { return gone.count(h) > 0; };
    p.hotKeys.erase(std::remove_if(p.hotKeys.begin(), p.hotKeys.end(), [&](const HotKey& k) { return ofGone(k.hwnd); }),
                    p.hotKeys.end());
    p.tray.erase(std::remove_if(p.tray.begin(), p.tray.end(), [&](const TrayIcon& t) { return ofGone(t.hwnd); }), p.tray.end());
    for (auto it = p.timerOf.begin(); it != p.timerOf.end();) {
        if (!ofGone(it->first.first)) {
            ++it;
            continue;
        }
        p.timers.erase(it->second);
        it = p.timerOf.erase(it);
    }
    if (ofGone(p.foreground)) p.foreground = nullptr;
    for (auto it = p.classes.begin(); it != p.classes.end();) it = it->first.first == pid ? p.classes.erase(it) : std::next(it);
    if (pid == kProgram) {
        // Only the program has a thread here: its queue, menus, open keys
        // and module references.
        p.queue.clear();
        p.quitPosted = false;
        p.quitCode = 0;
        p.menus.clear();
        p.modals.clear();
        p.openKeys.clear();
        p.coredllRefs = 0;
    }
}

std::vector<StartUpEntry> SoftReset() {
    for (Pid pid = 1; static_cast<std::size_t>(pid) < P().processes.size(); ++pid) EndProcess(pid);
    P().held.clear();
    P().lastError = 0;
    std::vector<StartUpEntry> started;
    const std::u16string folder = u"\\Windows\\StartUp";
    for (const std::u16string& name : FolderContents(folder)) {
        StartUpEntry e{folder + u"\\" + name, std::nullopt};
        std::u16string lower = LowerStr(name);
        std::optional<std::vector<std::uint8_t>> data = ReadFile(e.path);
        if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, u".lnk") == 0 && data) e.command = ShortcutCommand(*data);
        started.push_back(e);
    }
    return started;
}

Pid StartProcess(const std::string& name) {
    P().processes.push_back(name);
    return static_cast<Pid>(P().processes.size() - 1);
}

const std::string& ProcessName(Pid pid) {
    static const std::string unknown = "?";
    if (pid < 0 || static_cast<std::size_t>(pid) >= P().processes.size()) return unknown;
    return P().processes[static_cast<std::size_t>(pid)];
}

void SetScreen(int width, int height) {
    P().screenWidth = width;
    P().screenHeight = height;
}

void SetProgramStarter(ProgramStarter starter) { P().starter = std::move(starter); }

HINSTANCE ProgramInstance() { return reinterpret_cast<HINSTANCE>(kProgramInstance); }

}  // namespace sim

using namespace sim;
using namespace sim::internal;

extern "C" {

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    Traced tr("CreateProcessW", [&] {
        return Join({Quote(lpApplicationName), Quote(lpCommandLine), lpProcessAttributes ? "attributes" : "NULL",
                     lpThreadAttributes ? "attributes" : "NULL", Num(bInheritHandles), Hex(dwCreationFlags),
                     lpEnvironment ? "environment" : "NULL", Quote(lpCurrentDirectory),
                     lpStartupInfo ? "startup" : "NULL", lpProcessInformation ? "information" : "NULL"});
    });
    Phone& p = P();
    // What Windows CE 4.20 refuses: no image name, or one MAX_PATH long;
    // inheritance, an environment or a current folder; creation flags
    // beyond CREATE_SUSPENDED (4), the debug flags (1, 2), CREATE_NEW_CONSOLE
    // (0x10) and INHERIT_CALLER_PRIORITY (0x20000).
    constexpr DWORD kAllowedFlags = 0x1 | 0x2 | 0x4 | 0x10 | 0x20000;
    const std::u16string image = Str(lpApplicationName);
    if (!lpApplicationName || image.size() >= MAX_PATH || bInheritHandles || lpEnvironment || lpCurrentDirectory ||
        (dwCreationFlags & ~kAllowedFlags)) {
        p.lastError = ERROR_INVALID_PARAMETER;
        return tr.Returns<BOOL>(FALSE, "FALSE, ERROR_INVALID_PARAMETER");
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    if (!p.starter || !p.starter(image, Str(lpCommandLine), &error)) {
        p.lastError = error;
        return tr.Returns<BOOL>(FALSE, [&] { return "FALSE, error " + Num(error); });
    }
    if (lpProcessInformation) {
        lpProcessInformation->hProcess = reinterpret_cast<HANDLE>(kProcessHandleBase + p.nextProcessHandle++);
        lpProcessInformation->hThread = reinterpret_cast<HANDLE>(kProcessHandleBase + p.nextProcessHandle++);
        lpProcessInformation->dwProcessId = static_cast<DWORD>(p.processes.size());
        lpProcessInformation->dwThreadId = static_cast<DWORD>(p.processes.size());
    }
    return tr.Bool(TRUE);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    Traced tr("CloseHandle", [&] { return H(hObject); });
    ULONG_PTR h = reinterpret_cast<ULONG_PTR>(hObject);
    if (h < kProcessHandleBase || h >= kProcessHandleBase + P().nextProcessHandle) {
        P().lastError = ERROR_INVALID_HANDLE;
        return tr.Bool(FALSE);
    }
    return tr.Bool(TRUE);
}

}  // extern "C"
