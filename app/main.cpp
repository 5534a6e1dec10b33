// Start-up, the hidden window and its message loop, and teardown.
#include "ce_bridge.h"

#include "engine/capture.h"
#include "engine/key_table.h"
#include "res/resource.h"
#include "engine/sequence.h"
#include "shell.h"
#include "tray.h"

HINSTANCE g_hInstance = NULL;
HMODULE g_hCoredll = NULL;

static const WCHAR WINDOW_CLASS[] = TEXT("KlavorWndClass");
static const WCHAR WINDOW_TITLE[] = TEXT("Klavor Window");

enum {
    PHONE_WAIT_TRIES = 30,
    PHONE_WAIT_MS = 1000,
    EXIT_CODE_ALREADY_RUNNING = 0
};

// The phone application's window; its title is localised.
static bool PhoneIsUp() {
    static const WCHAR PHONE_CLASS[] = TEXT("Dialog");
    static const WCHAR PHONE_TITLE[] = TEXT("Phone");
    static const WCHAR PHONE_TITLE_RU[] = TEXT("\u0422\u0435\u043B\u0435\u0444\u043E\u043D");
    return FindWindowW(PHONE_CLASS, PHONE_TITLE) != NULL || FindWindowW(PHONE_CLASS, PHONE_TITLE_RU) != NULL;
}

LRESULT CALLBACK KlavorWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Kept up to date on every message, so the handle is already known
    // while CreateWindowExW is still running.
    g_hWnd = hwnd;
    switch (message) {
    case WM_TIMER:
        if (wParam == TIMER_ID) return OnTimerTick();
        break;
    case WM_HOTKEY:
        return OnHotKey(wParam);
    case WM_TRAYNOTIFY:
        return OnTrayNotify(lParam);
    case WM_CLOSE:
        // Asked to go (a task manager, the installer): end as Exit does, so
        // the loop ends and the teardown after it frees the buttons, the
        // icon and coredll. DefWindowProcW would only destroy the window and
        // leave the process holding every button.
        g_closing = true;
        PostQuitMessage(EXIT_CODE_MENU);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd) {
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;

    // Started from the start-up folder, we may be up before the phone
    // application has taken its buttons; capturing before that would lose
    // them to it again. Go on after half a minute regardless.
    for (int tries = 0; tries < PHONE_WAIT_TRIES; ++tries) {
        if (PhoneIsUp()) break;
        Sleep(PHONE_WAIT_MS);
    }

    g_hInstance = hInstance;
    if (FindWindowW(WINDOW_CLASS, WINDOW_TITLE) != NULL) return EXIT_CODE_ALREADY_RUNNING;

    g_hCoredll = LoadLibraryW(TEXT("coredll.dll"));
    if (g_hCoredll != NULL) {
        // The export is in no header; it takes a modifier set and a key.
        FARPROC proc = GetProcAddressW(g_hCoredll, TEXT("UnregisterFunc1"));
        g_pUnregisterFunc1 = (UnregisterFunc1Proc)(void (*)(void))proc;
    }

    ResetSequence();
    LoadKeyTable();

    WNDCLASSW wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = KlavorWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = NULL;
    wc.hCursor = NULL;
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = WINDOW_CLASS;
    RegisterClassW(&wc);

    g_hWnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOANIMATION | WS_EX_NOACTIVATE, WINDOW_CLASS, WINDOW_TITLE,
                             WS_BORDER, 0, 0, 0, 0, NULL, NULL, hInstance, NULL);
    SetTimer(g_hWnd, TIMER_ID, TIMER_PERIOD_MS, NULL);
    SetTrayIcon(NIM_ADD, LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_APP)));
    CaptureAll();

    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    SetTrayIcon(NIM_DELETE, LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_APP)));
    ReleaseAll();
    // Only what was loaded is freed: a failed load leaves no handle.
    if (g_hCoredll != NULL) FreeLibrary(g_hCoredll);
    return (int)msg.wParam;
}
