/* The profile store as far as the core needs it: the "localsettings"
 * element of the user's profile.xml, kept as (name, value) text pairs with
 * lower-cased names. Everything of the file outside that element is kept
 * byte for byte and written back around it. */
#ifndef HV_DIPROFILE_H
#define HV_DIPROFILE_H

#include "di.h"

#include <string>
#include <utility>
#include <vector>

struct DiProfileStore {
    std::string head; /* file text before the localsettings element */
    std::string tail; /* file text after it */
    std::vector<std::pair<std::string, std::string>> settings; /* UTF-8 */
    /* Writes the serialised file; 0 on success. Set by the Windows layer. */
    int (*save)(DiProfileStore* store, const std::string& bytes);
};

/* Reads the localsettings element out of a profile file (UTF-8 bytes, any
 * content); malformed entries end the element. */
void diProfileParse(DiProfileStore* store, const char* bytes, size_t length);
/* The whole file with the current settings. */
std::string diProfileSerialize(const DiProfileStore* store);

/* The global store (created by ddProfStoreCreate). */
extern DiProfileStore* g_diProfileStore;

/* Reads a setting into buffer (size in characters, always terminated when
 * size > 0); false when absent or when there is no store. */
bool diSOGetLocalSetting(const DiChar* name, DiChar* buffer, size_t size);
/* Writes a setting and saves the profile file at once. */
bool diSOSetLocalSetting(const DiChar* name, const DiChar* text);

class CQVLXMLElement;

/* The profile store's XML writer. */
class CProfileStore {
  public:
    /* Appends one element as UTF-8 to file: its start tag with the
     * attributes, then its children (each on its own line, two more spaces
     * of indentation per level), then its end tag. An element holding only
     * text keeps it on its own line, so no indentation enters the text.
     * Whitespace-only text between child elements is not written. Attribute
     * values and text are escaped. */
    static void WriteElement(std::string* file, CQVLXMLElement* element, int indentation);
};

/* UTF-16 <-> UTF-8 for the store (the shared lenient converters). */
std::string diProfileToUtf8(const DiChar* text);
std::u16string diProfileFromUtf8(const std::string& bytes);

#endif
