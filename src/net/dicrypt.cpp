/* The password cache (see dicrypt.h). Every constant here is part of the
 * stored format: changing the alphabet, the tables or the derivation makes
 * every stored entry unreadable. */
/* The stored format needs single-block DES, which OpenSSL keeps only as
 * deprecated low-level calls (no legacy provider needed). */
#define OPENSSL_SUPPRESS_DEPRECATED
#include "net/dicrypt.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "core/diutil.h"

#include <openssl/des.h>
#include <openssl/sha.h>
#include <stdlib.h>
#include <string.h>

namespace {

/* 64 characters without ':', '\n' and '=', which delimit and pad fields. */
const char kAlphabet[] = "q7Hf2LxT9aKcR0vWmZ3pJ8sYbN5uE1dGkV6tCrA4hXoMiB_gUwSlQn.yFjOePzDI";

/* The 128-byte table the key texts are picked from, seven bits a byte. */
const uint8_t kTable[128] = {
    0x7b, 0x14, 0x65, 0x0e, 0x78, 0x5a, 0x13, 0x13, 0x53, 0x2b, 0x28, 0x27, 0x0b, 0x04, 0x0b, 0x4e,
    0x4c, 0x68, 0x29, 0x7d, 0x53, 0x7f, 0x13, 0x45, 0x45, 0x71, 0x52, 0x1e, 0x02, 0x56, 0x1a, 0x34,
    0x38, 0x11, 0x1b, 0x1b, 0x1f, 0x31, 0x6f, 0x4d, 0x53, 0x4f, 0x67, 0x3d, 0x53, 0x7e, 0x3f, 0x22,
    0x34, 0x11, 0x7f, 0x69, 0x52, 0x67, 0x5d, 0x7d, 0x24, 0x50, 0x26, 0x54, 0x21, 0x54, 0x07, 0x55,
    0x6b, 0x52, 0x0d, 0x78, 0x66, 0x50, 0x7a, 0x0e, 0x4a, 0x16, 0x0d, 0x04, 0x1d, 0x2f, 0x10, 0x56,
    0x42, 0x5b, 0x02, 0x6f, 0x5f, 0x31, 0x57, 0x6d, 0x69, 0x79, 0x52, 0x33, 0x55, 0x09, 0x15, 0x6f,
    0x0b, 0x6f, 0x62, 0x6d, 0x69, 0x42, 0x5a, 0x56, 0x65, 0x40, 0x56, 0x53, 0x54, 0x18, 0x01, 0x2a,
    0x3f, 0x2a, 0x31, 0x6f, 0x6b, 0x50, 0x14, 0x0c, 0x77, 0x6e, 0x08, 0x4b, 0x21, 0x4b, 0x47, 0x6f,
};
const uint8_t kText1[23] = {62, 84, 21,  39, 79, 19, 101, 73, 32, 32, 97, 31,
                            122, 11, 119, 44, 83, 38, 8,   45, 37, 13, 100};
const uint8_t kText2[30] = {32, 43, 54, 71, 85, 90, 6,  71, 94,  107, 38,  98, 115, 14,  9,
                            84, 44, 9,  30, 63, 74, 65, 120, 102, 126, 102, 40, 99,  13, 120};
/* The first text's first 11 characters make the first key, the other 12 the
 * second. The second text's three whole blocks are decrypted; its last 6
 * characters enter the digest as they are. */
const int kFirstHalf = 11;

int alphabetIndex(DiChar c) {
    for (int i = 0; i < 64; ++i)
        if (DiChar(kAlphabet[i]) == c) return i;
    return -1;
}

/* UTF-16 little-endian bytes of a text (the stored form of keys and users). */
uint8_t* utf16Bytes(const DiChar* text, size_t* n) {
    size_t len = diAppStrLen(text);
    uint8_t* b = static_cast<uint8_t*>(malloc(len * 2 + 1));
    if (!b) return nullptr;
    for (size_t i = 0; i < len; ++i) {
        b[2 * i] = uint8_t(text[i] & 0xFF);
        b[2 * i + 1] = uint8_t(text[i] >> 8);
    }
    *n = len * 2;
    return b;
}

DiChar* dupRange(const DiChar* s, size_t n) {
    DiChar* d = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (!d) return nullptr;
    memcpy(d, s, n * sizeof(DiChar));
    d[n] = 0;
    return d;
}

void desKey(const uint8_t key[8], DES_key_schedule* ks) {
    DES_cblock block;
    memcpy(block, key, 8);
    DES_set_key_unchecked(&block, ks);
}

/* The three schedules of a password block under a key text. */
void passwordKeys(const DiChar* keyText, const uint8_t value[20], const uint8_t first[8],
                  DES_key_schedule ks[3]) {
    uint8_t k2[8], k3[8];
    size_t len = diAppStrLen(keyText);
    char* utf8 = diTextToUtf8Dup(keyText ? keyText : u"", len);
    diCryptDeriveKey(reinterpret_cast<const uint8_t*>(utf8 ? utf8 : ""), utf8 ? strlen(utf8) : 0, 7,
                     k2);
    free(utf8);
    diCryptDeriveKey(value, 20, 7, k3);
    desKey(first, &ks[0]);
    desKey(k2, &ks[1]);
    desKey(k3, &ks[2]);
}

bool plausibleUtf8(const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n;) {
        if (b[i] < 0x20 || b[i] == 0x7F) return false;
        int len = b[i] < 0x80 ? 1 : b[i] >= 0xF0 ? 4 : b[i] >= 0xE0 ? 3 : 2;
        if (i + size_t(len) > n || !diUtf8IsLegal(b + i, len)) return false;
        i += size_t(len);
    }
    return true;
}

