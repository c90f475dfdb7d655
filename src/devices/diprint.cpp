/* Printer descriptions, printer names, reader command lines and text
 * lines: see diprint.h. */
#include "devices/diprint.h"

const char16_t* const kDiPrintNoDefault = u"DEFAULT_PRINTER_UNKNOWN";
const char16_t* const kDiPrintPdfName = u"@@QVL_PDF@@";

namespace {

const char16_t* const kNoDriver = u"PRINT_DRIVER_UNKNOWN";

/* Printer names compare without case, as the spooler compares them. */
char16_t fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return char16_t(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 32);
    return c;
}

bool sameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::u16string decimal(uint32_t v) {
    std::u16string s;
    do {
        s.insert(s.begin(), char16_t(u'0' + v % 10));
        v /= 10;
    } while (v);
    return s;
}

bool described(const DiPrinter& p) {
    return !p.port.empty() && !p.driverName.empty();
}

std::u16string entry(const DiPrinter& p) {
    std::u16string e = u"pn=" + p.name + u"\n";
    if (p.port != p.name) e += u"po=" + p.port + u"\n";
    return e + u"dp=" + diPrintDriverFile(p.driverPath) + u"\ndn=" + p.driverName + u"\n";
}

/* Every entry of a list, in order. */
std::vector<DiPrinter> entries(const std::u16string& list) {
    std::vector<DiPrinter> out;
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find(u'\n', at);
        if (end == std::u16string::npos) end = list.size();
        std::u16string line = list.substr(at, end - at);
        at = end + 1;
        if (line.size() < 3 || line[2] != u'=') continue;
        std::u16string key = line.substr(0, 2), value = line.substr(3);
        if (key == u"pn") {
            out.push_back(DiPrinter{value, u"", u"", u""});
            continue;
        }
        if (out.empty()) continue;
        if (key == u"po") out.back().port = value;
        if (key == u"dp") out.back().driverPath = value;
        if (key == u"dn") out.back().driverName = value;
    }
    return out;
}

} // namespace

