/* Settings store access for the core. */
#include "core/ddsetting.h"

#include "core/ddapp.h"
#include "session/diprofile.h"

#include <stdio.h>
#include <stdlib.h>

int ddSettingGetString(const wchar_t* name, const wchar_t* def, wchar_t* buffer, int size) {
    if (size <= 0) return 0;
    if (!diSOGetLocalSetting(ddD(name), ddD(buffer), size)) {
        buffer[0] = 0;
        if (def) {
            wcsncpy(buffer, def, size - 1);
            buffer[size - 1] = 0;
        }
    }
    return static_cast<int>(wcslen(buffer)) + 1;
}

int ddSettingGetInt(const wchar_t* name, int def) {
    wchar_t text[64];
    if (!diSOGetLocalSetting(ddD(name), ddD(text), DI_COUNTOF(text))) return def;
    int value;
    return swscanf(text, L"%d", &value) == 1 ? value : def;
}

bool ddSettingSetString(const wchar_t* name, const wchar_t* text) {
    return diSOSetLocalSetting(ddD(name), ddD(text ? text : L""));
}

bool ddSettingSetInt(const wchar_t* name, int value) {
    wchar_t text[16];
    _snwprintf(text, DI_COUNTOF(text), L"%d", value);
    text[DI_COUNTOF(text) - 1] = 0;
    return ddSettingSetString(name, text);
}

HKEY ddSettingOpenProductKey(HKEY root, bool openOnly) {
    wchar_t product[64];
    /* The product word is string resource 9; a build without the string
     * tables still finds the key. */
    if (LoadStringW(g_ddApp->instance, 9, product, DI_COUNTOF(product)) <= 0)
        wcscpy(product, L"Quorvellan");
    wchar_t path[160];
    _snwprintf(path, DI_COUNTOF(path), L"Software\\%ls\\Quorvellan Native Client", product);
    path[DI_COUNTOF(path) - 1] = 0;
    HKEY key = nullptr;
    LONG r = openOnly ? RegOpenKeyExW(root, path, 0, KEY_READ, &key)
                      : RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                        &key, nullptr);
    return r == ERROR_SUCCESS ? key : nullptr;
}

HKEY ddSettingOpenLegacyKey(const wchar_t* subKey, const wchar_t* name, HKEY root, bool openOnly) {
    HKEY product = ddSettingOpenProductKey(root, openOnly);
    if (!product) return nullptr;
    wchar_t path[600];
    _snwprintf(path, DI_COUNTOF(path), L"%ls\\%ls", subKey ? subKey : L"", name);
    path[DI_COUNTOF(path) - 1] = 0;
    HKEY key = nullptr;
    LONG r = openOnly ? RegOpenKeyExW(product, path, 0, KEY_READ, &key)
                      : RegCreateKeyExW(product, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                        &key, nullptr);
    RegCloseKey(product);
    return r == ERROR_SUCCESS ? key : nullptr;
}

/* The default value of a legacy list key as a terminated text (at most 512
 * bytes; the registry does not promise a terminator). */
static bool ddSettingReadLegacyValue(HKEY key, wchar_t* out, int size) {
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>((size - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    out[bytes / sizeof(wchar_t)] = 0;
    return true;
}

int ddSettingReadList(const wchar_t* subKey, const wchar_t* name, wchar_t** array, int count) {
    int stored = 0;
    wchar_t entryName[300];
    /* Entries are read whole: a cut one would match nothing and be written
     * back cut. */
    for (int i = 0; i < count; i++) {
        _snwprintf(entryName, DI_COUNTOF(entryName), L"%ls%d", name, i);
        entryName[DI_COUNTOF(entryName) - 1] = 0;
        wchar_t* value = ddW(diSOGetLocalSettingWhole(ddD(entryName)));
        if (!value) break;
        array[stored++] = value;
    }
    for (int j = 0; j < count && stored < count; j++) {
        _snwprintf(entryName, DI_COUNTOF(entryName), L"%ls%d", name, j);
        entryName[DI_COUNTOF(entryName) - 1] = 0;
        HKEY key = ddSettingOpenLegacyKey(subKey, entryName, HKEY_CURRENT_USER, true);
        if (!key) break;
        wchar_t legacy[512 / sizeof(wchar_t) + 1];
        bool ok = ddSettingReadLegacyValue(key, legacy, DI_COUNTOF(legacy));
        RegCloseKey(key);
        if (!ok) continue;
        /* Once the list has been written back to the settings, the same
         * registry entries would be appended again on every read: an entry
         * already read is not taken twice. */
        bool seen = false;
        for (int k = 0; k < stored && !seen; k++)
            seen = wcscmp(array[k], legacy) == 0;
        if (seen) continue;
        wchar_t* copy = _wcsdup(legacy);
        if (copy) array[stored++] = copy;
    }
    return stored;
}

bool ddSettingWriteList(const wchar_t*, const wchar_t* name, wchar_t** array, int count,
                        bool retry) {
    return diSOSetLocalList(ddD(name), reinterpret_cast<const DiChar* const*>(array), count, retry);
}
