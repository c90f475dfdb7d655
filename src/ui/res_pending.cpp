/* Stand-ins for functions whose owners have not landed yet; each is
 * replaced by the real one at merge. */
#include "core/diutil.h"
#include "net/dilaip.h"

/* Minimal positional formatter: %s, %d, %u, %% and "%N$" markers. */
int diFormatPositional(DiChar* out, size_t size, const DiChar* format, const DiFmtArg* args,
                       size_t count)
{
    if (!out || size == 0) return -1;
    size_t o = 0, next = 0;
    bool fit = true;
    auto put = [&](DiChar c) {
        if (o + 1 < size) out[o++] = c;
        else fit = false;
    };
    for (const DiChar* p = format; p && *p; ++p) {
        if (*p != u'%') {
            put(*p);
            continue;
        }
        ++p;
        if (*p == u'%') {
            put(u'%');
            continue;
        }
        size_t index = next++;
        if (*p >= u'1' && *p <= u'9' && p[1] == u'$') {
            index = static_cast<size_t>(*p - u'1');
            p += 2;
        }
        if (!*p) break;
        const DiFmtArg* a = index < count ? &args[index] : nullptr;
        if (*p == u's') {
            const DiChar* t = a && a->kind == DiFmtArg::Text && a->text ? a->text : u"(null)";
            while (*t) put(*t++);
        } else if (*p == u'd' || *p == u'u') {
            uint32_t w = a ? a->word : 0;
            bool neg = *p == u'd' && static_cast<int32_t>(w) < 0;
            uint64_t v = neg ? static_cast<uint64_t>(-static_cast<int64_t>(static_cast<int32_t>(w)))
                             : w;
            DiChar digits[24];
            int n = 0;
            do {
                digits[n++] = static_cast<DiChar>(u'0' + v % 10);
                v /= 10;
            } while (v);
            if (neg) put(u'-');
            while (n) put(digits[--n]);
        }
    }
    out[o] = 0;
    return fit ? static_cast<int>(o) : -1;
}

DiLAIPField* diLAIPFindField(DiLAIPDialog* dialog, uint16_t id)
{
    if (!dialog || !dialog->fields) return nullptr;
    for (uint16_t i = 0; i < dialog->fieldCount; ++i)
        if (dialog->fields[i].id == id) return &dialog->fields[i];
    return nullptr;
}
