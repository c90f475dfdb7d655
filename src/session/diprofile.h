/* The profile store: one XML document per user of the machine ("cache")
 * holding the profiles the server handed out at login, grouped by host and
 * user, the last login, and the client's local settings. Changes are made in
 * memory; only Save writes the whole document back. One store exists per
 * process (g_diProfileStore); the Windows layer supplies the file. */
#ifndef HV_DIPROFILE_H
#define HV_DIPROFILE_H

#include "di.h"

#include <string>

class CQVLXMLDoc;
class CQVLXMLElement;
class CQVLXMLTag;

/* The profile chosen for this run: "host:user:profile" split at the last
 * colons. host, user and profileName point into text; the three elements
 * point into the store's document and are not owned. */
class CCurrentProfile {
  public:
    DiChar* text = nullptr;
    const DiChar* host = nullptr;
    const DiChar* user = nullptr;
    const DiChar* profileName = nullptr;
    CQVLXMLTag* hostElement = nullptr;
    CQVLXMLTag* userElement = nullptr;
    CQVLXMLTag* profileElement = nullptr;

    CCurrentProfile() {}
    ~CCurrentProfile() { Clear(); }
    CCurrentProfile(const CCurrentProfile&) = delete;
    CCurrentProfile& operator=(const CCurrentProfile&) = delete;
    /* Copies the text and splits it: profile after the last colon, user
     * after the one before, host before that. Elements are left alone. */
    void Set(const DiChar* joined);
    /* Joins the parts with ":" (absent parts empty) and splits again. */
    void Set(const DiChar* hostPart, const DiChar* userPart, const DiChar* profilePart);
    /* Frees the text; the name pointers become null. */
    void Clear();
};

class CProfileStore {
  public:
    /* Stores the object in g_diProfileStore (the destructor clears it). */
    CProfileStore();
    virtual ~CProfileStore();
    CProfileStore(const CProfileStore&) = delete;
    CProfileStore& operator=(const CProfileStore&) = delete;

    /* Fills filePath (empty when the file has no place). */
    virtual void BuildFilePath() = 0;
    /* What reading the file found. */
    enum FileState {
        kFileMissing, /* no file at filePath: nothing to keep */
        kFileRead,    /* bytes hold the whole file, a leading byte-order mark removed */
        kFileHeld,    /* a file is there but could not be read now (another program
                       * holds it, no access): it is someone's data, left as it is */
        kFileForeign, /* a file is there, too large to be ours */
    };
    virtual FileState ReadFileBytes(std::string* bytes) = 0;
    /* Replaces the file by bytes as a whole, on disk before it replaces the
     * old one; false when nothing was written (the old file is then left as
     * it was). */
    virtual bool WriteFileBytes(const std::string& bytes) = 0;
    /* Renames the file to a free name beside it ("profile.xml.bad", else a
     * numbered one): an earlier file set aside is never replaced. kept gets
     * the name (left empty when the file was gone). False on failure. */
    virtual bool SetAsideBadFile(std::u16string* kept) = 0;
    /* Held by Save across reading the file again and writing it, so that
     * other processes on the same file save one at a time; false when it
     * cannot be had (the save then fails). */
    virtual bool LockFile() { return true; }
    virtual void UnlockFile() {}
    /* The profile's "preferredlang" found by Load (the command line's
     * second pass may still override it). */
    virtual void UsePreferredLanguage(const DiChar*) {}
    /* A certificate file accepted for this session (Load on the early
     * start-up paths, SetCertsFile). */
    virtual void UseCertsFile(const DiChar*) {}

    /* What Load takes from the command line (not owned). */
    struct Options {
        const DiChar* profile = nullptr; /* "-profile" */
        const DiChar* server = nullptr;  /* "-server": the host when the profile names none */
        bool earlyPath = false;          /* "-objectname" or "-launchconfig" given */
    } options;

