// Windows, window classes and the program's message queue.
#include <algorithm>

#include "phone_state.h"

namespace sim {
namespace internal {

Window* AnyWin(HWND h) {
    auto v = reinterpret_cast<ULONG_PTR>(h);
    if (v < kWindowBase || v >= kWindowBase + P().windows.size()) return nullptr;
    return &P().windows[v - kWindowBase];
}

Window* Win(HWND h) {
    Window* w = AnyWin(h);
    return w && w->alive ? w : nullptr;
}

HWND NewWindow(Pid pid, const std::u16string& cls, const std::u16string& title, WNDPROC proc) {
    P().windows.push_back(Window{pid, cls, title, proc});
    HWND h = reinterpret_cast<HWND>(kWindowBase + P().windows.size() - 1);
    Event e = MakeEvent(Event::Kind::WindowCreated);
    e.hwnd = h;
    e.text = cls;
    e.caption = title;
    Emit(e);
    return h;
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
        P().received.push_back(Received{P().now, hwnd, msg, wParam, lParam, ++P().order});
    }
}

LONG DispatchTo(const MSG* m) {
    Window* w = Win(m->hwnd);
    if (!w || !w->proc) return 0;
    if (!P().watch) return static_cast<LONG>(w->proc(m->hwnd, m->message, m->wParam, m->lParam));
    // The message is copied: the procedure may take the next one into the same MSG.
    const MSG message = *m;
    P().watch(message, false);
    LONG r = static_cast<LONG>(w->proc(message.hwnd, message.message, message.wParam, message.lParam));
    if (P().watch) P().watch(message, true);
    return r;
}

}  // namespace internal

using namespace internal;

HWND CreateWindowFor(Pid pid, const std::u16string& cls, const std::u16string& title) {
    return NewWindow(pid, cls, title, nullptr);
}

Pid OwnerOf(HWND hwnd) {
    Window* w = AnyWin(hwnd);
    return w ? w->pid : 0;
}

std::u16string TitleOf(HWND hwnd) {
    Window* w = AnyWin(hwnd);
    return w ? w->title : std::u16string();
}

void SetForeground(HWND hwnd) { P().foreground = hwnd; }

void WatchDispatch(DispatchWatch watch) { P().watch = std::move(watch); }

HWND FindWindowFor(const std::optional<std::u16string>& cls, const std::optional<std::u16string>& title) {
    for (std::size_t i = 0; i < P().windows.size(); ++i) {
        const Window& w = P().windows[i];
        if (!w.alive) continue;
        // Class and title both match without regard to case.
        if (cls && LowerStr(w.cls) != LowerStr(*cls)) continue;
        if (title && LowerStr(w.title) != LowerStr(*title)) continue;
        return reinterpret_cast<HWND>(kWindowBase + i);
    }
    return nullptr;
}

bool PostFor(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!Win(hwnd)) return false;
    PostTo(hwnd, msg, wParam, lParam);
    return true;
}

