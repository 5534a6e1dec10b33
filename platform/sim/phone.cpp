// The simulated phone behind the stand-in <windows.h>.
//
// One deterministic model of the parts of Windows CE a small resident
// utility touches. Time is virtual and moves only while the program waits
// (Sleep, an empty message queue, a modal loop) or when a driver advances it.
#include "phone.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace sim {
namespace {

constexpr Time kDefaultRunLimit = 60ull * 60ull * 1000ull;
constexpr ULONG_PTR kWindowBase = 0x10000;
constexpr ULONG_PTR kKeyBase = 0x20000;
constexpr ULONG_PTR kIconBase = 0x30000;
constexpr ULONG_PTR kMenuBase = 0x40000;
constexpr ULONG_PTR kBrushBase = 0x50000;
constexpr ULONG_PTR kCoredll = 0x7F000000;
constexpr ULONG_PTR kProgramInstance = 0x00400000;

struct Window {
    Pid pid;
    std::u16string cls;
    std::u16string title;
    WNDPROC proc = nullptr;
};

struct WindowClass {
    WNDPROC proc;
    UINT style;
};

struct Timer {
    HWND hwnd;
    UINT id;
    UINT period;
    Time due;
};

struct Scheduled {
    Time t;
    std::uint64_t seq;
    std::function<void()> fn;
};

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

// A modal loop in progress (a tracked menu or a message box).
struct Modal {
    bool open = false;
    HMENU menu = nullptr;
    int result = 0;
    std::u16string text;
    std::u16string caption;
};

struct Phone {
    Time now = 0;
    Time limit = kDefaultRunLimit;
    std::uint64_t seq = 0;
    std::uint64_t order = 0;  // of calls and events together
    std::vector<Scheduled> scheduled;

    std::vector<std::string> processes;  // index = pid
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
    std::map<ULONG_PTR, std::u16string> openKeys;
    ULONG_PTR nextKey = kKeyBase;

    std::vector<HotKey> hotKeys;
    std::set<BYTE> held;

    std::vector<MSG> queue;  // the program's thread
    bool quitPosted = false;
    int quitCode = 0;
    std::vector<Timer> timers;
    std::vector<Received> received;

    std::vector<TrayIcon> tray;
    std::map<ULONG_PTR, Menu> menus;
    ULONG_PTR nextMenu = kMenuBase;
    Modal menuLoop;
    Modal boxLoop;

    DWORD lastError = 0;
    std::vector<Call> trace;
    std::vector<Event> events;
};

Phone& P() {
    static Phone phone;
    return phone;
}

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

std::string Quote(LPCWSTR s) {
    if (!s) return "NULL";
    if (IsIntResource(s)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(s));
    return "\"" + Utf8(s) + "\"";
}

std::string H(const void* h) { return h ? Hex(reinterpret_cast<ULONG_PTR>(h)) : "NULL"; }

std::string Num(long long v) { return std::to_string(v); }

std::string Join(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += ", ";
        out += p;
    }
    return out;
}

// Records a call when it starts, so that calls made from inside it (a window
// procedure run by CreateWindowExW or DispatchMessageW) follow it in the trace.
class Traced {
public:
    Traced(const char* name, std::string args) : index_(P().trace.size()) {
        P().trace.push_back(Call{P().now, name, std::move(args), "", ++P().order});
    }
    template <typename T>
    T Returns(T value, std::string text) {
        P().trace[index_].result = std::move(text);
        return value;
    }
    BOOL Bool(BOOL value) { return Returns(value, value ? "TRUE" : "FALSE"); }
    // For a call that waited: it is shown at the time it returned.
    void ReturnedNow() { P().trace[index_].t = P().now; }
    void Void() { P().trace[index_].result = ""; }

private:
    std::size_t index_;
};

Window* Win(HWND h) {
    auto v = reinterpret_cast<ULONG_PTR>(h);
    if (v < kWindowBase || v >= kWindowBase + P().windows.size()) return nullptr;
    return &P().windows[v - kWindowBase];
}

Event MakeEvent(Event::Kind kind) {
    Event e;
    e.kind = kind;
    e.t = P().now;
    e.order = ++P().order;
    return e;
}

HWND NewWindow(Pid pid, const std::u16string& cls, const std::u16string& title, WNDPROC proc) {
    P().windows.push_back(Window{pid, cls, title, proc});
    HWND h = reinterpret_cast<HWND>(kWindowBase + P().windows.size() - 1);
    Event e = MakeEvent(Event::Kind::WindowCreated);
    e.hwnd = h;
    e.text = cls;
    e.caption = title;
    P().events.push_back(e);
    return h;
}

