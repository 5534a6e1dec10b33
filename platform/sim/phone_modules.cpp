// Modules: coredll.dll, with or without the UnregisterFunc1 export.
#include "phone_state.h"

namespace sim {

using namespace internal;

void SetCoredll(bool loads, bool exportsUnregisterFunc1) {
    P().coredllLoads = loads;
    P().coredllExports = exportsUnregisterFunc1;
}

}  // namespace sim

using namespace sim;
using namespace sim::internal;

extern "C" {

HINSTANCE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    Traced tr("LoadLibraryW", [&] { return Quote(lpLibFileName); });
    if (LowerStr(Str(lpLibFileName)) == u"coredll.dll" && P().coredllLoads) {
        ++P().coredllRefs;
        return tr.Returns(reinterpret_cast<HINSTANCE>(kCoredll), [&] { return Hex(kCoredll); });
    }
    P().lastError = 126;  // ERROR_MOD_NOT_FOUND
    return tr.Returns<HINSTANCE>(nullptr, "NULL");
}

FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName) {
    Traced tr("GetProcAddressW", [&] { return Join({H(hModule), Quote(lpProcName)}); });
    if (reinterpret_cast<ULONG_PTR>(hModule) == kCoredll && P().coredllRefs > 0 && P().coredllExports &&
        Str(lpProcName) == u"UnregisterFunc1")
        return tr.Returns(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&SimUnregisterFunc1)), "UnregisterFunc1");
    P().lastError = 127;  // ERROR_PROC_NOT_FOUND
    return tr.Returns<FARPROC>(nullptr, "NULL");
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    Traced tr("FreeLibrary", [&] { return H(hLibModule); });
    if (reinterpret_cast<ULONG_PTR>(hLibModule) == kCoredll && P().coredllRefs > 0) {
        --P().coredllRefs;
        return tr.Bool(TRUE);
    }
    P().lastError = ERROR_INVALID_HANDLE;
    return tr.Bool(FALSE);
}

}  // extern "C"
