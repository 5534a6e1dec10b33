// The end-to-end driver that runs under Wine.
//
// It stands in for the phone application: a window of class "Dialog" titled
// "Phone" that holds the foreground and logs every key it is given. It starts
// klavor.exe, presses keys with SendInput (so that they take Wine's real
// hot-key road), and checks what reaches its log, in order, and what does
// not. The registry value is set up beforehand by run_wine_tests.sh; each
// group of cases here assumes one configuration (see configs/).
//
//   phone_driver.exe [--klavor PATH] CASE...
//
// Prints one line per case and a closing "N passed, N failed"; the exit
// code is 0 only when every case passed.
#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// What klavor.exe is known by.
const wchar_t kKlavorClass[] = L"KlavorWndClass";
const wchar_t kKlavorTitle[] = L"Klavor Window";
constexpr UINT kTrayMessage = 3025;
constexpr UINT kTrayIconId = 5000;
constexpr DWORD kExitCodeMenu = 1;
constexpr DWORD kExitCodeAlreadyRunning = 0;

// A sequence fires on the sixth 100-ms tick after its last press. Wine's
// ticks keep to a fixed grid, and one that fell due just before the press
// is taken right after it, so the fire comes 400 to 600 ms after the press;
// the last press a button takes fires on the next tick, within 100 ms.
constexpr int kQuietPeriodMinMs = 400;
constexpr int kFireMaxMs = 600;
constexpr int kDeadlineMs = 5000;             // for anything that should happen at all
constexpr int kSilenceMs = kFireMaxMs + 400;  // watching for keys that must not come

struct Failure {
    std::string what;
};

[[noreturn]] void Fail(const std::string& what) { throw Failure{what}; }

void Require(bool ok, const std::string& what) {
    if (!ok) Fail(what);
}

std::string Narrow(const wchar_t* s) {
    std::string out;
    for (; *s; ++s) out += *s < 0x80 ? static_cast<char>(*s) : '?';
    return out;
}

// ---- The phone application's window and its key log -----------------------

// A key message as the phone window got it: WM_KEYDOWN, WM_KEYUP,
// WM_SYSKEYDOWN or WM_SYSKEYUP, and the virtual key.
struct Key {
    UINT message;
    UINT vk;
    bool operator==(const Key& o) const { return message == o.message && vk == o.vk; }
};
Key Down(UINT vk) { return Key{WM_KEYDOWN, vk}; }
Key Up(UINT vk) { return Key{WM_KEYUP, vk}; }

struct Logged {
    Key key;
    Clock::time_point t;
};

std::vector<Logged> g_log;           // keys the phone window received
std::vector<WPARAM> g_thiefHotKeys;  // hot-key ids the thief window received
HWND g_phone = nullptr;
HWND g_thief = nullptr;

std::string KeyName(UINT vk) {
    if (vk >= 'A' && vk <= 'Z') return std::string(1, static_cast<char>(vk));
    if (vk >= VK_F1 && vk <= VK_F24) return "F" + std::to_string(vk - VK_F1 + 1);
    switch (vk) {
    case VK_LWIN: return "LWin";
    case VK_SHIFT: return "Shift";
    case VK_LSHIFT: return "LShift";
    case VK_RETURN: return "Return";
    case VK_ESCAPE: return "Escape";
    case VK_UP: return "Up";
    case VK_DOWN: return "Down";
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X", vk);
    return buf;
}

std::string Describe(const Key& k) {
    const char* what = k.message == WM_KEYDOWN    ? " down"
                       : k.message == WM_KEYUP    ? " up"
                       : k.message == WM_SYSKEYUP ? " sysup"
                                                  : " sysdown";
    return KeyName(k.vk) + what;
}

std::string Describe(const std::vector<Key>& keys) {
    std::string out;
    for (const Key& k : keys) out += (out.empty() ? "" : ", ") + Describe(k);
    return "[" + out + "]";
}

std::vector<Key> LoggedKeys() {
    std::vector<Key> out;
    for (const Logged& l : g_log) out.push_back(l.key);
    return out;
}

LRESULT CALLBACK PhoneProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        g_log.push_back({Key{msg, static_cast<UINT>(wParam)}, Clock::now()});
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// Another program's window that holds a hot key of its own.
LRESULT CALLBACK ThiefProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_HOTKEY) {
        g_thiefHotKeys.push_back(wParam);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CreatePhoneWindow(const wchar_t* title) {
    HWND w = CreateWindowExW(0, L"Dialog", title, WS_OVERLAPPEDWINDOW, 50, 50, 240, 320, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    Require(w != nullptr, "could not create the phone window");
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
    return w;
}

void CreateWindows() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = PhoneProc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = L"Dialog";
    RegisterClassW(&wc);
    wc.lpfnWndProc = ThiefProc;
    wc.lpszClassName = L"KlavorWineThief";
    RegisterClassW(&wc);

    g_phone = CreatePhoneWindow(L"Phone");
    g_thief = CreateWindowExW(0, L"KlavorWineThief", L"Thief", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                              nullptr);
    Require(g_thief != nullptr, "could not create the thief window");
}

// ---- Waiting, with a deadline, while the phone's messages keep flowing -----

void PumpOnce(DWORD waitMs) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = kDeadlineMs) {
    auto deadline = Clock::now() + Ms(timeoutMs);
    for (;;) {
        PumpOnce(0);
        if (done()) return true;
        if (Clock::now() >= deadline) return false;
        PumpOnce(10);
    }
}