void ede3(const uint8_t in[16], uint8_t out[16], DES_key_schedule ks[3], int enc) {
    for (int half = 0; half < 2; ++half) {
        DES_cblock i, o;
        memcpy(i, in + 8 * half, 8);
        DES_ecb3_encrypt(&i, &o, &ks[0], &ks[1], &ks[2], enc);
        memcpy(out + 8 * half, o, 8);
    }
}

} // namespace

DiChar* diCryptEncode(const uint8_t* bytes, size_t n) {
    if (n > DI_CRYPT_MAX_FIELD) return nullptr;
    size_t outLen = (n + 2) / 3 * 4;
    DiChar* out = static_cast<DiChar*>(malloc((outLen + 1) * sizeof(DiChar)));
    if (!out) return nullptr;
    size_t o = 0;
    for (size_t i = 0; i < n; i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        if (i + 1 < n) v |= uint32_t(bytes[i + 1]) << 8;
        if (i + 2 < n) v |= bytes[i + 2];
        out[o++] = DiChar(kAlphabet[(v >> 18) & 63]);
        out[o++] = DiChar(kAlphabet[(v >> 12) & 63]);
        out[o++] = i + 1 < n ? DiChar(kAlphabet[(v >> 6) & 63]) : u'=';
        out[o++] = i + 2 < n ? DiChar(kAlphabet[v & 63]) : u'=';
    }
    out[o] = 0;
    return out;
}

int diCryptDecode(const DiChar* text, size_t len, uint8_t* out, size_t max) {
    if (len % 4 != 0) return -1;
    size_t o = 0;
    for (size_t i = 0; i < len; i += 4) {
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            DiChar c = text[i + k];
            if (c == u'=') {
                /* Fill only in the last group's last two places, and only at
                 * the end of it. */
                if (i + 4 != len || k < 2) return -1;
                pad++;
                v[k] = 0;
                continue;
            }
            if (pad) return -1;
            v[k] = alphabetIndex(c);
            if (v[k] < 0) return -1;
        }
        uint32_t w = uint32_t(v[0]) << 18 | uint32_t(v[1]) << 12 | uint32_t(v[2]) << 6 | v[3];
        int take = 3 - pad;
        if (o + size_t(take) > max) return -1;
        for (int k = 0; k < take; ++k) out[o++] = uint8_t(w >> (16 - 8 * k));
    }
    return int(o);
}

