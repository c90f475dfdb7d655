/* Key translation of the X display: a view's key event (virtual-key code and
 * the character the message queue produced) becomes the protocol's key code
 * and character. Portable: what only Windows knows (the character a key makes
 * with Shift alone, the thread locale, the environment) comes in through
 * DiXKeyLookup, filled by the Windows side and by tests. */
#ifndef HV_DIXKEYS_H
#define HV_DIXKEYS_H

#include "di.h"

/* Keyboard modes: 0 not yet known, 1 not Japanese, 2 Japanese, 3 Japanese
 * with kana handling ("\" on the yen key travels as 165). */
enum : int {
    DI_XKEYS_MODE_UNKNOWN = 0,
    DI_XKEYS_MODE_PLAIN = 1,
    DI_XKEYS_MODE_JAPANESE = 2,
    DI_XKEYS_MODE_KANA = 3,
};

/* Display flag that keeps the right-hand modifiers and keypad Enter apart. */
enum : uint32_t { DI_XKEYS_KEEP_RIGHT = 0x10 };

struct DiXKeyLookup {
    /* The character Windows makes for `vk` in a cleared keyboard state
     * holding only Shift (when `shift`), the real state left as it was.
     * Returns how many characters it made (ToAscii's answer) and stores the
     * first in *ch. */
    int (*shiftedChar)(void* ctx, uint32_t vk, int shift, uint32_t* ch);
    /* The thread locale (0 when it cannot be read). */
    uint32_t (*threadLocale)(void* ctx);
    /* Non-zero when the environment variable is defined, whatever its value. */
    int (*envDefined)(void* ctx, const char* name);
    void* ctx;
};

/* Entries of the two tables (0: no code); vk outside 0-255 has none. */
uint32_t diXKeyCode(uint32_t vk);
uint32_t diXKeyFallback(uint32_t vk);

/* Rewrites a key event (w[0] 3 press or 4 release, w[1] virtual-key code,
 * w[2] character, w[3] modifier word with Shift as bit value 1, w[4] non-zero
 * to suppress the character look-up) in place: w[1] becomes the protocol key
 * code and w[2] the character sent. Other event types are left alone. */
void diXKeyTranslate(DiEvent* ev, int mode, uint32_t displayFlags, const DiXKeyLookup* lookup);

/* The keyboard mode, computed once and kept in *stored; while the locale
 * reads 0 nothing is stored and 0 is returned. */
int diXKanaMode(int* stored, const DiXKeyLookup* lookup);

#endif
