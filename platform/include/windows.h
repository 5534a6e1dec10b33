// Stand-in for the Windows CE <windows.h> on hosts that lack it.
//
// Only the subset of the Win32 API that the program calls, with the values
// and prototypes of Windows CE 4.20. Behind these prototypes sits the
// simulated phone (platform/sim). Text is 16-bit wide characters, as on the
// phone: WCHAR is char16_t here, and TEXT("...") makes a UTF-16 literal.
#ifndef KLAVOR_PLATFORM_WINDOWS_H
#define KLAVOR_PLATFORM_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

// This is the Windows CE API, as on the phone.
#ifndef _WIN32_WCE
#define _WIN32_WCE 0x0420
#endif
#ifndef UNICODE
#define UNICODE
#endif

#define WINAPI
#define CALLBACK
#define APIENTRY

#ifndef NULL
#define NULL 0
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef int INT;
typedef char16_t WCHAR;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;
typedef DWORD REGSAM;
typedef LONG LSTATUS;

typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef void* HANDLE;

#define TEXT(quote) u##quote

#define DECLARE_HANDLE(name) \
    struct name##__ {        \
        int unused;          \
    };                       \
    typedef struct name##__* name
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HCURSOR);
DECLARE_HANDLE(HGDIOBJ);
typedef HINSTANCE HMODULE;
typedef HKEY* PHKEY;

typedef int(WINAPI* FARPROC)();
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT, DWORD);

#define MAKEINTRESOURCEW(i) ((LPWSTR)(ULONG_PTR)(WORD)(i))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define LOWORD(l) ((WORD)((ULONG_PTR)(l) & 0xFFFF))
#define HIWORD(l) ((WORD)(((ULONG_PTR)(l) >> 16) & 0xFFFF))
#define MAKELONG(lo, hi) ((LONG)(((WORD)(lo)) | (((DWORD)((WORD)(hi))) << 16)))

// Messages.
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_TIMER 0x0113
#define WM_COMMAND 0x0111
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_HOTKEY 0x0312
#define WM_USER 0x0400

// Hot-key modifiers.
#define MOD_ALT 0x0001
#define MOD_CONTROL 0x0002
#define MOD_SHIFT 0x0004
#define MOD_WIN 0x0008
#define MOD_KEYUP 0x1000

// Key events and virtual keys.
#define KEYEVENTF_KEYUP 0x0002
#define VK_SHIFT 0x10
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_F3 0x72
#define VK_F4 0x73
#define VK_F6 0x75
#define VK_F7 0x76
#define VK_LSHIFT 0xA0
#define VK_RSHIFT 0xA1
#define VK_APP1 0xC1
#define VK_APP2 0xC2
#define VK_APP3 0xC3
#define VK_APP4 0xC4
#define VK_APP5 0xC5
#define VK_APP6 0xC6

// Window classes and windows.
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define WS_BORDER 0x00800000L
#define WS_EX_TOPMOST 0x00000008L
#define WS_EX_NOANIMATION 0x04000000L
#define WS_EX_NOACTIVATE 0x08000000L
#define WHITE_BRUSH 0

// Registry.
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002)
#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define KEY_QUERY_VALUE 0x0001

// Errors.
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_HOTKEY_ALREADY_REGISTERED 1409L
#define ERROR_HOTKEY_NOT_REGISTERED 1419L

// Menus and message boxes.
#define MF_STRING 0x0000
#define MB_OK 0x0000
#define IDOK 1
#define TPM_LEFTALIGN 0x0000
#define TPM_BOTTOMALIGN 0x0020
#define TPM_RETURNCMD 0x0100

// System metrics.
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef struct tagWNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
} WNDCLASSW;

// Processes. Windows CE takes no security attributes, start-up
// information, environment or current folder: those are always NULL.
typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;
typedef void* LPSECURITY_ATTRIBUTES;
typedef void* LPSTARTUPINFOW;
#define MAX_PATH 260

typedef struct tagTPMPARAMS {
    UINT cbSize;
    LONG rcExclude[4];
} TPMPARAMS, *LPTPMPARAMS;

#ifdef __cplusplus
extern "C" {
#endif

// Hot keys and input.
BOOL WINAPI RegisterHotKey(HWND hWnd, int id, UINT fsModifiers, UINT vk);
BOOL WINAPI UnregisterHotKey(HWND hWnd, int id);
void WINAPI keybd_event(BYTE bVk, BYTE bScan, DWORD dwFlags, DWORD dwExtraInfo);

// Registry.
LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult);
LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData);
LONG WINAPI RegCloseKey(HKEY hKey);

// Modules. GetProcAddressW is the Windows CE form; GetProcAddress is a
// macro for it there.
HINSTANCE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
#define GetProcAddress GetProcAddressW

// Windows, messages and timers.
HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName);
ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass);
HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                            DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                            HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam);
LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
BOOL WINAPI TranslateMessage(const MSG* lpMsg);
LONG WINAPI DispatchMessageW(const MSG* lpMsg);
void WINAPI PostQuitMessage(int nExitCode);
BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
UINT WINAPI SetTimer(HWND hWnd, UINT nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
void WINAPI Sleep(DWORD dwMilliseconds);
DWORD WINAPI GetLastError(void);
// Ends the calling thread; on the primary thread, the whole process with
// that exit code. Only the phone build's entry point (app/ce_start.cpp)
// calls it: elsewhere the host's start-up ends the process.
void WINAPI ExitThread(DWORD dwExitCode);

// Processes.
BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation);
BOOL WINAPI CloseHandle(HANDLE hObject);

// Resources and system information.
HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName);
HGDIOBJ WINAPI GetStockObject(int fnObject);
int WINAPI GetSystemMetrics(int nIndex);

// Menus and message boxes.
HMENU WINAPI CreatePopupMenu(void);
BOOL WINAPI AppendMenuW(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem);
BOOL WINAPI TrackPopupMenuEx(HMENU hMenu, UINT uFlags, int x, int y, HWND hWnd,
                             LPTPMPARAMS lptpm);
BOOL WINAPI DestroyMenu(HMENU hMenu);
int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

// The program's entry point, as the Windows CE run-time start-up calls it.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);

#ifdef __cplusplus
}
#endif

#include <shellapi.h>

#endif
