// The coredll exports the emulated phone serves to an ARM program: every
// call of the stand-in <windows.h> and <shellapi.h>, each run by the
// simulated phone's own implementation; and two the loader does itself, as
// the host build has them without a call of the phone: the C run-time's
// memset, done in guest memory, and ExitThread, with which the phone
// build's entry ends the program. Any other import stops the run when it
// is called.
//
// One name a line, so that tools and tests can read the list too:
// KLAVOR_EMU_IMPORTS(X) expands to X(AppendMenuW) X(CreatePopupMenu) ...
#ifndef KLAVOR_EMU_IMPORTS_H
#define KLAVOR_EMU_IMPORTS_H

#define KLAVOR_EMU_IMPORTS(X) \
    X(AppendMenuW)            \
    X(CloseHandle)            \
    X(CreatePopupMenu)        \
    X(CreateProcessW)         \
    X(CreateWindowExW)        \
    X(DefWindowProcW)         \
    X(DestroyMenu)            \
    X(DispatchMessageW)       \
    X(ExitThread)             \
    X(FindWindowW)            \
    X(FreeLibrary)            \
    X(GetLastError)           \
    X(GetMessageW)            \
    X(GetProcAddressW)        \
    X(GetStockObject)         \
    X(GetSystemMetrics)       \
    X(LoadIconW)              \
    X(LoadLibraryW)           \
    X(MessageBoxW)            \
    X(PostMessageW)           \
    X(PostQuitMessage)        \
    X(RegCloseKey)            \
    X(RegOpenKeyExW)          \
    X(RegQueryValueExW)       \
    X(RegisterClassW)         \
    X(RegisterHotKey)         \
    X(SetTimer)               \
    X(Shell_NotifyIcon)       \
    X(Sleep)                  \
    X(TrackPopupMenuEx)       \
    X(TranslateMessage)       \
    X(UnregisterHotKey)       \
    X(keybd_event)            \
    X(memset)

// The one library they come from (compared without regard to case).
#define KLAVOR_EMU_IMPORT_DLL "COREDLL.dll"

#endif
