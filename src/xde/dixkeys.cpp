#include "xde/dixkeys.h"

#include <initializer_list>
#include <utility>

namespace {

/* Builds a 256-entry table from identity ranges and explicit pairs. */
struct KeyTable {
    uint32_t entry[256] = {};
    KeyTable(std::initializer_list<std::pair<int, int>> identity,
             std::initializer_list<std::pair<int, uint32_t>> pairs) {
        for (auto r : identity)
            for (int i = r.first; i <= r.second; i++)
                entry[i] = uint32_t(i);
        for (auto p : pairs)
            entry[p.first] = p.second;
    }
};

// clang-format off
const KeyTable k_codes(
    {{3, 3}, {8, 9}, {16, 20}, {27, 27}, {32, 40}, {91, 93}, {96, 123}, {144, 145}, {161, 161},
     {163, 163}, {165, 165}, {176, 176}},
    {{13, 10}, {44, 154}, {45, 155}, {46, 127}, {47, 156}, {160, 16}, {162, 17}, {164, 18}});

const KeyTable k_fallback(
    {{3, 3}, {8, 9}, {12, 12}, {16, 21}, {24, 25}, {27, 40}, {48, 57}, {59, 59}, {61, 61},
     {65, 90}, {96, 123}, {144, 145}, {161, 161}, {163, 163}, {176, 176}, {240, 253}},
    {{13, 10}, {44, 154}, {45, 155}, {46, 127}, {47, 156}, {160, 16}, {162, 17}, {164, 18},
     {165, 177}, {222, 192}});
// clang-format on

const uint32_t k_euroCode = 8364;

} // namespace

uint32_t diXKeyCode(uint32_t vk) {
    return vk < 256 ? k_codes.entry[vk] : 0;
}

uint32_t diXKeyFallback(uint32_t vk) {
    return vk < 256 ? k_fallback.entry[vk] : 0;
}

void diXKeyTranslate(DiEvent* ev, int mode, uint32_t displayFlags, const DiXKeyLookup* lookup) {
    if (ev->w[0] != DI_EV_KEY_PRESS && ev->w[0] != DI_EV_KEY_RELEASE) return;
    const uint32_t vk = ev->w[1];
    uint32_t ch = ev->w[2];
    uint32_t code = diXKeyCode(vk);
    /* The euro sign travels as a code of its own. Views that read UTF-16
     * bring it as U+20AC rather than the ANSI 128: both mean the same key. */
    if (ch == 128 || ch == 0x20AC) {
        code = k_euroCode;
        ch = 0;
    }
    if (mode == DI_XKEYS_MODE_KANA && vk == 220 && ch == 92) {
        code = 0;
        ch = 165;
    } else {
        /* A key the server knows by code travels without its character,
         * except space and keypad Enter. */
        if (code && code != 32 && code != 176) ch = 0;
        if (!code && !ch) code = diXKeyFallback(vk);
        if (!code && !ch && ev->w[0] == DI_EV_KEY_PRESS && ev->w[4] == 0 && lookup &&
            lookup->shiftedChar) {
            uint32_t made = 0;
            if (lookup->shiftedChar(lookup->ctx, vk, (ev->w[3] & 1) != 0, &made) == 1)
                ch = made & 0xFFFF;
        }
    }
    if (!(displayFlags & DI_XKEYS_KEEP_RIGHT)) {
        switch (code) {
        case 161:
            code = k_codes.entry[16];
            break;
        case 163:
            code = k_codes.entry[17];
            break;
        case 165:
        case 177:
            code = k_codes.entry[18];
            break;
        case 176:
            code = k_codes.entry[13];
            break;
        default:
            break;
        }
    }
    ev->w[1] = code;
    ev->w[2] = ch;
}

int diXKanaMode(int* stored, const DiXKeyLookup* lookup) {
    if (*stored != DI_XKEYS_MODE_UNKNOWN) return *stored;
    uint32_t locale = lookup && lookup->threadLocale ? lookup->threadLocale(lookup->ctx) : 0;
    if (!locale) return DI_XKEYS_MODE_UNKNOWN;
    if (locale != 1041) {
        *stored = DI_XKEYS_MODE_PLAIN;
    } else {
        int kana =
            lookup->envDefined && lookup->envDefined(lookup->ctx, "QUORVELLAN_KEYBOARD_KANA");
        *stored = kana ? DI_XKEYS_MODE_KANA : DI_XKEYS_MODE_JAPANESE;
    }
    return *stored;
}