void Emit(Event e) {
    e.t = P().now;
    e.order = ++P().order;
    P().events.push_back(std::move(e));
}

void PostTo(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Win(hwnd);
    if (!w) return;
    if (w->pid == kProgram) {
        MSG m{};
        m.hwnd = hwnd;
        m.message = msg;
        m.wParam = wParam;
        m.lParam = lParam;
        m.time = static_cast<DWORD>(P().now);
        P().queue.push_back(m);
    } else {
        P().received.push_back(Received{P().now, hwnd, msg, wParam, lParam});
    }
}

// Runs the scheduled events due by time t, in order, moving the clock to
// each event's time. Events may schedule further events.
void RunEventsUntil(Time t) {
    for (;;) {
        auto& s = P().scheduled;
        auto it = std::min_element(s.begin(), s.end(), [](const Scheduled& a, const Scheduled& b) {
            return a.t != b.t ? a.t < b.t : a.seq < b.seq;
        });
        if (it == s.end() || it->t > t) break;
        Scheduled ev = std::move(*it);
        s.erase(it);
        if (ev.t > P().now) P().now = ev.t;
        ev.fn();
    }
    if (t > P().now) P().now = t;
}

std::optional<Time> NextEventTime() {
    std::optional<Time> next;
    for (const auto& s : P().scheduled)
        if (!next || s.t < *next) next = s.t;
    return next;
}

UINT HeldModifiers(BYTE except) {
    UINT mods = 0;
    for (BYTE k : P().held) {
        if (k == except) continue;
        if (k == VK_LWIN || k == VK_RWIN) mods |= MOD_WIN;
        if (k == VK_SHIFT || k == VK_LSHIFT || k == VK_RSHIFT) mods |= MOD_SHIFT;
        if (k == 0x11 || k == 0xA2 || k == 0xA3) mods |= MOD_CONTROL;
        if (k == 0x12 || k == 0xA4 || k == 0xA5) mods |= MOD_ALT;
    }
    return mods;
}

const UINT kComboMods = MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN;

HotKey* FindHotKey(UINT mods, UINT vk) {
    for (auto& k : P().hotKeys)
        if ((k.mods & kComboMods) == (mods & kComboMods) && k.vk == vk) return &k;
    return nullptr;
}

// The road of every key event, from a hardware button or keybd_event: the
// modifier state, then the hot-key table (a matching key-down becomes
// WM_HOTKEY for its holder and goes no further), else the foreground window.
void RouteKey(BYTE vk, bool up, bool injected) {
    UINT mods = HeldModifiers(vk);
    if (up)
        P().held.erase(vk);
    else
        P().held.insert(vk);
    if (!up) {
        if (HotKey* k = FindHotKey(mods, vk)) {
            HotKey hk = *k;
            PostTo(hk.hwnd, WM_HOTKEY, static_cast<WPARAM>(hk.id), MAKELONG(mods, vk));
            Event e = MakeEvent(Event::Kind::HotKeyPosted);
            e.hwnd = hk.hwnd;
            e.id = hk.id;
            e.mods = mods;
            e.vk = vk;
            e.injected = injected;
            Emit(e);
            return;
        }
    }
    HWND to = Win(P().foreground) ? P().foreground : nullptr;
    if (to) PostTo(to, up ? WM_KEYUP : WM_KEYDOWN, vk, 0);
    Event e = MakeEvent(Event::Kind::KeyToForeground);
    e.hwnd = to;
    e.vk = vk;
    e.up = up;
    e.injected = injected;
    Emit(e);
}

// Waits for the program's next message, letting virtual time pass to the
// next timer or scheduled event. Returns false, without a message, as soon
// as stop() holds after events have run. Throws Halted at the end of a run.
bool NextMessage(MSG* out, const std::function<bool()>& stop) {
    Phone& p = P();
    for (;;) {
        if (stop && stop()) return false;
        if (!p.queue.empty()) {
            *out = p.queue.front();
            p.queue.erase(p.queue.begin());
            return true;
        }
        if (p.quitPosted) {
            p.quitPosted = false;
            *out = MSG{};
            out->message = WM_QUIT;
            out->wParam = static_cast<WPARAM>(p.quitCode);
            out->time = static_cast<DWORD>(p.now);
            return true;
        }
        Timer* due = nullptr;
        for (auto& t : p.timers)
            if (Win(t.hwnd) && t.due <= p.now && (!due || t.due < due->due)) due = &t;
        if (due) {
            // Missed periods are not made up: one WM_TIMER now, and the
            // next on the timer's own grid, as Windows does.
            while (due->due <= p.now) due->due += due->period;
            *out = MSG{};
            out->hwnd = due->hwnd;
            out->message = WM_TIMER;
            out->wParam = due->id;
            out->time = static_cast<DWORD>(p.now);
            return true;
        }
        std::optional<Time> next = NextEventTime();
        for (const auto& t : p.timers)
            if (Win(t.hwnd) && (!next || t.due < *next)) next = t.due;
        if (!next) throw Halted{"nothing left to wait for"};
        if (*next > p.limit) {
            RunEventsUntil(p.limit);
            throw Halted{"run limit reached"};
        }
        RunEventsUntil(*next);
    }
}

