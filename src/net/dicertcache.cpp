/* The certificate cache (see dicertcache.h). */
#include "net/dicertcache.h"

#include "core/dilog.h"
#include "core/diutil.h"
#include "net/dicert.h"
#include "session/diprofile.h"
#include "xml/qvlparser.h"
#include "xml/qvlxml.h"
#include "xml/qvlxmlparser.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <deque>
#include <string.h>
#include <string_view>
#include <vector>

namespace {

const char kBom[] = "\xEF\xBB\xBF";
const DiChar kRefused[] = u"Certificates: hosts past the visited-hosts file's bounds were not "
                          u"remembered";

struct Record {
    uint8_t accepted;
    X509* cert;
    /* The hosts the user confirmed this certificate for (lower-case): an
     * answer given for one host says nothing about another. */
    std::vector<std::string> confirmedHosts;
};

struct Cache {
    bool initialised = false;
    std::deque<Record> list; /* new records at the front */
    std::string storePath, hostsPath, sessionPath;
    CQVLXMLDoc* hosts = nullptr;
    /* The (host, fingerprint) pairs this process added that the file does
     * not hold yet: each save writes them onto the file as it is then. */
    std::vector<std::pair<std::string, std::string>> unsaved;
    int allowCert = -1, allowHost = -1; /* -1 not read yet */
};

Cache& cache() {
    static Cache c;
    return c;
}

Record* find(X509* cert) {
    for (Record& r : cache().list)
        if (X509_cmp(r.cert, cert) == 0) return &r;
    return nullptr;
}

void add(X509* cert, uint8_t accepted) {
    X509_up_ref(cert);
    cache().list.push_front(Record{accepted, cert, {}});
}

std::string pemOf(X509* cert) {
    std::string out;
    BIO* b = BIO_new(BIO_s_mem());
    if (!b) return out;
    if (PEM_write_bio_X509(b, cert)) {
        char* data = nullptr;
        long n = BIO_get_mem_data(b, &data);
        if (n > 0) out.assign(data, size_t(n));
    }
    BIO_free(b);
    return out;
}

/* Calls f for every certificate of the PEM text; returns how many. A block
 * that does not read (cut short by a full disk, pasted by hand) is logged
 * and skipped: the blocks appended after it still count. Each block is read
 * on its own, up to its END line or, when it has none, to the next BEGIN. */
template <class F> int eachPem(const char* bytes, size_t length, F f) {
    if (!bytes || length == 0 || length > DI_CERT_FILE_MAX) return 0;
    static const char kBegin[] = "-----BEGIN ", kEnd[] = "-----END ";
    const std::string_view text(bytes, length);
    int count = 0;
    size_t at = text.find(kBegin);
    while (at != text.npos) {
        size_t next = text.find(kBegin, at + 1), end = text.find(kEnd, at);
        size_t stop = next == text.npos ? length : next;
        if (end != text.npos && end < stop) {
            size_t eol = text.find('\n', end);
            stop = eol == text.npos ? length : eol + 1;
            next = text.find(kBegin, stop);
        }
        BIO* b = BIO_new_mem_buf(text.data() + at, int(stop - at));
        if (!b) break;
        X509* cert = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
        BIO_free(b);
        unsigned long e = ERR_peek_last_error();
        if (cert) {
            f(cert);
            X509_free(cert);
            count++;
        } else if (ERR_GET_LIB(e) != ERR_LIB_PEM || ERR_GET_REASON(e) != PEM_R_NO_START_LINE) {
            /* Blocks of other kinds (a key) read as "no start line". */
            diLogErrorText(u"Certificates: an unreadable block was skipped");
        }
        ERR_clear_error();
        at = next;
    }
    return count;
}

std::u16string widen(const char* utf8) {
    DiChar* w = diTextFromUtf8Dup(utf8, strlen(utf8));
    std::u16string out = w ? std::u16string(w) : std::u16string();
    free(w);
    return out;
}

/* One error in the event log for each save that failed, naming the file. */
void logNotSaved(const std::string& path) {
    diProfLogFileError(u"Certificates", widen(path.c_str()).c_str(), u"could not be saved");
}

/* Keeps the other copies of the client from writing the file between this
 * copy's read of it and its write. */
class FileLock {
  public:
    explicit FileLock(const std::string& path) : held(diCertFileLock(path)) {}
    ~FileLock() { diCertFileUnlock(held); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    void* held;
};

/* Appends PEM text to a file of PEM blocks; false when it could not be
 * (logged). A file whose last line has no line feed would glue the new
 * block's first line to it, and the block would never be read back. */
bool appendPem(const std::string& path, const std::string& pem, bool unlessHeld, X509* cert) {
    FileLock lock(path);
    std::string bytes;
    bool read = diCertFileRead(path, &bytes, DI_CERT_FILE_MAX);
    if (read && unlessHeld) {
        bool found = false;
        eachPem(bytes.data(), bytes.size(), [&](X509* c) {
            if (X509_cmp(c, cert) == 0) found = true;
        });
        if (found) return true;
    }
    bool glue = read && !bytes.empty() && bytes.back() != '\n';
    if (diCertFileAppend(path, glue ? "\n" + pem : pem)) return true;
    logNotSaved(path);
    return false;
}

void loadFile(const std::string& path) {
    std::string bytes;
    if (path.empty() || !diCertFileRead(path, &bytes, DI_CERT_FILE_MAX)) return;
    diCertCacheLoadPem(bytes.data(), bytes.size());
}

/* The text of an element with surrounding white space removed. */
std::u16string textOf(CQVLXMLElement* e) {
    DiChar* t = e->GetText();
    std::u16string s = t ? std::u16string(t) : std::u16string();
    free(t);
    size_t a = s.find_first_not_of(u" \t\r\n"), b = s.find_last_not_of(u" \t\r\n");
    return a == std::u16string::npos ? std::u16string() : s.substr(a, b - a + 1);
}

bool sameHost(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        DiChar x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = DiChar(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = DiChar(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

CQVLXMLContentTag* rootOf(CQVLXMLDoc* doc) {
    if (!doc || !doc->root || !doc->root->IsTag()) return nullptr;
    CQVLXMLTag* t = static_cast<CQVLXMLTag*>(doc->root);
    if (!t->GetChildren() || !t->name || !t->name->Equals("array")) return nullptr;
    return static_cast<CQVLXMLContentTag*>(t);
}

/* The first "server" child of the root named host. */
CQVLXMLContentTag* serverOf(CQVLXMLDoc* doc, const char* host) {
    CQVLXMLContentTag* root = rootOf(doc);
    if (!root) return nullptr;
    std::u16string want = widen(host);
    for (auto* n = root->children->head; n; n = n->next) {
        if (!n->item->IsTag()) continue;
        CQVLXMLTag* t = static_cast<CQVLXMLTag*>(n->item);
        if (!t->name || !t->name->Equals("server") || !t->GetChildren()) continue;
        const CQVLXMLString* peer = t->GetAttribute("peername");
        if (peer && peer->Text() && sameHost(peer->Text(), want))
            return static_cast<CQVLXMLContentTag*>(t);
    }
    return nullptr;
}

bool hasFingerprint(CQVLXMLContentTag* server, const std::u16string& fp) {
    for (auto* n = server->children->head; n; n = n->next) {
        if (!n->item->IsTag()) continue;
        CQVLXMLTag* t = static_cast<CQVLXMLTag*>(n->item);
        if (t->name && t->name->Equals("certfingerprint") && textOf(t) == fp) return true;
    }
    return false;
}

bool isTagNamed(CQVLXMLElement* e, const char* name) {
    return e->IsTag() && static_cast<CQVLXMLTag*>(e)->name &&
           static_cast<CQVLXMLTag*>(e)->name->Equals(name);
}

size_t fingerprintCount(CQVLXMLContentTag* root) {
    size_t n = 0;
    for (auto* s = root->children->head; s; s = s->next) {
        CQVLXMLElementList* prints =
            isTagNamed(s->item, "server") ? s->item->GetChildren() : nullptr;
        for (auto* f = prints ? prints->head : nullptr; f; f = f->next)
            n += isTagNamed(f->item, "certfingerprint");
    }
    return n;
}

CQVLXMLDoc* emptyHosts() {
    static const char kEmpty[] = "\n<array></array>\n";
    CQVLParser p(kEmpty, sizeof kEmpty - 1);
    CQVLXMLDoc* doc = CQVLXMLParser::ParseDocument(&p);
    CQVLXMLContentTag* root = rootOf(doc);
    if (!root) {
        delete doc;
        return nullptr;
    }
    root->AddChild(new CQVLXMLContentTag(u"version", u"1.0"), true);
    return doc;
}

/* Reads the document from the file. A file that holds bytes but no
 * document is set aside before anything takes its place, so that the
 * administrator's switches and the remembered hosts are kept; false when it
 * could not be, and the file is to be left as it is. *doc is null when the
 * file holds no document (none, empty, or set aside). */
bool readHosts(const std::string& path, CQVLXMLDoc** doc) {
    std::string bytes;
    bool read = diCertFileRead(path, &bytes, DI_CERT_FILE_MAX);
    *doc = read ? diCertHostsParse(bytes.data(), bytes.size()) : nullptr;
    if (*doc || (read && (bytes.empty() || bytes == kBom))) return true;
    std::string kept;
    int aside = diCertFileSetAside(path, &kept);
    if (aside > 0)
        diLogErrorText(
            (u"Certificates: an unreadable hostsvisited was kept as " + widen(kept.c_str()))
                .c_str());
    return aside >= 0;
}

/* Brings the document and the file together under the file lock: the file
 * as it is now (another copy of the client may have saved since) becomes
 * the document, with this process's unsaved hosts added, and is written
 * when they change it or when it holds no document (this process's
 * document is then written). 1 done, 0 the write failed, -1 the file is
 * left as it is. */
int syncHosts() {
    Cache& c = cache();
    if (c.hostsPath.empty()) {
        c.unsaved.clear();
        return 1;
    }
    FileLock lock(c.hostsPath);
    CQVLXMLDoc* onDisk = nullptr;
    if (!readHosts(c.hostsPath, &onDisk)) return -1;
    bool write = !onDisk;
    if (onDisk) {
        delete c.hosts;
        c.hosts = onDisk; /* the file's switches stay as they are */
    } else if (!c.hosts) {
        c.hosts = emptyHosts();
    }
    int refused = 0;
    for (const auto& u : c.unsaved) {
        int r = diCertHostsAdd(c.hosts, u.first.c_str(), u.second);
        write = write || r > 0;
        refused += r < 0;
    }
    if (refused) diLogErrorText(kRefused);
    if (write && (!c.hosts || !diCertFileReplace(c.hostsPath, diCertHostsSerialize(c.hosts))))
        return 0;
    c.unsaved.clear();
    return 1;
}

bool saveHosts() {
    if (syncHosts() > 0) return true;
    logNotSaved(cache().hostsPath);
    return false;
}

/* "0" in the element forbids; read once. */
int allowSwitch(int* kept, const char* name) {
    if (*kept < 0) {
        CQVLXMLContentTag* root = rootOf(cache().hosts);
        *kept = 1;
        if (root)
            for (auto* n = root->children->head; n; n = n->next) {
                if (!n->item->IsTag()) continue;
                CQVLXMLTag* t = static_cast<CQVLXMLTag*>(n->item);
                if (t->name && t->name->Equals(name)) {
                    if (textOf(t) == u"0") *kept = 0;
                    break;
                }
            }
    }
    return *kept;
}

} // namespace

int diCertCacheLoadPem(const char* bytes, size_t length) {
    return eachPem(bytes, length, [](X509* cert) {
        if (Record* r = find(cert))
            r->accepted = 1;
        else
            add(cert, 1);
    });
}

CQVLXMLDoc* diCertHostsParse(const char* bytes, size_t length) {
    if (!bytes || length == 0 || length > DI_CERT_FILE_MAX) return nullptr;
    /* Editors save the hand-set switches with a byte-order mark. */
    if (length >= 3 && memcmp(bytes, kBom, 3) == 0) bytes += 3, length -= 3;
    CQVLParser p(bytes, length);
    CQVLXMLDoc* doc = CQVLXMLParser::ParseDocument(&p);
    if (doc && !rootOf(doc)) {
        delete doc;
        doc = nullptr;
    }
    return doc;
}

std::string diCertHostsSerialize(CQVLXMLDoc* doc) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";
    if (doc && doc->root) CProfileStore::WriteElement(&out, doc->root, 0);
    out += '\n';
    return out;
}

int diCertHostsLookup(CQVLXMLDoc* doc, const char* host, const std::string& fingerprint) {
    CQVLXMLContentTag* server = serverOf(doc, host ? host : "");
    if (!server) return 0;
    return hasFingerprint(server, widen(fingerprint.c_str())) ? 1 : 2;
}

int diCertHostsAdd(CQVLXMLDoc* doc, const char* host, const std::string& fingerprint) {
    CQVLXMLContentTag* root = rootOf(doc);
    if (!root || !host) return -1;
    std::u16string fp = widen(fingerprint.c_str());
    CQVLXMLContentTag* server = serverOf(doc, host);
    if (server && hasFingerprint(server, fp)) return 0;
    /* The file stays far below what is read back (DI_CERT_FILE_MAX). */
    if (strlen(host) > DI_CERT_HOST_NAME_MAX || fingerprintCount(root) >= DI_CERT_HOSTS_MAX)
        return -1;
    if (!server) {
        server = new CQVLXMLContentTag(u"server");
        server->AddAttribute(u"peername", widen(host).c_str());
        root->AddChild(server, true);
    }
    server->AddChild(new CQVLXMLContentTag(u"certfingerprint", fp.c_str()), true);
    return 1;
}

void diCertCacheInit(const std::string& storePath, const std::string& hostsPath) {
    Cache& c = cache();
    if (c.initialised) return;
    c.initialised = true;
    c.storePath = storePath;
    loadFile(storePath);
    c.hostsPath = hostsPath;
    delete c.hosts;
    c.hosts = nullptr;
    c.unsaved.clear();
    /* A file that can be neither read nor kept aside is not overwritten in
     * this process; a missing one is made at once. */
    int synced = syncHosts();
    if (synced == 0) logNotSaved(c.hostsPath);
    if (synced < 0) {
        diLogErrorText(u"Certificates: an unreadable hostsvisited is left as it is");
        c.hostsPath.clear();
    }
    if (!c.hosts) c.hosts = emptyHosts();
    loadFile(c.sessionPath);
}

bool diCertCacheIsInitialised() {
    return cache().initialised;
}

void diCertCacheReset() {
    Cache& c = cache();
    for (Record& r : c.list)
        X509_free(r.cert);
    c.list.clear();
    delete c.hosts;
    c.hosts = nullptr;
    c.unsaved.clear();
    c.storePath.clear();
    c.hostsPath.clear();
    c.sessionPath.clear();
    c.allowCert = c.allowHost = -1;
    c.initialised = false;
}

int diCertCacheFind(X509* cert) {
    Record* r = cert ? find(cert) : nullptr;
    if (!r) return 2;
    return r->accepted ? 0 : 1;
}

namespace {

std::string lowerHost(const char* host) {
    std::string h = host ? host : "";
    for (char& c : h)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return h;
}

} // namespace

void diCertCacheMarkConfirmed(X509* cert, const char* host) {
    if (!cert) return;
    const std::string h = lowerHost(host);
    for (Record& r : cache().list)
        if (X509_cmp(r.cert, cert) == 0 &&
            std::find(r.confirmedHosts.begin(), r.confirmedHosts.end(), h) ==
                r.confirmedHosts.end())
            r.confirmedHosts.push_back(h);
}

int diCertCacheIsConfirmed(X509* cert, const char* host) {
    Record* r = cert ? find(cert) : nullptr;
    if (!r) return 0;
    const std::string h = lowerHost(host);
    return std::find(r->confirmedHosts.begin(), r->confirmedHosts.end(), h) !=
           r->confirmedHosts.end();
}

bool diCertCacheRemember(X509* cert, uint32_t how, int accepted) {
    if (!cert) return true;
    Record* r = find(cert);
    if (accepted) {
        if (how & DI_CERT_KEEP) {
            if (r)
                r->accepted = 1;
            else
                add(cert, 1);
        }
        /* A certificate already held for this process may now be asked to
         * be kept for good: append it unless the file has it already. */
        const std::string& path = cache().storePath;
        if ((how & DI_CERT_STORE_FILE) && !path.empty())
            return appendPem(path, pemOf(cert), true, cert);
    } else if ((how & DI_CERT_KEEP_REFUSED) && !r) {
        add(cert, 0);
    }
    return true;
}

bool diCertCacheRememberHost(X509* cert, const char* host) {
    Cache& c = cache();
    if (!cert || !host) return false;
    if (!c.hosts) c.hosts = emptyHosts();
    std::string fingerprint = diCertDigestText(cert, EVP_md5());
    int r = diCertHostsAdd(c.hosts, host, fingerprint);
    if (r < 0) diLogErrorText(kRefused);
    if (r <= 0) return r == 0;
    c.unsaved.emplace_back(host, fingerprint);
    return saveHosts();
}

int diCertCacheRememberServers(const std::string& array) {
    Cache& c = cache();
    std::string bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>" + array;
    CQVLParser p(bytes.data(), bytes.size());
    CQVLXMLDoc* doc = CQVLXMLParser::ParseDocument(&p);
    CQVLXMLElementList* servers = doc && doc->root ? doc->root->GetChildren() : nullptr;
    if (!c.hosts) c.hosts = emptyHosts();
    int added = 0, refused = 0;
    for (auto* n = servers ? servers->head : nullptr; n; n = n->next) {
        const CQVLXMLString* peer =
            isTagNamed(n->item, "server")
                ? static_cast<CQVLXMLTag*>(n->item)->GetAttribute(u"peername")
                : nullptr;
        if (!peer || !peer->Text()) continue;
        std::string host = diProfileToUtf8(peer->Text());
        CQVLXMLElementList* certs = n->item->GetChildren();
        for (auto* e = certs ? certs->head : nullptr; e; e = e->next) {
            if (!isTagNamed(e->item, "rootcert")) continue;
            if (added == int(DI_CERT_HOSTS_PER_MESSAGE)) {
                refused++;
                continue;
            }
            DiChar* text = e->item->GetText();
            std::string pem = diProfileToUtf8(text);
            free(text);
            BIO* bio = BIO_new_mem_buf(pem.data(), int(pem.size()));
            X509* x = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
            BIO_free(bio);
            ERR_clear_error();
            std::string fingerprint = x ? diCertDigestText(x, EVP_md5()) : std::string();
            int r = x ? diCertHostsAdd(c.hosts, host.c_str(), fingerprint) : 0;
            if (r > 0) c.unsaved.emplace_back(host, fingerprint);
            added += r > 0;
            refused += r < 0;
            X509_free(x);
        }
    }
    delete doc;
    if (refused) diLogErrorText(kRefused);
    if (added && !saveHosts()) return -1;
    return added;
}

int diCertCacheLookupHost(X509* cert, const char* host) {
    if (!cert) return 0;
    return diCertHostsLookup(cache().hosts, host, diCertDigestText(cert, EVP_md5()));
}

int diCertCacheAllowCertOverride() {
    return allowSwitch(&cache().allowCert, "allowcertoverride");
}

int diCertCacheAllowHostOverride() {
    return allowSwitch(&cache().allowHost, "allowhostoverride");
}

void diCertCacheSetSessionCertsFile(const std::string& path) {
    if (!path.empty()) cache().sessionPath = path;
}

const std::string& diCertCacheGetSessionCertsFile() {
    return cache().sessionPath;
}

const std::string& diCertCacheSaveSessionCerts() {
    Cache& c = cache();
    if (c.sessionPath.empty()) return c.sessionPath;
    /* Saved at every user-information request: certificates the file holds
     * already are not appended again, so it does not grow with each. */
    std::string bytes;
    bool read = diCertFileRead(c.sessionPath, &bytes, DI_CERT_FILE_MAX);
    std::vector<X509*> held;
    if (read)
        eachPem(bytes.data(), bytes.size(), [&](X509* x) {
            X509_up_ref(x);
            held.push_back(x);
        });
    std::string pem;
    for (Record& r : c.list) {
        bool in = false;
        for (X509* x : held)
            if (X509_cmp(x, r.cert) == 0) in = true;
        if (r.accepted && !in) pem += pemOf(r.cert);
    }
    for (X509* x : held)
        X509_free(x);
    if (!pem.empty()) appendPem(c.sessionPath, pem, false, nullptr);
    return c.sessionPath;
}
