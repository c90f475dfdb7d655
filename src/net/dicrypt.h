/* Password cache entry points that start-up uses: logins kept under the
 * launch URL, the password stored protected. */
#ifndef HV_DICRYPT_H
#define HV_DICRYPT_H

#include "di.h"

/* The cached user and recovered password for a key (malloc'ed); false when
 * no entry exists. */
bool diCryptLookupCachedLogin(const DiChar* key, DiChar** user, DiChar** password);
/* Stores (key, user, protected password); false when it was not stored. */
bool diCryptStoreCachedLogin(const DiChar* key, const DiChar* user, const DiChar* password);

#endif
