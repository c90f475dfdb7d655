// The clipboard's server forms (8-bit and UTF-16 text, metafile picture,
// palette, plain bytes) and the lines of a printed text: no access outside
// the data, and whatever is accepted can be read whole as the system will.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "devices/diclip.h"
#include "devices/diprint.h"

namespace {

void check(bool ok) {
    if (!ok) abort();
}

void drop(DiClipBytes b, size_t most) {
    check(!b.ok || b.length <= most);
    if (b.ok && b.length) {
        volatile uint8_t last = b.data[b.length - 1];
        (void)last;
    }
    free(b.data);
}

// Plays the records as a player does, by their sizes only.
void playMetafile(const DiClipMetafile& m) {
    volatile uint32_t sum = 0;
    for (size_t i = 0; i < m.length; i++)
        sum = sum + m.bits[i];
    size_t at = 18;
    while (at + 6 <= m.length) {
        const uint8_t* r = m.bits + at;
        uint32_t words =
            uint32_t(r[0]) | uint32_t(r[1]) << 8 | uint32_t(r[2]) << 16 | uint32_t(r[3]) << 24;
        check(words >= 3 && uint64_t(words) * 2 <= m.length - at);
        if (r[4] == 0 && r[5] == 0) break;
        at += size_t(words) * 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t* p = data + 1;
    size_t n = size - 1;
    switch (data[0] % 6) {
    case 0:
        drop(diClipTextToLocal(p, n), 2 * n + 1);
        drop(diClipTextFromLocal(p, n), n);
        break;
    case 1:
        drop(diClipUnicodeToLocal(p, n), 2 * n + 2);
        drop(diClipUnicodeFromLocal(p, n), n);
        break;
    case 2: {
        DiClipMetafile m;
        if (diClipMetafileFromServer(p, n, &m)) {
            check(m.bits == p + 12 && m.length + 12 <= n);
            playMetafile(m);
            drop(diClipMetafileToServer(m.mappingMode, m.xExt, m.yExt, m.bits, m.length),
                 m.length + 16);
        }
        break;
    }
    case 3: {
        const uint8_t* entries;
        uint32_t count;
        if (diClipPaletteFromServer(p, n, &entries, &count)) {
            check(count >= 1 && entries + size_t(count) * 4 <= p + n);
            drop(diClipPaletteToServer(entries, count), size_t(count) * 4 + 4);
        }
        break;
    }
    case 4: {
        std::u16string text(n / 2, u'\0');
        if (!text.empty()) memcpy(&text[0], p, text.size() * 2);
        size_t limit = n ? p[0] : 0;
        drop(diClipTerminalText(text.data(), text.size(), limit), limit * 2);
        for (const DiPrintLine& l : diPrintSplitLines(text.data(), text.size()))
            check(l.start + l.length <= text.size());
        break;
    }
    default: {
        // A server's printer name against a list.
        std::u16string name(n / 2, u'\0');
        if (!name.empty()) memcpy(&name[0], p, name.size() * 2);
        DiPrintClient c;
        c.defaultName = u"Office";
        c.list = u"pn=@@QVL_PDF@@\ndp=\ndn=\npn=Office\npo=CUPS:o\ndp=o.drv\ndn=O\n" + name;
        std::u16string use;
        if (diPrintAcceptName(c, name, &use)) check(!use.empty() && use != u"@@QVL_PDF@@");
        break;
    }
    }
    return 0;
}
