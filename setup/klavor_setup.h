// The setup program of Klavor's cabinet (klavor_setup.dll, the cabinet's
// .999 member): the four functions the phone's installer, wceload, looks up
// by name and calls around installing and removing, and the DLL's entry.
#ifndef KLAVOR_SETUP_KLAVOR_SETUP_H
#define KLAVOR_SETUP_KLAVOR_SETUP_H

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

// The phone's and the simulated phone's API (platform/include), or the real
// one for the desktop build.
#include <windows.h>

// What the installer reads back from each call; a word, as every enum of
// the phone build.
enum InstallInitResult { INSTALL_INIT_CONTINUE = 0, INSTALL_INIT_CANCEL = 1 };
enum InstallExitResult { INSTALL_EXIT_DONE = 0, INSTALL_EXIT_UNINSTALL = 1 };
enum UninstallInitResult { UNINSTALL_INIT_CONTINUE = 0, UNINSTALL_INIT_CANCEL = 1 };
enum UninstallExitResult { UNINSTALL_EXIT_DONE = 0 };

// Klavor's window, as FindWindowW knows it (app/main.cpp makes it).
#define KLAVOR_WINDOW_CLASS TEXT("KlavorWndClass")
#define KLAVOR_WINDOW_TITLE TEXT("Klavor Window")
// The program's file in the folder the owner installed to.
#define KLAVOR_EXE_NAME TEXT("klavor.exe")

enum {
    CLOSE_POLL_MS = 250,   // how often to look whether Klavor has gone
    CLOSE_WAIT_MS = 5000   // how long to wait for it before going on anyway
};

#ifdef __cplusplus
extern "C" {
#endif

// Before anything is copied: a running Klavor is asked to end, so that its
// klavor.exe can be replaced. Never cancels.
InstallInitResult Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installDir);
// After: when every part went in, the new klavor.exe is started, so the
// cabinet is in force without a reset.
InstallExitResult Install_Exit(HWND parent, LPCWSTR installDir, WORD failedDirs, WORD failedFiles,
                               WORD failedRegKeys, WORD failedRegVals, WORD failedShortcuts);
// Before removal: a running Klavor is asked to end, so its file can go.
UninstallInitResult Uninstall_Init(HWND parent, LPCWSTR installDir);
UninstallExitResult Uninstall_Exit(HWND parent);

// The DLL's entry, as the loader calls it on attach and detach.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

#ifdef __cplusplus
}
#endif

#endif