// Lets the messages flow for a while: only for watching that nothing comes.
void Watch(int ms) {
    WaitFor([] { return false; }, ms);
}

void EnsureForeground() {
    if (GetForegroundWindow() != g_phone) SetForegroundWindow(g_phone);
    Require(WaitFor([] { return GetForegroundWindow() == g_phone && GetFocus() == g_phone; }),
            "the phone window did not get the foreground");
}

// ---- Pressing keys -----------------------------------------------------------

INPUT KeyInput(UINT vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = static_cast<WORD>(vk);
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

void Send(const std::vector<INPUT>& inputs) {
    UINT sent = SendInput(static_cast<UINT>(inputs.size()), const_cast<INPUT*>(inputs.data()), sizeof(INPUT));
    Require(sent == inputs.size(), "SendInput sent " + std::to_string(sent) + " of " + std::to_string(inputs.size()));
}

Clock::time_point g_lastPress;

// A button press as the hardware makes it: modifiers down, key down and up,
// modifiers up.
void Press(UINT vk, std::vector<UINT> modifiers = {}) {
    std::vector<INPUT> inputs;
    for (UINT m : modifiers) inputs.push_back(KeyInput(m, false));
    inputs.push_back(KeyInput(vk, false));
    inputs.push_back(KeyInput(vk, true));
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) inputs.push_back(KeyInput(*it, true));
    Send(inputs);
    g_lastPress = Clock::now();
}

// Presses a button n times, close together (well inside the quiet period).
void PressTimes(UINT vk, int n) {
    for (int i = 0; i < n; ++i) {
        if (i) Watch(50);
        Press(vk);
    }
}

// Waits for exactly these keys, in this order, and then for a silence long
// enough that a late or doubled fire would have shown.
void ExpectKeys(const std::vector<Key>& expected) {
    WaitFor([&] { return g_log.size() >= expected.size(); }, kDeadlineMs);
    Watch(kSilenceMs);
    std::vector<Key> got = LoggedKeys();
    Require(got == expected, "keys " + Describe(got) + ", expected " + Describe(expected));
}

// Milliseconds from the last press to the first logged key that is this
// one; shown, since the timing is the point where it is asked for.
long long MsFromLastPressTo(Key key) {
    for (const Logged& l : g_log) {
        if (l.key == key) {
            long long ms = std::chrono::duration_cast<Ms>(l.t - g_lastPress).count();
            std::printf("  %s %lld ms after the last press\n", Describe(key).c_str(), ms);
            return ms;
        }
    }
    Fail("no " + Describe(key) + " in the log");
}

// ---- klavor.exe ----------------------------------------------------------------

std::wstring g_klavorPath;

struct Klavor {
    PROCESS_INFORMATION pi{};
    HWND window = nullptr;
};

HWND FindKlavorWindowOf(DWORD pid) {
    HWND found = nullptr;
    for (HWND w = FindWindowExW(nullptr, nullptr, kKlavorClass, kKlavorTitle); w;
         w = FindWindowExW(nullptr, w, kKlavorClass, kKlavorTitle)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (pid == 0 || owner == pid) found = w;
    }
    return found;
}

int CountKlavorWindows() {
    int n = 0;
    for (HWND w = FindWindowExW(nullptr, nullptr, kKlavorClass, nullptr); w;
         w = FindWindowExW(nullptr, w, kKlavorClass, nullptr))
        ++n;
    return n;
}

PROCESS_INFORMATION Launch() {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + g_klavorPath + L"\"";
    Require(CreateProcessW(g_klavorPath.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi),
            "CreateProcess of klavor.exe failed, error " + std::to_string(GetLastError()));
    return pi;
}

bool Exited(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

DWORD ExitCodeOf(HANDLE process) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

// Starts klavor.exe and waits until it is in its message loop, by which time
// it has captured its buttons.
Klavor StartKlavor() {
    Klavor k;
    k.pi = Launch();
    bool up = WaitFor([&] {
        k.window = FindKlavorWindowOf(k.pi.dwProcessId);
        return k.window != nullptr || Exited(k.pi.hProcess);
    }, 15000);
    Require(up && k.window, Exited(k.pi.hProcess)
                                ? "klavor.exe ended at start-up with exit code " + std::to_string(ExitCodeOf(k.pi.hProcess))
                                : "klavor.exe made no window");
    Require(WaitForInputIdle(k.pi.hProcess, kDeadlineMs) == 0, "klavor.exe never reached its message loop");
    EnsureForeground();
    return k;
}

void Close(Klavor& k) {
    if (k.pi.hProcess) {
        if (!Exited(k.pi.hProcess)) {
            TerminateProcess(k.pi.hProcess, 99);
            WaitForSingleObject(k.pi.hProcess, kDeadlineMs);
        }
        CloseHandle(k.pi.hThread);
        CloseHandle(k.pi.hProcess);
        k.pi = PROCESS_INFORMATION{};
    }
    WaitFor([] { return CountKlavorWindows() == 0; });
}

// Ends klavor.exe at the end of a case, whatever happened in it.
struct Running {
    Klavor k = StartKlavor();
    ~Running() { Close(k); }
};

// ---- The tray menu ---------------------------------------------------------

// klavor.exe's visible popup menu (class #32768), if it has one open.
HWND OpenMenuOf(const Klavor& k) {
    HWND found = nullptr;
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32768", nullptr); w && !found;
         w = FindWindowExW(nullptr, w, L"#32768", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == k.pi.dwProcessId && IsWindowVisible(w)) found = w;
    }
    return found;
}

