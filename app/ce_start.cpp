// The phone's entry point, in place of a C run-time start-up: the program
// needs none (no heap, no static constructors, no atexit; the phone build
// fails on any of them). The kernel starts the first thread here with
// WinMain's four arguments already in r0 to r3.
//
// The entry ends the thread itself, with WinMain's result as the code,
// rather than returning: ExitThread on a process's primary thread ends the
// process with that code, which is how the platform's own start-up code
// ends a program too, so nothing depends on what the kernel left in lr.
#include "ce_bridge.h"

extern "C" void WinMainCRTStartup(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd) {
    ExitThread((DWORD)WinMain(hInstance, hPrevInstance, lpCmdLine, nShowCmd));
}
