/* Local printers and printing: see ddprint.h. */
#include "devices/ddprint.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "core/ddtrace.h"
#include "ui/ddui.h"

#include <commdlg.h>
#include <shellapi.h>
#include <winspool.h>

#include <string.h>

#include <vector>

namespace {

const size_t kMaxPrinterName = 511;
/* A reader's command line stays well inside what CreateProcess takes. */
const size_t kMaxCommandLine = 8191;
/* Text past this many units of one line is beyond any page's width. */
const int kMaxLineUnits = 8192;

std::u16string u16(const wchar_t* s) {
    return s ? std::u16string(ddD(s)) : std::u16string();
}
const wchar_t* w(const std::u16string& s) {
    return ddW(s.c_str());
}

/* One trace line: names from a server cannot start lines of their own. */
void trace(std::u16string line) {
    for (char16_t& c : line)
        if (c < 0x20) c = u'?';
    ddTraceLogWrite((line + u"\r\n").c_str());
}

/* Calls a spooler listing twice: for its size, then for its data. */
template <typename F> std::vector<uint8_t> spoolerData(F call) {
    DWORD need = 0;
    call(nullptr, 0, &need);
    if (need == 0 || need > (64u << 20)) return {};
    std::vector<uint8_t> buf(need);
    if (!call(buf.data(), need, &need)) return {};
    return buf;
}

/* A printer's level-2 driver: name and path. */
bool readDriver(const std::u16string& printer, std::u16string* name, std::u16string* path) {
    HANDLE h = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(w(printer)), &h, nullptr)) return false;
    std::vector<uint8_t> buf = spoolerData([&](uint8_t* p, DWORD n, DWORD* need) {
        return GetPrinterDriverW(h, nullptr, 2, p, n, need) != 0;
    });
    ClosePrinter(h);
    if (buf.empty()) return false;
    const DRIVER_INFO_2W* d = reinterpret_cast<const DRIVER_INFO_2W*>(buf.data());
    *name = u16(d->pName);
    *path = u16(d->pDriverPath);
    return !name->empty();
}

/* A printer's port from its own level-2 record. */
std::u16string readPort(const std::u16string& printer) {
    HANDLE h = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(w(printer)), &h, nullptr)) return std::u16string();
    std::vector<uint8_t> buf = spoolerData(
        [&](uint8_t* p, DWORD n, DWORD* need) { return GetPrinterW(h, 2, p, n, need) != 0; });
    ClosePrinter(h);
    if (buf.empty()) return std::u16string();
    return u16(reinterpret_cast<const PRINTER_INFO_2W*>(buf.data())->pPortName);
}

/* The level-2 records of a listing: name and port of each. */
void portsOf(DWORD flags, const wchar_t* server, std::vector<DiPrinter>* printers, bool addNew) {
    std::vector<uint8_t> buf;
    DWORD count = 0;
    buf = spoolerData([&](uint8_t* p, DWORD n, DWORD* need) {
        return EnumPrintersW(flags, const_cast<wchar_t*>(server), 2, p, n, need, &count) != 0;
    });
    const PRINTER_INFO_2W* list = reinterpret_cast<const PRINTER_INFO_2W*>(buf.data());
    for (DWORD i = 0; !buf.empty() && i < count; i++) {
        std::u16string name = u16(list[i].pPrinterName), port = u16(list[i].pPortName);
        bool found = false;
        for (DiPrinter& p : *printers)
            if (p.name == name) {
                if (p.port.empty()) p.port = port;
                found = true;
            }
        if (!found && addNew) printers->push_back({name, port, u"", u""});
    }
}

/* The system's printers with port and driver (those without stay
 * undescribed). */
std::vector<DiPrinter> enumeratePrinters(bool nt) {
    std::vector<DiPrinter> printers;
    if (!nt) {
        portsOf(PRINTER_ENUM_LOCAL, nullptr, &printers, true);
    } else {
        int options = ddSettingGetInt(L"PrinterOptions", 0);
        DWORD count = 0;
        std::vector<uint8_t> buf = spoolerData([&](uint8_t* p, DWORD n, DWORD* need) {
            return EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, p, n,
                                 need, &count) != 0;
        });
        const PRINTER_INFO_4W* list = reinterpret_cast<const PRINTER_INFO_4W*>(buf.data());
        std::vector<std::u16string> servers;
        bool localServer = false;
        for (DWORD i = 0; !buf.empty() && i < count; i++) {
            printers.push_back({u16(list[i].pPrinterName), u"", u"", u""});
            std::u16string server = u16(list[i].pServerName);
            if (server.empty()) {
                localServer = !(options & 1);
                continue;
            }
            bool known = false;
            for (const std::u16string& s : servers)
                known = known || s == server;
            if (!known && servers.size() + localServer < 16) servers.push_back(server);
        }
        if (options & 2) {
            if (localServer) portsOf(PRINTER_ENUM_NAME, nullptr, &printers, false);
            for (const std::u16string& s : servers)
                portsOf(PRINTER_ENUM_NAME, w(s), &printers, false);
        }
        for (DiPrinter& p : printers)
            if (p.port.empty()) p.port = readPort(p.name);
    }
    for (DiPrinter& p : printers) {
        if (p.port.empty() || p.name.empty()) continue;
        if (!readDriver(p.name, &p.driverName, &p.driverPath)) continue;
        trace(u"Printer " + p.name + u" (" + p.driverName + u")");
    }
    return printers;
}

