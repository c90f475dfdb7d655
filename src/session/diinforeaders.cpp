/* Connection information's smart-card readers, as the PC/SC service lists
 * them. Apart from the model: the listing needs nothing but the service. */
#include "session/diinfo.h"

#include "devices/discard.h"

int32_t diInfoReaderKind(uint32_t state) {
    enum : uint32_t { kUnavailable = 0x8, kPresent = 0x20, kMute = 0x200 };
    if (state & kMute) return DI_INFO_READER_MUTE;
    if (state & kUnavailable) return DI_INFO_READER_UNAVAILABLE;
    if (state & kPresent) return DI_INFO_READER_CARD;
    return DI_INFO_READER_EMPTY;
}

void diInfoListReaders(const DiSCardApi* api, std::vector<DiInfoReader>* out) {
    if (!api || !api->establish || !api->release || !api->listReaders || !api->getStatusChange)
        return;
    uint32_t context = 0;
    if (api->establish(0 /* user scope */, &context) != 0) return;
    /* The size the service claims is capped, and the walk stays within the
     * buffer whatever count the second call reports. */
    const uint32_t kMaxChars = 16384;
    uint32_t chars = 0;
    if (api->listReaders(true, context, nullptr, nullptr, &chars) == 0 && chars > 0 &&
        chars <= kMaxChars) {
        std::vector<char16_t> names(size_t(chars) + 1, 0);
        uint32_t got = chars;
        if (api->listReaders(true, context, nullptr, names.data(), &got) == 0) {
            names[chars] = 0;
            for (size_t at = 0; at < chars && names[at] && out->size() < 64;) {
                std::u16string name(&names[at]);
                at += name.size() + 1;
                DiSCardReaderState st = {};
                st.reader = name.c_str();
                if (api->getStatusChange(true, context, 0, &st, 1) != 0) st.eventState = 0x8;
                DiInfoReader r;
                r.name = name;
                r.state = st.eventState;
                if (diInfoReaderKind(st.eventState) == DI_INFO_READER_CARD)
                    r.atr.assign(st.atr, st.atr + (st.cbAtr < 36 ? st.cbAtr : 36));
                out->push_back(r);
            }
        }
    }
    api->release(context);
}