void TapTray(const Klavor& k, LPARAM mouse = WM_LBUTTONDOWN) {
    Require(PostMessageW(k.window, kTrayMessage, 5000, mouse), "could not post the tray message");
}

HWND WaitForMenu(const Klavor& k) {
    HWND menu = nullptr;
    Require(WaitFor([&] { return (menu = OpenMenuOf(k)) != nullptr; }), "the tray menu did not open");
    return menu;
}

// Picks the n-th item (from 0) of the open menu with the keyboard. The
// menu's loop gets keys only while its owner has the foreground, which
// klavor.exe does not take itself: the driver hands it over.
void ChooseWithKeyboard(const Klavor& k, int item) {
    SetForegroundWindow(k.window);
    Require(WaitFor([&] { return GetForegroundWindow() == k.window; }), "klavor.exe did not take the foreground");
    std::vector<INPUT> keys;
    for (int i = 0; i <= item; ++i) {
        keys.push_back(KeyInput(VK_DOWN, false));
        keys.push_back(KeyInput(VK_DOWN, true));
    }
    keys.push_back(KeyInput(VK_RETURN, false));
    keys.push_back(KeyInput(VK_RETURN, true));
    Send(keys);
}

// ---- Ending klavor.exe from outside -----------------------------------------

// What klavor.exe holds with configs/presses.klavor: the plain, Win and
// Shift combinations of each captured button.
struct Combination {
    UINT mods;
    UINT vk;
};
const Combination kHeldCombinations[] = {
    {0, 0xC1}, {MOD_WIN, 0xC1}, {MOD_SHIFT, 0xC1}, {0, VK_F6}, {MOD_WIN, VK_F6}, {MOD_SHIFT, VK_F6},
    {0, VK_F7}, {MOD_WIN, VK_F7}, {MOD_SHIFT, VK_F7}, {0, VK_F3}, {MOD_WIN, VK_F3}, {MOD_SHIFT, VK_F3},
};

std::string Describe(const Combination& c) {
    return std::string(c.mods & MOD_WIN ? "Win+" : "") + (c.mods & MOD_SHIFT ? "Shift+" : "") + KeyName(c.vk);
}

// Those of klavor.exe's combinations another program can register now; each
// is let go again at once.
std::vector<std::string> FreeCombinations() {
    constexpr int kFirstId = 200;
    std::vector<std::string> free;
    int id = kFirstId;
    for (const Combination& c : kHeldCombinations) {
        if (RegisterHotKey(g_thief, id, c.mods, c.vk)) {
            free.push_back(Describe(c));
            UnregisterHotKey(g_thief, id);
        }
        ++id;
    }
    return free;
}

std::vector<std::string> AllCombinations() {
    std::vector<std::string> all;
    for (const Combination& c : kHeldCombinations) all.push_back(Describe(c));
    return all;
}

std::string Describe(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return "[" + out + "]";
}