/* A key's default value (text), or false. */
bool regText(HKEY root, const std::wstring& key, std::wstring* out) {
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    wchar_t buf[1024];
    DWORD type = 0, size = sizeof buf - sizeof(wchar_t);
    LONG r = RegQueryValueExW(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    buf[size / sizeof(wchar_t)] = 0;
    *out = buf;
    return true;
}

bool isFile(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

/* The default printer's device context: the print set-up's choice first. */
HDC defaultPrinterDC() {
    HGLOBAL names = static_cast<HGLOBAL>(g_ddApp ? g_ddApp->printDevNames : nullptr);
    HGLOBAL mode = static_cast<HGLOBAL>(g_ddApp ? g_ddApp->printDevMode : nullptr);
    const DEVNAMES* dn = names ? static_cast<const DEVNAMES*>(GlobalLock(names)) : nullptr;
    HDC dc = nullptr;
    if (dn) {
        size_t size = GlobalSize(names) / sizeof(wchar_t);
        const wchar_t* base = reinterpret_cast<const wchar_t*>(dn);
        if (dn->wDeviceOffset < size) {
            std::wstring device(base + dn->wDeviceOffset,
                                wcsnlen(base + dn->wDeviceOffset, size - dn->wDeviceOffset));
            DEVMODEW* dm = mode ? static_cast<DEVMODEW*>(GlobalLock(mode)) : nullptr;
            bool dmOk = dm && GlobalSize(mode) >= sizeof(DEVMODEW);
            if (!device.empty())
                dc = CreateDCW(nullptr, device.c_str(), nullptr, dmOk ? dm : nullptr);
            if (dm) GlobalUnlock(mode);
        }
        GlobalUnlock(names);
    }
    if (dc) return dc;
    PRINTDLGW pd = {};
    pd.lStructSize = sizeof pd;
    pd.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
    if (!PrintDlgW(&pd)) return nullptr;
    if (pd.hDevMode) GlobalFree(pd.hDevMode);
    if (pd.hDevNames) GlobalFree(pd.hDevNames);
    return pd.hDC;
}

int outcome(int result) {
    ddUIPlayMessageSound(result == 0 ? 253 : 254);
    return result;
}

} // namespace

std::u16string ddPrintDefaultName(void) {
    PRINTDLGW pd = {};
    pd.lStructSize = sizeof pd;
    pd.Flags = PD_RETURNDEFAULT;
    std::u16string name;
    if (PrintDlgW(&pd) && pd.hDevNames) {
        const DEVNAMES* dn = static_cast<const DEVNAMES*>(GlobalLock(pd.hDevNames));
        size_t size = GlobalSize(pd.hDevNames) / sizeof(wchar_t);
        if (dn && dn->wDeviceOffset < size) {
            const wchar_t* s = reinterpret_cast<const wchar_t*>(dn) + dn->wDeviceOffset;
            size_t n = wcsnlen(s, size - dn->wDeviceOffset);
            if (n <= kMaxPrinterName) name.assign(ddD(s), n);
        }
        if (dn) GlobalUnlock(pd.hDevNames);
    }
    if (pd.hDevMode) GlobalFree(pd.hDevMode);
    if (pd.hDevNames) GlobalFree(pd.hDevNames);
    return name.empty() ? std::u16string(kDiPrintNoDefault) : name;
}

bool ddPrintDescribeClient(DiPrintClient* out) {
    DiPrintSystem sys;
    OSVERSIONINFOW v = {};
    v.dwOSVersionInfoSize = sizeof v;
    GetVersionExW(&v);
    sys.nt = v.dwPlatformId == VER_PLATFORM_WIN32_NT;
    sys.major = v.dwMajorVersion;
    sys.defaultName = ddPrintDefaultName();
    if (sys.defaultName == kDiPrintNoDefault) {
        ddTraceLogPrintf(207, {});
        *out = DiPrintClient();
        return false;
    }
    std::wstring reader;
    sys.pdfReader = ddPrintFindReader(&reader, true);
    sys.printers = enumeratePrinters(sys.nt);
    readDriver(sys.defaultName, &sys.defaultDriverName, &sys.defaultDriverPath);
    return diPrintDescribe(sys, out);
}

int ddPrintRaw(const wchar_t* path, const std::u16string& printer, const DiPrintClient& client,
               DWORD* error) {
    *error = 0;
    std::u16string use, now = ddPrintDefaultName();
    if (printer.empty() || lstrcmpiW(w(printer), w(now)) == 0) {
        /* Without a default now, the one the description named. */
        use = now == kDiPrintNoDefault && !client.defaultName.empty() ? client.defaultName : now;
    } else if (!diPrintAcceptName(client, printer, &use)) {
        trace(u"Print failed: printer " + printer + u" was not offered");
        *error = ERROR_INVALID_PRINTER_NAME;
        return outcome(-1);
    }
    HANDLE h = nullptr;
    std::u16string driver, driverPath;
    if (use == kDiPrintNoDefault || !OpenPrinterW(const_cast<wchar_t*>(w(use)), &h, nullptr)) {
        *error = use == kDiPrintNoDefault ? DWORD(ERROR_INVALID_PRINTER_NAME) : GetLastError();
        return outcome(-1);
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!readDriver(use, &driver, &driverPath)) {
        *error = GetLastError() ? GetLastError() : DWORD(ERROR_UNKNOWN_PRINTER_DRIVER);
    } else {
        file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) *error = GetLastError();
    }
    DOC_INFO_1W doc = {const_cast<wchar_t*>(L"Quorvellan"), nullptr, const_cast<wchar_t*>(L"RAW")};
    if (file != INVALID_HANDLE_VALUE) {
        if (!StartDocPrinterW(h, 1, reinterpret_cast<BYTE*>(&doc))) {
            *error = GetLastError();
        } else {
            auto readFile = [](void* f, uint8_t* buf, uint32_t size, uint32_t* got) {
                DWORD n = 0;
                bool ok = ReadFile(static_cast<HANDLE>(f), buf, size, &n, nullptr) != 0;
                *got = n;
                return ok;
            };
            auto writePrinter = [](void* p, const uint8_t* buf, uint32_t size, uint32_t* taken) {
                DWORD n = 0;
                bool ok =
                    WritePrinter(static_cast<HANDLE>(p), const_cast<uint8_t*>(buf), size, &n) != 0;
                *taken = n;
                return ok;
            };
            SetLastError(0);
            DiPrintCopyResult r = diPrintCopyBlocks(readFile, file, writePrinter, h);
            if (r == DI_PRINT_READ_FAILED) *error = GetLastError() ? GetLastError() : 1;
            if (r == DI_PRINT_WRITE_FAILED)
                *error = GetLastError() ? GetLastError() : DWORD(ERROR_WRITE_FAULT);
            if (*error)
                AbortPrinter(h);
            else if (!EndDocPrinter(h))
                *error = GetLastError() ? GetLastError() : DWORD(ERROR_WRITE_FAULT);
        }
        CloseHandle(file);
    }
    ClosePrinter(h);
    return outcome(*error ? -1 : 0);
}