int diCryptSplitEntry(const DiChar* item, DiCryptEntry* out) {
    memset(out, 0, sizeof *out);
    size_t len = 0;
    while (item && item[len] && item[len] != u'\n') ++len;
    size_t start = 0, field = 0;
    DiChar** slots[3] = {&out->key, &out->user, &out->prot};
    bool ok = true;
    for (size_t i = 0; i <= len; ++i) {
        if (i < len && item[i] != u':') continue;
        if (field >= 3) {
            ok = false;
            break;
        }
        *slots[field++] = dupRange(item + start, i - start);
        start = i + 1;
    }
    /* Each field must also be a well-formed encoding: the protected
     * password empty or 16 bytes. */
    uint8_t scratch[DI_CRYPT_MAX_FIELD];
    if (ok && field == 3 && out->key && out->user && out->prot) {
        int p = diCryptDecode(out->prot, diAppStrLen(out->prot), scratch, sizeof scratch);
        ok = diCryptDecode(out->key, diAppStrLen(out->key), scratch, sizeof scratch) >= 0 &&
             diCryptDecode(out->user, diAppStrLen(out->user), scratch, sizeof scratch) >= 0 &&
             (p == 0 || p == DI_CRYPT_PROTECTED);
    } else {
        ok = false;
    }
    if (ok) return 1;
    diCryptEntryFree(out);
    out->raw = dupRange(item ? item : u"", diAppStrLen(item));
    return 0;
}

DiChar* diCryptFormatEntry(const DiCryptEntry* e) {
    if (e->raw) return dupRange(e->raw, diAppStrLen(e->raw));
    size_t a = diAppStrLen(e->key), b = diAppStrLen(e->user), c = diAppStrLen(e->prot);
    DiChar* s = static_cast<DiChar*>(malloc((a + b + c + 4) * sizeof(DiChar)));
    if (!s) return nullptr;
    DiChar* p = s;
    memcpy(p, e->key, a * sizeof(DiChar));
    p += a;
    *p++ = u':';
    memcpy(p, e->user, b * sizeof(DiChar));
    p += b;
    *p++ = u':';
    memcpy(p, e->prot, c * sizeof(DiChar));
    p += c;
    *p++ = u'\n';
    *p = 0;
    return s;
}

void diCryptEntryFree(DiCryptEntry* e) {
    free(e->key);
    free(e->user);
    free(e->prot);
    free(e->raw);
    memset(e, 0, sizeof *e);
}

bool diCryptEntryHasKey(const DiCryptEntry* e, const DiChar* key) {
    if (e->raw || !e->key) return false;
    size_t n;
    uint8_t* want = utf16Bytes(key, &n);
    if (!want) return false;
    uint8_t got[DI_CRYPT_MAX_FIELD];
    int m = diCryptDecode(e->key, diAppStrLen(e->key), got, sizeof got);
    bool same = m >= 0 && size_t(m) == n && memcmp(got, want, n) == 0;
    free(want);
    return same;
}

void diCryptDeriveKey(const uint8_t* bytes, size_t len, int n, uint8_t key[8]) {
    uint8_t digest[SHA_DIGEST_LENGTH];
    SHA1(bytes, len > 8192 ? 8192 : len, digest);
    memset(key, 0, 8);
    if (n > 8) n = 8;
    for (int i = 0; i < n; ++i) key[i] = digest[2 * i];
}

void diCryptGetKeyMaterial(uint8_t value[20], uint8_t first[8], uint8_t second[8]) {
    uint8_t t1[23], t2[30];
    for (int i = 0; i < 23; ++i) t1[i] = kTable[kText1[i]];
    for (int i = 0; i < 30; ++i) t2[i] = kTable[kText2[i]];
    diCryptDeriveKey(t1, kFirstHalf, 7, first);
    diCryptDeriveKey(t1 + kFirstHalf, 23 - kFirstHalf, 8, second);
    DES_key_schedule ks;
    desKey(second, &ks);
    for (int b = 0; b + 8 <= 30; b += 8) {
        DES_cblock in, out;
        memcpy(in, t2 + b, 8);
        DES_ecb_encrypt(&in, &out, &ks, DES_DECRYPT);
        memcpy(t2 + b, out, 8);
    }
    SHA1(t2, 30, value);
    memset(t1, 0, sizeof t1);
    memset(t2, 0, sizeof t2);
}