// Whether the tray has klavor.exe's icon: the tray answers a change to an
// icon it has, and refuses one to an icon it does not.
bool TrayHasIconOf(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = kTrayIconId;
    data.uFlags = 0;  // changes nothing
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

// A running klavor.exe holds every combination and has its icon; after it
// ended, another program can take every one and the icon is gone. Wine also
// drops a window's hot keys and tray icon when the window goes, so these
// show what other programs see; the exit code is what shows the program's
// own teardown ran, since WinMain returns 1 only after it.
void RequireHoldingAll(const Klavor& k) {
    std::vector<std::string> free = FreeCombinations();
    Require(free.empty(), "klavor.exe does not hold " + Describe(free));
    Require(TrayHasIconOf(k.window), "klavor.exe has no tray icon");
}

void RequireEndedCleanly(const Klavor& k, DWORD code) {
    Require(WaitFor([&] { return Exited(k.pi.hProcess); }), "klavor.exe did not end");
    Require(ExitCodeOf(k.pi.hProcess) == code, "exit code " + std::to_string(ExitCodeOf(k.pi.hProcess)) +
                                                   ", expected " + std::to_string(code));
    Require(CountKlavorWindows() == 0, "a klavor window is left");
    std::vector<std::string> free = FreeCombinations();
    Require(free == AllCombinations(), "free after the end: " + Describe(free));
    Require(!TrayHasIconOf(k.window), "the tray icon is still there");
}

// ---- The cases -------------------------------------------------------------
//
// configs/presses.klavor, which most groups use:
//   Calendar   App1 capture  Win+App1, H
//   Volume Up  F6  capture  A, B, C (single, double, triple; presses 2)
//   Volume Dn  F7  capture  Win+D, E
//   Green      F3  capture  G (presses 0: fires on the next tick)
//   Red        F4  free     (nothing to free with on desktop: passes on)
//   F8, F9     not configured

void SinglePress() {
    Running r;
    Press(VK_F6);
    ExpectKeys({Up(VK_F6), Down('A'), Up('A')});
    long long ms = MsFromLastPressTo(Down('A'));
    Require(ms >= kQuietPeriodMinMs, "A came " + std::to_string(ms) + " ms after the press, before the quiet period");
}

void DoublePress() {
    Running r;
    PressTimes(VK_F6, 2);
    ExpectKeys({Up(VK_F6), Up(VK_F6), Down('B'), Up('B')});
    Require(MsFromLastPressTo(Down('B')) >= kQuietPeriodMinMs, "B came before the quiet period");
}

void TriplePress() {
    Running r;
    PressTimes(VK_F6, 3);
    ExpectKeys({Up(VK_F6), Up(VK_F6), Up(VK_F6), Down('C'), Up('C')});
    // The last press the button takes fires on the next tick, not after a
    // quiet period.
    long long ms = MsFromLastPressTo(Down('C'));
    Require(ms < kQuietPeriodMinMs, "C came " + std::to_string(ms) + " ms after the third press");
}

void PressesPastTheLastAction() {
    Running r;
    // Four presses in one go, all queued before the program's next tick:
    // the fourth is past the last action and still sends that one, once.
    std::vector<INPUT> presses;
    for (int i = 0; i < 4; ++i) {
        presses.push_back(KeyInput(VK_F6, false));
        presses.push_back(KeyInput(VK_F6, true));
    }
    Send(presses);
    ExpectKeys({Up(VK_F6), Up(VK_F6), Up(VK_F6), Up(VK_F6), Down('C'), Up('C')});
}

void WindowsKeyAction() {
    Running r;
    Press(VK_F7);
    ExpectKeys({Up(VK_F7), Down(VK_LWIN), Down('D'), Up(VK_LWIN), Up('D')});
}

void AnotherButtonDropsThePendingSequence() {
    Running r;
    // A double press pending on F6, then F7: F6 sends nothing, and F7
    // counts from its first press (a single press, not a triple).
    PressTimes(VK_F6, 2);
    Press(VK_F7);
    ExpectKeys({Up(VK_F6), Up(VK_F6), Up(VK_F7), Down(VK_LWIN), Down('D'), Up(VK_LWIN), Up('D')});
}

// Application button 1 arrives as Win+App1, and a single press sends just
// that on to the foreground application, as the defaults do for the shell.
// It must not come back to the program's own Win+App1 hot key.
void OwnKeyWithWindowsGoesOn() {
    Running r;
    Press(0xC1, {VK_LWIN});
    ExpectKeys({Down(VK_LWIN), Up(0xC1), Up(VK_LWIN), Down(VK_LWIN), Down(0xC1), Up(VK_LWIN), Up(0xC1)});
}

void ModifiedPressesCountAsTheButton() {
    Running r;
    // Shift+F6 and Win+F6 are the slot's other two hot keys: with the plain
    // press they make a triple press.
    Press(VK_F6, {VK_SHIFT});
    Press(VK_F6, {VK_LWIN});
    Press(VK_F6);
    ExpectKeys({Down(VK_SHIFT), Up(VK_F6), Up(VK_SHIFT), Down(VK_LWIN), Up(VK_F6), Up(VK_LWIN), Up(VK_F6),
                Down('C'), Up('C')});
}

void CountZeroFiresOnTheNextTick() {
    Running r;
    Press(VK_F3);
    ExpectKeys({Up(VK_F3), Down('G'), Up('G')});
    long long ms = MsFromLastPressTo(Down('G'));
    Require(ms < kQuietPeriodMinMs, "G came " + std::to_string(ms) + " ms after the press");
}

void OtherKeysPassUntouched() {
    Running r;
    Press(VK_F8);
    Press(VK_F4);  // "free" captures nothing, and on desktop frees nothing
    Press('Z', {VK_LWIN});
    ExpectKeys({Down(VK_F8), Up(VK_F8), Down(VK_F4), Up(VK_F4), Down(VK_LWIN), Down('Z'), Up('Z'), Up(VK_LWIN)});
}

void SequencesRepeat() {
    Running r;
    // The button is captured again after each fire.
    Press(VK_F6);
    WaitFor([] { return g_log.size() >= 3; });
    PressTimes(VK_F6, 2);
    ExpectKeys({Up(VK_F6), Down('A'), Up('A'), Up(VK_F6), Up(VK_F6), Down('B'), Up('B')});
}

void SecondCopyExitsAtOnce() {
    Running r;
    PROCESS_INFORMATION second = Launch();
    bool ended = WaitFor([&] { return Exited(second.hProcess); }, 10000);
    DWORD code = ExitCodeOf(second.hProcess);
    if (!ended) TerminateProcess(second.hProcess, 99);
    CloseHandle(second.hThread);
    CloseHandle(second.hProcess);
    Require(ended, "the second klavor.exe is still running");
    Require(code == kExitCodeAlreadyRunning, "the second klavor.exe exited with code " + std::to_string(code));
    Require(CountKlavorWindows() == 1, std::to_string(CountKlavorWindows()) + " klavor windows");
    // The first copy still holds its buttons.
    Require(!Exited(r.k.pi.hProcess), "the first klavor.exe ended");
    Press(VK_F6);
    ExpectKeys({Up(VK_F6), Down('A'), Up('A')});
}

void TrayExitEndsWithCodeOne() {
    Running r;
    // A fire releases and registers the button again; after Exit it must
    // be free all the same.
    Press(VK_F6);
    WaitFor([] { return g_log.size() >= 3; });
    TapTray(r.k);
    WaitForMenu(r.k);
    ChooseWithKeyboard(r.k, 1);
    Require(WaitFor([&] { return Exited(r.k.pi.hProcess); }), "klavor.exe did not end after Exit");
    DWORD code = ExitCodeOf(r.k.pi.hProcess);
    Require(code == kExitCodeMenu, "exit code " + std::to_string(code) + " after Exit");
    g_log.clear();
    EnsureForeground();
    Press(VK_F6);
    ExpectKeys({Down(VK_F6), Up(VK_F6)});
}

void TrayMenuDismissedKeepsRunning() {
    Running r;
    TapTray(r.k);
    HWND menu = WaitForMenu(r.k);
    // Just above a task bar of 52 pixels, on a screen over 330 pixels high.
    RECT rect{};
    GetWindowRect(menu, &rect);
    int bottom = GetSystemMetrics(SM_CYSCREEN) - 52;
    Require(rect.left == 513 && rect.bottom == bottom,
            "menu at left " + std::to_string(rect.left) + ", bottom " + std::to_string(rect.bottom) +
                "; expected 513, " + std::to_string(bottom));
    SetForegroundWindow(r.k.window);
    WaitFor([&] { return GetForegroundWindow() == r.k.window; });
    Send({KeyInput(VK_ESCAPE, false), KeyInput(VK_ESCAPE, true)});
    Require(WaitFor([&] { return OpenMenuOf(r.k) == nullptr; }), "the menu stayed open");
    Watch(300);
    Require(!Exited(r.k.pi.hProcess), "klavor.exe ended when the menu was dismissed");
    g_log.clear();
    EnsureForeground();
    Press(VK_F6);
    ExpectKeys({Up(VK_F6), Down('A'), Up('A')});
}

void PressesWorkWhileTheMenuIsOpen() {
    Running r;
    TapTray(r.k);
    HWND menu = WaitForMenu(r.k);
    // The menu's own loop goes on handling the program's hot keys and ticks.
    Press(VK_F6);
    ExpectKeys({Up(VK_F6), Down('A'), Up('A')});
    Require(OpenMenuOf(r.k) == menu, "the menu closed");
    ChooseWithKeyboard(r.k, 1);
    Require(WaitFor([&] { return Exited(r.k.pi.hProcess); }), "klavor.exe did not end after Exit");
    Require(ExitCodeOf(r.k.pi.hProcess) == kExitCodeMenu, "exit code " + std::to_string(ExitCodeOf(r.k.pi.hProcess)));
}

void TrayIgnoresOtherNotifications() {
    Running r;
    TapTray(r.k, WM_LBUTTONUP);
    TapTray(r.k, WM_RBUTTONDOWN);
    TapTray(r.k, WM_MOUSEMOVE);
    Require(!WaitFor([&] { return OpenMenuOf(r.k) != nullptr; }, 800), "a menu opened for a notification that is no tap");
    Require(!Exited(r.k.pi.hProcess), "klavor.exe ended");
}

// Opens the About box from the tray menu, as a user does; its window.
HWND OpenAboutBox(const Klavor& k) {
    TapTray(k);
    WaitForMenu(k);
    ChooseWithKeyboard(k, 0);
    HWND box = nullptr;
    Require(WaitFor([&] {
        box = FindWindowW(L"#32770", L"About");
        return box && IsWindowVisible(box);
    }), "no About box");
    return box;
}

void AboutBoxThenExit() {
    Running r;
    HWND box = OpenAboutBox(r.k);
    wchar_t text[512] = {};
    // The message text is the box's static control 0xFFFF.
    GetDlgItemTextW(box, 0xFFFF, text, 512);
    Require(std::wcsncmp(text, L"Klavor for HTC Himalaya/Andes/Alpine/Magician", 45) == 0,
            "About text: " + Narrow(text));
    Require(std::wcsstr(text, L"v1.0.1") != nullptr, "no version in the About text");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    Require(WaitFor([&] { return !IsWindow(box); }), "the About box stayed open");
    Require(!Exited(r.k.pi.hProcess), "klavor.exe ended after About");
    TapTray(r.k);
    WaitForMenu(r.k);
    ChooseWithKeyboard(r.k, 1);
    Require(WaitFor([&] { return Exited(r.k.pi.hProcess); }), "klavor.exe did not end after Exit");
    Require(ExitCodeOf(r.k.pi.hProcess) == kExitCodeMenu, "exit code " + std::to_string(ExitCodeOf(r.k.pi.hProcess)));
}

// A task manager or an installer closes klavor.exe: it ends as Exit does.
void CloseEndsWithCodeOne() {
    Running r;
    RequireHoldingAll(r.k);
    Require(PostMessageW(r.k.window, WM_CLOSE, 0, 0), "could not post WM_CLOSE");
    RequireEndedCleanly(r.k, kExitCodeMenu);
    EnsureForeground();
    Press(VK_F6);
    ExpectKeys({Down(VK_F6), Up(VK_F6)});
}

// WM_CLOSE while the tray menu's own loop runs. Wine's menu loop hands it to
// the window procedure, whose PostQuitMessage(1) it then takes off the
// queue without ending the menu. The menu stays open and working; once it
// is dismissed, klavor.exe posts the quit again and ends, freeing every
// button (docs/desktop-windows.md).
void CloseWhileTheMenuIsOpen() {
    Running r;
    RequireHoldingAll(r.k);
    TapTray(r.k);
    HWND menu = WaitForMenu(r.k);
    Require(PostMessageW(r.k.window, WM_CLOSE, 0, 0), "could not post WM_CLOSE");
    Require(!WaitFor([&] { return Exited(r.k.pi.hProcess) || OpenMenuOf(r.k) != menu; }, 1500),
            "WM_CLOSE ended the menu or klavor.exe");
    RequireHoldingAll(r.k);
    EnsureForeground();
    Press(VK_F6);
    ExpectKeys({Up(VK_F6), Down('A'), Up('A')});

    SetForegroundWindow(r.k.window);
    Require(WaitFor([&] { return GetForegroundWindow() == r.k.window; }), "klavor.exe did not take the foreground");
    Send({KeyInput(VK_ESCAPE, false), KeyInput(VK_ESCAPE, true)});
    Require(WaitFor([&] { return OpenMenuOf(r.k) == nullptr; }), "the menu stayed open");
    RequireEndedCleanly(r.k, kExitCodeMenu);
}

// WM_CLOSE while the About box's own loop runs: the box's loop hands it to
// the window procedure, the quit that posts ends the box (MessageBoxW
// returns, with IDOK) and then the program's own loop.
void CloseWhileTheAboutBoxIsOpen() {
    Running r;
    RequireHoldingAll(r.k);
    HWND box = OpenAboutBox(r.k);
    Require(PostMessageW(r.k.window, WM_CLOSE, 0, 0), "could not post WM_CLOSE");
    RequireEndedCleanly(r.k, kExitCodeMenu);
    Require(!IsWindow(box), "the About box outlived klavor.exe");
}

// ---- klavor_setup.dll, as the phone's installer calls it ----------------------

std::wstring g_setupPath;

using InstallInitFn = int (*)(HWND, BOOL, BOOL, LPCWSTR);
using InstallExitFn = int (*)(HWND, LPCWSTR, WORD, WORD, WORD, WORD, WORD);
using UninstallInitFn = int (*)(HWND, LPCWSTR);
using UninstallExitFn = int (*)(HWND);

// The DLL, and its four calls looked up by their plain names.
struct SetupDll {
    HMODULE module = nullptr;
    InstallInitFn installInit = nullptr;
    InstallExitFn installExit = nullptr;
    UninstallInitFn uninstallInit = nullptr;
    UninstallExitFn uninstallExit = nullptr;

    SetupDll() {
        module = LoadLibraryW(g_setupPath.c_str());
        Require(module != nullptr, "LoadLibrary of klavor_setup.dll failed, error " + std::to_string(GetLastError()));
        installInit = reinterpret_cast<InstallInitFn>(Export("Install_Init"));
        installExit = reinterpret_cast<InstallExitFn>(Export("Install_Exit"));
        uninstallInit = reinterpret_cast<UninstallInitFn>(Export("Uninstall_Init"));
        uninstallExit = reinterpret_cast<UninstallExitFn>(Export("Uninstall_Exit"));
    }
    ~SetupDll() { FreeLibrary(module); }

    void (*Export(const char* name))() {
        FARPROC f = GetProcAddress(module, name);
        Require(f != nullptr, std::string("klavor_setup.dll exports no ") + name);
        return reinterpret_cast<void (*)()>(f);
    }
};

// The folder klavor.exe is installed in, as the installer names it.
std::wstring InstallDir() { return g_klavorPath.substr(0, g_klavorPath.find_last_of(L"\\/")); }

// A klavor.exe that someone else started: found by its window.
Klavor AdoptKlavor(HWND window) {
    Klavor k;
    k.window = window;
    GetWindowThreadProcessId(window, &k.pi.dwProcessId);
    k.pi.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                k.pi.dwProcessId);
    Require(k.pi.hProcess != nullptr, "could not open the started klavor.exe");
    return k;
}

