/* The values of the properties the server sets on an X display: integer
 * lists, URLs to open, the launch line of a new instance, the plug-in
 * command's tokens, and the plug-in library registry that the Windows side
 * drives through a loader of its own. */
#ifndef HV_DIXPROP_H
#define HV_DIXPROP_H

#include "xde/dixde.h"

#include <string>
#include <vector>

typedef std::u16string DiXText;

/* Services of the session layer. The base-URL override of the launch that
 * owns the display object, or none (the text stays the launch's). */
const DiChar* diSOGetLaunchBaseUrl(DiObject* display);
/* Asks a connected local helper to open the URL: non-zero when one took
 * it, 0 when none is connected (the caller opens it itself). */
int diSOOpenUrl(const DiChar* url);

/* Exactly `count` decimal integers separated by commas (blanks allowed
 * before each), every one within [lo, hi]; all are stored, or none and
 * false. Values above INT32_MAX (lo..hi up to UINT32_MAX) are stored as
 * their u32 bit patterns. */
bool diXPropParseInts(const DiChar* text, uint32_t length, int64_t lo, int64_t hi,
                      int32_t* out, int count);

/* The URL that "mrkqvlloadurl" opens for `value` against `base`: the
 * value's path after the base cut back to its folder. False when the value
 * is not "scheme://host/path", there is no base, or the result holds
 * characters a browser command line must not see. */
bool diXPropJoinUrl(const DiXText& base, const DiXText& value, DiXText* url);

/* Texts that go onto a command line or to the browser: no '"', no control
 * characters, and with noBlank no white space either. */
bool diXPropSafeText(const DiXText& text, bool noBlank);

/* The command line of a new instance from "QVL_LAUNCHPROP"'s four
 * NUL-separated texts (URL, object name, user, scrambled password). False,
 * with the reason, when there are fewer than four texts, the URL is empty
 * or holds white space, any text holds '"' or a control character, or the
 * line would not fit the 1024-character buffer. */
bool diXPropLaunchLine(const DiXText& value, DiXText* line, const char** why);

/* The plug-in command's tokens: split at single blanks (a blank at the end
 * adds nothing), '+' a blank, "%hh" the byte hh widened to one character;
 * any other '%' stands as it is. */
std::vector<DiXText> diXPropTokens(const DiXText& value);

/* Plug-in libraries. The Windows side supplies the loader; modules and
 * functions are opaque to the registry. */
struct DiXPluginLoader {
    /* The library's module, or none (the loader logs why). */
    void* (*load)(const DiChar* file);
    /* An exported function by its undecorated name, or none. */
    void* (*symbol)(void* module, const char* name);
    void (*unload)(void* module);
    /* Calls of qvlDLLInitialize / qvlDLLTerminate and qvlDLLCall. */
    int32_t (*call1)(void* fn, const DiChar* instance);
    int32_t (*call3)(void* fn, const DiChar* instance, uint32_t argc, const DiChar* const* argv);
};

enum : uint32_t { DI_XPLUGIN_NAMES = 256 };

/* One loaded library: a doubly linked global list in load order. */
struct DdXPlugin {
    DdXPlugin* next;
    DdXPlugin* prev;
    int32_t count; /* used name slots */
    DiChar* file;
    void* module;
    DiChar* names[DI_XPLUGIN_NAMES];
};

/* Each returns the result the server gets: 0 success, 1 failure (logged),
 * or for a call the library's own value. */
int32_t diXPluginInitialize(const DiXPluginLoader* loader, const DiChar* instance,
                            const DiChar* file);
int32_t diXPluginTerminate(const DiXPluginLoader* loader, const DiChar* instance);
int32_t diXPluginCall(const DiXPluginLoader* loader, const DiChar* instance, uint32_t argc,
                      const DiChar* const* argv);
/* The first record of the list (tests). */
const DdXPlugin* diXPluginFirst();

/* How a library file name may be loaded: 0 refused (UNC and device names,
 * names relative to a folder or drive, "." or ".." steps, stream names,
 * reserved device names, wildcard or control characters), 1 a bare file name (searched in
 * the program's and the system's folders only), 2 an absolute local path. */
int diXPluginNameKind(const DiChar* file);

/* What a drive letter's device target (as the system's DOS-device query
 * gives it) says of files on that drive: 1 the network (a UNC path or a
 * network redirector, or a link target of a form not known), 2 a folder of
 * another drive, whose letter is left in `drive` and which must be looked
 * at in turn, 0 a device (whose drive type tells the rest). */
int diXPluginDriveTarget(const DiChar* target, DiChar* drive);

#endif
