/* The settings file: a small XML document ("settings") that carries one
 * session's connection facts (session cookie, protocol, server, port,
 * web-service path, proxy) and the emulator cookies to the start-up request
 * handler. The Windows layer places the file. */
#ifndef HV_DISETTINGS_H
#define HV_DISETTINGS_H

#include "di.h"

#include <string>

class CProfileStore;
class CQVLXMLDoc;
class CQVLXMLTag;

class CSettingsFile {
  public:
    /* Starts with the default document (settings holding an empty
     * emulatorcookies). */
    CSettingsFile();
    virtual ~CSettingsFile();
    CSettingsFile(const CSettingsFile&) = delete;
    CSettingsFile& operator=(const CSettingsFile&) = delete;

    /* Chooses a new unique file (made empty); false when none could be made. */
    virtual bool CreateUniqueFile() = 0;
    /* Names the file (a plain name in the settings folder) and loads it. */
    virtual bool Open(const DiChar* name) = 0;
    /* The whole file (a leading byte-order mark removed); false when it
     * cannot be opened or read. */
    virtual bool ReadFileBytes(std::string* bytes) = 0;
    /* Replaces the file by bytes; false unless every byte was written. */
    virtual bool WriteFileBytes(const std::string& bytes) = 0;

    /* Reads and parses the file: false when it cannot be read or does not
     * parse; an empty file keeps the default document. */
    bool Load();
    /* Replaces the document by bytes; false (document kept) when they do
     * not parse to a "settings" root. */
    bool ParseBytes(const char* bytes, size_t length);
    /* The one child of the root named key (same buffer rules as
     * CProfileStore::GetValue). */
    bool GetValue(const DiChar* key, DiChar* buffer, size_t size, size_t* length);
    /* Appends key with value unless the key exists or is no XML name. */
    bool AddKey(const DiChar* key, const DiChar* value);
    /* Appends a cookie element to the one emulatorcookies element. */
    bool AddCookie(const DiChar* cookie);
    /* The emulatorcookies element, or null. */
    CQVLXMLTag* GetCookies();
    /* Writes the byte-order mark and the whole document. */
    bool Save();
    /* The bytes Save writes. */
    std::string Serialize();
    /* Adds sessioncookie, protocol, server, port, jwslocation, proxyserver
     * and proxyport from the store's current profile and the login URL
     * (loginUrl, else the profile's "url"). 0, or 3 without a usable URL. */
    int FillFromProfile(CProfileStore* store, const DiChar* loginUrl);

    DiChar* filePath = nullptr; /* owned */
    DiChar* fileName = nullptr; /* owned */
    CQVLXMLDoc* document = nullptr;
    /* Set by the default document, by an added key or cookie, and by Save. */
    bool changed = false;
};

#endif