// Installing over a running Klavor: Install_Init ends it, Install_Exit
// starts the installed one only when nothing failed, Uninstall_Init ends
// that one; no call asks to cancel or to uninstall.
void SetupClosesAndStartsKlavor() {
    SetupDll dll;
    const std::wstring dir = InstallDir();
    Running r;
    RequireHoldingAll(r.k);

    auto called = Clock::now();
    Require(dll.installInit(nullptr, TRUE, FALSE, dir.c_str()) == 0, "Install_Init did not say continue");
    long long ms = std::chrono::duration_cast<Ms>(Clock::now() - called).count();
    std::printf("  Install_Init returned after %lld ms\n", ms);
    RequireEndedCleanly(r.k, kExitCodeMenu);

    // One failure of any kind, and nothing is started.
    const WORD failures[5][5] = {{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}};
    for (const WORD* f : failures)
        Require(dll.installExit(nullptr, dir.c_str(), f[0], f[1], f[2], f[3], f[4]) == 0,
                "Install_Exit after a failure asked for an uninstall");
    Require(!WaitFor([] { return CountKlavorWindows() != 0; }, 2000), "Install_Exit started klavor.exe after a failure");

    Require(dll.installExit(nullptr, dir.c_str(), 0, 0, 0, 0, 0) == 0, "Install_Exit asked for an uninstall");
    HWND window = nullptr;
    Require(WaitFor([&] { return (window = FindKlavorWindowOf(0)) != nullptr; }, 15000),
            "Install_Exit started no klavor.exe");
    Klavor started = AdoptKlavor(window);
    struct CloseAtEnd {
        Klavor& k;
        ~CloseAtEnd() { Close(k); }
    } closeAtEnd{started};
    Require(started.pi.dwProcessId != r.k.pi.dwProcessId, "the old klavor.exe is back");
    // It captures its buttons just after making its window.
    WaitFor([&] { return FreeCombinations().empty() && TrayHasIconOf(started.window); });
    RequireHoldingAll(started);
    EnsureForeground();
    Press(VK_F6);
    ExpectKeys({Up(VK_F6), Down('A'), Up('A')});

    Require(dll.uninstallInit(nullptr, dir.c_str()) == 0, "Uninstall_Init did not say continue");
    RequireEndedCleanly(started, kExitCodeMenu);
    Require(dll.uninstallExit(nullptr) == 0, "Uninstall_Exit did not say done");
}