LONG DispatchTo(const MSG* m) {
    Window* w = Win(m->hwnd);
    if (!w || !w->proc) return 0;
    return static_cast<LONG>(w->proc(m->hwnd, m->message, m->wParam, m->lParam));
}

// A modal loop on the program's thread: it keeps dispatching the program's
// messages until the loop is closed by the driver. A WM_QUIT ends it and is
// posted again for the outer loop.
void RunModal(Modal& loop) {
    MSG m;
    while (NextMessage(&m, [&loop] { return !loop.open; })) {
        if (m.message == WM_QUIT) {
            P().quitPosted = true;
            P().quitCode = static_cast<int>(m.wParam);
            loop.open = false;
            loop.result = 0;
            break;
        }
        DispatchTo(&m);
    }
}

BOOL WINAPI SimUnregisterFunc1(UINT fsModifiers, UINT vk) {
    Traced tr("UnregisterFunc1", Join({Num(fsModifiers), Hex(vk)}));
    auto& keys = P().hotKeys;
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const HotKey& k) {
                                  return (k.mods & kComboMods) == (fsModifiers & kComboMods) &&
                                         k.vk == vk;
                              }),
               keys.end());
    return tr.Bool(TRUE);
}

// Registry keys are kept by their full lower-case path below the root's
// handle value, e.g. "0x80000002\\software\\morvane".
std::u16string RegPath(HKEY root, const std::u16string& path) {
    std::u16string full = Utf16(Hex(reinterpret_cast<ULONG_PTR>(root)));
    if (!path.empty()) full += u"\\" + LowerStr(path);
    while (!full.empty() && full.back() == u'\\') full.pop_back();
    return full;
}

}  // namespace

// ---- Helpers -------------------------------------------------------------------

std::string Utf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Utf16(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else {
            c = b & 0x07;
            extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < s.size(); ++k, ++i)
            c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Hex(unsigned long long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX", v);
    return buf;
}

std::string Call::Text() const {
    std::string s = name + "(" + args + ")";
    if (!result.empty()) s += " -> " + result;
    return s;
}

// ---- Driver API -----------------------------------------------------------------

void Reset() {
    P() = Phone{};
    P().processes = {"(none)", "program"};
}

Time Now() { return P().now; }
void SetRunLimit(Time limit) { P().limit = limit; }

void At(Time t, std::function<void()> fn) {
    P().scheduled.push_back(Scheduled{t, P().seq++, std::move(fn)});
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

HWND CreateWindowFor(Pid pid, const std::u16string& cls, const std::u16string& title) {
    return NewWindow(pid, cls, title, nullptr);
}

Pid OwnerOf(HWND hwnd) {
    Window* w = Win(hwnd);
    return w ? w->pid : 0;
}

std::u16string TitleOf(HWND hwnd) {
    Window* w = Win(hwnd);
    return w ? w->title : std::u16string();
}

void SetForeground(HWND hwnd) { P().foreground = hwnd; }
void SetScreen(int width, int height) {
    P().screenWidth = width;
    P().screenHeight = height;
}

HINSTANCE ProgramInstance() { return reinterpret_cast<HINSTANCE>(kProgramInstance); }

void SetProgramIcons(const std::vector<int>& ids) { P().icons = std::set<int>(ids.begin(), ids.end()); }

void SetCoredll(bool loads, bool exportsUnregisterFunc1) {
    P().coredllLoads = loads;
    P().coredllExports = exportsUnregisterFunc1;
}

void SetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
                      const std::vector<std::uint8_t>& data) {
    P().registry[RegPath(root, path)][LowerStr(name)] = RegValue{type, data};
}

void CreateRegistryKey(HKEY root, const std::u16string& path) { P().registry[RegPath(root, path)]; }

void KeyDown(BYTE vk) { RouteKey(vk, false, false); }
void KeyUp(BYTE vk) { RouteKey(vk, true, false); }

void Press(BYTE vk, UINT mods) {
    std::vector<BYTE> modifiers;
    if (mods & MOD_WIN) modifiers.push_back(VK_LWIN);
    if (mods & MOD_SHIFT) modifiers.push_back(VK_SHIFT);
    if (mods & MOD_CONTROL) modifiers.push_back(0x11);
    if (mods & MOD_ALT) modifiers.push_back(0x12);
    for (BYTE m : modifiers) KeyDown(m);
    KeyDown(vk);
    KeyUp(vk);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) KeyUp(*it);
}

