/* The webtop document turned into Start-menu folders and shortcuts. */
#include "session/diwebmenu.h"

#include "core/diutil.h"
#include "xml/qvlparser.h"
#include "xml/qvlxml.h"
#include "xml/qvlxmlparser.h"

#include <stdlib.h>

#include <memory>

bool diMenuCleanName(const DiChar* name, bool folder, std::u16string* out) {
    out->clear();
    if (!name) return false;
    for (const DiChar* p = name; *p; p++) {
        DiChar c = *p;
        bool bad = c < 0x20 || c == 0x7f;
        for (char r : {'\\', '/', ':', '*', '?', '"', '<', '>', '|'})
            if (c == static_cast<DiChar>(r)) bad = true;
        out->push_back(bad ? u'!' : c);
    }
    if (folder)
        while (!out->empty() && (out->back() == u'.' || out->back() == u' '))
            out->pop_back();
    if (out->empty() || diIsDeviceName(out->data(), out->size()) ||
        out->size() > DI_MENU_MAX_PATH) {
        out->clear();
        return false;
    }
    return true;
}

bool diMenuJoin(const std::u16string& folder, const std::u16string& component,
                const char16_t* suffix, std::u16string* out) {
    std::u16string path = folder + u"\\" + component + (suffix ? suffix : u"");
    if (folder.empty() || component.empty() || path.size() > DI_MENU_MAX_PATH) return false;
    *out = path;
    return true;
}

bool diMenuLinkPath(const std::u16string& folder, const DiChar* name, std::u16string* out) {
    std::u16string clean;
    return diMenuCleanName(name, false, &clean) && diMenuJoin(folder, clean, u".lnk", out);
}

bool diMenuIconPaths(const std::u16string& iconsFolder, const DiChar* iconName, std::u16string* ico,
                     std::u16string* gif) {
    if (!iconName) return false;
    std::u16string name(iconName);
    if (name.empty() || name == u"." || name == u"..") return false;
    for (char16_t c : name)
        if (c < 0x20 || c == 0x7f || c == u'\\' || c == u'/' || c == u':') return false;
    size_t dot = name.find(u".gif");
    /* The download's temporary file and the icon keep the stem: a device
     * stem would open the device. */
    if (dot == std::u16string::npos || diIsDeviceName(name.data(), name.size())) return false;
    std::u16string icoName = name.substr(0, dot) + u".ico";
    std::u16string g, i;
    if (!diMenuJoin(iconsFolder, name, nullptr, &g) ||
        !diMenuJoin(iconsFolder, icoName, nullptr, &i))
        return false;
    *gif = g;
    *ico = i;
    return true;
}

/* Inside quotes, backslashes are literal unless a quote follows them: then
 * each one is doubled and the quote itself escaped; the closing quote
 * likewise doubles the backslashes before it. */
void diMenuQuote(std::u16string* out, const DiChar* value) {
    out->push_back(u'"');
    size_t slashes = 0;
    for (const DiChar* p = value ? value : u""; *p; p++) {
        if (*p == u'\\') {
            slashes++;
            out->push_back(u'\\');
            continue;
        }
        if (*p == u'"') {
            out->append(slashes + 1, u'\\');
        }
        slashes = 0;
        out->push_back(*p);
    }
    out->append(slashes, u'\\');
    out->push_back(u'"');
}

std::u16string diMenuProfileArguments(const DiChar* profileKey) {
    std::u16string args = u"-profile ";
    diMenuQuote(&args, profileKey);
    return args;
}

std::u16string diMenuItemArguments(const DiChar* profileKey, const DiChar* value) {
    std::u16string args = u" " + diMenuProfileArguments(profileKey) + u" -application ";
    diMenuQuote(&args, value);
    return args;
}