    /* Chooses the current profile (null: the "-profile" option, else
     * "Default") after reading the file anew. Bytes that were read and do
     * not parse are set aside at the next save; a file that could not be
     * read is logged and left as it is. */
    void Load(const DiChar* profileName);
    /* Writes this process's changes since the last load or save onto the
     * file as it is now (another process may have saved meanwhile): when
     * the file still holds the base, the whole document; else every key
     * set, changed or removed since the base, written onto the file's
     * document, which then becomes the document (current elements follow).
     * False, with one error logged naming the file, when nothing was
     * written: the document and the base stay, so the next save tries the
     * same changes again. */
    bool Save();
    /* Takes up what another process saved since this one's base, keeping
     * this process's unsaved changes on top; nothing when the file cannot
     * be read or does not parse. For a read-modify-write of keys that both
     * may change (the password cache's numbered list). */
    void Refresh();
    /* The file's bytes as Save writes them (byte-order mark, declaration,
     * the tree, CR LF line ends; markup characters escaped). */
    std::string Serialize();
    /* Replaces the document by bytes (BOM already removed); false (with the
     * default document) when they are empty or do not parse. */
    bool ParseBytes(const char* bytes, size_t length);
    /* Makes the default document when none exists and adds `profiles`
     * (holding version 1.0) when it is missing. */
    void EnsureDocument();

    /* The text of the one child named key of element, cut to size-1
     * characters and ended; false when absent or cut. length gets the full
     * length in characters. */
    bool GetValue(CQVLXMLElement* element, const DiChar* key, DiChar* buffer, size_t size,
                  size_t* length);
    bool GetProfileValue(const DiChar* key, DiChar* buffer, size_t size, size_t* length);
    bool GetLocalSetting(const DiChar* key, DiChar* buffer, size_t size, size_t* length);
    /* True when the key is present; flag is true for "true" in any case. */
    bool GetBool(CQVLXMLElement* element, const DiChar* key, bool* flag);
    /* True when the key holds a non-empty text, read as a decimal number
     * (saturated at the 32-bit limits). */
    bool GetInt(CQVLXMLElement* element, const DiChar* key, int32_t* number);

    /* Replaces the local setting key (already lower-cased); false when key
     * is no XML name or a value is missing. The caller saves. */
    bool SetLocalSetting(const DiChar* key, const DiChar* value);
    /* Replaces the local settings keys[i] (already lower-cased) by
     * values[i] and saves at once. When nothing was written: with retry
     * they wait for the next save; without it each takes back what it held
     * before (or goes, when it was not there), so that no later save writes
     * what the caller was told failed. False when a key was refused or
     * nothing was written. */
    bool SaveLocalSettings(const DiChar* const* keys, const DiChar* const* values, int count,
                           bool retry);
    /* Replace keys of the current profile; nothing without a current
     * profile element. The caller saves. */
    void SetSessionCookie(const DiChar* cookie);
    void SetLastProxy(const DiChar* host, int32_t port, const DiChar* kind);
    void SetCertsFile(const DiChar* path);
    /* Records a login: the host's user element takes the profiles text's
     * profile elements, token (AT), last login and proxy, session cookie;
     * the current profile follows. The caller saves. */
    void SaveLogin(const DiChar* host, const DiChar* user, const DiChar* token,
                   const DiChar* proxyHost, int32_t proxyPort, const DiChar* proxyKind,
                   const DiChar* profilesText, const DiChar* sessionCookie);
    /* Merges the server's updated profiles into the user's stored ones,
     * keeping the keep-list keys of a stored profile. The caller saves. */
    void ImportProfiles(const DiChar* host, const DiChar* user, const DiChar* profilesText);

    /* The one matching child of parent (exact name; with attrName, an
     * element holding that attribute, and with a non-empty attrValue that
     * value); null unless exactly one matched. count gets the matches,
     * parentOut the match's parent (cleared without a result). */
    static CQVLXMLTag* FindChild(CQVLXMLElement* parent, const DiChar* name, int* count,
                                 CQVLXMLElement** parentOut, const DiChar* attrName,
                                 const DiChar* attrValue, bool deep);
    /* Removes every child of parent named key and returns how many went.
     * Only children: a key is read from there (GetValue), and an element
     * of that name further down belongs to a group or a profile of its
     * own. */
    static int RemoveKeys(CQVLXMLElement* parent, const DiChar* key);
    /* Moves the element children of source into destination, skipping
     * names of keepList (ended by null) and replacing the first same-named
     * element below destination (with deep, merging into it instead).
     * Only moving is supported: false when move is clear. */
    static bool MergeElement(CQVLXMLElement* source, CQVLXMLElement* destination,
                             const DiChar* const* keepList, bool deep, bool move);