bool RegisterHotKeyFor(HWND hwnd, int id, UINT mods, UINT vk) {
    if (!Win(hwnd)) return false;
    HotKey* held = FindHotKey(mods, vk);
    if (held && !(held->hwnd == hwnd && held->id == id)) return false;
    auto& keys = P().hotKeys;
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const HotKey& k) { return k.hwnd == hwnd && k.id == id; }),
               keys.end());
    keys.push_back(HotKey{hwnd, id, mods, vk});
    return true;
}

void StealHotKey(HWND hwnd, int id, UINT mods, UINT vk) {
    auto& keys = P().hotKeys;
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const HotKey& k) {
                                  return (k.mods & kComboMods) == (mods & kComboMods) && k.vk == vk;
                              }),
               keys.end());
    RegisterHotKeyFor(hwnd, id, mods, vk);
}

std::vector<HotKey> HotKeys() { return P().hotKeys; }

std::optional<HotKey> HotKeyHolder(UINT mods, UINT vk) {
    if (HotKey* k = FindHotKey(mods, vk)) return *k;
    return std::nullopt;
}

std::vector<MSG> TakeProgramMessages() {
    std::vector<MSG> out;
    out.swap(P().queue);
    return out;
}

std::vector<TrayIcon> TrayIcons() { return P().tray; }

bool NotifyTrayIcon(HWND hwnd, UINT id, UINT mouseMessage) {
    for (const auto& t : P().tray) {
        if (t.hwnd == hwnd && t.id == id) {
            if (t.flags & NIF_MESSAGE) PostTo(hwnd, t.callbackMessage, id, static_cast<LPARAM>(mouseMessage));
            return true;
        }
    }
    return false;
}

bool TapTrayIcon(HWND hwnd, UINT id) {
    return NotifyTrayIcon(hwnd, id, WM_LBUTTONDOWN) && NotifyTrayIcon(hwnd, id, WM_LBUTTONUP);
}

bool MenuOpen() { return P().menuLoop.open; }

bool ChooseMenuItem(const std::u16string& label) {
    Modal& loop = P().menuLoop;
    if (!loop.open) return false;
    auto it = P().menus.find(reinterpret_cast<ULONG_PTR>(loop.menu));
    if (it == P().menus.end()) return false;
    for (const auto& item : it->second.items) {
        if (item.label == label) {
            loop.result = static_cast<int>(item.id);
            loop.open = false;
            return true;
        }
    }
    return false;
}

bool DismissMenu() {
    Modal& loop = P().menuLoop;
    if (!loop.open) return false;
    loop.result = 0;
    loop.open = false;
    return true;
}

bool CloseMessageBox() {
    if (!P().boxLoop.open) return false;
    P().boxLoop.result = IDOK;
    P().boxLoop.open = false;
    return true;
}

const std::vector<Call>& Trace() { return P().trace; }

std::vector<std::string> TraceOf(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& c : P().trace)
        if (names.empty() || std::find(names.begin(), names.end(), c.name) != names.end())
            out.push_back(c.Text());
    return out;
}

void ClearTrace() { P().trace.clear(); }

const std::vector<Event>& Events() { return P().events; }

void AddNote(const std::string& note) {
    Event e = MakeEvent(Event::Kind::Note);
    e.note = note;
    Emit(e);
}

std::vector<Delivery> Delivered() {
    std::vector<Delivery> out;
    for (const auto& e : P().events)
        if (e.kind == Event::Kind::KeyToForeground)
            out.push_back(Delivery{e.t, e.hwnd, static_cast<BYTE>(e.vk), e.up, e.injected});
    return out;
}

std::vector<Received> ReceivedBy(HWND hwnd) {
    std::vector<Received> out;
    for (const auto& r : P().received)
        if (r.to == hwnd) out.push_back(r);
    return out;
}

}  // namespace sim

using namespace sim;

// ---- The Win32 API, as the program sees it ----------------------------------

