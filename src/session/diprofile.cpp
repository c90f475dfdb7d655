/* Local settings of the profile store. */
#include "session/diprofile.h"

#include "core/diutil.h"

#include <stdlib.h>
#include <string.h>

DiProfileStore* g_diProfileStore;

static const char k_open[] = "<localsettings>";
static const char k_close[] = "</localsettings>";
static const char k_itemOpen[] = "<setting name=\"";
static const char k_itemClose[] = "</setting>";

std::string diProfileToUtf8(const DiChar* text) {
    std::string out;
    size_t n = 0;
    while (text && text[n])
        n++;
    if (char* bytes = diTextToUtf8Dup(text, n)) {
        out = bytes;
        free(bytes);
    }
    return out;
}

std::u16string diProfileFromUtf8(const std::string& bytes) {
    std::u16string out;
    if (DiChar* text = diTextFromUtf8Dup(bytes.data(), bytes.size())) {
        out = text;
        free(text);
    }
    return out;
}

static std::string xmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

/* Undoes the five predefined entities; false on any other '&' form. */
static bool xmlUnescape(const char* p, size_t n, std::string* out) {
    static const struct {
        const char* name;
        char c;
    } k_entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    out->clear();
    for (size_t i = 0; i < n;) {
        if (p[i] != '&') {
            *out += p[i++];
            continue;
        }
        bool found = false;
        for (const auto& e : k_entities) {
            size_t len = strlen(e.name);
            if (len <= n - i && memcmp(p + i, e.name, len) == 0) {
                *out += e.c;
                i += len;
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    return true;
}

static const char* findIn(const char* from, const char* end, const char* what) {
    size_t len = strlen(what);
    for (const char* p = from; static_cast<size_t>(end - p) >= len; p++) {
        if (memcmp(p, what, len) == 0) return p;
    }
    return nullptr;
}

void diProfileParse(DiProfileStore* store, const char* bytes, size_t length) {
    store->settings.clear();
    store->head.clear();
    store->tail.clear();
    const char* end = bytes + length;
    const char* open = findIn(bytes, end, k_open);
    const char* close = open ? findIn(open, end, k_close) : nullptr;
    if (!open || !close) {
        store->head.assign(bytes, length);
        return;
    }
    store->head.assign(bytes, open);
    store->tail.assign(close + strlen(k_close), end);
    const char* p = open + strlen(k_open);
    for (;;) {
        const char* item = findIn(p, close, k_itemOpen);
        if (!item) break;
        const char* nameStart = item + strlen(k_itemOpen);
        const char* nameEnd = findIn(nameStart, close, "\">");
        if (!nameEnd) break;
        const char* valueStart = nameEnd + 2;
        const char* valueEnd = findIn(valueStart, close, k_itemClose);
        if (!valueEnd) break;
        std::string name, value;
        if (!xmlUnescape(nameStart, nameEnd - nameStart, &name) ||
            !xmlUnescape(valueStart, valueEnd - valueStart, &value))
            break;
        store->settings.emplace_back(name, value);
        p = valueEnd + strlen(k_itemClose);
    }
}

std::string diProfileSerialize(const DiProfileStore* store) {
    std::string out;
    std::string tail = store->tail;
    if (store->head.empty() && tail.empty()) {
        out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<profile>\r\n  ";
        tail = "\r\n</profile>\r\n";
    } else if (tail.empty()) {
        /* A file without the element: insert it before the root's end tag. */
        size_t rootEnd = store->head.rfind("</");
        if (rootEnd == std::string::npos) {
            out = store->head;
        } else {
            out = store->head.substr(0, rootEnd) + "  ";
            tail = "\r\n" + store->head.substr(rootEnd);
        }
    } else {
        out = store->head;
    }
    out += k_open;
    out += "\r\n";
    for (const auto& s : store->settings)
        out += "    " + std::string(k_itemOpen) + xmlEscape(s.first) + "\">" + xmlEscape(s.second) +
               k_itemClose + "\r\n";
    out += "  ";
    out += k_close;
    out += tail;
    return out;
}

static std::string lowerName(const DiChar* name) {
    std::string s = diProfileToUtf8(name);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool diSOGetLocalSetting(const DiChar* name, DiChar* buffer, size_t size) {
    if (!g_diProfileStore || !name) return false;
    std::string key = lowerName(name);
    for (const auto& s : g_diProfileStore->settings) {
        if (s.first != key) continue;
        std::u16string value = diProfileFromUtf8(s.second);
        if (size > 0) {
            size_t n = value.size() < size - 1 ? value.size() : size - 1;
            memcpy(buffer, value.data(), n * sizeof(DiChar));
            buffer[n] = 0;
        }
        return true;
    }
    return false;
}

bool diSOSetLocalSetting(const DiChar* name, const DiChar* text) {
    if (!g_diProfileStore || !name) return false;
    std::string key = lowerName(name);
    std::string value = diProfileToUtf8(text);
    bool found = false;
    for (auto& s : g_diProfileStore->settings) {
        if (s.first == key) {
            s.second = value;
            found = true;
            break;
        }
    }
    if (!found) g_diProfileStore->settings.emplace_back(key, value);
    if (g_diProfileStore->save)
        return g_diProfileStore->save(g_diProfileStore, diProfileSerialize(g_diProfileStore)) == 0;
    return true;
}
