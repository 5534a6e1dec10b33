// The registry: a tree of keys with typed values.
#include <algorithm>

#include "phone_state.h"

namespace sim {
namespace internal {

// Registry keys are kept by their full lower-case path below the root's
// handle value, e.g. "0x80000002\\software\\morvane".
std::u16string RegPath(HKEY root, const std::u16string& path) {
    std::u16string full = Utf16(Hex(reinterpret_cast<ULONG_PTR>(root)));
    if (!path.empty()) full += u"\\" + LowerStr(path);
    while (!full.empty() && full.back() == u'\\') full.pop_back();
    return full;
}

}  // namespace internal

using namespace internal;

void SetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
                      const std::vector<std::uint8_t>& data) {
    P().registry[RegPath(root, path)][LowerStr(name)] = RegValue{type, data};
}

void CreateRegistryKey(HKEY root, const std::u16string& path) { P().registry[RegPath(root, path)]; }

bool DeleteRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name) {
    auto key = P().registry.find(RegPath(root, path));
    return key != P().registry.end() && key->second.erase(LowerStr(name)) > 0;
}

std::optional<RegistryData> RegistryValue(HKEY root, const std::u16string& path, const std::u16string& name) {
    auto key = P().registry.find(RegPath(root, path));
    if (key == P().registry.end()) return std::nullopt;
    auto value = key->second.find(LowerStr(name));
    if (value == key->second.end()) return std::nullopt;
    return RegistryData{value->second.type, value->second.data};
}

}  // namespace sim

using namespace sim;
using namespace sim::internal;

extern "C" {

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
    Traced tr("RegOpenKeyExW", [&] { return Join({H(hKey), Quote(lpSubKey), Num(ulOptions), Num(samDesired)}); });
    std::u16string base;
    auto open = P().openKeys.find(reinterpret_cast<ULONG_PTR>(hKey));
    if (open != P().openKeys.end())
        base = open->second;
    else if (hKey == HKEY_LOCAL_MACHINE)
        base = RegPath(hKey, u"");
    else
        return tr.Returns<LONG>(ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE");
    std::u16string full = base;
    if (lpSubKey && *lpSubKey) full += u"\\" + LowerStr(Str(lpSubKey));
    while (!full.empty() && full.back() == u'\\') full.pop_back();
    bool exists = false;
    for (const auto& k : P().registry) {
        const std::u16string& name = k.first;
        if (name == full || (name.size() > full.size() && name.compare(0, full.size(), full) == 0 &&
                             name[full.size()] == u'\\'))
            exists = true;
    }
    if (!exists) {
        if (phkResult) *phkResult = nullptr;
        return tr.Returns<LONG>(ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND");
    }
    ULONG_PTR handle = P().nextKey++;
    P().openKeys[handle] = full;
    if (phkResult) *phkResult = reinterpret_cast<HKEY>(handle);
    return tr.Returns<LONG>(ERROR_SUCCESS, [&] { return "ERROR_SUCCESS, key " + Hex(handle); });
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    Traced tr("RegQueryValueExW", [&] {
        return Join({H(hKey), Quote(lpValueName), lpReserved ? "reserved" : "NULL", lpType ? "type" : "NULL",
                     lpData ? "buffer" : "NULL", lpcbData ? Num(*lpcbData) : "NULL"});
    });
    (void)lpReserved;
    auto open = P().openKeys.find(reinterpret_cast<ULONG_PTR>(hKey));
    if (open == P().openKeys.end()) return tr.Returns<LONG>(ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE");
    auto key = P().registry.find(open->second);
    if (key == P().registry.end()) return tr.Returns<LONG>(ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND");
    auto value = key->second.find(LowerStr(Str(lpValueName)));
    if (value == key->second.end())
        return tr.Returns<LONG>(ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND");
    const RegValue& v = value->second;
    auto size = static_cast<DWORD>(v.data.size());
    if (lpType) *lpType = v.type;
    if (!lpData) {
        if (lpcbData) *lpcbData = size;
        return tr.Returns<LONG>(ERROR_SUCCESS, [&] { return "ERROR_SUCCESS, size " + Num(size); });
    }
    if (!lpcbData) return tr.Returns<LONG>(87, "ERROR_INVALID_PARAMETER");
    if (*lpcbData < size) {
        // As on the real system: the size needed, and nothing usable copied.
        *lpcbData = size;
        return tr.Returns<LONG>(ERROR_MORE_DATA, [&] { return "ERROR_MORE_DATA, size " + Num(size); });
    }
    std::copy(v.data.begin(), v.data.end(), lpData);
    *lpcbData = size;
    return tr.Returns<LONG>(ERROR_SUCCESS, [&] { return "ERROR_SUCCESS, size " + Num(size); });
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    Traced tr("RegCloseKey", [&] { return H(hKey); });
    if (P().openKeys.erase(reinterpret_cast<ULONG_PTR>(hKey)) == 0)
        return tr.Returns<LONG>(ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE");
    return tr.Returns<LONG>(ERROR_SUCCESS, "ERROR_SUCCESS");
}

}  // extern "C"
