/* Query parameters of browser URLs. */
#include "session/diurlparam.h"

#include "session/diprofile.h"

#include <string.h>

#include <string>

/* The value as a query component: a character that would end it ("&",
 * "#"), start an escape ("%") or read back as a space ("+") is escaped, and
 * so is everything outside printable ASCII, as UTF-8. */
static std::u16string formEncode(const DiChar* value) {
    static const char k_hex[] = "0123456789ABCDEF";
    std::string bytes = diProfileToUtf8(value ? value : u"");
    std::u16string out;
    for (unsigned char c : bytes) {
        if (c == ' ') {
            out += u'+';
        } else if (c <= 0x20 || c >= 0x7F || strchr("&#%+", c)) {
            out += u'%';
            out += DiChar(k_hex[c >> 4]);
            out += DiChar(k_hex[c & 15]);
        } else {
            out += DiChar(c);
        }
    }
    return out;
}

bool AddUrlParameter(const DiChar* name, const DiChar* value, DiChar* url, size_t capacity) {
    if (!name || !url || !capacity) return false;
    std::u16string text = url;
    std::u16string encoded = formEncode(value);
    std::u16string key = std::u16string(name) + u"=";
    size_t start = std::u16string::npos;
    for (const DiChar* lead : {u"?", u"&", u"&amp;"}) {
        size_t at = text.find(lead + key);
        if (at != std::u16string::npos) {
            start = at + std::char_traits<DiChar>::length(lead) + key.size();
            break;
        }
    }
    if (start != std::u16string::npos) {
        size_t end = text.find(u'&', start);
        text.replace(start, end == std::u16string::npos ? std::u16string::npos : end - start,
                     encoded);
    } else {
        text += text.find(u'?') == std::u16string::npos ? u"?" : u"&";
        text += key + encoded;
    }
    if (text.size() + 1 > capacity) return false;
    memcpy(url, text.c_str(), (text.size() + 1) * sizeof(DiChar));
    return true;
}
