/* Start-menu and Startup shortcuts on the Windows shell. */
#include "session/ddstartmenu.h"

#include "core/ddapp.h"
#include "core/ddtrace.h"
#include "core/ddutil.h"
#include "core/diutil.h"
#include "net/dicertcache.h"
#include "resources/ddres.h"
#include "session/ddprofile.h"
#include "session/ddso.h"
#include "session/diximage.h"
#include "dd.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

/* The menus that use this process's session certificate file. */
int s_certsUsers = 0;

const wchar_t* W(const std::u16string& s) {
    return ddW(s.c_str());
}

std::string utf8(const std::u16string& s) {
    char* bytes = diTextToUtf8Dup(s.c_str(), s.size());
    std::string out = bytes ? bytes : "";
    free(bytes);
    return out;
}

std::u16string loadString(UINT id) {
    DiChar text[256];
    return ddResLoadString(id, text, 256) > 0 ? std::u16string(text) : std::u16string();
}

std::u16string specialFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return std::u16string();
    return ddD(path);
}

bool isDirectory(const std::u16string& path) {
    DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool makeFolder(const std::u16string& path) {
    return isDirectory(path) || CreateDirectoryW(W(path), nullptr);
}

/* Deletes what the folder holds. A linked folder (reparse point) inside is
 * removed as a link, never followed: emptying stays inside this folder. */
void emptyFolder(const std::u16string& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(W(folder + u"\\*"), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::u16string name = ddD(fd.cFileName);
        if (name == u"." || name == u"..") continue;
        std::u16string path = folder + u"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) emptyFolder(path);
            RemoveDirectoryW(W(path));
            SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, W(path), nullptr);
        } else {
            SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(W(path));
            SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, W(path), nullptr);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

/* Runs with the thread's resources in another language and puts the
 * earlier one back. */
struct LanguageScope {
    LCID before = GetThreadLocale();
    LANGID uiBefore = GetThreadUILanguage();
    bool changed = false;
    void Select(LCID lcid) {
        if (!lcid) return;
        changed = true;
        SetThreadLocale(lcid);
        ddResSelectLanguage(LANGIDFROMLCID(lcid));
    }
    ~LanguageScope() {
        if (!changed) return;
        SetThreadLocale(before);
        SetThreadUILanguage(uiBefore);
    }
};

} // namespace

std::u16string ddMenuProgramsFolder() {
    return specialFolder(CSIDL_PROGRAMS);
}

std::u16string ddMenuStartupFolder() {
    return specialFolder(CSIDL_STARTUP);
}

CWinStartMenu::CWinStartMenu() {
    HRESULT hr = CoInitialize(nullptr);
    m_comStarted = hr == S_OK || hr == S_FALSE;

    wchar_t store[MAX_PATH];
    if (!ddProfGetFolder(store, MAX_PATH)) return;
    std::u16string folder = ddD(store);
    size_t slash = folder.rfind(u'\\');
    if (slash == std::u16string::npos || !makeFolder(folder.substr(0, slash)) ||
        !makeFolder(folder))
        return;
    if (diMenuJoin(folder, u"icons", nullptr, &iconsFolder)) makeFolder(iconsFolder);
    /* One file per process, named by it: the first menu makes it (a file of
     * that name is left from an ended run), the last one deletes it. */
    std::u16string pem = ddD(ddProfSessionCertsPath(store).c_str());
    if (s_certsUsers == 0) {
        HANDLE f = CreateFileW(W(pem), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return;
        CloseHandle(f);
    }
    s_certsUsers++;
    certsFile = pem;
    diCertCacheSetSessionCertsFile(utf8(pem));
}

CWinStartMenu::~CWinStartMenu() {
    if (!certsFile.empty() && --s_certsUsers == 0) ddFileDelete(W(certsFile));
    if (m_comStarted) CoUninitialize();
}

bool CWinStartMenu::PrepareFolder(const DiChar* host) {
    std::u16string programs = ddMenuProgramsFolder(), brandText = loadString(1151), brand, hostName,
                   base, path;
    if (programs.empty()) return false;
    if (!diMenuCleanName(host, true, &hostName)) {
        Refused("host", host);
        return false;
    }
    if (!diMenuCleanName(brandText.c_str(), true, &brand) ||
        !diMenuJoin(programs, brand, nullptr, &base) || !diMenuJoin(base, hostName, nullptr, &path))
        return false;
    if (!makeFolder(base)) return false;
    if (isDirectory(path)) {
        emptyFolder(path);
        SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, W(path), nullptr);
    } else if (!CreateDirectoryW(W(path), nullptr)) {
        return false;
    }
    startMenuFolder = path;
    return true;
}

bool CWinStartMenu::Fill(const char* document, size_t length, const std::u16string& exePath,
                         const DiChar* profileKey) {
    DiMenuContext context{iconsFolder, exePath, profileKey ? profileKey : u""};
    return !startMenuFolder.empty() && diMenuWalk(document, length, startMenuFolder, context, this);
}

