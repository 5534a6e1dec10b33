// The platform calls the engine makes, each returning at once, so that a
// benchmark of the engine measures the engine and nothing else.
#include <windows.h>

extern "C" {

BOOL WINAPI RegisterHotKey(HWND, int, UINT, UINT) { return TRUE; }
BOOL WINAPI UnregisterHotKey(HWND, int) { return TRUE; }
void WINAPI keybd_event(BYTE, BYTE, DWORD, DWORD) {}
LONG WINAPI RegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) { return ERROR_FILE_NOT_FOUND; }
LONG WINAPI RegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return ERROR_FILE_NOT_FOUND; }
LONG WINAPI RegCloseKey(HKEY) { return ERROR_SUCCESS; }

}  // extern "C"

// coredll's UnregisterFunc1, reached through the pointer the shell fills in.
BOOL WINAPI StubUnregisterFunc1(UINT, UINT) { return TRUE; }
