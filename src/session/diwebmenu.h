/* The Start-menu mirror of the webtop, without the shell: the webtop
 * document names folders, shortcuts and icons, and every one of those names
 * comes from the server. Names are cleaned to one harmless path component,
 * icon names must already be one, every path stays within what the shell
 * accepts, and every value reaches the started client's command line quoted
 * so that it reads back as exactly one argument. A sink does the work. */
#ifndef HV_DIWEBMENU_H
#define HV_DIWEBMENU_H

#include "di.h"

#include <string>

/* Longest path (characters, without the terminator) a menu file may have. */
#define DI_MENU_MAX_PATH 259

/* Cleans a name that becomes one component of a path: the nine characters
 * \ / : * ? " < > | and control characters become "!"; a folder name loses
 * trailing dots and spaces, as the file system would. False (and `out`
 * empty) for an empty result or a device name (diIsDeviceName). */
bool diMenuCleanName(const DiChar* name, bool folder, std::u16string* out);

/* folder + "\" + component + suffix when the result stays within
 * DI_MENU_MAX_PATH; false otherwise. */
bool diMenuJoin(const std::u16string& folder, const std::u16string& component,
                const char16_t* suffix, std::u16string* out);

/* The cleaned-name shortcut file "folder\name.lnk"; false when the name is
 * refused or the path is too long. */
bool diMenuLinkPath(const std::u16string& folder, const DiChar* name, std::u16string* out);

/* The GIF and icon files of an icon name inside `iconsFolder`: the icon
 * file replaces the first ".gif" and all after it by ".ico". The name must
 * be one plain component (no \ / :, no control character, not "." or "..",
 * no device name) holding ".gif", and both paths must fit; otherwise false:
 * no icon. */
bool diMenuIconPaths(const std::u16string& iconsFolder, const DiChar* iconName, std::u16string* ico,
                     std::u16string* gif);

/* Appends `value` enclosed in double quotes so that the command-line
 * splitter gives it back byte for byte as one argument. */
void diMenuQuote(std::u16string* out, const DiChar* value);

/* "-profile" and the quoted profile key (host:user:name): the arguments of
 * the Login and Startup shortcuts. */
std::u16string diMenuProfileArguments(const DiChar* profileKey);

/* The arguments of a webtop shortcut: " -profile "key" -application "value"". */
std::u16string diMenuItemArguments(const DiChar* profileKey, const DiChar* value);

/* One shortcut to write: all paths already checked. */
struct DiMenuShortcut {
    std::u16string name;      /* cleaned; also the description */
    std::u16string path;      /* folder\name.lnk */
    std::u16string target;    /* the executable, quoted */
    std::u16string arguments; /* item arguments */
    std::u16string iconName;  /* empty: no icon */
    std::u16string icoPath, gifPath;
};

class IDiMenuSink {
  public:
    virtual ~IDiMenuSink() {}
    /* Creates a folder when missing; a failure is not fatal. */
    virtual void MakeFolder(const std::u16string& path) = 0;
    /* Writes one shortcut; false stops the walk. */
    virtual bool MakeShortcut(const DiMenuShortcut& shortcut) = 0;
    /* A running application's session id. */
    virtual void AddCookie(const DiChar* cookie) = 0;
    /* The URL an HTML document's location opens. */
    virtual std::u16string DocumentUrl(const DiChar* location) = 0;
    /* A shortcut or group name that cannot name a file here ("shortcut" or
     * "group"); the walk then fails. */
    virtual void Refused(const char* what, const DiChar* name) = 0;
};

struct DiMenuContext {
    std::u16string iconsFolder;
    std::u16string exePath;
    std::u16string profileKey; /* host:user:profile */
};

/* Walks the webtop document (8-bit XML text) into `folder`: running items
 * become cookies, other items shortcuts, groups sub-folders. False for an
 * empty or unparsable text and for the first item or group that fails. */
bool diMenuWalk(const char* text, size_t length, const std::u16string& folder,
                const DiMenuContext& context, IDiMenuSink* sink);

#endif