std::u16string diPrintDriverFile(const std::u16string& path) {
    size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool diPrintDescribe(const DiPrintSystem& sys, DiPrintClient* out) {
    *out = DiPrintClient();
    if (sys.defaultName.empty() || sys.defaultName == kDiPrintNoDefault) return false;
    if (sys.nt)
        out->osWord = sys.major >= 5 ? u"Windows2000" : u"WindowsNT" + decimal(sys.major);
    else if (sys.major >= 4)
        out->osWord = u"Windows9*";
    else
        return false;
    out->defaultName = sys.defaultName;

    /* The PDF entry, the others, the default last. */
    const DiPrinter* def = nullptr;
    if (sys.pdfReader) out->list = std::u16string(u"pn=") + kDiPrintPdfName + u"\ndp=\ndn=\n";
    for (const DiPrinter& p : sys.printers) {
        if (!described(p)) continue;
        if (sameName(p.name, sys.defaultName))
            def = &p;
        else
            out->list += entry(p);
    }
    if (def) out->list += entry(*def);
    if (out->list.empty()) out->list = sys.defaultName;

    /* The default's driver by its name: the last entry may be another
     * printer's when the default itself could not be described. */
    std::u16string path = def ? def->driverPath : sys.defaultDriverPath;
    out->driverName = def ? def->driverName : sys.defaultDriverName;
    out->driverEnv = u"W32x86:" + out->driverName;
    std::u16string file = diPrintDriverFile(path);
    if (file.empty()) file = kNoDriver;
    out->description = u"os=" + out->osWord + u"&driver=" + file;
    return true;
}

std::vector<DiPrintItem> diPrintCapabilityItems(const DiPrintClient& client) {
    std::vector<DiPrintItem> items;
    if (client.description.empty()) return items;
    std::u16string info = client.description;
    for (char16_t& c : info)
        if (c == u'&') c = u'+';
    items.push_back({"printerinfo", info, 0, false, false});
    items.push_back({"printerurl", u"LPD:", 0, false, false});
    items.push_back({"printerid", u"", 16, true, false});
    items.push_back({"printername", client.defaultName, 0, false, false});
    items.push_back({"printerdriver", client.driverEnv, 0, false, false});
    items.push_back({"printerusername", u" ", 0, false, false});
    items.push_back({"printerpassword", u" ", 0, false, true});
    items.push_back({"multipleprinters", client.list, 0, false, false});
    return items;
}

bool diPrintFindEntry(const std::u16string& list, const std::u16string& name, DiPrinter* out) {
    for (const DiPrinter& p : entries(list))
        if (sameName(p.name, name)) {
            *out = p;
            return true;
        }
    return false;
}

bool diPrintAcceptName(const DiPrintClient& client, const std::u16string& name,
                       std::u16string* use) {
    bool hasDefault = !client.defaultName.empty() && client.defaultName != kDiPrintNoDefault;
    if (name.empty() || sameName(name, client.defaultName)) {
        if (!hasDefault) return false;
        *use = client.defaultName;
        return true;
    }
    /* Only what the list offered: a UNC name would reach another host and
     * ",XcvMonitor" names reach port monitors. */
    DiPrinter p;
    if (sameName(name, kDiPrintPdfName) || !diPrintFindEntry(client.list, name, &p)) return false;
    *use = p.name;
    return true;
}

std::u16string diPrintPdfParameters(const std::u16string* user, bool printDialog, uint32_t kind) {
    const std::u16string fourArgs = u"/t \"%s\" \"%s\" \"%s\" \"%s\"";
    if (user) return user->size() >= 2 && (*user)[1] == u't' ? fourArgs : *user;
    if (printDialog) return u"/p \"%s\"";
    if (kind == 2) return u"\"%s\"";
    return fourArgs;
}

std::u16string diPrintParametersPrinter(const std::u16string& params) {
    size_t at = params.find(u'%');
    if (at == std::u16string::npos) return std::u16string();
    /* Inside a quoted argument: that one is the file's; move past it. */
    size_t quotes = 0;
    for (size_t i = 0; i < at; i++)
        quotes += params[i] == u'"';
    if (quotes % 2) {
        at = params.find(u'"', at);
        if (at == std::u16string::npos) return std::u16string();
        at++;
    }
    size_t open = params.find(u'"', at);
    if (open == std::u16string::npos) return std::u16string();
    size_t close = params.find(u'"', open + 1);
    if (close == std::u16string::npos) return std::u16string();
    std::u16string name = params.substr(open + 1, close - open - 1);
    return name == u"%s" ? std::u16string() : name;
}

bool diPrintFormatLine(const std::u16string& params, const std::u16string* args, size_t count,
                       size_t limit, std::u16string* out) {
    out->clear();
    size_t next = 0;
    for (size_t i = 0; i < params.size(); i++) {
        char16_t c = params[i];
        if (c == u'%' && i + 1 < params.size() && params[i + 1] == u'%') {
            *out += u'%';
            i++;
        } else if (c == u'%' && i + 1 < params.size() && params[i + 1] == u's') {
            const std::u16string* arg = next < count ? &args[next] : nullptr;
            next++;
            i++;
            if (!arg) continue;
            if (arg->find(u'"') != std::u16string::npos) return false;
            bool quoteFollows = i + 1 < params.size() && params[i + 1] == u'"';
            if (quoteFollows && !arg->empty() && arg->back() == u'\\') return false;
            *out += *arg;
        } else {
            *out += c;
        }
        if (out->size() > limit) return false;
    }
    return true;
}

DiPrintCopyResult diPrintCopyBlocks(DiPrintReadFn read, void* source, DiPrintWriteFn write,
                                    void* sink) {
    uint8_t block[1024];
    for (;;) {
        uint32_t got = 0, taken = 0;
        if (!read(source, block, sizeof block, &got) || got > sizeof block)
            return DI_PRINT_READ_FAILED;
        if (got == 0) return DI_PRINT_COPIED;
        if (!write(sink, block, got, &taken) || taken != got) return DI_PRINT_WRITE_FAILED;
    }
}

std::vector<DiPrintLine> diPrintSplitLines(const char16_t* text, size_t n) {
    std::vector<DiPrintLine> lines;
    size_t start = 0, i = 0;
    for (; i < n && text[i]; i++) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        lines.push_back({start, i - start});
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') i++;
        start = i + 1;
    }
    if (i > start) lines.push_back({start, i - start});
    return lines;
}
