/* Printing a bitmap from the display: one document on the default printer,
 * with the print set-up's page settings when they were made for that
 * printer. */
#include "devices/dddevices.h"

#include "core/ddapp.h"
#include "ui/dddib.h"
#include "ui/ddui.h"

#include <winspool.h>

#include <string>

namespace {

/* The default printer's name, or empty. */
std::wstring defaultPrinter() {
    DWORD size = 0;
    GetDefaultPrinterW(nullptr, &size);
    if (size == 0 || size > 4096) return std::wstring();
    std::wstring name(size, L'\0');
    if (!GetDefaultPrinterW(&name[0], &size)) return std::wstring();
    name.resize(wcslen(name.c_str()));
    return name;
}

/* A device context of the printer; the set-up's page settings apply only
 * when the set-up chose this same printer. */
HDC printerDC(const std::wstring& name) {
    HGLOBAL setup = static_cast<HGLOBAL>(g_ddApp ? g_ddApp->printDevMode : nullptr);
    DEVMODEW* dm = setup ? static_cast<DEVMODEW*>(GlobalLock(setup)) : nullptr;
    const DEVMODEW* use = nullptr;
    if (dm && GlobalSize(setup) >= sizeof(DEVMODEW) &&
        wcsncmp(dm->dmDeviceName, name.c_str(), CCHDEVICENAME - 1) == 0)
        use = dm;
    HDC dc = CreateDCW(nullptr, name.c_str(), nullptr, use);
    if (dm) GlobalUnlock(setup);
    return dc;
}

} // namespace

int ddPrintBitmap(HBITMAP bitmap, HPALETTE palette, uint32_t mode, int32_t scaleX, int32_t scaleY,
                  int) {
    int result = -1;
    std::wstring name = bitmap ? defaultPrinter() : std::wstring();
    if (!name.empty()) {
        HGLOBAL dib = ddDIBFromBitmap(bitmap, palette);
        HDC dc = dib ? printerDC(name) : nullptr;
        if (dc && ddDIBPrint(dc, dib, mode, scaleX, scaleY, L"MyDoc") == DD_DIB_PRINT_OK)
            result = 0;
        if (dc) DeleteDC(dc);
        if (dib) ddDIBFree(dib);
    }
    /* The outcome is told by its sound: print complete or print error. */
    ddUIPlayMessageSound(result == 0 ? 253 : 254);
    return result;
}
