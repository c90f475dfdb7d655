/* The password cache: the numbered settings list "CachePass List", one entry
 * "key:user:protected\n" per credential, each field in the system's own
 * Base64-style encoding. The password is kept under triple DES with keys
 * built into the program: this is obfuscation of the stored text, not
 * protection against anyone who can run the program. The stored format is
 * what matters; it must stay readable between versions. */
#ifndef HV_DICRYPT_H
#define HV_DICRYPT_H

#include "di.h"

enum : int {
    DI_CRYPT_MAX_ENTRIES = 32,
    DI_CRYPT_PROTECTED = 16,  /* bytes of a protected password */
    DI_CRYPT_MAX_FIELD = 4096, /* decoded bytes of one field, longer is malformed */
    DI_CRYPT_TOO_LONG = -1     /* a store refused: the password does not fit */
};

/* Field encoding. Encode: a new NUL-terminated text (4 characters per 3
 * bytes, '=' fill). Decode: bytes written (at most max), -1 when the text is
 * not a well-formed encoding or does not fit. */
DiChar* diCryptEncode(const uint8_t* bytes, size_t n);
int diCryptDecode(const DiChar* text, size_t len, uint8_t* out, size_t max);

/* One entry of the list. A malformed item keeps only its raw text so that
 * writing the list back preserves it. Fields are encoded texts. */
struct DiCryptEntry {
    DiChar* key;
    DiChar* user;
    DiChar* prot;
    DiChar* raw; /* the item as read, when it is malformed */
};

/* Splits one stored item at ':' (empty fields kept, "k::" has three) up to
 * the line feed. 1 when it has exactly three fields, else 0 (raw kept). */
int diCryptSplitEntry(const DiChar* item, DiCryptEntry* out);
/* "%s:%s:%s\n", or the raw text of a malformed entry. */
DiChar* diCryptFormatEntry(const DiCryptEntry* e);
void diCryptEntryFree(DiCryptEntry* e);
/* The decoded key compared with key; false for malformed entries. */
bool diCryptEntryHasKey(const DiCryptEntry* e, const DiChar* key);

/* Key material built at run time from internal tables (never stored whole):
 * the 20-byte value, the first key (8 bytes) and the second key. */
void diCryptGetKeyMaterial(uint8_t value[20], uint8_t first[8], uint8_t second[8]);
/* SHA-1 of the bytes (at most 8192 taken), the even-position digest bytes,
 * the first n (at most 8) of them, then zeros: an 8-byte DES key. */
void diCryptDeriveKey(const uint8_t* bytes, size_t len, int n, uint8_t key[8]);

/* 0 with the 16 protected bytes, DI_CRYPT_TOO_LONG when the password does
 * not fit (more than 16 UTF-8 bytes: it would be cut, perhaps mid-character,
 * and sent wrong), -2 without memory. */
int diCryptProtectPassword(const DiChar* password, const DiChar* keyText, const uint8_t value[20],
                           const uint8_t first[8], uint8_t out[16]);
/* The password as a new text, or none when the block does not check out (no
 * terminating zero where the fill begins, or a fill that is not the digest). */
DiChar* diCryptUnprotectPassword(const uint8_t in[16], const DiChar* keyText,
                                 const uint8_t value[20], const uint8_t first[8]);

/* Store: replaces the user and protected password of the entry with the key,
 * else appends, else (list full) reuses a forgotten entry (empty user and
 * password), else stores nothing. A null protected pointer with length 0
 * stores an empty password; with an empty user too it is a forget, which
 * changes nothing when no entry holds the key. 1 when stored (or nothing
 * was there to forget), 0 also when the list was not written. */
int diCryptStorePassword(const DiChar* key, const DiChar* user, const uint8_t* prot, size_t len);
/* 1 with the decoded user (new text) and the 16 protected bytes of the first
 * entry with the key; 0 when there is none or it has no protected password. */
int diCryptLookupPassword(const DiChar* key, DiChar** user, uint8_t prot[16]);

/* Whole credentials under a key: protect/unprotect with the key as key text.
 * Store: 1 when stored, 0 when not written; DI_CRYPT_TOO_LONG (logged) when
 * the password cannot be kept. A password not kept forgets the key's entry. */
int diCryptStoreCredentials(const DiChar* key, const DiChar* user, const DiChar* password);
int diCryptLookupCredentials(const DiChar* key, DiChar** user, DiChar** password);

/* Start-up's password-cache modes: logins kept under the launch URL. */
bool diCryptLookupCachedLogin(const DiChar* key, DiChar** user, DiChar** password);
bool diCryptStoreCachedLogin(const DiChar* key, const DiChar* user, const DiChar* password);

/* The settings list (Windows layer; faked by the host tests). Read: up to
 * max malloc'ed item texts, their count. Write: the items in order; false
 * when they did not reach the file. A list that did not is written by the
 * next save with retry (a forget), and left to no later save without it. */
int ddCryptReadCache(DiChar** items, int max);
/* Tells the user (a message box over owner, or none) why the password just
 * given with "remember" was not remembered: DI_CRYPT_TOO_LONG, else it did
 * not reach the settings. */
void ddDlgPasswordNotRemembered(DiObject* owner, int reason);
bool ddCryptWriteCache(DiChar** items, int count, bool retry);

#endif