int diCryptProtectPassword(const DiChar* password, const DiChar* keyText, const uint8_t value[20],
                           const uint8_t first[8], uint8_t out[16]) {
    char* utf8 = diTextToUtf8Dup(password ? password : u"", diAppStrLen(password));
    if (!utf8) return -2;
    size_t n = strlen(utf8);
    if (n > DI_CRYPT_PROTECTED) {
        memset(utf8, 0, n);
        free(utf8);
        return -1;
    }
    uint8_t block[16];
    memcpy(block, utf8, n);
    if (n < 16) block[n] = 0;
    if (n < 15) {
        uint8_t digest[SHA_DIGEST_LENGTH];
        SHA1(reinterpret_cast<const uint8_t*>(utf8), n + 1, digest);
        memcpy(block + n + 1, digest, 16 - n - 1);
    }
    memset(utf8, 0, n);
    free(utf8);
    DES_key_schedule ks[3];
    passwordKeys(keyText, value, first, ks);
    ede3(block, out, ks, DES_ENCRYPT);
    memset(block, 0, sizeof block);
    return 0;
}

DiChar* diCryptUnprotectPassword(const uint8_t in[16], const DiChar* keyText,
                                 const uint8_t value[20], const uint8_t first[8]) {
    DES_key_schedule ks[3];
    passwordKeys(keyText, value, first, ks);
    uint8_t block[17];
    ede3(in, block, ks, DES_DECRYPT);
    block[16] = 0;
    size_t n = 0;
    while (n < 16 && block[n]) ++n;
    bool ok = true;
    if (n < 15) {
        uint8_t digest[SHA_DIGEST_LENGTH];
        SHA1(block, n + 1, digest);
        ok = memcmp(block + n + 1, digest, 16 - n - 1) == 0;
    }
    /* A full block has no fill to check: it must at least be UTF-8 without
     * control characters, which a block decrypted with other keys almost
     * never is. */
    if (ok && n == 16) ok = plausibleUtf8(block, n);
    DiChar* text = nullptr;
    if (ok)
        text = diTextFromUtf8Dup(reinterpret_cast<const char*>(block), n);
    memset(block, 0, sizeof block);
    return text;
}

namespace {

struct CacheList {
    DiCryptEntry e[DI_CRYPT_MAX_ENTRIES] = {};
    int count = 0;
    void read() {
        DiChar* items[DI_CRYPT_MAX_ENTRIES] = {};
        count = ddCryptReadCache(items, DI_CRYPT_MAX_ENTRIES);
        if (count < 0) count = 0;
        if (count > DI_CRYPT_MAX_ENTRIES) count = DI_CRYPT_MAX_ENTRIES;
        for (int i = 0; i < count; ++i) {
            diCryptSplitEntry(items[i], &e[i]);
            free(items[i]);
        }
    }
    bool write(bool retry) {
        DiChar* items[DI_CRYPT_MAX_ENTRIES] = {};
        int n = 0;
        for (int i = 0; i < count; ++i)
            if ((items[n] = diCryptFormatEntry(&e[i]))) ++n;
        bool written = ddCryptWriteCache(items, n, retry);
        for (int i = 0; i < n; ++i) free(items[i]);
        return written;
    }
    ~CacheList() {
        for (int i = 0; i < count; ++i) diCryptEntryFree(&e[i]);
    }
};

} // namespace