// klavor.exe waits for the phone application before it captures anything;
// the Russian title ends the wait as well.
void WaitsForThePhoneWindow() {
    DestroyWindow(g_phone);
    g_phone = nullptr;
    struct RestorePhone {
        ~RestorePhone() {
            if (g_phone) DestroyWindow(g_phone);
            g_phone = CreatePhoneWindow(L"Phone");
        }
    } restore;
    Klavor k;
    k.pi = Launch();
    struct CloseAtEnd {
        Klavor& k;
        ~CloseAtEnd() { Close(k); }
    } closeAtEnd{k};
    // Still waiting: no window, and its buttons are not captured yet.
    Require(!WaitFor([&] { return FindKlavorWindowOf(k.pi.dwProcessId) != nullptr || Exited(k.pi.hProcess); }, 1500),
            "klavor.exe started without the phone window");
    g_phone = CreatePhoneWindow(L"\u0422\u0435\u043B\u0435\u0444\u043E\u043D");
    // One more second of sleep at most, then start-up.
    Require(WaitFor([&] { return (k.window = FindKlavorWindowOf(k.pi.dwProcessId)) != nullptr; }, 3000),
            "klavor.exe did not come up after the phone window appeared");
    Require(WaitForInputIdle(k.pi.hProcess, kDeadlineMs) == 0, "klavor.exe never reached its message loop");
    EnsureForeground();
    Press(VK_F6);
    ExpectKeys({Up(VK_F6), Down('A'), Up('A')});
}

