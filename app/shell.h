// The shell's process-wide state and its window procedure.
#ifndef KLAVOR_APP_SHELL_H
#define KLAVOR_APP_SHELL_H

#include "ce_bridge.h"

extern HINSTANCE g_hInstance;
extern HMODULE g_hCoredll;  // NULL when coredll did not load

LRESULT CALLBACK KlavorWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

#endif
