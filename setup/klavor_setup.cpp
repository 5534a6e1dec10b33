// Klavor's setup program. The installer cannot replace or remove a
// klavor.exe that is running, and Klavor reads its configuration only when
// it starts; so a running Klavor is asked to end before the files are
// touched, and the new one is started once they are in. Nothing is shown
// and nothing is written: the installer reports whatever it could not do.
#include "setup/klavor_setup.h"

// Asks a running Klavor to end, as its tray menu's Exit would, and waits a
// while for its window to go: the window goes with the process, after the
// program has released its buttons and its tray icon. If it will not go,
// installing goes on and the installer says the file is in use.
static void CloseKlavor() {
    HWND window = FindWindowW(KLAVOR_WINDOW_CLASS, KLAVOR_WINDOW_TITLE);
    if (window == NULL) return;
    PostMessageW(window, WM_CLOSE, 0, 0);
    for (int waited = 0; waited < CLOSE_WAIT_MS; waited += CLOSE_POLL_MS) {
        Sleep(CLOSE_POLL_MS);
        if (FindWindowW(KLAVOR_WINDOW_CLASS, KLAVOR_WINDOW_TITLE) == NULL) return;
    }
}

// folder + '\' + name into path; false when the result would be MAX_PATH
// characters or more, which the phone's CreateProcessW refuses anyway.
static bool JoinPath(WCHAR (&path)[MAX_PATH], LPCWSTR folder, const WCHAR* name) {
    if (folder == NULL) return false;
    int length = 0;
    for (int i = 0; folder[i] != 0; ++i) {
        if (length >= MAX_PATH - 1) return false;
        path[length++] = folder[i];
    }
    if (length >= MAX_PATH - 1) return false;
    path[length++] = '\\';
    for (int i = 0; name[i] != 0; ++i) {
        if (length >= MAX_PATH - 1) return false;
        path[length++] = name[i];
    }
    path[length] = 0;
    return true;
}

// Starts installDir\klavor.exe, as Windows CE 4.20 allows a process to be
// started: the image named, and nothing else (no command line, security,
// inheritance, flags, environment, folder or start-up information).
static void StartKlavor(LPCWSTR installDir) {
    WCHAR path[MAX_PATH];
    if (!JoinPath(path, installDir, KLAVOR_EXE_NAME)) return;
    PROCESS_INFORMATION started;
#ifdef _WIN32_WCE
    LPSTARTUPINFOW startUp = NULL;
#else
    // Desktop Windows requires the record, CE takes none.
    STARTUPINFOW record = {};
    record.cb = sizeof record;
    LPSTARTUPINFOW startUp = &record;
#endif
    if (!CreateProcessW(path, NULL, NULL, NULL, FALSE, 0, NULL, NULL, startUp, &started)) return;
    // Klavor runs on its own; the installer keeps nothing of it.
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
}

extern "C" {

InstallInitResult Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installDir) {
    (void)parent;
    (void)firstCall;
    (void)previouslyInstalled;
    (void)installDir;
    CloseKlavor();
    return INSTALL_INIT_CONTINUE;
}

InstallExitResult Install_Exit(HWND parent, LPCWSTR installDir, WORD failedDirs, WORD failedFiles,
                               WORD failedRegKeys, WORD failedRegVals, WORD failedShortcuts) {
    (void)parent;
    // A partial installation may lack the program or its configuration:
    // starting it then would only add to what the installer reports.
    if (failedDirs == 0 && failedFiles == 0 && failedRegKeys == 0 && failedRegVals == 0 && failedShortcuts == 0)
        StartKlavor(installDir);
    return INSTALL_EXIT_DONE;
}

UninstallInitResult Uninstall_Init(HWND parent, LPCWSTR installDir) {
    (void)parent;
    (void)installDir;
    CloseKlavor();
    return UNINSTALL_INIT_CONTINUE;
}

UninstallExitResult Uninstall_Exit(HWND parent) {
    (void)parent;
    return UNINSTALL_EXIT_DONE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

}  // extern "C"