std::vector<MSG> TakeProgramMessages() {
    std::vector<MSG> out(P().queue.begin(), P().queue.end());
    P().queue.clear();
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
using namespace sim::internal;

extern "C" {

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    Traced tr("FindWindowW", [&] { return Join({Quote(lpClassName), Quote(lpWindowName)}); });
    HWND h = FindWindowFor(lpClassName ? std::optional<std::u16string>(Str(lpClassName)) : std::nullopt,
                           lpWindowName ? std::optional<std::u16string>(Str(lpWindowName)) : std::nullopt);
    return tr.Returns(h, [&] { return H(h); });
}

ATOM WINAPI RegisterClassW(const WNDCLASSW* wc) {
    Traced tr("RegisterClassW", [&] {
        return wc ? Join({"style " + Num(wc->style), "extra " + Num(wc->cbClsExtra) + "/" + Num(wc->cbWndExtra),
                          "instance " + H(wc->hInstance), "icon " + H(wc->hIcon), "cursor " + H(wc->hCursor),
                          "background " + H(wc->hbrBackground), "menu " + Quote(wc->lpszMenuName),
                          "class " + Quote(wc->lpszClassName)})
                  : "NULL";
    });
    if (!wc || !wc->lpfnWndProc || !wc->lpszClassName) return tr.Returns<ATOM>(0, "0");
    auto key = std::make_pair(kProgram, LowerStr(Str(wc->lpszClassName)));
    if (P().classes.count(key)) {
        P().lastError = ERROR_CLASS_ALREADY_EXISTS;
        return tr.Returns<ATOM>(0, "0");
    }
    P().classes[key] = WindowClass{wc->lpfnWndProc, wc->style};
    auto atom = static_cast<ATOM>(0xC000 + P().classes.size());
    return tr.Returns(atom, [&] { return Hex(atom); });
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam) {
    Traced tr("CreateWindowExW", [&] {
        return Join({Hex(dwExStyle), Quote(lpClassName), Quote(lpWindowName), Hex(dwStyle), Num(X), Num(Y), Num(nWidth),
                     Num(nHeight), H(hWndParent), H(hMenu), H(hInstance), H(lpParam)});
    });
    auto cls = P().classes.find(std::make_pair(kProgram, LowerStr(Str(lpClassName))));
    if (cls == P().classes.end()) return tr.Returns<HWND>(nullptr, "NULL");
    HWND h = NewWindow(kProgram, Str(lpClassName), Str(lpWindowName), cls->second.proc);
    // The creation message goes straight to the window procedure, before
    // CreateWindowExW returns.
    cls->second.proc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(lpParam));
    return tr.Returns(h, [&] { return H(h); });
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Traced tr("DefWindowProcW", [&] {
        return Join({H(hWnd), Hex(Msg), Num(static_cast<long long>(wParam)), Num(lParam)});
    });
    return tr.Returns<LRESULT>(0, "0");
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    Traced tr("GetMessageW", [&] { return Join({H(hWnd), Num(wMsgFilterMin), Num(wMsgFilterMax)}); });
    // No temporary: the message loop's every wait comes here (see TakeDueTimer).
    static const std::function<bool()> kUntilAMessage;
    NextMessage(lpMsg, kUntilAMessage);
    tr.ReturnedNow();
    BOOL more = lpMsg->message == WM_QUIT ? FALSE : TRUE;
    return tr.Returns(more, [&] {
        return std::string(more ? "TRUE, " : "FALSE, ") + "msg " + Hex(lpMsg->message) + " wParam " +
               Num(static_cast<long long>(lpMsg->wParam)) + " lParam " + Num(lpMsg->lParam);
    });
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    Traced tr("TranslateMessage", [&] { return lpMsg ? Hex(lpMsg->message) : "NULL"; });
    return tr.Bool(FALSE);
}

LONG WINAPI DispatchMessageW(const MSG* lpMsg) {
    Traced tr("DispatchMessageW", [&] { return lpMsg ? Join({H(lpMsg->hwnd), Hex(lpMsg->message)}) : "NULL"; });
    if (!lpMsg) return tr.Returns<LONG>(0, "0");
    LONG r = DispatchTo(lpMsg);
    return tr.Returns(r, [&] { return Num(r); });
}

void WINAPI PostQuitMessage(int nExitCode) {
    Traced tr("PostQuitMessage", [&] { return Num(nExitCode); });
    P().quitPosted = true;
    P().quitCode = nExitCode;
    tr.Void();
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Traced tr("PostMessageW", [&] {
        return Join({H(hWnd), Hex(Msg), Num(static_cast<long long>(wParam)), Num(lParam)});
    });
    if (!Win(hWnd)) return tr.Bool(FALSE);
    PostTo(hWnd, Msg, wParam, lParam);
    return tr.Bool(TRUE);
}

DWORD WINAPI GetLastError(void) { return P().lastError; }

HGDIOBJ WINAPI GetStockObject(int fnObject) {
    Traced tr("GetStockObject", [&] { return Num(fnObject); });
    if (fnObject < 0 || fnObject > 19) return tr.Returns<HGDIOBJ>(nullptr, "NULL");
    HGDIOBJ h = reinterpret_cast<HGDIOBJ>(kBrushBase + static_cast<ULONG_PTR>(fnObject));
    return tr.Returns(h, [&] { return H(h); });
}

}  // extern "C"
