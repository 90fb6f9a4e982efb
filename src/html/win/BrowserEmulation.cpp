#include "html/win/BrowserEmulation.h"

#include <windows.h>

#include <string>

namespace quorvin::win {

const wchar_t kBrowserEmulationKey[] =
    L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";

bool EnsureBrowserEmulation(std::string& error) {
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) {
        error = "the program's file name is unknown";
        return false;
    }
    std::wstring name(path, n);
    const std::size_t cut = name.find_last_of(L"\\/");
    if (cut != std::wstring::npos) name.erase(0, cut + 1);

    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, kBrowserEmulationKey, 0, nullptr, 0,
                                 KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        error = "cannot open the browser emulation key (" + std::to_string(rc) + ")";
        return false;
    }
    DWORD type = 0;
    DWORD existing = 0;
    DWORD size = sizeof existing;
    rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&existing), &size);
    if (rc == ERROR_SUCCESS && type == REG_DWORD) {
        RegCloseKey(key);
        return true;
    }
    const DWORD mode = kEmulateIe11Edge;
    rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), sizeof mode);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        error = "cannot write the browser emulation value (" + std::to_string(rc) + ")";
        return false;
    }
    return true;
}

}  // namespace quorvin::win