extern "C" {

BOOL WINAPI RegisterHotKey(HWND hWnd, int id, UINT fsModifiers, UINT vk) {
    Traced tr("RegisterHotKey", Join({H(hWnd), Num(id), Num(fsModifiers), Hex(vk)}));
    Window* w = Win(hWnd);
    if (!w) {
        P().lastError = ERROR_INVALID_HANDLE;
        return tr.Bool(FALSE);
    }
    if (!RegisterHotKeyFor(hWnd, id, fsModifiers, vk)) {
        P().lastError = ERROR_HOTKEY_ALREADY_REGISTERED;
        return tr.Bool(FALSE);
    }
    return tr.Bool(TRUE);
}

BOOL WINAPI UnregisterHotKey(HWND hWnd, int id) {
    Traced tr("UnregisterHotKey", Join({H(hWnd), Num(id)}));
    auto& keys = P().hotKeys;
    auto it = std::find_if(keys.begin(), keys.end(),
                           [&](const HotKey& k) { return k.hwnd == hWnd && k.id == id; });
    if (it == keys.end()) {
        P().lastError = ERROR_HOTKEY_NOT_REGISTERED;
        return tr.Bool(FALSE);
    }
    keys.erase(it);
    return tr.Bool(TRUE);
}

void WINAPI keybd_event(BYTE bVk, BYTE bScan, DWORD dwFlags, DWORD dwExtraInfo) {
    Traced tr("keybd_event", Join({Hex(bVk), Num(bScan), Num(dwFlags), Num(dwExtraInfo)}));
    RouteKey(bVk, (dwFlags & KEYEVENTF_KEYUP) != 0, true);
    tr.Void();
}

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
    Traced tr("RegOpenKeyExW", Join({H(hKey), Quote(lpSubKey), Num(ulOptions), Num(samDesired)}));
    std::u16string base;
    auto open = P().openKeys.find(reinterpret_cast<ULONG_PTR>(hKey));
    if (open != P().openKeys.end())
        base = open->second;
    else if (hKey == HKEY_LOCAL_MACHINE)
        base = RegPath(hKey, u"");
    else
        return tr.Returns<LONG>(ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE");
    std::u16string full = base;
    if (lpSubKey && *lpSubKey) full += u"\\" + LowerStr(Str(lpSubKey));
    while (!full.empty() && full.back() == u'\\') full.pop_back();
    bool exists = false;
    for (const auto& k : P().registry) {
        const std::u16string& name = k.first;
        if (name == full || (name.size() > full.size() && name.compare(0, full.size(), full) == 0 &&
                             name[full.size()] == u'\\'))
            exists = true;
    }
    if (!exists) {
        if (phkResult) *phkResult = nullptr;
        return tr.Returns<LONG>(ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND");
    }
    ULONG_PTR handle = P().nextKey++;
    P().openKeys[handle] = full;
    if (phkResult) *phkResult = reinterpret_cast<HKEY>(handle);
    return tr.Returns<LONG>(ERROR_SUCCESS, "ERROR_SUCCESS, key " + Hex(handle));
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    Traced tr("RegQueryValueExW",
              Join({H(hKey), Quote(lpValueName), lpReserved ? "reserved" : "NULL", lpType ? "type" : "NULL",
                    lpData ? "buffer" : "NULL",
                    lpcbData ? Num(*lpcbData) : "NULL"}));
    (void)lpReserved;
    auto open = P().openKeys.find(reinterpret_cast<ULONG_PTR>(hKey));
    if (open == P().openKeys.end()) return tr.Returns<LONG>(ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE");
    auto key = P().registry.find(open->second);
    if (key == P().registry.end()) return tr.Returns<LONG>(ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND");
    auto value = key->second.find(LowerStr(Str(lpValueName)));
    if (value == key->second.end())
        return tr.Returns<LONG>(ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND");
    const RegValue& v = value->second;
    auto size = static_cast<DWORD>(v.data.size());
    if (lpType) *lpType = v.type;
    if (!lpData) {
        if (lpcbData) *lpcbData = size;
        return tr.Returns<LONG>(ERROR_SUCCESS, "ERROR_SUCCESS, size " + Num(size));
    }
    if (!lpcbData) return tr.Returns<LONG>(87, "ERROR_INVALID_PARAMETER");
    if (*lpcbData < size) {
        // As on the real system: the size needed, and nothing usable copied.
        *lpcbData = size;
        return tr.Returns<LONG>(ERROR_MORE_DATA, "ERROR_MORE_DATA, size " + Num(size));
    }
    std::copy(v.data.begin(), v.data.end(), lpData);
    *lpcbData = size;
    return tr.Returns<LONG>(ERROR_SUCCESS, "ERROR_SUCCESS, size " + Num(size));
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    Traced tr("RegCloseKey", H(hKey));
    if (P().openKeys.erase(reinterpret_cast<ULONG_PTR>(hKey)) == 0)
        return tr.Returns<LONG>(ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE");
    return tr.Returns<LONG>(ERROR_SUCCESS, "ERROR_SUCCESS");
}

HINSTANCE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    Traced tr("LoadLibraryW", Quote(lpLibFileName));
    if (LowerStr(Str(lpLibFileName)) == u"coredll.dll" && P().coredllLoads) {
        ++P().coredllRefs;
        return tr.Returns(reinterpret_cast<HINSTANCE>(kCoredll), Hex(kCoredll));
    }
    P().lastError = 126;  // ERROR_MOD_NOT_FOUND
    return tr.Returns<HINSTANCE>(nullptr, "NULL");
}

FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName) {
    Traced tr("GetProcAddressW", Join({H(hModule), Quote(lpProcName)}));
    if (reinterpret_cast<ULONG_PTR>(hModule) == kCoredll && P().coredllRefs > 0 && P().coredllExports &&
        Str(lpProcName) == u"UnregisterFunc1")
        return tr.Returns(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&SimUnregisterFunc1)), "UnregisterFunc1");
    P().lastError = 127;  // ERROR_PROC_NOT_FOUND
    return tr.Returns<FARPROC>(nullptr, "NULL");
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    Traced tr("FreeLibrary", H(hLibModule));
    if (reinterpret_cast<ULONG_PTR>(hLibModule) == kCoredll && P().coredllRefs > 0) {
        --P().coredllRefs;
        return tr.Bool(TRUE);
    }
    P().lastError = ERROR_INVALID_HANDLE;
    return tr.Bool(FALSE);
}

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    Traced tr("FindWindowW", Join({Quote(lpClassName), Quote(lpWindowName)}));
    for (std::size_t i = 0; i < P().windows.size(); ++i) {
        const Window& w = P().windows[i];
        if (lpClassName && LowerStr(w.cls) != LowerStr(Str(lpClassName))) continue;
        // Class and title both match without regard to case.
        if (lpWindowName && LowerStr(w.title) != LowerStr(Str(lpWindowName))) continue;
        HWND h = reinterpret_cast<HWND>(kWindowBase + i);
        return tr.Returns(h, H(h));
    }
    return tr.Returns<HWND>(nullptr, "NULL");
}

ATOM WINAPI RegisterClassW(const WNDCLASSW* wc) {
    Traced tr("RegisterClassW",
              wc ? Join({"style " + Num(wc->style), "extra " + Num(wc->cbClsExtra) + "/" + Num(wc->cbWndExtra),
                         "instance " + H(wc->hInstance), "icon " + H(wc->hIcon), "cursor " + H(wc->hCursor),
                         "background " + H(wc->hbrBackground), "menu " + Quote(wc->lpszMenuName),
                         "class " + Quote(wc->lpszClassName)})
                 : "NULL");
    if (!wc || !wc->lpfnWndProc || !wc->lpszClassName) return tr.Returns<ATOM>(0, "0");
    auto key = std::make_pair(kProgram, LowerStr(Str(wc->lpszClassName)));
    if (P().classes.count(key)) {
        P().lastError = ERROR_CLASS_ALREADY_EXISTS;
        return tr.Returns<ATOM>(0, "0");
    }
    P().classes[key] = WindowClass{wc->lpfnWndProc, wc->style};
    auto atom = static_cast<ATOM>(0xC000 + P().classes.size());
    return tr.Returns(atom, Hex(atom));
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam) {
    Traced tr("CreateWindowExW",
              Join({Hex(dwExStyle), Quote(lpClassName), Quote(lpWindowName), Hex(dwStyle), Num(X), Num(Y),
                    Num(nWidth), Num(nHeight), H(hWndParent), H(hMenu), H(hInstance), H(lpParam)}));
    auto cls = P().classes.find(std::make_pair(kProgram, LowerStr(Str(lpClassName))));
    if (cls == P().classes.end()) return tr.Returns<HWND>(nullptr, "NULL");
    HWND h = NewWindow(kProgram, Str(lpClassName), Str(lpWindowName), cls->second.proc);
    // The creation message goes straight to the window procedure, before
    // CreateWindowExW returns.
    cls->second.proc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(lpParam));
    return tr.Returns(h, H(h));
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Traced tr("DefWindowProcW", Join({H(hWnd), Hex(Msg), Num(static_cast<long long>(wParam)), Num(lParam)}));
    return tr.Returns<LRESULT>(0, "0");
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    Traced tr("GetMessageW", Join({H(hWnd), Num(wMsgFilterMin), Num(wMsgFilterMax)}));
    NextMessage(lpMsg, nullptr);
    tr.ReturnedNow();
    std::string what = "msg " + Hex(lpMsg->message) + " wParam " + Num(static_cast<long long>(lpMsg->wParam)) +
                       " lParam " + Num(lpMsg->lParam);
    return tr.Returns<BOOL>(lpMsg->message == WM_QUIT ? FALSE : TRUE,
                            (lpMsg->message == WM_QUIT ? "FALSE, " : "TRUE, ") + what);
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    Traced tr("TranslateMessage", lpMsg ? Hex(lpMsg->message) : "NULL");
    return tr.Bool(FALSE);
}

