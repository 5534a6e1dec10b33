// Stand-in for the Windows CE <shellapi.h>: the notification area.
#ifndef KLAVOR_PLATFORM_SHELLAPI_H
#define KLAVOR_PLATFORM_SHELLAPI_H

#include <windows.h>

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002

#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

// The Windows CE layout: 152 bytes on the phone's 32-bit build.
typedef struct _NOTIFYICONDATA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[64];
} NOTIFYICONDATA, *PNOTIFYICONDATA;

#ifdef __cplusplus
extern "C" {
#endif

// Windows CE exports the plain name; there is no W suffix.
BOOL WINAPI Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData);

#ifdef __cplusplus
}
#endif

#endif
