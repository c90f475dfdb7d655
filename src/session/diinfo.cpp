#include "session/diinfo.h"

#include "core/diapp.h"
#include "session/diso.h"
#include "xml/qvlxmlglobals.h"

namespace {
const DiChar kEmpty[1] = {0};
const size_t kValueMax = 512;

std::u16string text(const DiChar* t) {
    return t ? std::u16string(t) : std::u16string();
}

/* The value of `key` ("po=") at a line start within [from, to), up to its
 * line's end; none when absent. */
bool lineValue(const std::u16string& list, size_t from, size_t to, const char16_t* key,
               std::u16string* value) {
    std::u16string k = key;
    for (size_t at = from; at < to; at = list.find_first_of(u"\r\n", at)) {
        if (at == std::u16string::npos) break;
        while (at < to && (list[at] == '\r' || list[at] == '\n'))
            at++;
        if (at >= to) break;
        if (list.compare(at, k.size(), k) == 0) {
            size_t start = at + k.size();
            size_t end = list.find_first_of(u"\r\n", start);
            if (end == std::u16string::npos || end > to) end = to;
            *value = list.substr(start, end - start);
            return true;
        }
    }
    return false;
}
} // namespace

CConnectionInfoItem::CConnectionInfoItem(int32_t k, const DiChar* p, const DiChar* v)
    : property(text(p)), value(text(v)), kind(k) {}

void CConnectionInfoItem::Pack(CQVLPackBuffer* b) {
    b->WriteString(b->encoding, property.c_str());
    b->WriteChar(b->encoding, '\t');
    b->WriteString(b->encoding, value.c_str());
    b->WriteAscii(b->encoding, "\r\n");
}

const DiChar* CConnectionInfoItem::GetColumnText(int column) {
    return column == 0 ? property.c_str() : column == 1 ? value.c_str() : kEmpty;
}

int CConnectionInfoItem::Compare(IDiTableRow* other, int column) {
    CConnectionInfoItem* o = static_cast<CConnectionInfoItem*>(other);
    return qvlStrCmp(GetColumnText(column), o->GetColumnText(column));
}

CConnectionInfo::~CConnectionInfo() {
    Clear();
    for (auto* m : messages)
        delete m;
}

void CConnectionInfo::Clear() {
    for (auto* r : rows)
        delete r;
    rows.clear();
}

void CConnectionInfo::Pack(CQVLPackBuffer* b) {
    for (auto* r : rows)
        r->Pack(b);
}

const DiChar* CConnectionInfo::GetMessage(uint32_t message) {
    DiChar buffer[2048];
    diLogLoadMessage(message, buffer, 2048);
    messages.push_back(new std::u16string(buffer));
    return messages.back()->c_str();
}

void CConnectionInfo::AddItem(int32_t kind, const DiChar* property, const DiChar* value) {
    rows.push_back(new CConnectionInfoItem(kind, property, value));
}

void CConnectionInfo::AddItemFormat(int32_t kind, const DiChar* property, const DiChar* format,
                                    std::initializer_list<DiFmtArg> args) {
    DiChar value[kValueMax];
    value[0] = 0;
    if (diFormatPositional(value, kValueMax, format, args.begin(), args.size()) < 0)
        value[kValueMax - 1] = 0;
    AddItem(kind, property, value);
}

void CConnectionInfo::Refresh(CServerOutpost* so, const DiInfoFacts& f) {
    Clear();
    if (!so) return;
    /* Server and route. */
    if (so->connectionState == DI_SO_CONNECTED) {
        const DiChar* server = so->userInfo[DI_SO_SERVER];
        if (server)
            AddItem(DI_INFO_SERVER, GetMessage(700), server);
        else
            AddItemFormat(DI_INFO_SERVER, GetMessage(700), GetMessage(704),
                          {so->server ? so->server : kEmpty, int(so->port)});
        AddItem(DI_INFO_SERVER, GetMessage(701), GetMessage(so->secure ? 728 : 727));
    } else {
        AddItem(DI_INFO_SERVER, GetMessage(700), GetMessage(734));
    }
    AddItem(DI_INFO_SERVER, GetMessage(725), GetMessage(so->firewallTraversal ? 729 : 730));
    if (f.httpProxy)
        AddItemFormat(DI_INFO_SERVER, GetMessage(702), GetMessage(704),
                      {f.httpProxy->host, int(f.httpProxy->port)});
    if (f.socksProxy)
        AddItemFormat(DI_INFO_SERVER, GetMessage(703), GetMessage(704),
                      {f.socksProxy->host, int(f.socksProxy->port)});
    int hop = 1;
    for (DiRouteNode* n = so->baseRoute ? so->baseRoute->first : nullptr; n; n = n->next, hop++) {
        DiChar property[256], value[kValueMax];
        diFormatPositional(property, 256, GetMessage(705), {hop});
        value[0] = 0;
        diRouteDescribe(n->route, value, kValueMax);
        AddItem(DI_INFO_SERVER, property, value);
    }
    /* User. */
    if (so->userInfo[DI_SO_FULLNAME])
        AddItem(DI_INFO_USER, GetMessage(706), so->userInfo[DI_SO_FULLNAME]);
    if (so->userInfo[DI_SO_SHORTNAME])
        AddItem(DI_INFO_USER, GetMessage(707), so->userInfo[DI_SO_SHORTNAME]);
    /* Version. */
    AddItem(DI_INFO_VERSION, GetMessage(710), u"4.31");
    const DiChar* logFile = diLogGetFileName();
    if (logFile && logFile[0]) AddItem(DI_INFO_VERSION, GetMessage(708), logFile);
    if (so->code) AddItem(DI_INFO_VERSION, GetMessage(709), so->code);
    /* Platform. */
    static const char16_t* const kWindows[] = {
        nullptr,           u"Windows 95",   u"Windows 98", u"Windows Me",   nullptr,
        u"Windows NT 4.0", u"Windows 2000", u"Windows XP", u"Windows 2003", u"Windows Vista"};
    const DiChar* os = f.osText ? f.osText : kEmpty;
    if ((f.osCode >> 8) == 2) {
        unsigned minor = f.osCode & 0xff;
        os = minor < 10 && kWindows[minor] ? kWindows[minor] : u"Windows";
    }
    AddItem(DI_INFO_PLATFORM, GetMessage(713), os);
    AddItemFormat(DI_INFO_PLATFORM, GetMessage(711), GetMessage(733),
                  {f.screenWidth, f.screenHeight, f.depth});
    AddItemFormat(DI_INFO_PLATFORM, GetMessage(715), GetMessage(732), {f.maxWidth, f.maxHeight});
    AddItemFormat(DI_INFO_PLATFORM, GetMessage(712), GetMessage(732),
                  {f.screenWidth, f.screenHeight});
    AddItem(DI_INFO_PLATFORM, GetMessage(714), f.localXDisplay ? f.localXDisplay : GetMessage(731));
    AddPrinters(f);
    AddDrives(f);
    AddReadersAndPorts(f);
}