LONG WINAPI DispatchMessageW(const MSG* lpMsg) {
    Traced tr("DispatchMessageW", lpMsg ? Join({H(lpMsg->hwnd), Hex(lpMsg->message)}) : "NULL");
    if (!lpMsg) return tr.Returns<LONG>(0, "0");
    LONG r = DispatchTo(lpMsg);
    return tr.Returns(r, Num(r));
}

void WINAPI PostQuitMessage(int nExitCode) {
    Traced tr("PostQuitMessage", Num(nExitCode));
    P().quitPosted = true;
    P().quitCode = nExitCode;
    tr.Void();
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Traced tr("PostMessageW", Join({H(hWnd), Hex(Msg), Num(static_cast<long long>(wParam)), Num(lParam)}));
    if (!Win(hWnd)) return tr.Bool(FALSE);
    PostTo(hWnd, Msg, wParam, lParam);
    return tr.Bool(TRUE);
}

UINT WINAPI SetTimer(HWND hWnd, UINT nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    Traced tr("SetTimer", Join({H(hWnd), Num(nIDEvent), Num(uElapse), lpTimerFunc ? "proc" : "NULL"}));
    if (!Win(hWnd) || uElapse == 0) return tr.Returns<UINT>(0, "0");
    auto& timers = P().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.hwnd == hWnd && t.id == nIDEvent; }),
                 timers.end());
    timers.push_back(Timer{hWnd, nIDEvent, uElapse, P().now + uElapse});
    return tr.Returns(nIDEvent, Num(nIDEvent));
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    Traced tr("Sleep", Num(dwMilliseconds));
    Time target = P().now + dwMilliseconds;
    if (target > P().limit) {
        RunEventsUntil(P().limit);
        throw Halted{"run limit reached"};
    }
    RunEventsUntil(target);
    tr.Void();
}

