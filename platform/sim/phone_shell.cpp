// The shell: tray icons, popup menus and message boxes with their modal
// loops, icons and screen metrics.
#include <algorithm>

#include "phone_state.h"

namespace sim {
namespace internal {

// A modal loop on the program's thread: it keeps dispatching the program's
// messages until the loop is closed by the driver. A WM_QUIT ends it and is
// posted again for the outer loop.
void RunModal(Modal& loop) {
    // Off the stack however the loop ends, the end of a run included.
    struct Innermost {
        explicit Innermost(Modal* m) { P().modals.push_back(m); }
        ~Innermost() { P().modals.pop_back(); }
    } innermost(&loop);
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

}  // namespace internal

using namespace internal;

void SetProgramIcons(const std::vector<int>& ids) { P().icons = std::set<int>(ids.begin(), ids.end()); }

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

namespace {

// The innermost loop still open, if it is of this kind: the driver acts on
// what is in front, as a user would.
Modal* Innermost(Modal::Kind kind) {
    auto& modals = P().modals;
    for (auto it = modals.rbegin(); it != modals.rend(); ++it)
        if ((*it)->open) return (*it)->kind == kind ? *it : nullptr;
    return nullptr;
}

bool Close(Modal* loop, int result) {
    if (!loop) return false;
    loop->result = result;
    loop->open = false;
    return true;
}

}  // namespace

bool MenuOpen() { return Innermost(Modal::Kind::Menu) != nullptr; }

bool ChooseMenuItem(const std::u16string& label) {
    Modal* loop = Innermost(Modal::Kind::Menu);
    if (!loop) return false;
    auto it = P().menus.find(reinterpret_cast<ULONG_PTR>(loop->menu));
    if (it == P().menus.end()) return false;
    for (const auto& item : it->second.items)
        if (item.label == label) return Close(loop, static_cast<int>(item.id));
    return false;
}

bool DismissMenu() { return Close(Innermost(Modal::Kind::Menu), 0); }

bool CloseMessageBox() { return Close(Innermost(Modal::Kind::Box), IDOK); }

std::size_t OpenModalLoops() {
    std::size_t n = 0;
    for (const Modal* m : P().modals) n += m->open ? 1 : 0;
    return n;
}

}  // namespace sim

using namespace sim;
using namespace sim::internal;

extern "C" {

HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
    Traced tr("LoadIconW", [&] { return Join({H(hInstance), Quote(lpIconName)}); });
    if (hInstance == ProgramInstance() && IsIntResource(lpIconName)) {
        int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(lpIconName));
        if (P().icons.count(id)) {
            HICON h = reinterpret_cast<HICON>(kIconBase + static_cast<ULONG_PTR>(id));
            return tr.Returns(h, [&] { return H(h); });
        }
    }
    P().lastError = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
    return tr.Returns<HICON>(nullptr, "NULL");
}

int WINAPI GetSystemMetrics(int nIndex) {
    Traced tr("GetSystemMetrics", [&] { return Num(nIndex); });
    int v = nIndex == SM_CXSCREEN ? P().screenWidth : nIndex == SM_CYSCREEN ? P().screenHeight : 0;
    return tr.Returns(v, [&] { return Num(v); });
}

HMENU WINAPI CreatePopupMenu(void) {
    Traced tr("CreatePopupMenu", "");
    ULONG_PTR h = P().nextMenu++;
    P().menus[h] = Menu{};
    return tr.Returns(reinterpret_cast<HMENU>(h), [&] { return Hex(h); });
}

BOOL WINAPI AppendMenuW(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
    Traced tr("AppendMenuW", [&] {
        return Join({H(hMenu), Num(uFlags), Num(static_cast<long long>(uIDNewItem)), Quote(lpNewItem)});
    });
    auto it = P().menus.find(reinterpret_cast<ULONG_PTR>(hMenu));
    if (it == P().menus.end()) return tr.Bool(FALSE);
    it->second.items.push_back(Menu::Item{uFlags, uIDNewItem, Str(lpNewItem)});
    return tr.Bool(TRUE);
}

BOOL WINAPI TrackPopupMenuEx(HMENU hMenu, UINT uFlags, int x, int y, HWND hWnd, LPTPMPARAMS lptpm) {
    Traced tr("TrackPopupMenuEx", [&] { return Join({H(hMenu), Hex(uFlags), Num(x), Num(y), H(hWnd), H(lptpm)}); });
    auto it = P().menus.find(reinterpret_cast<ULONG_PTR>(hMenu));
    // One menu at a time is tracked, as on the real system.
    bool tracking = false;
    for (const Modal* m : P().modals) tracking = tracking || (m->open && m->kind == Modal::Kind::Menu);
    if (it == P().menus.end() || !Win(hWnd) || tracking) return tr.Bool(FALSE);
    Event opened = MakeEvent(Event::Kind::MenuOpened);
    opened.hwnd = hWnd;
    opened.x = x;
    opened.y = y;
    opened.flags = uFlags;
    for (const auto& item : it->second.items) opened.items.push_back(item.label);
    Emit(opened);
    Modal loop;
    loop.kind = Modal::Kind::Menu;
    loop.open = true;
    loop.menu = hMenu;
    RunModal(loop);
    Event closed = MakeEvent(Event::Kind::MenuClosed);
    closed.hwnd = hWnd;
    closed.id = loop.result;
    Emit(closed);
    if (uFlags & TPM_RETURNCMD) return tr.Returns<BOOL>(loop.result, [&] { return Num(loop.result); });
    if (loop.result) PostTo(hWnd, WM_COMMAND, static_cast<WPARAM>(loop.result), 0);
    return tr.Bool(TRUE);
}

BOOL WINAPI DestroyMenu(HMENU hMenu) {
    Traced tr("DestroyMenu", [&] { return H(hMenu); });
    return tr.Bool(P().menus.erase(reinterpret_cast<ULONG_PTR>(hMenu)) ? TRUE : FALSE);
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    Traced tr("MessageBoxW", [&] { return Join({H(hWnd), Quote(lpText), Quote(lpCaption), Num(uType)}); });
    Event shown = MakeEvent(Event::Kind::MessageBoxShown);
    shown.hwnd = hWnd;
    shown.text = Str(lpText);
    shown.caption = Str(lpCaption);
    shown.flags = uType;
    Emit(shown);
    Modal loop;
    loop.kind = Modal::Kind::Box;
    loop.open = true;
    loop.text = Str(lpText);
    loop.caption = Str(lpCaption);
    RunModal(loop);
    Event closed = MakeEvent(Event::Kind::MessageBoxClosed);
    closed.hwnd = hWnd;
    closed.id = loop.result;
    Emit(closed);
    return tr.Returns(loop.result, [&] { return Num(loop.result); });
}

BOOL WINAPI Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA d) {
    Traced tr("Shell_NotifyIcon", [&] {
        return d ? Join({Num(dwMessage), "cbSize " + Num(d->cbSize), "hWnd " + H(d->hWnd), "uID " + Num(d->uID),
                         "uFlags " + Num(d->uFlags), "uCallbackMessage " + Num(d->uCallbackMessage),
                         "hIcon " + H(d->hIcon), "szTip \"" + Utf8(d->szTip) + "\""})
                 : Num(dwMessage) + ", NULL";
    });
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