bool ddPrintFindReader(std::wstring* path, bool probe) {
    std::wstring found;
    for (int step = 0; step < 3; step++) {
        const char16_t* where = nullptr;
        std::wstring value;
        if (step == 0) {
            where = u"QVL reg";
            if (!regText(HKEY_CURRENT_USER, L"Software\\Quorvellan\\Printing\\AcrobatReader",
                         &value))
                continue;
        } else if (step == 1) {
            where = u".PDF reg";
            std::wstring cls;
            if (!regText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.PDF", &cls) || cls.empty() ||
                !regText(HKEY_LOCAL_MACHINE,
                         L"Software\\Classes\\" + cls + L"\\Shell\\Open\\Command", &value))
                continue;
            if (!value.empty() && value[0] == L'"') {
                size_t close = value.find(L'"', 1);
                value =
                    value.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
            }
        } else {
            where = u"AppPaths reg";
            if (!regText(HKEY_LOCAL_MACHINE,
                         L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\AcroRd32.exe",
                         &value))
                continue;
        }
        bool exists = isFile(value);
        if (probe)
            trace(u"Acrobat reader found at " + std::u16string(where) + u" location: " +
                  u16(value.c_str()) + (exists ? u"" : u" - but Acrobat executable doesn't exist"));
        if (exists) {
            found = value;
            break;
        }
    }
    if (probe)
        trace(found.empty() ? u"PDF printing not available"
                            : u"PDF printing available, if enabled on server");
    *path = found;
    return !found.empty();
}

