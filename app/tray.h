// The tray icon, its menu and the About box.
#ifndef KLAVOR_APP_TRAY_H
#define KLAVOR_APP_TRAY_H

#include "ce_bridge.h"

enum {
    TRAY_ICON_ID = 5000,
    WM_TRAYNOTIFY = 3025,  // the tray icon's callback message
    IDM_ABOUT = 3027,
    IDM_EXIT = 3028,
    EXIT_CODE_MENU = 1,    // the exit code after Exit from the menu
    MENU_X = 513,
    SMALL_SCREEN_MAX_HEIGHT = 330,
    MENU_OFFSET_SMALL = 26,  // the task bar's height above the bottom edge
    MENU_OFFSET_LARGE = 52
};

// True while the tray's menu or its About box is open; a tap then is ignored.
extern bool g_trayBusy;
// Set once the program has been asked to close (WM_CLOSE): the quit is
// posted again when the menu or the About box returns, since a modal loop
// may take the quit off the queue without ending.
extern bool g_closing;

extern const WCHAR ABOUT_TEXT[];
extern const WCHAR ABOUT_CAPTION[];

void SetTrayIcon(DWORD message, HICON icon);
LRESULT OnTrayNotify(LPARAM lParam);

#endif
