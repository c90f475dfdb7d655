/* The Start-menu mirror of the webtop and the Startup shortcut on the
 * Windows shell: folders under the shell's Programs folder, shell links
 * that start this client again, icons converted from the web server's GIF
 * files, and the session certificate file. Every name and path is checked
 * by the portable walker's rules before the shell sees it. GUI thread only:
 * COM is initialised for the thread that makes the object. */
#ifndef HV_DDSTARTMENU_H
#define HV_DDSTARTMENU_H

#include "session/diintclient.h"
#include "session/diwebmenu.h"

#include <functional>
#include <string>
#include <vector>

/* One profile as the Login and Startup shortcuts see it. */
using DdMenuProfile = DiProfileEntry;

class CWinStartMenu : public IDiMenuSink {
  public:
    /* Initialises COM; makes the icons folder; chooses the session
     * certificate file beside it and hands it to the certificate cache. */
    CWinStartMenu();
    /* Deletes the session certificate file; ends COM when this object
     * began it. */
    ~CWinStartMenu() override;
    CWinStartMenu(const CWinStartMenu&) = delete;
    CWinStartMenu& operator=(const CWinStartMenu&) = delete;

    /* The client's bounded icon download (gif path, icon name). */
    std::function<bool(const std::u16string& gif, const std::u16string& iconName)> fetchIcon;
    /* The client's URL of an HTML document. */
    std::function<std::u16string(const DiChar* location)> documentUrl;
    /* A running application's session id for the settings file. */
    std::function<void(const DiChar* cookie)> addCookie;

    /* The host's folder below Programs\<brand>, emptied or created. False
     * (nothing touched) when the host is refused as a folder name or the
     * path is too long. */
    bool PrepareFolder(const DiChar* host);
    /* Walks the webtop document into the prepared folder. */
    bool Fill(const char* document, size_t length, const std::u16string& exePath,
              const DiChar* profileKey);
    /* The Webtop shortcut (only with a URL; result ignored) and the Logout
     * shortcut, whose result is returned. */
    bool AddFixedShortcuts(const std::u16string& exePath, const DiChar* profileKey,
                           const DiChar* webtopUrl);
    /* Not integrated: the host's folder is removed; integrated: it holds only
     * the Login shortcut of `profile` (none when `profile` is null). */
    bool Refresh(bool integrated, const DiChar* host, const std::u16string& exePath,
                 const DdMenuProfile* profile);
    /* Creates or deletes each profile's shortcut in the Startup folder. */
    bool UpdateStartup(const std::vector<DdMenuProfile>& profiles, const std::u16string& exePath);

    /* The one shortcut writer: false when the name is refused or the link
     * could not be saved. */
    bool CreateShortcut(const DiChar* name, const std::u16string& target,
                        const std::u16string& arguments, const DiChar* iconName,
                        const std::u16string& folder);
    bool GetIconPaths(std::u16string* ico, std::u16string* gif, const DiChar* iconName);
    /* Reads the GIF and writes the icon; the GIF is deleted on success. */
    static bool ConvertGifToIco(const std::u16string& ico, const std::u16string& gif);

    /* IDiMenuSink */
    void MakeFolder(const std::u16string& path) override;
    bool MakeShortcut(const DiMenuShortcut& s) override;
    void AddCookie(const DiChar* cookie) override;
    std::u16string DocumentUrl(const DiChar* location) override;
    /* Traced: the user sees only that the menu stopped. */
    void Refused(const char* what, const DiChar* name) override;

    std::u16string startMenuFolder;
    std::u16string iconsFolder;
    std::u16string certsFile;

  private:
    bool WriteLink(const DiMenuShortcut& s);
    bool m_comStarted = false;
};

/* The shell's Programs and Startup folders; empty when unknown. */
std::u16string ddMenuProgramsFolder();
std::u16string ddMenuStartupFolder();

#endif
