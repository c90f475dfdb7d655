/* Time-zone and keyboard descriptions. */
#include "core/ddsysinfo.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"

#include <imm.h>
#include <stdlib.h>
#include <string.h>

static char* ddSysUtf8Dup(const wchar_t* text) {
    int need = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return nullptr;
    char* out = static_cast<char*>(malloc(need));
    if (out) WideCharToMultiByte(CP_UTF8, 0, text, -1, out, need, nullptr, nullptr);
    return out;
}

DdTimeZoneInfo* ddTimeZoneInfoGet(void) {
    TIME_ZONE_INFORMATION tz;
    DWORD id = GetTimeZoneInformation(&tz);
    if (id == TIME_ZONE_ID_INVALID) return nullptr;
    DdTimeZoneInfo* info = static_cast<DdTimeZoneInfo*>(calloc(1, sizeof(DdTimeZoneInfo)));
    if (!info) return nullptr;
    if (id == TIME_ZONE_ID_DAYLIGHT) info->flags |= DD_TZ_DAYLIGHT;
    info->bias = tz.Bias + tz.StandardBias;
    info->standardName = ddSysUtf8Dup(tz.StandardName);
    if (tz.StandardDate.wMonth != 0 && tz.DaylightDate.wMonth != 0) {
        info->flags |= DD_TZ_DATES;
        info->daylightOffset = tz.DaylightBias - tz.StandardBias;
        info->daylightName = ddSysUtf8Dup(tz.DaylightName);
        static_assert(sizeof(SYSTEMTIME) == sizeof(DiSystemTime), "eight u16");
        memcpy(&info->daylightDate, &tz.DaylightDate, sizeof(DiSystemTime));
        memcpy(&info->standardDate, &tz.StandardDate, sizeof(DiSystemTime));
    }
    return info;
}

void ddTimeZoneInfoFree(DdTimeZoneInfo* info) {
    if (!info) return;
    free(info->standardName);
    free(info->daylightName);
    free(info);
}

const wchar_t* ddKeyboardVariant(const wchar_t* layoutId) {
    static const struct {
        const wchar_t* id;
        const wchar_t* code;
    } k_variants[] = {
        {L"00010402", L"LAT"}, {L"00010416", L"AB2"}, {L"00010405", L"QWE"}, {L"00010419", L"TYP"},
        {L"00010407", L"IBM"}, {L"0001041b", L"QWE"}, {L"00010409", L"DVK"}, {L"0001080c", L"COM"},
        {L"0001040a", L"VAR"}, {L"00011009", L"CMS"}, {L"0001040e", L"101"}, {L"00011809", L"GAE"},
        {L"00010410", L"142"}, {L"00020405", L"PRG"}, {L"00010415", L"214"}, {L"00020409", L"INT"},
        {L"00030409", L"DKL"}, {L"00040409", L"DKR"}, {L"00010426", L"QWE"}, {L"00010427", L"DFL"},
    };
    if (!layoutId) return nullptr;
    for (const auto& v : k_variants) {
        if (_wcsicmp(v.id, layoutId) == 0) return v.code;
    }
    return nullptr;
}

static DiChar* ddSysDup(const wchar_t* text, uint16_t* length) {
    size_t n = wcslen(text);
    if (n > 0xFFFE) n = 0xFFFE;
    DiChar* copy = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!copy) return nullptr;
    memcpy(copy, text, n * sizeof(DiChar));
    copy[n] = 0;
    *length = static_cast<uint16_t>(n);
    return copy;
}

/* The layout name from the legacy "Keyboard Layouts" key, named by the
 * layout id. */
static bool ddKeyboardLegacyLayout(const wchar_t* layoutId, wchar_t* out, DWORD chars) {
    HKEY product = ddSettingOpenProductKey(HKEY_CURRENT_USER, true);
    if (!product) return false;
    HKEY key = nullptr;
    bool ok = false;
    if (RegOpenKeyExW(product, L"Keyboard Layouts", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = 0, bytes = (chars - 1) * sizeof(wchar_t);
        ok = RegQueryValueExW(key, layoutId, nullptr, &type, reinterpret_cast<BYTE*>(out),
                              &bytes) == ERROR_SUCCESS &&
             type == REG_SZ;
        if (ok) out[bytes / sizeof(wchar_t)] = 0;
        RegCloseKey(key);
    }
    RegCloseKey(product);
    return ok;
}

DdKeyboardInfo* ddKeyboardInfoGet(void) {
    wchar_t active[KL_NAMELENGTH] = L"";
    return ddKeyboardInfoFor(GetKeyboardLayoutNameW(active) ? active : nullptr);
}

DdKeyboardInfo* ddKeyboardInfoFor(const wchar_t* activeLayout) {
    DdKeyboardInfo* info = static_cast<DdKeyboardInfo*>(calloc(1, sizeof(DdKeyboardInfo)));
    if (!info) return nullptr;
    wchar_t text[512];
    wchar_t layoutId[KL_NAMELENGTH] = L"";
    if (ddSettingGetString(L"InputLocale", nullptr, text, 512) > 1) {
        info->langText = ddSysDup(text, &info->langLength);
        info->flags |= DD_KB_LANG_TEXT;
    } else {
        if (!activeLayout || wcslen(activeLayout) >= KL_NAMELENGTH) {
            ddKeyboardInfoFree(info);
            return nullptr;
        }
        wcscpy(layoutId, activeLayout);
        unsigned long layout = wcstoul(layoutId, nullptr, 16);
        if (g_ddApp->win9x4 && (layout == 0x10409 || layout == 0x20409)) {
            layout = layout == 0x10409 ? 0x20409 : 0x10409;
            wcscpy(layoutId, layout == 0x10409 ? L"00010409" : L"00020409");
        }
        if ((layout & 0xFFFF) == 0) {
            ddKeyboardInfoFree(info);
            return nullptr;
        }
        info->langId = static_cast<uint16_t>(layout & 0xFFFF);
        info->langLength = 2;
        info->flags |= DD_KB_LANG_ID;
    }

    if (ddSettingGetString(L"KeyboardLayout", nullptr, text, 512) > 1) {
        info->layout = ddSysDup(text, &info->layoutLength);
        info->flags |= DD_KB_LAYOUT;
    } else if (info->flags & DD_KB_LANG_ID) {
        const wchar_t* name =
            ddKeyboardLegacyLayout(layoutId, text, 512) ? text : ddKeyboardVariant(layoutId);
        if (name) {
            info->layout = ddSysDup(name, &info->layoutLength);
            info->flags |= DD_KB_LAYOUT;
        }
    }

    if (ddSettingGetString(L"IME", nullptr, text, 512) > 1) {
        info->ime = ddSysDup(text, &info->imeLength);
        info->imeLength++;
        info->flags |= DD_KB_IME;
    } else {
        wchar_t ime[MAX_PATH] = L"";
        ImmGetIMEFileNameW(GetKeyboardLayout(0), ime, MAX_PATH);
        int bytes = WideCharToMultiByte(CP_UTF8, 0, ime, -1, nullptr, 0, nullptr, nullptr) - 1;
        if (bytes > 0) {
            uint16_t chars;
            info->ime = ddSysDup(ime, &chars);
            info->imeLength = static_cast<uint16_t>(bytes > 0xFFFF ? 0xFFFF : bytes);
            info->flags |= DD_KB_IME;
        }
    }
    return info;
}

void ddKeyboardInfoFree(DdKeyboardInfo* info) {
    if (!info) return;
    free(info->langText);
    free(info->ime);
    free(info->layout);
    free(info);
}