// configs: none (the value is deleted) or a value of the wrong length.
void NothingCapturedWithoutConfiguration() {
    Running r;
    Press(VK_F6);
    Press(VK_F7);
    Press(0xC1, {VK_LWIN});  // application button 1, slot 0 of the built-in table
    Press(VK_F3, {VK_SHIFT});
    ExpectKeys({Down(VK_F6), Up(VK_F6), Down(VK_F7), Up(VK_F7), Down(VK_LWIN), Down(0xC1), Up(0xC1), Up(VK_LWIN),
                Down(VK_SHIFT), Down(VK_F3), Up(VK_F3), Up(VK_SHIFT)});
}

// Another program holds plain F6 before klavor.exe starts. With no
// UnregisterFunc1 on desktop, klavor.exe cannot take it; it still holds
// Shift+F6, Win+F6 and the other buttons.
void HeldCombinationIsSkipped() {
    constexpr int kThiefId = 77;
    Require(RegisterHotKey(g_thief, kThiefId, 0, VK_F6), "the thief could not register F6");
    struct Unregister {
        ~Unregister() { UnregisterHotKey(g_thief, kThiefId); }
    } unregister;
    g_thiefHotKeys.clear();
    Running r;
    Press(VK_F6);
    Require(WaitFor([] { return !g_thiefHotKeys.empty(); }), "the thief lost F6 to klavor.exe");
    ExpectKeys({Up(VK_F6)});  // and no A: klavor.exe never saw the press
    g_log.clear();
    Press(VK_F6, {VK_SHIFT});
    ExpectKeys({Down(VK_SHIFT), Up(VK_F6), Up(VK_SHIFT), Down('A'), Up('A')});
    g_log.clear();
    Press(VK_F7);
    ExpectKeys({Up(VK_F7), Down(VK_LWIN), Down('D'), Up(VK_LWIN), Up('D')});
    // Firing re-registered the slot: plain F6 still belongs to the thief.
    g_log.clear();
    g_thiefHotKeys.clear();
    Press(VK_F6);
    Require(WaitFor([] { return g_thiefHotKeys.size() == 1; }), "the thief lost F6 after a fire");
    ExpectKeys({Up(VK_F6)});
    Require(g_thiefHotKeys[0] == kThiefId, "hot key id " + std::to_string(g_thiefHotKeys[0]));
}