void CConnectionInfo::AddReadersAndPorts(const DiInfoFacts& f) {
    for (const DiInfoReader& r : f.readers) {
        int32_t kind = diInfoReaderKind(r.state);
        std::u16string value = r.name;
        if (kind == DI_INFO_READER_CARD) {
            value += u":";
            for (uint8_t b : r.atr) {
                DiChar hex[8];
                diFormatPositional(hex, 8, u" %02x", {int(b)});
                value += hex;
            }
        }
        if (value.size() >= kValueMax) value.resize(kValueMax - 1);
        AddItem(kind, GetMessage(723), value.c_str());
    }
    for (const auto& port : f.serialPorts)
        AddItemFormat(DI_INFO_SERIAL, GetMessage(724), u"%s (%s)",
                      {port.first.c_str(), port.second.c_str()});
}

/* Every key of a printer is looked for between its own "pn=" line and the
 * next one: a printer without a port must not show its neighbour's, and
 * "pn=" inside a value is no printer. */
void CConnectionInfo::AddPrinters(const DiInfoFacts& f) {
    if (!f.hasPrintQueue) return;
    if (f.defaultPrinter && f.defaultPrinter[0])
        AddItem(DI_INFO_PRINTERS, GetMessage(722), f.defaultPrinter);
    std::u16string list = text(f.printerList);
    std::vector<size_t> starts;
    for (size_t at = 0; at < list.size();) {
        if (list.compare(at, 3, u"pn=") == 0) starts.push_back(at);
        at = list.find_first_of(u"\r\n", at);
        if (at == std::u16string::npos) break;
        while (at < list.size() && (list[at] == '\r' || list[at] == '\n'))
            at++;
    }
    int number = 1;
    for (size_t i = 0; i < starts.size(); i++) {
        size_t from = starts[i], to = i + 1 < starts.size() ? starts[i + 1] : list.size();
        std::u16string name, v;
        lineValue(list, from, to, u"pn=", &name);
        if (name == u"@@QVL_PDF@@") continue;
        std::u16string value = name;
        DiChar part[kValueMax];
        struct {
            const char16_t* key;
            uint32_t message;
        } keys[] = {{u"po=", 735}, {u"dn=", 736}, {u"dp=", 0}};
        for (auto& k : keys) {
            if (!lineValue(list, from, to, k.key, &v)) continue;
            diFormatPositional(part, kValueMax, k.message ? GetMessage(k.message) : u" (%s)",
                               {v.c_str()});
            value += part;
        }
        if (value.size() >= kValueMax) value.resize(kValueMax - 1);
        DiChar property[256];
        diFormatPositional(property, 256, GetMessage(721), {number++});
        AddItem(DI_INFO_PRINTERS, property, value.c_str());
    }
}

void CConnectionInfo::AddDrives(const DiInfoFacts& f) {
    static const struct {
        int type;
        uint32_t message;
    } kTypes[] = {{1, 717}, {2, 718}, {4, 719}, {8, 720}, {0, 716}};
    for (auto& t : kTypes) {
        std::u16string names;
        for (auto& d : f.drives)
            if (d.second == t.type) names += d.first + u": ";
        if (names.empty()) continue;
        if (names.size() >= kValueMax) names.resize(kValueMax - 1);
        AddItem(DI_INFO_DRIVES, GetMessage(t.message), names.c_str());
    }
}
