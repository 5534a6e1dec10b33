// The coredll calls of the ARM program, each served by the simulated
// phone's own function of that name (the one the host build links), with
// its arguments taken from the guest and its results given back in the
// guest's 32-bit layouts. Handles pass through unchanged; nothing here may
// make a traced call of its own, so that the trace is the host build's.
#include <shellapi.h>

#include <cstring>
#include <map>

#include "imports.h"
#include "machine.h"
#include "platform/sim/phone.h"

namespace emu {
namespace {

template <typename H>
H As(std::uint32_t v) {
    return reinterpret_cast<H>(static_cast<std::uintptr_t>(v));
}

// The guest's WPARAM is an unsigned word, its LPARAM a signed one.
WPARAM WParam(std::uint32_t v) { return static_cast<WPARAM>(v); }
LPARAM LParam(std::uint32_t v) { return static_cast<LPARAM>(static_cast<std::int32_t>(v)); }

GuestText Text(const Call& c, int arg) {
    return c.m.Text(c.U(arg), c, "argument " + std::to_string(arg + 1));
}

// A string the phone reads as one, never as an integer resource: a small
// number there would be read as a host pointer.
GuestText String(const Call& c, int arg) {
    GuestText t = Text(c, arg);
    if (t.raw && t.raw < 0x10000)
        c.Fail("argument " + std::to_string(arg + 1) + ": the program passed " + std::to_string(t.raw) +
               " where the phone reads a string");
    return t;
}

// MSG on the guest: hwnd, message, wParam, lParam, time, pt.x, pt.y.
constexpr std::uint32_t kMsgBytes = 28;

std::uint32_t Word(const std::uint8_t* b) {
    return static_cast<std::uint32_t>(b[0] | b[1] << 8 | b[2] << 16) | static_cast<std::uint32_t>(b[3]) << 24;
}

const MSG* ReadMsg(const Call& c, int arg, MSG* out) {
    std::uint32_t at = c.U(arg);
    if (!at) return nullptr;
    std::uint8_t b[kMsgBytes];
    c.m.Read(at, b, kMsgBytes, c, "the MSG");
    *out = MSG{};
    out->hwnd = As<HWND>(Word(b));
    out->message = Word(b + 4);
    out->wParam = WParam(Word(b + 8));
    out->lParam = LParam(Word(b + 12));
    out->time = Word(b + 16);
    out->pt.x = static_cast<LONG>(Word(b + 20));
    out->pt.y = static_cast<LONG>(Word(b + 24));
    return out;
}

void WriteMsg(const Call& c, std::uint32_t at, const MSG& m) {
    std::uint32_t w[7] = {c.m.Handle(m.hwnd, c),
                          m.message,
                          static_cast<std::uint32_t>(m.wParam),
                          static_cast<std::uint32_t>(m.lParam),
                          m.time,
                          static_cast<std::uint32_t>(m.pt.x),
                          static_cast<std::uint32_t>(m.pt.y)};
    std::uint8_t b[kMsgBytes];
    for (int i = 0; i < 7; ++i)
        for (int k = 0; k < 4; ++k) b[4 * i + k] = static_cast<std::uint8_t>(w[i] >> (8 * k));
    c.m.Write(at, b, kMsgBytes, c, "the MSG");
}

// An in/out DWORD: the host call gets a pointer to a copy, or NULL.
struct Dword {
    const Call& c;
    std::uint32_t at;
    std::string what;
    DWORD value = 0;
    Dword(const Call& call, int arg, std::string name) : c(call), at(call.U(arg)), what(std::move(name)) {
        if (at) {
            value = c.m.ReadWord(at, c, what);
            c.m.Check(at, 4, UC_PROT_WRITE, c, what);
        }
    }
    LPDWORD get() { return at ? &value : nullptr; }
    void WriteBack() {
        if (at) c.m.WriteWord(at, value, c, what);
    }
};

// TIMERPROC is never run by the phone, which posts WM_TIMER instead; the
// host call still sees whether the program gave one.
void CALLBACK TimerProcNotRun(HWND, UINT, UINT, DWORD) {
    throw Fault("the emulated phone does not run timer procedures");
}

std::uint32_t Ret(BOOL v) { return static_cast<std::uint32_t>(v); }

// ---- The calls --------------------------------------------------------------------

#define SERVE(name) std::uint32_t Serve_##name(const Call& c)

SERVE(AppendMenuW) {
    GuestText item = Text(c, 3);
    return Ret(AppendMenuW(As<HMENU>(c.U(0)), c.U(1), c.U(2), item.get()));
}

SERVE(CloseHandle) { return Ret(CloseHandle(As<HANDLE>(c.U(0)))); }

SERVE(CreatePopupMenu) { return c.m.Handle(CreatePopupMenu(), c); }

SERVE(CreateWindowExW) {
    GuestText cls = Text(c, 1), title = Text(c, 2);
    std::uint32_t a[12];
    for (int i = 0; i < 12; ++i) a[i] = c.U(i);
    HWND h = CreateWindowExW(a[0], cls.get(), title.get(), a[3], static_cast<int>(a[4]), static_cast<int>(a[5]),
                             static_cast<int>(a[6]), static_cast<int>(a[7]), As<HWND>(a[8]), As<HMENU>(a[9]),
                             As<HINSTANCE>(a[10]), As<LPVOID>(a[11]));
    return c.m.Handle(h, c);
}

// Ten arguments, the fifth on from the stack. The phone only looks at
// whether the security attributes, environment and start-up information
// are given. PROCESS_INFORMATION on the guest: hProcess, hThread,
// dwProcessId, dwThreadId, 16 bytes; the phone fills it only on success, so
// it is read first and written back whole.
SERVE(CreateProcessW) {
    constexpr std::uint32_t kInfoBytes = 16;
    GuestText image = String(c, 0), line = String(c, 1), folder = String(c, 7);
    std::uint32_t at = c.U(9);
    PROCESS_INFORMATION info{};
    if (at) {
        std::uint8_t b[kInfoBytes];
        c.m.Read(at, b, kInfoBytes, c, "the PROCESS_INFORMATION");
        c.m.Check(at, kInfoBytes, UC_PROT_WRITE, c, "the PROCESS_INFORMATION");  // before the program starts
        info.hProcess = As<HANDLE>(Word(b));
        info.hThread = As<HANDLE>(Word(b + 4));
        info.dwProcessId = Word(b + 8);
        info.dwThreadId = Word(b + 12);
    }
    // LPWSTR: the phone may write into the command line; it stays a copy.
    std::u16string commandLine = line.text;
    BOOL r = CreateProcessW(image.get(), line.raw ? &commandLine[0] : nullptr, As<LPSECURITY_ATTRIBUTES>(c.U(2)),
                            As<LPSECURITY_ATTRIBUTES>(c.U(3)), static_cast<BOOL>(c.U(4)), c.U(5), As<LPVOID>(c.U(6)),
                            folder.get(), As<LPSTARTUPINFOW>(c.U(8)), at ? &info : nullptr);
    if (at) {
        std::uint32_t w[4] = {c.m.Handle(info.hProcess, c), c.m.Handle(info.hThread, c), info.dwProcessId,
                              info.dwThreadId};
        std::uint8_t b[kInfoBytes];
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 4; ++k) b[4 * i + k] = static_cast<std::uint8_t>(w[i] >> (8 * k));
        c.m.Write(at, b, kInfoBytes, c, "the PROCESS_INFORMATION");
    }
    return Ret(r);
}

SERVE(DefWindowProcW) {
    return static_cast<std::uint32_t>(DefWindowProcW(As<HWND>(c.U(0)), c.U(1), WParam(c.U(2)), LParam(c.U(3))));
}

SERVE(DestroyMenu) { return Ret(DestroyMenu(As<HMENU>(c.U(0)))); }

SERVE(DispatchMessageW) {
    MSG m;
    const MSG* p = ReadMsg(c, 0, &m);
    return static_cast<std::uint32_t>(DispatchMessageW(p));
}

// The program's one thread ends, and with it the process. The host build
// ends by returning from WinMain, which no trace records either.
SERVE(ExitThread) { throw ProgramExit{c.U(0)}; }

SERVE(FindWindowW) {
    GuestText cls = Text(c, 0), title = Text(c, 1);
    return c.m.Handle(FindWindowW(cls.get(), title.get()), c);
}

SERVE(FreeLibrary) { return Ret(FreeLibrary(As<HMODULE>(c.U(0)))); }

SERVE(GetLastError) {
    (void)c;
    return GetLastError();
}

SERVE(GetMessageW) {
    std::uint32_t at = c.U(0);
    if (!at) c.Fail("the program passed no MSG to fill");
    c.m.Check(at, kMsgBytes, UC_PROT_WRITE, c, "the MSG");  // before the call waits
    MSG m{};
    BOOL r = GetMessageW(&m, As<HWND>(c.U(1)), c.U(2), c.U(3));
    WriteMsg(c, at, m);
    return Ret(r);
}

// Host functions the phone hands out by name, and how the guest calls them.
SERVE(GetProcAddressW) {
    GuestText name = Text(c, 1);
    FARPROC fn = GetProcAddressW(As<HMODULE>(c.U(0)), name.get());
    if (!fn) return 0;
    std::string label = name.raw < 0x10000 ? "#" + std::to_string(name.raw) : sim::Utf8(name.text);
    std::function<std::uint32_t(const Call&)> serve;
    if (label == "UnregisterFunc1") {
        auto unregister = reinterpret_cast<BOOL(WINAPI*)(UINT, UINT)>(reinterpret_cast<void*>(fn));
        serve = [unregister](const Call& call) { return Ret(unregister(call.U(0), call.U(1))); };
    }
    // Any other function the phone gave stops the run when it is called:
    // its arguments are not known here.
    return c.m.HostFunctionTrap("coredll function " + label + " (from GetProcAddressW)",
                                reinterpret_cast<const void*>(fn), serve);
}

SERVE(GetStockObject) { return c.m.Handle(GetStockObject(c.I(0)), c); }

SERVE(GetSystemMetrics) { return static_cast<std::uint32_t>(GetSystemMetrics(c.I(0))); }

SERVE(LoadIconW) {
    GuestText name = Text(c, 1);
    return c.m.Handle(LoadIconW(As<HINSTANCE>(c.U(0)), name.get()), c);
}

SERVE(LoadLibraryW) {
    GuestText name = Text(c, 0);
    return c.m.Handle(LoadLibraryW(name.get()), c);
}

SERVE(MessageBoxW) {
    GuestText text = Text(c, 1), caption = Text(c, 2);
    return static_cast<std::uint32_t>(MessageBoxW(As<HWND>(c.U(0)), text.get(), caption.get(), c.U(3)));
}

SERVE(PostMessageW) {
    return Ret(PostMessageW(As<HWND>(c.U(0)), c.U(1), WParam(c.U(2)), LParam(c.U(3))));
}

SERVE(PostQuitMessage) {
    PostQuitMessage(c.I(0));
    return c.U(0);  // void: r0 as it was
}

SERVE(RegCloseKey) { return static_cast<std::uint32_t>(RegCloseKey(As<HKEY>(c.U(0)))); }

SERVE(RegOpenKeyExW) {
    GuestText sub = Text(c, 1);
    std::uint32_t out = c.U(4);
    HKEY key = nullptr;
    if (out) {
        key = As<HKEY>(c.m.ReadWord(out, c, "the HKEY result"));
        c.m.Check(out, 4, UC_PROT_WRITE, c, "the HKEY result");
    }
    LONG r = RegOpenKeyExW(As<HKEY>(c.U(0)), sub.get(), c.U(2), c.U(3), out ? &key : nullptr);
    if (out) c.m.WriteWord(out, c.m.Handle(key, c), c, "the HKEY result");
    return static_cast<std::uint32_t>(r);
}

SERVE(RegQueryValueExW) {
    GuestText name = Text(c, 1);
    Dword reserved(c, 2, "the reserved argument"), type(c, 3, "the type result"), size(c, 5, "the size");
    std::uint32_t data = c.U(4);
    // The buffer as large as the program says it is, with what it holds,
    // so that bytes the phone leaves alone stay as they were.
    std::vector<BYTE> buffer;
    static BYTE none;
    if (data && size.at) {
        c.m.Check(data, size.value, UC_PROT_WRITE, c, "the data buffer");
        buffer.resize(size.value);
        c.m.Read(data, buffer.data(), size.value, c, "the data buffer");
    }
    LPBYTE host = !data ? nullptr : buffer.empty() ? &none : buffer.data();
    LONG r = RegQueryValueExW(As<HKEY>(c.U(0)), name.get(), reserved.get(), type.get(), host, size.get());
    if (!buffer.empty()) c.m.Write(data, buffer.data(), static_cast<std::uint32_t>(buffer.size()), c, "the data buffer");
    reserved.WriteBack();
    type.WriteBack();
    size.WriteBack();
    return static_cast<std::uint32_t>(r);
}

// WNDCLASSW on the guest: ten words.
SERVE(RegisterClassW) {
    std::uint32_t at = c.U(0);
    if (!at) return RegisterClassW(nullptr);
    std::uint32_t w[10];
    for (std::uint32_t i = 0; i < 10; ++i) w[i] = c.m.ReadWord(at + 4 * i, c, "the WNDCLASSW");
    GuestText menu = c.m.Text(w[8], c, "the menu name");
    GuestText cls = c.m.Text(w[9], c, "the class name");
    WNDCLASSW wc;
    wc.style = w[0];
    wc.lpfnWndProc = c.m.WindowProcedure(w[1], c);
    wc.cbClsExtra = static_cast<int>(w[2]);
    wc.cbWndExtra = static_cast<int>(w[3]);
    wc.hInstance = As<HINSTANCE>(w[4]);
    wc.hIcon = As<HICON>(w[5]);
    wc.hCursor = As<HCURSOR>(w[6]);
    wc.hbrBackground = As<HBRUSH>(w[7]);
    wc.lpszMenuName = menu.get();
    wc.lpszClassName = cls.get();
    return RegisterClassW(&wc);
}

SERVE(RegisterHotKey) { return Ret(RegisterHotKey(As<HWND>(c.U(0)), c.I(1), c.U(2), c.U(3))); }

SERVE(SetTimer) {
    return SetTimer(As<HWND>(c.U(0)), c.U(1), c.U(2), c.U(3) ? &TimerProcNotRun : nullptr);
}

// NOTIFYICONDATA on the guest: cbSize, hWnd, uID, uFlags, uCallbackMessage,
// hIcon, then WCHAR szTip[64]; 152 bytes.
SERVE(Shell_NotifyIcon) {
    std::uint32_t at = c.U(1);
    if (!at) return Ret(Shell_NotifyIcon(c.U(0), nullptr));
    std::uint32_t w[6];
    for (std::uint32_t i = 0; i < 6; ++i) w[i] = c.m.ReadWord(at + 4 * i, c, "the tray record");
    struct {
        NOTIFYICONDATA d;
        WCHAR end;  // the tip is read as a string: it ends here at the latest
    } rec{};
    rec.d.cbSize = w[0];
    rec.d.hWnd = As<HWND>(w[1]);
    rec.d.uID = w[2];
    rec.d.uFlags = w[3];
    rec.d.uCallbackMessage = w[4];
    rec.d.hIcon = As<HICON>(w[5]);
    std::uint8_t tip[128];
    c.m.Read(at + 24, tip, sizeof tip, c, "the tray record's tip");
    for (int i = 0; i < 64; ++i) rec.d.szTip[i] = static_cast<WCHAR>(tip[2 * i] | tip[2 * i + 1] << 8);
    return Ret(Shell_NotifyIcon(c.U(0), &rec.d));
}

SERVE(Sleep) {
    Sleep(c.U(0));
    return c.U(0);
}

SERVE(TrackPopupMenuEx) {
    std::uint32_t at = c.U(5);
    TPMPARAMS params{};
    if (at) {
        params.cbSize = c.m.ReadWord(at, c, "the TPMPARAMS");
        for (std::uint32_t i = 0; i < 4; ++i)
            params.rcExclude[i] = static_cast<LONG>(c.m.ReadWord(at + 4 + 4 * i, c, "the TPMPARAMS"));
    }
    return Ret(TrackPopupMenuEx(As<HMENU>(c.U(0)), c.U(1), c.I(2), c.I(3), As<HWND>(c.U(4)), at ? &params : nullptr));
}

SERVE(TranslateMessage) {
    MSG m;
    const MSG* p = ReadMsg(c, 0, &m);
    return Ret(TranslateMessage(p));
}

SERVE(UnregisterHotKey) { return Ret(UnregisterHotKey(As<HWND>(c.U(0)), c.I(1))); }

SERVE(keybd_event) {
    keybd_event(static_cast<BYTE>(c.U(0)), static_cast<BYTE>(c.U(1)), c.U(2), c.U(3));
    return c.U(0);
}

// The C run-time's memset, done in guest memory; like the host build's
// memset it is no call of the phone and leaves no trace.
SERVE(memset) {
    std::uint32_t dst = c.U(0), n = c.U(2);
    c.m.Check(dst, n, UC_PROT_WRITE, c, "the destination");
    std::vector<std::uint8_t> fill(n, static_cast<std::uint8_t>(c.U(1)));
    c.m.Write(dst, fill.data(), n, c, "the destination");
    return dst;
}

#undef SERVE

}  // namespace

std::function<std::uint32_t(const Call&)> ServeImport(const std::string& name) {
#define KLAVOR_EMU_ENTRY(name) {#name, &Serve_##name},
    static const std::map<std::string, std::uint32_t (*)(const Call&)> served = {
        KLAVOR_EMU_IMPORTS(KLAVOR_EMU_ENTRY)};
#undef KLAVOR_EMU_ENTRY
    auto it = served.find(name);
    if (it == served.end()) return {};
    return it->second;
}

}  // namespace emu
