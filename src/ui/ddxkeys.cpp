#include "ui/ddxkeys.h"

#include "xde/dixkeys.h"

#include <stdlib.h>
#include <string.h>

namespace {

/* Process-wide scratch: the GUI thread is the only caller. */
BYTE s_savedState[256];
BYTE s_shiftState[256];
int s_kanaMode;

/* The character of vk in a cleared keyboard state holding only Shift, so
 * that Ctrl or Alt held in the real state do not hide it. The real state
 * is put back whatever ToAscii answers. */
int ddXShiftedChar(void*, uint32_t vk, int shift, uint32_t* ch) {
    *ch = 0;
    if (!GetKeyboardState(s_savedState)) return 0;
    memset(s_shiftState, 0, sizeof s_shiftState);
    if (shift) s_shiftState[VK_SHIFT] = 0x80;
    SetKeyboardState(s_shiftState);
    WORD out[2] = {};
    int made = ToAscii(vk & 0xFF, MapVirtualKeyW(vk & 0xFF, 0), s_shiftState, out, 0);
    SetKeyboardState(s_savedState);
    *ch = out[0];
    return made;
}

uint32_t ddXThreadLocale(void*) {
    return uint32_t(GetThreadLocale());
}

int ddXEnvDefined(void*, const char* name) {
    return getenv(name) != nullptr;
}

const DiXKeyLookup k_lookup = {ddXShiftedChar, ddXThreadLocale, ddXEnvDefined, nullptr};

} // namespace

int ddXKanaMode(void) {
    return diXKanaMode(&s_kanaMode, &k_lookup);
}

int ddXKeyTranslate(uint32_t displayFlags, DiEvent* ev) {
    diXKeyTranslate(ev, ddXKanaMode(), displayFlags, &k_lookup);
    return 1;
}
