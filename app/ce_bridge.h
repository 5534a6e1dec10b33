// The few places where Windows CE and desktop Windows differ, bridged once
// so that the same sources build for the phone and with mingw-w64.
#ifndef KLAVOR_APP_CE_BRIDGE_H
#define KLAVOR_APP_CE_BRIDGE_H

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#include <windows.h>
#include <shellapi.h>

#ifdef _WIN32_WCE

// The phone's 32-bit tray record (NOTIFYICONDATA as the CE shell knows it).
#define TRAY_DATA_SIZE 152

#else  // desktop Windows

// The same original tray record, at the platform's own size: 152 bytes on
// 32-bit Windows, 168 on 64-bit.
#define TRAY_DATA_SIZE NOTIFYICONDATAW_V1_SIZE

#ifndef WS_EX_NOANIMATION
#define WS_EX_NOANIMATION 0x04000000L  // CE only; the bit is unused on desktop
#endif
#ifndef MOD_KEYUP
#define MOD_KEYUP 0x1000
#endif
#ifndef VK_APP1
#define VK_APP1 0xC1
#define VK_APP2 0xC2
#define VK_APP3 0xC3
#define VK_APP4 0xC4
#define VK_APP5 0xC5
#define VK_APP6 0xC6
#endif

// Desktop has only the narrow-named lookup; export names are ASCII.
static inline FARPROC GetProcAddressW(HMODULE module, LPCWSTR name) {
    char narrow[64];
    int i = 0;
    for (; name[i] != 0 && i < (int)sizeof narrow - 1; ++i) narrow[i] = (char)name[i];
    narrow[i] = 0;
    return GetProcAddress(module, narrow);
}

// CE ignores the access mask of RegOpenKeyExW and the program passes 0;
// desktop opens the key all the same but then denies every query on it
// (ERROR_ACCESS_DENIED), so the configuration would never be read. The
// desktop build force-includes this header into engine/ for this one call.
static inline LONG RegOpenKeyExForQuery(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    return RegOpenKeyExW(key, subKey, options, access == 0 ? KEY_QUERY_VALUE : access, result);
}
#define RegOpenKeyExW RegOpenKeyExForQuery

// CE's WinMain takes a wide command line; desktop calls that wWinMain.
#define WinMain wWinMain

#endif

#endif