DWORD WINAPI GetLastError(void) { return P().lastError; }

HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
    Traced tr("LoadIconW", Join({H(hInstance), Quote(lpIconName)}));
    if (hInstance == ProgramInstance() && IsIntResource(lpIconName)) {
        int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(lpIconName));
        if (P().icons.count(id)) {
            HICON h = reinterpret_cast<HICON>(kIconBase + static_cast<ULONG_PTR>(id));
            return tr.Returns(h, H(h));
        }
    }
    P().lastError = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
    return tr.Returns<HICON>(nullptr, "NULL");
}

HGDIOBJ WINAPI GetStockObject(int fnObject) {
    Traced tr("GetStockObject", Num(fnObject));
    if (fnObject < 0 || fnObject > 19) return tr.Returns<HGDIOBJ>(nullptr, "NULL");
    HGDIOBJ h = reinterpret_cast<HGDIOBJ>(kBrushBase + static_cast<ULONG_PTR>(fnObject));
    return tr.Returns(h, H(h));
}

int WINAPI GetSystemMetrics(int nIndex) {
    Traced tr("GetSystemMetrics", Num(nIndex));
    int v = nIndex == SM_CXSCREEN ? P().screenWidth : nIndex == SM_CYSCREEN ? P().screenHeight : 0;
    return tr.Returns(v, Num(v));
}

HMENU WINAPI CreatePopupMenu(void) {
    Traced tr("CreatePopupMenu", "");
    ULONG_PTR h = P().nextMenu++;
    P().menus[h] = Menu{};
    return tr.Returns(reinterpret_cast<HMENU>(h), Hex(h));
}

BOOL WINAPI AppendMenuW(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
    Traced tr("AppendMenuW", Join({H(hMenu), Num(uFlags), Num(static_cast<long long>(uIDNewItem)), Quote(lpNewItem)}));
    auto it = P().menus.find(reinterpret_cast<ULONG_PTR>(hMenu));
    if (it == P().menus.end()) return tr.Bool(FALSE);
    it->second.items.push_back(Menu::Item{uFlags, uIDNewItem, Str(lpNewItem)});
    return tr.Bool(TRUE);
}