int diCryptStorePassword(const DiChar* key, const DiChar* user, const uint8_t* prot, size_t len) {
    if (!key || (len != 0 && len != DI_CRYPT_PROTECTED)) return 0;
    bool forget = len == 0 && (!user || !user[0]);
    CacheList list;
    list.read();
    int slot = -1;
    for (int i = 0; i < list.count && slot < 0; ++i)
        if (diCryptEntryHasKey(&list.e[i], key)) slot = i;
    /* No entry holds the key: there is nothing to forget. An entry made for
     * the forget would wait, after a failed save, for the next one, which
     * writes the list by position: over whatever another copy of the client
     * stored in that place meanwhile. */
    if (slot < 0 && forget) return 1;
    if (slot < 0 && list.count < DI_CRYPT_MAX_ENTRIES) slot = list.count++;
    /* A full list gives up the first forgotten entry (no user, no password). */
    for (int i = 0; i < list.count && slot < 0; ++i)
        if (!list.e[i].raw && list.e[i].user && !list.e[i].user[0] && list.e[i].prot &&
            !list.e[i].prot[0])
            slot = i;
    if (slot < 0) return 0;
    size_t kn, un;
    uint8_t* kb = utf16Bytes(key, &kn);
    uint8_t* ub = utf16Bytes(user ? user : u"", &un);
    DiCryptEntry fresh = {};
    fresh.key = kb ? diCryptEncode(kb, kn) : nullptr;
    fresh.user = ub ? diCryptEncode(ub, un) : nullptr;
    fresh.prot = diCryptEncode(prot, len);
    free(kb);
    free(ub);
    if (!fresh.key || !fresh.user || !fresh.prot) {
        diCryptEntryFree(&fresh);
        if (slot == list.count - 1 && !list.e[slot].key && !list.e[slot].raw) list.count--;
        return 0;
    }
    diCryptEntryFree(&list.e[slot]);
    list.e[slot] = fresh;
    /* A password that did not reach the disk is not remembered, and a
     * forget that did not is no forget: the caller must hear of both. A
     * forget is still made by the next save (the password must not outlive
     * it); a password is left to none. */
    return list.write(forget) ? 1 : 0;
}

int diCryptLookupPassword(const DiChar* key, DiChar** user, uint8_t prot[16]) {
    if (!key) return 0;
    CacheList list;
    list.read();
    for (int i = 0; i < list.count; ++i) {
        DiCryptEntry* e = &list.e[i];
        if (!diCryptEntryHasKey(e, key)) continue;
        uint8_t p[DI_CRYPT_PROTECTED];
        if (diCryptDecode(e->prot, diAppStrLen(e->prot), p, sizeof p) != DI_CRYPT_PROTECTED) return 0;
        uint8_t ub[DI_CRYPT_MAX_FIELD];
        int un = diCryptDecode(e->user, diAppStrLen(e->user), ub, sizeof ub);
        if (un < 0 || un % 2) return 0;
        DiChar* u = static_cast<DiChar*>(malloc((size_t(un) / 2 + 1) * sizeof(DiChar)));
        if (!u) return 0;
        for (int k = 0; k < un / 2; ++k) u[k] = DiChar(ub[2 * k] | ub[2 * k + 1] << 8);
        u[un / 2] = 0;
        *user = u;
        memcpy(prot, p, DI_CRYPT_PROTECTED);
        return 1;
    }
    return 0;
}

int diCryptStoreCredentials(const DiChar* key, const DiChar* user, const DiChar* password) {
    uint8_t value[20], first[8], second[8], prot[16];
    diCryptGetKeyMaterial(value, first, second);
    int refused = diCryptProtectPassword(password, key, value, first, prot);
    if (refused != 0) {
        /* The user asked for this password to be remembered: the key's old
         * one must not be sent in its place at the next sign-in. */
        diCryptStorePassword(key, u"", nullptr, 0);
        if (refused != DI_CRYPT_TOO_LONG) return 0;
        diLogErrorText(u"Password cache: the password was not remembered: it is longer than 16 "
                       u"bytes, and a password cut to fit would be a wrong one");
        return DI_CRYPT_TOO_LONG;
    }
    return diCryptStorePassword(key, user, prot, sizeof prot);
}

int diCryptLookupCredentials(const DiChar* key, DiChar** user, DiChar** password) {
    uint8_t prot[16];
    DiChar* u = nullptr;
    if (!diCryptLookupPassword(key, &u, prot)) return 0;
    uint8_t value[20], first[8], second[8];
    diCryptGetKeyMaterial(value, first, second);
    DiChar* p = diCryptUnprotectPassword(prot, key, value, first);
    if (!p) {
        free(u);
        return 0;
    }
    *user = u;
    *password = p;
    return 1;
}

bool diCryptLookupCachedLogin(const DiChar* key, DiChar** user, DiChar** password) {
    return diCryptLookupCredentials(key, user, password) != 0;
}

bool diCryptStoreCachedLogin(const DiChar* key, const DiChar* user, const DiChar* password) {
    return diCryptStoreCredentials(key, user, password) == 1;
}
