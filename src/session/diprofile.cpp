/* Local settings of the profile store. */
#include "session/diprofile.h"

#include "core/diutil.h"

#include <stdlib.h>
#include <string.h>

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