    /* Appends one element as UTF-8: its start tag with the attributes,
     * then its children (each on its own line, two more spaces of
     * indentation per level), then its end tag. An element holding only
     * text keeps it on the start tag's line. Text loses trailing white
     * space; an element without a name is not written. Attribute values
     * and text are escaped. lineEnd ends every line. */
    static void WriteElement(std::string* file, CQVLXMLElement* element, int indentation,
                             const char* lineEnd = "\n");

    DiChar filePath[260];
    CCurrentProfile* current = nullptr;
    CQVLXMLDoc* document = nullptr;
    /* Set when the bytes Load read did not parse (Save sets them aside). */
    bool badFile = false;
    /* The file as last loaded or saved by this process (byte-order mark
     * removed; empty when there was none to read): Save measures this
     * process's changes from it. */
    std::string base;

  private:
    bool SaveLocked();
    bool WriteDocument(CQVLXMLDoc* doc);
    bool MergeOnto(CQVLXMLDoc* onDisk, const std::string& diskBytes, bool write);
};

/* The one store (set by the CProfileStore constructor). */
extern CProfileStore* g_diProfileStore;

/* The local setting name (ASCII letters lowered) into buffer (size in
 * characters, always ended when size > 0); false when absent or when there
 * is no store. */
bool diSOGetLocalSetting(const DiChar* name, DiChar* buffer, size_t size);
/* The whole value of the local setting name as a new text; none when absent,
 * without a store or without memory. */
DiChar* diSOGetLocalSettingWhole(const DiChar* name);
/* Writes a setting and saves the profile file at once; false when the name
 * is refused or the file was not written. */
bool diSOSetLocalSetting(const DiChar* name, const DiChar* text);
/* The numbered settings name0, name1, ... (name lower-cased) set from
 * items and saved at once, under SaveLocalSettings's rule for a failed
 * save; false without a store. */
bool diSOSetLocalList(const DiChar* name, const DiChar* const* items, int count, bool retry);
/* Writes a setting for the caller's next save; false when the name is
 * refused or there is no store. */
bool diSOPutLocalSetting(const DiChar* name, const DiChar* text);

/* True when text is a name the profile file can carry: an ASCII letter,
 * "_" or ":" first, then also digits, "-" and ".". */
bool diProfIsXmlName(const DiChar* text);

/* A parsed document whose root is an element (empty tags given child
 * lists so keys can be added), or null. */
CQVLXMLDoc* diProfParseDocument(const char* bytes, size_t length);
/* Writes onto onto what changed from base to ours (diprofmerge.cpp): keys
 * and containers made, changed or removed, addressed by their path; true
 * when anything was written. */
bool diProfApplyChanges(CQVLXMLDoc* base, CQVLXMLDoc* ours, CQVLXMLDoc* onto);
/* Each *elements[i] of from becomes the element of to at its path, or
 * null. */
void diProfFollow(CQVLXMLDoc* from, CQVLXMLTag** const* elements, size_t count, CQVLXMLDoc* to);
/* CProfileStore::GetValue's rule on any element. */
bool diProfGetValue(CQVLXMLElement* element, const DiChar* key, DiChar* buffer, size_t size,
                    size_t* length);

/* One error in the event log naming a state file: "kind: path what". */
void diProfLogFileError(const DiChar* kind, const DiChar* path, const DiChar* what);

/* UTF-16 <-> UTF-8 for the store (the shared lenient converters). */
std::string diProfileToUtf8(const DiChar* text);
std::u16string diProfileFromUtf8(const std::string& bytes);

#endif
