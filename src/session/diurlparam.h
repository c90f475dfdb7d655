/* Query parameters added to URLs the client opens in the browser. */
#ifndef HV_DIURLPARAM_H
#define HV_DIURLPARAM_H

#include "di.h"

/* Sets name=value in the query of url (capacity characters with the end):
 * an existing "?name=", "&name=" or "&amp;name=" has its value up to the
 * next "&" replaced, else "?" or "&", the name, "=" and the value are
 * appended. The value is form-encoded: space as "+", and "&", "#", "%", "+",
 * control and non-ASCII characters (as UTF-8) percent-encoded. False, with
 * url unchanged, when the result does not fit. */
bool AddUrlParameter(const DiChar* name, const DiChar* value, DiChar* url, size_t capacity);

#endif