struct Case {
    const char* name;
    void (*run)();
};

const Case kCases[] = {
    {"single_press", SinglePress},
    {"double_press", DoublePress},
    {"triple_press", TriplePress},
    {"presses_past_the_last_action", PressesPastTheLastAction},
    {"windows_key_action", WindowsKeyAction},
    {"another_button_drops_the_pending_sequence", AnotherButtonDropsThePendingSequence},
    {"own_key_with_windows_goes_on", OwnKeyWithWindowsGoesOn},
    {"modified_presses_count_as_the_button", ModifiedPressesCountAsTheButton},
    {"count_zero_fires_on_the_next_tick", CountZeroFiresOnTheNextTick},
    {"other_keys_pass_untouched", OtherKeysPassUntouched},
    {"sequences_repeat", SequencesRepeat},
    {"second_copy_exits_at_once", SecondCopyExitsAtOnce},
    {"waits_for_the_phone_window", WaitsForThePhoneWindow},
    {"tray_exit_ends_with_code_one", TrayExitEndsWithCodeOne},
    {"tray_menu_dismissed_keeps_running", TrayMenuDismissedKeepsRunning},
    {"tray_ignores_other_notifications", TrayIgnoresOtherNotifications},
    {"presses_work_while_the_menu_is_open", PressesWorkWhileTheMenuIsOpen},
    {"about_box_then_exit", AboutBoxThenExit},
    {"close_ends_with_code_one", CloseEndsWithCodeOne},
    {"close_while_the_menu_is_open", CloseWhileTheMenuIsOpen},
    {"close_while_the_about_box_is_open", CloseWhileTheAboutBoxIsOpen},
    {"setup_closes_and_starts_klavor", SetupClosesAndStartsKlavor},
    {"nothing_captured_without_configuration", NothingCapturedWithoutConfiguration},
    {"held_combination_is_skipped", HeldCombinationIsSkipped},
};

std::wstring NextToThisProgram(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_klavorPath = NextToThisProgram(L"klavor.exe");
    g_setupPath = NextToThisProgram(L"klavor_setup.dll");
    std::vector<const Case*> run;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--klavor") == 0 && i + 1 < argc) {
            g_klavorPath = argv[++i];
            continue;
        }
        const Case* found = nullptr;
        for (const Case& c : kCases)
            if (Narrow(argv[i]) == c.name) found = &c;
        if (!found) {
            std::printf("unknown case %s\n", Narrow(argv[i]).c_str());
            return 2;
        }
        run.push_back(found);
    }
    if (run.empty()) {
        std::printf("usage: phone_driver [--klavor PATH] CASE...\ncases:\n");
        for (const Case& c : kCases) std::printf("  %s\n", c.name);
        return 2;
    }

    int passed = 0, failed = 0;
    try {
        CreateWindows();
    } catch (const Failure& f) {
        std::printf("setup failed: %s\n", f.what.c_str());
        return 1;
    }
    for (const Case* c : run) {
        g_log.clear();
        g_thiefHotKeys.clear();
        std::printf("[ RUN      ] %s\n", c->name);
        std::fflush(stdout);
        auto start = Clock::now();
        try {
            EnsureForeground();
            c->run();
            ++passed;
            std::printf("[       OK ] %s (%lld ms)\n", c->name,
                        static_cast<long long>(std::chrono::duration_cast<Ms>(Clock::now() - start).count()));
        } catch (const Failure& f) {
            ++failed;
            std::printf("%s\n  phone window's log: %s\n[  FAILED  ] %s\n", f.what.c_str(),
                        Describe(LoggedKeys()).c_str(), c->name);
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