bool CWinStartMenu::AddFixedShortcuts(const std::u16string& exePath, const DiChar* profileKey,
                                      const DiChar* webtopUrl) {
    std::u16string target = u"\"" + exePath + u"\"";
    if (webtopUrl && *webtopUrl)
        CreateShortcut(loadString(1152).c_str(), target, diMenuItemArguments(profileKey, webtopUrl),
                       nullptr, startMenuFolder);
    return CreateShortcut(loadString(1150).c_str(), target,
                          diMenuItemArguments(profileKey, u"ic_logout"), nullptr, startMenuFolder);
}

bool CWinStartMenu::Refresh(bool integrated, const DiChar* host, const std::u16string& exePath,
                            const DdMenuProfile* profile) {
    if (!PrepareFolder(host)) return false;
    if (!integrated) {
        bool ok = RemoveDirectoryW(W(startMenuFolder));
        SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, W(startMenuFolder), nullptr);
        return ok;
    }
    if (!profile) return true;
    std::u16string name;
    {
        LanguageScope scope;
        if (!profile->language.empty()) scope.Select(ddAppLanguageLocale(W(profile->language)));
        name = loadString(1149);
    }
    return CreateShortcut(name.c_str(), exePath, profile->arguments, nullptr, startMenuFolder);
}

bool CWinStartMenu::UpdateStartup(const std::vector<DdMenuProfile>& profiles,
                                  const std::u16string& exePath) {
    std::u16string startup = ddMenuStartupFolder();
    if (startup.empty()) return false;
    for (const DdMenuProfile& p : profiles) {
        if (p.autostart) {
            CreateShortcut(p.name.c_str(), exePath, p.arguments, nullptr, startup);
            continue;
        }
        /* The name the shortcut was made under, so that it is found again. */
        std::u16string link;
        if (diMenuLinkPath(startup, p.name.c_str(), &link)) ddFileDelete(W(link));
    }
    return true;
}

bool CWinStartMenu::GetIconPaths(std::u16string* ico, std::u16string* gif, const DiChar* iconName) {
    return !iconsFolder.empty() && diMenuIconPaths(iconsFolder, iconName, ico, gif);
}

bool CWinStartMenu::ConvertGifToIco(const std::u16string& ico, const std::u16string& gif) {
    CxImage image(utf8(gif), CXIMAGE_FORMAT_GIF);
    if (!image.IsValid() || !image.Save(utf8(ico), CXIMAGE_FORMAT_ICO)) return false;
    ddFileDelete(W(gif));
    return true;
}

bool CWinStartMenu::CreateShortcut(const DiChar* name, const std::u16string& target,
                                   const std::u16string& arguments, const DiChar* iconName,
                                   const std::u16string& folder) {
    DiMenuShortcut s;
    if (!name || !*name || target.empty() || !diMenuCleanName(name, false, &s.name) ||
        !diMenuJoin(folder, s.name, u".lnk", &s.path))
        return false;
    s.target = target;
    s.arguments = arguments;
    if (iconName && GetIconPaths(&s.icoPath, &s.gifPath, iconName)) s.iconName = iconName;
    return MakeShortcut(s);
}

void CWinStartMenu::MakeFolder(const std::u16string& path) {
    makeFolder(path);
}

bool CWinStartMenu::MakeShortcut(const DiMenuShortcut& s) {
    if (!s.iconName.empty() && !ddFileExists(W(s.icoPath)) && fetchIcon &&
        fetchIcon(s.gifPath, s.iconName))
        ConvertGifToIco(s.icoPath, s.gifPath);
    return WriteLink(s);
}

bool CWinStartMenu::WriteLink(const DiMenuShortcut& s) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    bool ok = false;
    /* S_FALSE (the target does not exist yet) is success. */
    if (SUCCEEDED(link->SetPath(W(s.target))) &&
        (s.arguments.empty() || SUCCEEDED(link->SetArguments(W(s.arguments)))) &&
        SUCCEEDED(link->SetDescription(W(s.name))) &&
        (s.iconName.empty() || SUCCEEDED(link->SetIconLocation(W(s.icoPath), 0)))) {
        /* Saved beside its place, then put there whole and on the disk like
         * the other saves: a cut write leaves the old shortcut. */
        std::wstring path = W(s.path);
        std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            char* bytes = nullptr;
            size_t length = 0;
            ok = SUCCEEDED(file->Save(temporary.c_str(), FALSE)) &&
                 diProfReadWholeFile(temporary.c_str(), &bytes, &length, false) &&
                 ddFileReplaceDurably(path.c_str(), std::string(bytes, length));
            free(bytes);
            if (!ok) DeleteFileW(temporary.c_str());
            file->Release();
        }
    }
    link->Release();
    return ok;
}

void CWinStartMenu::AddCookie(const DiChar* cookie) {
    if (addCookie) addCookie(cookie);
}

std::u16string CWinStartMenu::DocumentUrl(const DiChar* location) {
    return documentUrl ? documentUrl(location) : std::u16string(location);
}

void CWinStartMenu::Refused(const char* what, const DiChar* name) {
    std::u16string line = u"Start menu: refused " + std::u16string(what, what + strlen(what)) +
                          u" name \"" + (name ? name : u"") + u"\"\r\n";
    ddTraceLogWrite(line.c_str());
}