namespace {

CQVLXMLTag* asTag(CQVLXMLElement* e) {
    return e && e->IsTag() ? static_cast<CQVLXMLTag*>(e) : nullptr;
}

bool tagIs(CQVLXMLTag* tag, const char* name) {
    return tag && tag->name && tag->name->Equals(name);
}

/* The text of the child attr whose "name" is key; empty when absent. */
bool attrText(CQVLXMLTag* obj, const char* key, std::u16string* out) {
    CQVLXMLElementList* kids = obj->GetChildren();
    for (auto* n = kids ? kids->head : nullptr; n; n = n->next) {
        CQVLXMLTag* tag = asTag(n->item);
        if (!tagIs(tag, "attr")) continue;
        const CQVLXMLString* name = tag->GetAttribute("name");
        if (!name || !name->Equals(key)) continue;
        DiChar* text = tag->GetText();
        *out = text ? text : u"";
        free(text);
        return true;
    }
    out->clear();
    return false;
}

struct Walker {
    const DiMenuContext& context;
    IDiMenuSink* sink;
    std::u16string quotedExe;

    bool Item(CQVLXMLTag* obj, const std::u16string& folder) {
        std::u16string text;
        if (attrText(obj, "mrkqvlsessionid", &text)) {
            sink->AddCookie(text.c_str());
            return true;
        }
        DiMenuShortcut s;
        std::u16string name, value, objectClass, location, icon;
        attrText(obj, "cn", &name);
        attrText(obj, "objectclass", &objectClass);
        if (objectClass == u"mrkqvlhtmldocument" && attrText(obj, "mrkqvllocation", &location)) {
            if (location.empty()) return true;
            value = sink->DocumentUrl(location.c_str());
        } else if (objectClass == u"mrkqvlhtmldocument") {
            return true;
        } else {
            attrText(obj, "mrkqvlwebtopobjectname", &value);
        }
        if (!diMenuCleanName(name.c_str(), false, &s.name) ||
            !diMenuJoin(folder, s.name, u".lnk", &s.path)) {
            sink->Refused("shortcut", name.c_str());
            return false;
        }
        s.target = quotedExe;
        s.arguments = diMenuItemArguments(context.profileKey.c_str(), value.c_str());
        if (attrText(obj, "mrkqvlicon", &icon) &&
            diMenuIconPaths(context.iconsFolder, icon.c_str(), &s.icoPath, &s.gifPath))
            s.iconName = icon;
        return sink->MakeShortcut(s);
    }

    bool Level(CQVLXMLElement* element, const std::u16string& folder, int depth) {
        CQVLXMLElementList* kids = element->GetChildren();
        for (auto* n = kids ? kids->head : nullptr; n; n = n->next) {
            CQVLXMLTag* obj = asTag(n->item);
            if (!tagIs(obj, "obj")) continue;
            const CQVLXMLString* kind = obj->GetAttribute("name");
            if (kind && kind->Equals("webtopitem")) {
                if (!Item(obj, folder)) return false;
            } else if (kind && kind->Equals("webtopgroup")) {
                const CQVLXMLString* group = obj->GetAttribute("groupname");
                std::u16string clean, sub;
                if (!diMenuCleanName(group ? group->Text() : nullptr, true, &clean) ||
                    !diMenuJoin(folder, clean, nullptr, &sub)) {
                    sink->Refused("group", group ? group->Text() : u"");
                    return false;
                }
                sink->MakeFolder(sub);
                if (!Level(obj, sub, depth + 1)) return false;
            }
        }
        return true;
    }
};

} // namespace

bool diMenuWalk(const char* text, size_t length, const std::u16string& folder,
                const DiMenuContext& context, IDiMenuSink* sink) {
    if (!text || !length || !sink) return false;
    CQVLParser parser(text, length);
    std::unique_ptr<CQVLXMLDoc> doc(CQVLXMLParser::ParseDocument(&parser));
    if (!doc || !doc->root) return false;
    Walker w{context, sink, std::u16string()};
    diMenuQuote(&w.quotedExe, context.exePath.c_str());
    return w.Level(doc->root, folder, 0);
}
