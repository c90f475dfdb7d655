/* The profile store: the document, the current profile, lookups, logins,
 * imports and local settings. */
#include "session/diprofile.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "core/diutil.h"
#include "xml/qvlparser.h"
#include "xml/qvlxml.h"
#include "xml/qvlxmlparser.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <unordered_map>
#include <vector>

CProfileStore* g_diProfileStore;

static const char k_declaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";

/* Keys of a stored profile that the server's updates never replace. */
static const DiChar* const k_keepList[] = {u"sessioncookie", u"certsfile",     u"lastproxyhost",
                                           u"lastproxyport", u"lastproxytype", nullptr};

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

bool diProfIsXmlName(const DiChar* text) {
    if (!text || !*text) return false;
    for (const DiChar* p = text; *p; p++) {
        DiChar c = *p;
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
        bool more = (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!letter && !(more && p != text)) return false;
    }
    return true;
}

static std::u16string lowerAscii(const DiChar* text) {
    std::u16string s = text ? text : u"";
    for (DiChar& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<DiChar>(c - 'A' + 'a');
    return s;
}

static bool equalsNoCase(const DiChar* text, const char* ascii) {
    return text && lowerAscii(text) == std::u16string(ascii, ascii + strlen(ascii));
}

/* Whether path names, directly in the folder of file (ASCII case ignored),
 * a session certificate file of the form the client makes there: "hv", the
 * hexadecimal process id of the run that made it (at most eight digits,
 * with ".tmp"), ".pem".
 * Only the client writes "certsfile", but a profile the server delivers may
 * carry one naming any file or network share, or the permanent store in
 * that same folder: the session's certificates saved there would be
 * trusted for good. */
static bool isSessionCertsFile(const DiChar* file, const DiChar* path) {
    std::u16string f = lowerAscii(file), p = lowerAscii(path);
    size_t slash = f.find_last_of(u"\\/");
    if (slash == std::u16string::npos || p.size() <= slash + 1 ||
        p.compare(0, slash + 1, f, 0, slash + 1) != 0)
        return false;
    std::u16string name = p.substr(slash + 1);
    if (name.compare(0, 2, u"hv") != 0) return false;
    size_t end = 2;
    while (end < name.size() && end < 10 &&
           ((name[end] >= '0' && name[end] <= '9') || (name[end] >= 'a' && name[end] <= 'f')))
        end++;
    std::u16string rest = name.substr(end);
    return end > 2 && (rest == u".pem" || rest == u".tmp.pem");
}

static CQVLXMLTag* asTag(CQVLXMLElement* e) {
    return e && e->IsTag() ? static_cast<CQVLXMLTag*>(e) : nullptr;
}

static bool hasName(CQVLXMLTag* tag, const DiChar* name) {
    return tag->name && tag->name->Equals(name);
}

/* A new element name with text as its only child. */
static CQVLXMLContentTag* newKey(const DiChar* name, const DiChar* text) {
    return new CQVLXMLContentTag(name, text ? text : u"");
}

void diProfLogFileError(const DiChar* kind, const DiChar* path, const DiChar* what) {
    std::u16string text = kind;
    text += u": ";
    text += path && *path ? path : u"(no file)";
    text += u" ";
    text += what;
    diLogErrorText(text.c_str());
}

/* ---- current profile ---- */

void CCurrentProfile::Clear() {
    free(text);
    text = nullptr;
    host = user = profileName = nullptr;
}

void CCurrentProfile::Set(const DiChar* joined) {
    Clear();
    text = diAppStrDup(joined ? joined : u"");
    if (!text) return;
    DiChar* last = nullptr;
    for (DiChar* p = text; *p; p++)
        if (*p == ':') last = p;
    if (!last) {
        profileName = text;
        return;
    }
    *last = 0;
    profileName = last + 1;
    DiChar* before = nullptr;
    for (DiChar* p = text; *p; p++)
        if (*p == ':') before = p;
    if (!before) {
        user = text;
        return;
    }
    *before = 0;
    user = before + 1;
    host = text;
}

void CCurrentProfile::Set(const DiChar* hostPart, const DiChar* userPart,
                          const DiChar* profilePart) {
    std::u16string joined = std::u16string(hostPart ? hostPart : u"") + u":" +
                            (userPart ? userPart : u"") + u":" + (profilePart ? profilePart : u"");
    Set(joined.c_str());
}

/* ---- store ---- */

CProfileStore::CProfileStore() {
    filePath[0] = 0;
    g_diProfileStore = this;
}

CProfileStore::~CProfileStore() {
    delete current;
    delete document;
    if (g_diProfileStore == this) g_diProfileStore = nullptr;
}

/* Gives every element read as an empty tag ("<x/>") a child list, so that
 * keys and settings can be added under it like under any other. */
static CQVLXMLElement* withChildren(CQVLXMLElement* element) {
    CQVLXMLTag* tag = asTag(element);
    if (!tag) return element;
    if (CQVLXMLElementList* children = tag->GetChildren()) {
        for (auto* n = children->head; n; n = n->next)
            n->item = withChildren(n->item);
        return element;
    }
    CQVLXMLContentTag* full = new CQVLXMLContentTag(tag->name, tag->attributes);
    tag->name = nullptr;
    tag->attributes = nullptr;
    delete tag;
    return full;
}

CQVLXMLDoc* diProfParseDocument(const char* bytes, size_t length) {
    if (!bytes || !length) return nullptr;
    CQVLParser p(bytes, length);
    CQVLXMLDoc* doc = CQVLXMLParser::ParseDocument(&p);
    if (doc && !asTag(doc->root)) {
        delete doc;
        return nullptr;
    }
    if (doc) {
        CQVLXMLElement* root = withChildren(doc->root);
        for (auto* n = doc->topLevel.head; n; n = n->next)
            if (n->item == doc->root) n->item = root;
        doc->root = root;
    }
    return doc;
}

bool CProfileStore::ParseBytes(const char* bytes, size_t length) {
    CQVLXMLDoc* doc = diProfParseDocument(bytes, length);
    delete document;
    document = doc;
    EnsureDocument();
    return doc != nullptr;
}

/* Gives doc (made when null) the profiles element it lacks. */
static CQVLXMLDoc* ensureDocument(CQVLXMLDoc* doc) {
    if (!doc) {
        std::string text = std::string(k_declaration) + "\n<cache></cache>\n";
        doc = diProfParseDocument(text.data(), text.size());
        if (!doc) return nullptr;
    }
    if (!doc->root->Find(u"profiles")) {
        CQVLXMLContentTag* profiles = new CQVLXMLContentTag(u"profiles");
        profiles->AddChild(newKey(u"version", u"1.0"), true);
        static_cast<CQVLXMLTag*>(doc->root)->AddChild(profiles, true);
    }
    return doc;
}

void CProfileStore::EnsureDocument() {
    document = ensureDocument(document);
}

static CQVLXMLTag* profilesOf(CQVLXMLDoc* doc) {
    return doc ? asTag(doc->root->Find(u"profiles")) : nullptr;
}

/* FindChild's walk; exactEmpty makes an empty attribute value match only
 * an empty attribute instead of any. */
static void findWalk(CQVLXMLElement* parent, const DiChar* name, const DiChar* attrName,
                     const DiChar* attrValue, bool exactEmpty, bool deep, int* count,
                     CQVLXMLTag** match, CQVLXMLElement** matchParent) {
    CQVLXMLElementList* children = parent ? parent->GetChildren() : nullptr;
    for (auto* n = children ? children->head : nullptr; n; n = n->next) {
        CQVLXMLTag* tag = asTag(n->item);
        if (!tag) continue;
        bool matches = hasName(tag, name);
        if (matches && attrName) {
            const CQVLXMLString* value = tag->GetAttribute(attrName);
            bool anyValue = !attrValue || (!*attrValue && !exactEmpty);
            matches = value && (anyValue || value->Equals(attrValue));
        }
        if (matches) {
            (*count)++;
            *match = tag;
            *matchParent = parent;
        }
        if (deep)
            findWalk(tag, name, attrName, attrValue, exactEmpty, deep, count, match, matchParent);
    }
}

static CQVLXMLTag* findOne(CQVLXMLElement* parent, const DiChar* name, int* count,
                           CQVLXMLElement** parentOut, const DiChar* attrName,
                           const DiChar* attrValue, bool deep, bool exactEmpty) {
    int found = 0;
    CQVLXMLTag* match = nullptr;
    CQVLXMLElement* matchParent = nullptr;
    if (name)
        findWalk(parent, name, attrName, attrValue, exactEmpty, deep, &found, &match, &matchParent);
    if (count) *count = found;
    if (found != 1) match = nullptr, matchParent = nullptr;
    if (parentOut) *parentOut = matchParent;
    return match;
}

CQVLXMLTag* CProfileStore::FindChild(CQVLXMLElement* parent, const DiChar* name, int* count,
                                     CQVLXMLElement** parentOut, const DiChar* attrName,
                                     const DiChar* attrValue, bool deep) {
    return findOne(parent, name, count, parentOut, attrName, attrValue, deep, false);
}

/* A host, user or profile by its exact attribute value: an empty user name
 * is a user of its own, not a wildcard over every user. */
static CQVLXMLTag* findExact(CQVLXMLElement* parent, const DiChar* name, const DiChar* attrName,
                             const DiChar* attrValue) {
    return findOne(parent, name, nullptr, nullptr, attrName, attrValue ? attrValue : u"", false,
                   true);
}

/* Removes the child named key when there is exactly one, then appends key
 * with text. */
static void replaceKey(CQVLXMLElement* parent, const DiChar* key, const DiChar* text) {
    CQVLXMLTag* tag = asTag(parent);
    if (!tag) return;
    if (CQVLXMLTag* old =
            CProfileStore::FindChild(parent, key, nullptr, nullptr, nullptr, nullptr, false))
        tag->RemoveChild(old);
    tag->AddChild(newKey(key, text), true);
}

bool CProfileStore::GetValue(CQVLXMLElement* element, const DiChar* key, DiChar* buffer,
                             size_t size, size_t* length) {
    return diProfGetValue(element, key, buffer, size, length);
}

bool diProfGetValue(CQVLXMLElement* element, const DiChar* key, DiChar* buffer, size_t size,
                    size_t* length) {
    if (length) *length = 0;
    if (buffer && size > 0) buffer[0] = 0;
    if (!element || !key) return false;
    CQVLXMLTag* child =
        CProfileStore::FindChild(element, key, nullptr, nullptr, nullptr, nullptr, false);
    if (!child) return false;
    DiChar* text = child->GetText();
    size_t n = 0;
    while (text && text[n])
        n++;
    if (length) *length = n;
    bool whole = n < size;
    if (buffer && size > 0) {
        size_t copy = whole ? n : size - 1;
        if (copy) memcpy(buffer, text, copy * sizeof(DiChar));
        buffer[copy] = 0;
    }
    free(text);
    return whole && buffer;
}

bool CProfileStore::GetProfileValue(const DiChar* key, DiChar* buffer, size_t size,
                                    size_t* length) {
    return GetValue(current ? current->profileElement : nullptr, key, buffer, size, length);
}

static CQVLXMLTag* localSettingsOf(CQVLXMLDoc* doc, int* count) {
    return doc ? CProfileStore::FindChild(doc->root, u"localsettings", count, nullptr, nullptr,
                                          nullptr, false)
               : nullptr;
}

bool CProfileStore::GetLocalSetting(const DiChar* key, DiChar* buffer, size_t size,
                                    size_t* length) {
    return GetValue(localSettingsOf(document, nullptr), key, buffer, size, length);
}

bool CProfileStore::GetBool(CQVLXMLElement* element, const DiChar* key, bool* flag) {
    DiChar text[256];
    if (!GetValue(element, key, text, 256, nullptr)) return false;
    *flag = equalsNoCase(text, "true");
    return true;
}

bool CProfileStore::GetInt(CQVLXMLElement* element, const DiChar* key, int32_t* number) {
    DiChar text[256];
    if (!GetValue(element, key, text, 256, nullptr) || !text[0]) return false;
    const DiChar* p = text;
    while (*p == ' ' || *p == '\t')
        p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    if (*p < '0' || *p > '9') return false;
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        if (v <= INT_MAX) v = v * 10 + (*p - '0');
    if (negative) v = -v;
    *number = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int32_t>(v);
    return true;
}

static bool holds(CQVLXMLElement* tree, CQVLXMLElement* node) {
    if (tree == node) return true;
    CQVLXMLElementList* children = tree->GetChildren();
    for (auto* n = children ? children->head : nullptr; n; n = n->next)
        if (holds(n->item, node)) return true;
    return false;
}

/* A merge replaces keys; when the current profile was chosen among them
 * (a profile nested in another), it is gone and must not be used. */
static void forgetRemoved(CQVLXMLDoc* document, CCurrentProfile* current) {
    if (!current) return;
    for (CQVLXMLTag** element :
         {&current->hostElement, &current->userElement, &current->profileElement})
        if (*element && !holds(document->root, *element)) *element = nullptr;
}

/* Removes every element named key below parent. */
static void removeNamed(CQVLXMLTag* parent, const DiChar* key) {
    CQVLXMLElementList* children = parent->GetChildren();
    for (auto* n = children ? children->head : nullptr; n;) {
        auto* next = n->next;
        if (CQVLXMLTag* tag = asTag(n->item)) {
            if (hasName(tag, key))
                parent->RemoveChild(tag);
            else
                removeNamed(tag, key);
        }
        n = next;
    }
}

int CProfileStore::RemoveKeys(CQVLXMLElement* parent, const DiChar* key) {
    CQVLXMLTag* tag = asTag(parent);
    CQVLXMLElementList* children = tag && key ? tag->GetChildren() : nullptr;
    int removed = 0;
    for (auto* n = children ? children->head : nullptr; n;) {
        auto* next = n->next;
        CQVLXMLTag* child = asTag(n->item);
        if (child && hasName(child, key)) {
            tag->RemoveChild(child);
            removed++;
        }
        n = next;
    }
    return removed;
}

bool CProfileStore::SetLocalSetting(const DiChar* key, const DiChar* value) {
    if (!key || !value || !diProfIsXmlName(key)) return false;
    EnsureDocument();
    if (!document) return false;
    int count = 0;
    CQVLXMLTag* settings = localSettingsOf(document, &count);
    /* Several elements could never be read back: refuse rather than write
     * into one of them. */
    if (count > 1) return false;
    if (!settings) {
        settings = new CQVLXMLContentTag(u"localsettings");
        static_cast<CQVLXMLTag*>(document->root)->AddChild(settings, true);
    }
    /* Every element of that name goes, so that exactly one is left to
     * read. */
    removeNamed(settings, key);
    forgetRemoved(document, current);
    settings->AddChild(newKey(key, value), true);
    return true;
}

/* The text of the one local setting key, or false when there is none. */
static bool localText(CQVLXMLDoc* document, const DiChar* key, std::u16string* text) {
    CQVLXMLTag* settings = localSettingsOf(document, nullptr);
    CQVLXMLTag* element = settings ? CProfileStore::FindChild(settings, key, nullptr, nullptr,
                                                              nullptr, nullptr, false)
                                   : nullptr;
    DiChar* held = element ? element->GetText() : nullptr;
    if (held) *text = held;
    free(held);
    return held != nullptr;
}

bool CProfileStore::SaveLocalSettings(const DiChar* const* keys, const DiChar* const* values,
                                      int count, bool retry) {
    struct Before {
        std::u16string key, text;
        bool held;
    };
    std::vector<Before> before;
    bool set = true;
    for (int i = 0; i < count; i++) {
        Before b{keys[i] ? keys[i] : u"", std::u16string(), false};
        b.held = localText(document, b.key.c_str(), &b.text);
        if (SetLocalSetting(keys[i], values[i]))
            before.push_back(b);
        else
            set = false;
    }
    if (Save()) return set;
    /* The caller tells its user that nothing was kept: a later save of
     * anything else must not write it after all. */
    if (retry) return false;
    for (const Before& b : before)
        if (b.held)
            SetLocalSetting(b.key.c_str(), b.text.c_str());
        else if (CQVLXMLTag* settings = localSettingsOf(document, nullptr))
            removeNamed(settings, b.key.c_str());
    forgetRemoved(document, current);
    return false;
}

void CProfileStore::SetSessionCookie(const DiChar* cookie) {
    if (current && current->profileElement)
        replaceKey(current->profileElement, u"sessioncookie", cookie);
}

void CProfileStore::SetLastProxy(const DiChar* host, int32_t port, const DiChar* kind) {
    if (!current || !current->profileElement) return;
    DiChar number[16];
    diFormatPositional(number, 16, u"%d", {static_cast<int>(port)});
    replaceKey(current->profileElement, u"lastproxyhost", host);
    replaceKey(current->profileElement, u"lastproxyport", number);
    replaceKey(current->profileElement, u"lastproxytype", kind);
}

void CProfileStore::SetCertsFile(const DiChar* path) {
    if (!path || !current || !current->profileElement) return;
    replaceKey(current->profileElement, u"certsfile", path);
    UseCertsFile(path);
}

void CProfileStore::Load(const DiChar* profileName) {
    delete current;
    current = new CCurrentProfile();
    current->Set(profileName ? profileName : options.profile ? options.profile : u"Default");

    std::string bytes;
    badFile = false;
    base.clear();
    delete document;
    document = nullptr;
    switch (ReadFileBytes(&bytes)) {
    case kFileRead:
        /* An empty file holds nothing to lose; anything else that does not
         * read as a document is set aside by the next save. */
        if (ParseBytes(bytes.data(), bytes.size()))
            base = bytes;
        else
            badFile = !bytes.empty();
        break;
    case kFileForeign:
        badFile = true;
        break;
    case kFileHeld:
        /* Nothing was read: the file stays untouched, and the first save
         * that can read it writes this run's changes onto it. */
        diProfLogFileError(u"Profile", filePath, u"could not be read and is left as it is");
        break;
    case kFileMissing:
        break;
    }
    EnsureDocument();

    CQVLXMLTag* profiles = profilesOf(document);
    if (!profiles) return;
    std::u16string host = current->host && *current->host ? current->host
                          : options.server                ? options.server
                                                          : u"";
    host = lowerAscii(host.c_str());
    std::u16string user = current->user ? current->user : u"";
    std::u16string name = current->profileName ? current->profileName : u"";
    CQVLXMLTag* hostElement = nullptr;
    CQVLXMLTag* userElement = nullptr;
    if (!host.empty()) {
        hostElement = FindChild(profiles, u"host", nullptr, nullptr, u"name", host.c_str(), false);
        if (!hostElement) return;
    }
    if (!user.empty()) {
        userElement = FindChild(hostElement ? hostElement : profiles, u"user", nullptr, nullptr,
                                u"ens", user.c_str(), false);
        if (!userElement) return;
    }
    int count = 0;
    CQVLXMLElement* parent = nullptr;
    CQVLXMLTag* under = userElement ? userElement : hostElement ? hostElement : profiles;
    CQVLXMLTag* profile =
        FindChild(under, u"profile", &count, &parent, u"name", name.c_str(), true);
    if (!profile && count > 1) {
        /* Several profiles of that name: the last login decides. */
        DiChar lastHost[256], lastUser[256];
        GetValue(profiles, u"lastloginhost", lastHost, 256, nullptr);
        GetValue(profiles, u"lastloginuser", lastUser, 256, nullptr);
        if (host.empty()) host = lowerAscii(lastHost);
        if (user.empty()) user = lastUser;
        hostElement = findExact(profiles, u"host", u"name", host.c_str());
        userElement = hostElement ? findExact(hostElement, u"user", u"ens", user.c_str()) : nullptr;
        profile = userElement ? FindChild(userElement, u"profile", nullptr, nullptr, u"name",
                                          name.c_str(), false)
                              : nullptr;
        parent = userElement;
    }
    current->Set(host.c_str(), user.c_str(), name.c_str());
    current->hostElement = hostElement;
    current->userElement = profile ? asTag(parent) : userElement;
    current->profileElement = profile;
    if (!profile) return;

    DiChar text[260];
    if (GetValue(profile, u"preferredlang", text, 260, nullptr)) UsePreferredLanguage(text);
    if (options.earlyPath && GetValue(profile, u"certsfile", text, 260, nullptr)) {
        if (isSessionCertsFile(filePath, text))
            UseCertsFile(text);
        else
            diLogErrorText(
                u"Profile: a certsfile that is not a session file of the client was ignored");
    }
}

static std::string serialize(CQVLXMLDoc* doc) {
    std::string out = "\xEF\xBB\xBF";
    out += k_declaration;
    out += "\r\n";
    if (doc) CProfileStore::WriteElement(&out, doc->root, 0, "\r\n");
    out += "\r\n";
    return out;
}

std::string CProfileStore::Serialize() {
    EnsureDocument();
    return serialize(document);
}

bool CProfileStore::Save() {
    EnsureDocument();
    bool saved = false;
    if (LockFile()) {
        saved = SaveLocked();
        UnlockFile();
    }
    if (!saved)
        diProfLogFileError(u"Profile", filePath,
                           u"could not be saved; the changes are kept for the next save");
    return saved;
}

bool CProfileStore::SaveLocked() {
    std::string bytes;
    switch (ReadFileBytes(&bytes)) {
    case kFileHeld:
        return false;
    case kFileMissing:
        break;
    case kFileRead:
        if (bytes.empty() || bytes == base) break;
        /* Another process saved meanwhile; bytes that do not parse are
         * someone's data and go aside before anything replaces them. */
        if (CQVLXMLDoc* onDisk = diProfParseDocument(bytes.data(), bytes.size()))
            return MergeOnto(onDisk, bytes, true);
        [[fallthrough]];
    case kFileForeign: {
        /* The user's profiles seem gone until the log says where they are. */
        std::u16string kept;
        if (!SetAsideBadFile(&kept)) return false;
        if (!kept.empty())
            diProfLogFileError(u"Profile", filePath,
                               (u"could not be read and was kept as " + kept).c_str());
        break;
    }
    }
    return WriteDocument(document);
}

bool CProfileStore::WriteDocument(CQVLXMLDoc* doc) {
    std::string bytes = serialize(doc);
    if (!WriteFileBytes(bytes)) return false;
    base = bytes.substr(3);
    badFile = false;
    return true;
}

bool CProfileStore::MergeOnto(CQVLXMLDoc* onDisk, const std::string& diskBytes, bool write) {
    CQVLXMLDoc* was = ensureDocument(diProfParseDocument(base.data(), base.size()));
    bool changed = diProfApplyChanges(was, document, onDisk);
    delete was;
    if (changed && write && !WriteDocument(onDisk)) {
        delete onDisk;
        return false;
    }
    /* Unwritten changes stay changes from the new base. */
    if (!changed || !write) base = diskBytes;
    /* What the other process saved is this process's document from now on. */
    if (current) {
        CQVLXMLTag** elements[] = {&current->hostElement, &current->userElement,
                                   &current->profileElement};
        diProfFollow(document, elements, 3, onDisk);
    }
    delete document;
    document = ensureDocument(onDisk);
    return true;
}

void CProfileStore::Refresh() {
    if (!LockFile()) return;
    std::string bytes;
    if (ReadFileBytes(&bytes) == kFileRead && !bytes.empty() && bytes != base)
        if (CQVLXMLDoc* onDisk = diProfParseDocument(bytes.data(), bytes.size()))
            MergeOnto(onDisk, bytes, false);
    UnlockFile();
}

/* The wrapper document of a profiles text ("<root>" + text + "</root>"),
 * or null when it does not parse. */
static CQVLXMLDoc* parseProfilesText(const DiChar* text) {
    if (!text) return nullptr;
    std::string bytes = "<root>" + diProfileToUtf8(text) + "</root>";
    return diProfParseDocument(bytes.data(), bytes.size());
}

/* The first profile element of the wrapper (with a name attribute when
 * named is set). */
static CQVLXMLTag* firstProfile(CQVLXMLDoc* wrapper, bool named) {
    CQVLXMLElementList* children = wrapper->root->GetChildren();
    for (auto* n = children ? children->head : nullptr; n; n = n->next) {
        CQVLXMLTag* tag = asTag(n->item);
        if (tag && hasName(tag, u"profile") && (!named || tag->GetAttribute(u"name"))) return tag;
    }
    return nullptr;
}

static CQVLXMLContentTag* newNamed(const DiChar* element, const DiChar* attr, const DiChar* value) {
    CQVLXMLContentTag* tag = new CQVLXMLContentTag(element);
    tag->AddAttribute(attr, value ? value : u"");
    return tag;
}

/* The host element of that (lower-cased) name under profiles, appended
 * when missing. */
static CQVLXMLTag* hostFor(CQVLXMLTag* profiles, const std::u16string& host) {
    CQVLXMLTag* element = findExact(profiles, u"host", u"name", host.c_str());
    if (!element) {
        element = newNamed(u"host", u"name", host.c_str());
        profiles->AddChild(element, true);
    }
    return element;
}

void CProfileStore::SaveLogin(const DiChar* host, const DiChar* user, const DiChar* token,
                              const DiChar* proxyHost, int32_t proxyPort, const DiChar* proxyKind,
                              const DiChar* profilesText, const DiChar* sessionCookie) {
    EnsureDocument();
    CQVLXMLTag* profiles = profilesOf(document);
    if (!profiles || !current) return;
    std::u16string lowHost = lowerAscii(host);
    std::u16string userName = user ? user : u"";
    /* Profiles text that does not parse counts as none: the user's stored
     * profiles stay. */
    CQVLXMLDoc* wrapper = parseProfilesText(profilesText);
    CQVLXMLContentTag* fresh = nullptr;
    if (wrapper) {
        fresh = newNamed(u"user", u"ens", userName.c_str());
        while (CQVLXMLTag* p = firstProfile(wrapper, false)) {
            static_cast<CQVLXMLTag*>(wrapper->root)->DetachChild(p);
            fresh->AddChild(p, true);
        }
        delete wrapper;
    }
    CQVLXMLTag* hostElement = hostFor(profiles, lowHost);
    CQVLXMLTag* userElement = findExact(hostElement, u"user", u"ens", userName.c_str());
    if (fresh) {
        if (userElement) {
            CQVLXMLTag* token0 =
                FindChild(userElement, u"AT", nullptr, nullptr, nullptr, nullptr, false);
            if (!token && token0) {
                DiChar* saved = token0->GetText();
                fresh->AddChild(newKey(u"AT", saved), true);
                free(saved);
            }
            hostElement->RemoveChild(userElement);
        }
        hostElement->AddChild(fresh, true);
        userElement = fresh;
    }
    std::u16string name = current->profileName ? current->profileName : u"";
    current->Set(lowHost.c_str(), userName.c_str(), name.c_str());
    current->hostElement = hostElement;
    current->userElement = userElement;
    current->profileElement = userElement ? FindChild(userElement, u"profile", nullptr, nullptr,
                                                      u"name", name.c_str(), false)
                                          : nullptr;
    if (token && userElement) replaceKey(userElement, u"AT", token);
    replaceKey(profiles, u"lastloginhost", lowHost.c_str());
    replaceKey(profiles, u"lastloginuser", userName.c_str());
    SetLastProxy(proxyHost, proxyPort, proxyKind);
    SetSessionCookie(sessionCookie);
}

namespace {

/* A user's profiles by name, kept as the import changes them; a name finds
 * a profile only when exactly one holds it (findExact's rule). */
class ProfilesByName {
  public:
    explicit ProfilesByName(CQVLXMLTag* user) {
        CQVLXMLElementList* children = user->GetChildren();
        for (auto* n = children ? children->head : nullptr; n; n = n->next)
            if (CQVLXMLTag* tag = asTag(n->item))
                if (hasName(tag, u"profile")) Add(tag);
    }
    void Add(CQVLXMLTag* profile) {
        /* A name without text equals no name (CQVLXMLString::Equals). */
        const CQVLXMLString* name = profile->GetAttribute(u"name");
        if (!name || !name->Text()) return;
        Entry& entry = byName[name->Text()];
        entry.count++;
        entry.profile = profile;
    }
    CQVLXMLTag* Find(const CQVLXMLString* name) const {
        auto at = byName.find(name->Text() ? name->Text() : u"");
        return at != byName.end() && at->second.count == 1 ? at->second.profile : nullptr;
    }

  private:
    struct Entry {
        int count = 0;
        CQVLXMLTag* profile = nullptr;
    };
    std::unordered_map<std::u16string, Entry> byName;
};

/* Sets top[i] to parent's child that holds *elements[i] strictly below it. */
void findTops(CQVLXMLTag* parent, CQVLXMLTag** const* elements, CQVLXMLTag** top, size_t count) {
    CQVLXMLElementList* children = parent->GetChildren();
    for (auto* n = children ? children->head : nullptr; n; n = n->next) {
        CQVLXMLTag* child = asTag(n->item);
        if (!child) continue;
        for (size_t i = 0; i < count; i++)
            if (*elements[i] && *elements[i] != child && holds(child, *elements[i])) top[i] = child;
    }
}

} // namespace

void CProfileStore::ImportProfiles(const DiChar* host, const DiChar* user,
                                   const DiChar* profilesText) {
    EnsureDocument();
    CQVLXMLTag* profiles = profilesOf(document);
    CQVLXMLDoc* wrapper = profiles ? parseProfilesText(profilesText) : nullptr;
    if (!wrapper) return;
    std::u16string userName = user ? user : u"";
    CQVLXMLTag* hostElement = hostFor(profiles, lowerAscii(host));
    CQVLXMLTag* userElement = findExact(hostElement, u"user", u"ens", userName.c_str());
    if (!userElement) {
        userElement = newNamed(u"user", u"ens", userName.c_str());
        hostElement->AddChild(userElement, true);
    }
    /* One look-up table and one walk for the whole message: a server's
     * update may bring thousands of profiles. A merge replaces keys below
     * its stored profile only, so a current element can go only with the
     * keys of the profile that held it. */
    ProfilesByName stored(userElement);
    CQVLXMLTag* none[3] = {};
    CQVLXMLTag** elements[] = {current ? &current->hostElement : &none[0],
                               current ? &current->userElement : &none[1],
                               current ? &current->profileElement : &none[2]};
    CQVLXMLTag* tops[3] = {};
    findTops(userElement, elements, tops, 3);
    CQVLXMLElementList* incoming = wrapper->root->GetChildren();
    for (auto* n = incoming ? incoming->head : nullptr; n;) {
        auto* next = n->next;
        CQVLXMLTag* profile = asTag(n->item);
        const CQVLXMLString* name =
            profile && hasName(profile, u"profile") ? profile->GetAttribute(u"name") : nullptr;
        if (!name) {
            n = next;
            continue;
        }
        incoming->RemoveNode(n, false);
        n = next;
        if (CQVLXMLTag* into = stored.Find(name)) {
            MergeElement(profile, into, k_keepList, false, true);
            delete profile;
            for (size_t i = 0; i < 3; i++)
                if (tops[i] == into && *elements[i] && !holds(into, *elements[i]))
                    *elements[i] = nullptr, tops[i] = nullptr;
            continue;
        }
        userElement->AddChild(profile, true);
        stored.Add(profile);
        if (current && !current->profileElement) current->profileElement = profile;
    }
    delete wrapper;
}

/* The first element named name strictly below element, depth first, with
 * its parent. */
static CQVLXMLTag* findBelow(CQVLXMLTag* element, const CQVLXMLString* name, CQVLXMLTag** parent) {
    CQVLXMLElementList* children = element->GetChildren();
    for (auto* n = children ? children->head : nullptr; n; n = n->next) {
        CQVLXMLTag* tag = asTag(n->item);
        if (!tag) continue;
        if (tag->HasName(name)) {
            *parent = element;
            return tag;
        }
        if (CQVLXMLTag* hit = findBelow(tag, name, parent)) return hit;
    }
    return nullptr;
}

bool CProfileStore::MergeElement(CQVLXMLElement* source, CQVLXMLElement* destination,
                                 const DiChar* const* keepList, bool deep, bool move) {
    CQVLXMLTag* from = asTag(source);
    CQVLXMLTag* to = asTag(destination);
    if (!from || !to || !move || !from->GetChildren() || !to->GetChildren()) return false;
    for (auto* n = from->GetChildren()->head; n;) {
        auto* next = n->next;
        /* Text between the keys (line ends, indentation) is not a key. */
        CQVLXMLTag* child = asTag(n->item);
        n = next;
        if (!child || !child->name) continue;
        bool keep = false;
        for (const DiChar* const* k = keepList; k && *k; k++)
            if (hasName(child, *k)) keep = true;
        if (keep) continue;
        /* Only below the destination: a key named like the destination
         * itself must not take the destination out of the document. */
        CQVLXMLTag* parent = nullptr;
        CQVLXMLTag* found = findBelow(to, child->name, &parent);
        from->DetachChild(child);
        if (found && deep && MergeElement(child, found, keepList, deep, move)) {
            delete child;
            continue;
        }
        if (found) parent->RemoveChild(found);
        to->AddChild(child, true);
    }
    return true;
}

bool diSOGetLocalSetting(const DiChar* name, DiChar* buffer, size_t size) {
    if (buffer && size > 0) buffer[0] = 0;
    if (!g_diProfileStore || !name) return false;
    std::u16string key = lowerAscii(name);
    size_t length = 0;
    /* A value cut to the buffer still counts as found. */
    return g_diProfileStore->GetLocalSetting(key.c_str(), buffer, size, &length) || length > 0;
}

DiChar* diSOGetLocalSettingWhole(const DiChar* name) {
    if (!g_diProfileStore || !name) return nullptr;
    std::u16string key = lowerAscii(name);
    DiChar none[1];
    size_t length = 0;
    if (!g_diProfileStore->GetLocalSetting(key.c_str(), none, 1, &length) && length == 0)
        return nullptr;
    DiChar* text = static_cast<DiChar*>(malloc((length + 1) * sizeof(DiChar)));
    if (text && !g_diProfileStore->GetLocalSetting(key.c_str(), text, length + 1, nullptr)) {
        free(text);
        text = nullptr;
    }
    return text;
}

bool diSOPutLocalSetting(const DiChar* name, const DiChar* text) {
    if (!g_diProfileStore || !name) return false;
    std::u16string key = lowerAscii(name);
    return g_diProfileStore->SetLocalSetting(key.c_str(), text ? text : u"");
}

bool diSOSetLocalSetting(const DiChar* name, const DiChar* text) {
    return diSOPutLocalSetting(name, text) && g_diProfileStore->Save();
}

bool diSOSetLocalList(const DiChar* name, const DiChar* const* items, int count, bool retry) {
    if (!g_diProfileStore || !name) return false;
    std::u16string stem = lowerAscii(name);
    std::vector<std::u16string> keys;
    std::vector<const DiChar*> keyTexts, values;
    for (int i = 0; i < count; i++) {
        std::string number = std::to_string(i);
        keys.push_back(stem + std::u16string(number.begin(), number.end()));
        values.push_back(items[i] ? items[i] : u"");
    }
    for (const std::u16string& k : keys)
        keyTexts.push_back(k.c_str());
    return g_diProfileStore->SaveLocalSettings(keyTexts.data(), values.data(), count, retry);
}