BOOL WINAPI TrackPopupMenuEx(HMENU hMenu, UINT uFlags, int x, int y, HWND hWnd, LPTPMPARAMS lptpm) {
    Traced tr("TrackPopupMenuEx", Join({H(hMenu), Hex(uFlags), Num(x), Num(y), H(hWnd), H(lptpm)}));
    auto it = P().menus.find(reinterpret_cast<ULONG_PTR>(hMenu));
    if (it == P().menus.end() || !Win(hWnd) || P().menuLoop.open) return tr.Bool(FALSE);
    Event opened = MakeEvent(Event::Kind::MenuOpened);
    opened.hwnd = hWnd;
    opened.x = x;
    opened.y = y;
    opened.flags = uFlags;
    for (const auto& item : it->second.items) opened.items.push_back(item.label);
    Emit(opened);
    Modal& loop = P().menuLoop;
    loop = Modal{};
    loop.open = true;
    loop.menu = hMenu;
    RunModal(loop);
    Event closed = MakeEvent(Event::Kind::MenuClosed);
    closed.hwnd = hWnd;
    closed.id = loop.result;
    Emit(closed);
    if (uFlags & TPM_RETURNCMD) return tr.Returns<BOOL>(loop.result, Num(loop.result));
    if (loop.result) PostTo(hWnd, WM_COMMAND, static_cast<WPARAM>(loop.result), 0);
    return tr.Bool(TRUE);
}

BOOL WINAPI DestroyMenu(HMENU hMenu) {
    Traced tr("DestroyMenu", H(hMenu));
    return tr.Bool(P().menus.erase(reinterpret_cast<ULONG_PTR>(hMenu)) ? TRUE : FALSE);
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    Traced tr("MessageBoxW", Join({H(hWnd), Quote(lpText), Quote(lpCaption), Num(uType)}));
    Event shown = MakeEvent(Event::Kind::MessageBoxShown);
    shown.hwnd = hWnd;
    shown.text = Str(lpText);
    shown.caption = Str(lpCaption);
    shown.flags = uType;
    Emit(shown);
    Modal& loop = P().boxLoop;
    loop = Modal{};
    loop.open = true;
    loop.text = Str(lpText);
    loop.caption = Str(lpCaption);
    RunModal(loop);
    Event closed = MakeEvent(Event::Kind::MessageBoxClosed);
    closed.hwnd = hWnd;
    closed.id = loop.result;
    Emit(closed);
    return tr.Returns(loop.result, Num(loop.result));
}

BOOL WINAPI Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA d) {
    Traced tr("Shell_NotifyIcon",
              d ? Join({Num(dwMessage), "cbSize " + Num(d->cbSize), "hWnd " + H(d->hWnd), "uID " + Num(d->uID),
                        "uFlags " + Num(d->uFlags), "uCallbackMessage " + Num(d->uCallbackMessage),
                        "hIcon " + H(d->hIcon), "szTip \"" + Utf8(d->szTip) + "\""})
                : Num(dwMessage) + ", NULL");
    if (!d) return tr.Bool(FALSE);
    auto& tray = P().tray;
    auto it = std::find_if(tray.begin(), tray.end(),
                           [&](const TrayIcon& t) { return t.hwnd == d->hWnd && t.id == d->uID; });
    Event e = MakeEvent(Event::Kind::TrayAdded);
    e.hwnd = d->hWnd;
    e.id = static_cast<int>(d->uID);
    e.flags = d->uFlags;
    switch (dwMessage) {
    case NIM_ADD: {
        if (it != tray.end() || !Win(d->hWnd)) return tr.Bool(FALSE);
        TrayIcon t{d->hWnd, d->uID, d->cbSize, d->uFlags, d->uCallbackMessage, d->hIcon, u""};
        if (d->uFlags & NIF_TIP) t.tip = d->szTip;
        tray.push_back(t);
        Emit(e);
        return tr.Bool(TRUE);
    }
    case NIM_MODIFY:
        if (it == tray.end()) return tr.Bool(FALSE);
        if (d->uFlags & NIF_MESSAGE) it->callbackMessage = d->uCallbackMessage;
        if (d->uFlags & NIF_ICON) it->icon = d->hIcon;
        if (d->uFlags & NIF_TIP) it->tip = d->szTip;
        it->flags |= d->uFlags;
        e.kind = Event::Kind::TrayModified;
        Emit(e);
        return tr.Bool(TRUE);
    case NIM_DELETE:
        if (it == tray.end()) return tr.Bool(FALSE);
        tray.erase(it);
        e.kind = Event::Kind::TrayRemoved;
        Emit(e);
        return tr.Bool(TRUE);
    default:
        return tr.Bool(FALSE);
    }
}

}  // extern "C"