int ddPrintPdf(const wchar_t* path, bool printDialog, uint32_t kind, const DiPrintClient& client) {
    std::wstring reader;
    if (!ddPrintFindReader(&reader, false)) return outcome(-1);
    std::wstring userParams;
    bool hasUser = regText(HKEY_CURRENT_USER, L"Software\\Quorvellan\\Printing\\AcrobatParameters",
                           &userParams);
    std::u16string user = u16(userParams.c_str());
    std::u16string params = diPrintPdfParameters(hasUser ? &user : nullptr, printDialog, kind);
    int show = kind == 2 ? SW_SHOWNORMAL : SW_HIDE;
    std::wstring mode;
    if (regText(HKEY_CURRENT_USER, L"Software\\Quorvellan\\Printing\\AcrobatDisplayMode", &mode))
        show = _wtoi(mode.c_str());

    /* The printer the parameters name, else the default's own entry. */
    std::u16string named = diPrintParametersPrinter(params);
    DiPrinter entry;
    if (!diPrintFindEntry(client.list, named.empty() ? client.defaultName : named, &entry))
        entry.name = named.empty() ? client.defaultName : named;
    if (entry.port.empty()) entry.port = entry.name;
    const std::u16string args[4] = {u16(path), entry.name, entry.driverName, entry.port};
    std::u16string line;
    if (!diPrintFormatLine(params, args, 4, kMaxCommandLine, &line)) {
        trace(u"Print failed: PDF: the reader's parameters cannot be used: " + params);
        return outcome(-1);
    }
    HINSTANCE r = ShellExecuteW(g_ddApp ? g_ddApp->mainWindow : nullptr, L"open", reader.c_str(),
                                w(line), nullptr, show);
    if (reinterpret_cast<INT_PTR>(r) > 32) return 0;
    DWORD code = GetLastError();
    wchar_t text[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, 511, nullptr);
    std::u16string number;
    for (DWORD c = code;; c /= 10) {
        number.insert(number.begin(), char16_t(u'0' + c % 10));
        if (c < 10) break;
    }
    trace(u"Print failed: PDF: errno=" + number + u": " + u16(text));
    return outcome(-1);
}

int ddPrintText(const uint8_t* data, uint32_t length, UINT format) {
    if (length > (64u << 20)) return outcome(-1);
    std::u16string text;
    if (format == CF_UNICODETEXT) {
        text.assign(reinterpret_cast<const char16_t*>(data), length / 2);
    } else if (format == CF_TEXT || format == CF_OEMTEXT) {
        const void* zero = memchr(data, 0, length);
        int n = zero ? int(static_cast<const uint8_t*>(zero) - data) : int(length);
        UINT cp = format == CF_OEMTEXT ? CP_OEMCP : CP_ACP;
        int units =
            n > 0 ? MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(data), n, nullptr, 0)
                  : 0;
        text.resize(size_t(units > 0 ? units : 0));
        if (units > 0)
            MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(data), n, ddW(&text[0]),
                                units);
    } else {
        return outcome(-1);
    }
    HDC dc = defaultPrinterDC();
    if (!dc) return outcome(-1);
    int result = -1;
    DOCINFOW doc = {};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = L"MyDoc";
    if (StartDocW(dc, &doc) > 0) {
        bool ok = StartPage(dc) > 0;
        TEXTMETRICW tm = {};
        GetTextMetricsW(dc, &tm);
        int height = tm.tmHeight > 0 ? tm.tmHeight : 1, page = GetDeviceCaps(dc, VERTRES), y = 0;
        for (const DiPrintLine& l : diPrintSplitLines(text.data(), text.size())) {
            if (!ok) break;
            if (y > 0 && y + height > page) {
                ok = EndPage(dc) > 0 && StartPage(dc) > 0;
                y = 0;
            }
            int n = l.length > size_t(kMaxLineUnits) ? kMaxLineUnits : int(l.length);
            if (n > 0) ok = ok && TextOutW(dc, 0, y, ddW(text.data() + l.start), n);
            y += height;
        }
        ok = ok && EndPage(dc) > 0;
        if (ok && EndDoc(dc) > 0)
            result = 0;
        else
            AbortDoc(dc);
    }
    DeleteDC(dc);
    return outcome(result);
}
