#include "tray.h"

#include <string.h>

#include "engine/capture.h"

const WCHAR ABOUT_TEXT[] =
    TEXT("Klavor for HTC Himalaya/Andes/Alpine/Magician\n\r")
    TEXT("v" KLAVOR_VERSION "\n\r")
    TEXT("Made by the Klavor project\n\r")
    TEXT("EMail: klavor@example.org\n\r")
    TEXT("Web: http://www.example.org/klavor");
const WCHAR ABOUT_CAPTION[] = TEXT("About");

void SetTrayIcon(DWORD message, HICON icon) {
    NOTIFYICONDATA data;
    memset(&data, 0, sizeof data);
    data.cbSize = TRAY_DATA_SIZE;
    data.hWnd = g_hWnd;
    data.uID = TRAY_ICON_ID;
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = WM_TRAYNOTIFY;
    data.hIcon = icon;
    data.szTip[0] = 0;
    Shell_NotifyIcon(message, &data);
}

bool g_trayBusy = false;
bool g_closing = false;

LRESULT OnTrayNotify(LPARAM lParam) {
    if (lParam != WM_LBUTTONDOWN) return 0;  // only a tap opens the menu
    // The menu and the About box dispatch messages while they are open, so a
    // tap there would open a menu inside them, and an About box inside that,
    // with nothing to bound the nesting but the stack. One at a time.
    if (g_trayBusy) return 0;
    g_trayBusy = true;

    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, IDM_ABOUT, TEXT("About Klavor"));
    AppendMenuW(menu, MF_STRING, IDM_EXIT, TEXT("Exit"));

    // Just above the task bar, whose height doubles on a VGA screen.
    int offset = GetSystemMetrics(SM_CYSCREEN) <= SMALL_SCREEN_MAX_HEIGHT ? MENU_OFFSET_SMALL
                                                                          : MENU_OFFSET_LARGE;
    int y = GetSystemMetrics(SM_CYSCREEN) - offset;

    // The menu and the About box run their own message loops, so presses
    // and ticks are still handled while they are open.
    int command = (int)TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_BOTTOMALIGN, MENU_X, y, g_hWnd, NULL);
    if (command == IDM_ABOUT)
        MessageBoxW(g_hWnd, ABOUT_TEXT, ABOUT_CAPTION, MB_OK);
    else if (command == IDM_EXIT)
        PostQuitMessage(EXIT_CODE_MENU);

    DestroyMenu(menu);
    g_trayBusy = false;
    // A close asked for while the menu or the box was open: its quit may
    // have gone with their loop.
    if (g_closing) PostQuitMessage(EXIT_CODE_MENU);
    return 0;
}
