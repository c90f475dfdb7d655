// Names Windows opens as a device whatever folder they are in, and plain
// names that only look like them: every check of a name from outside that
// becomes a file name refuses the first list and takes the second.
#ifndef HV_TESTS_DEVICE_NAMES_H
#define HV_TESTS_DEVICE_NAMES_H

#include "core/diutil.h"

#include <stdlib.h>

#include <string>
#include <vector>

// The name as UTF-8, for drive paths and failure messages.
inline std::string deviceNameUtf8(const std::u16string& name) {
    char* bytes = diTextToUtf8Dup(name.data(), name.size());
    std::string s = bytes ? bytes : "";
    free(bytes);
    return s;
}

// Each device stem in three cases, alone and with the endings Windows
// ignores: an extension, trailing dots and spaces.
inline std::vector<std::u16string> deviceNames() {
    std::vector<std::u16string> stems = {u"CON",    u"PRN",     u"AUX",   u"NUL",
                                         u"CONIN$", u"CONOUT$", u"CLOCK$"};
    for (char16_t digit : std::u16string(u"0123456789\u00B9\u00B2\u00B3")) {
        stems.push_back(u"COM" + std::u16string(1, digit));
        stems.push_back(u"LPT" + std::u16string(1, digit));
    }
    const char16_t* endings[] = {u"",   u".gif", u".gif.77.new", u".",
                                 u"..", u" ",    u"  . .",       u" .gif"};
    std::vector<std::u16string> names;
    for (const std::u16string& stem : stems) {
        std::u16string lower = stem, mixed = stem;
        for (char16_t& c : lower)
            if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
        mixed[1] = lower[1];
        for (const std::u16string& cased : {stem, lower, mixed})
            for (const char16_t* ending : endings)
                names.push_back(cased + ending);
    }
    return names;
}

inline std::vector<std::u16string> nearDeviceNames() {
    return {u"COM10",     u"console",  u"CONx",  u"LPT",   u"COM",    u"AUX1",
            u"NULL",      u"xCOM1",    u"COM1x", u"LPT-1", u"CONOUT", u"COM\u00B9\u00B9",
            u"PRN\u00B2", u"CO\u00B9", u"CLOCK"};
}

#endif
