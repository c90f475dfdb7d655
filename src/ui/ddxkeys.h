/* Key translation of the X display on Windows: the portable translation
 * with the real keyboard layout, thread locale and environment. */
#ifndef HV_DDXKEYS_H
#define HV_DDXKEYS_H

#include "dd.h"

/* Rewrites a key event (3 or 4) in place into the protocol's key code and
 * character, for a display with these display flags. Returns 1. GUI thread
 * only. */
int ddXKeyTranslate(uint32_t displayFlags, DiEvent* ev);
/* The keyboard mode (1 not Japanese, 2 Japanese, 3 Japanese with kana
 * handling), computed once; 0 while the thread locale cannot be read. */
int ddXKanaMode(void);

#endif
