// The Start-menu folder and Startup shortcuts as the shell writes and reads
// them back, and what hostile hosts, groups and icon names from the server
// may touch: nothing outside the host's and the icons folders.
#include <gtest/gtest.h>

#include "session/ddintclient.h"
#include "session/ddstartmenu.h"
#include "session/diintclient.h"
#include "session/gif_encoder.h"
#include "session/webmenu_check.h"
#include "support/mem_profile_store.h"
#include "support/wintemp.h"

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <map>
#include <string>

namespace {

std::wstring W(const std::u16string& s) {
    return std::wstring(s.begin(), s.end());
}
std::u16string U(const std::wstring& s) {
    return std::u16string(s.begin(), s.end());
}

struct Link {
    std::wstring path, arguments, icon, description;
    int iconIndex = -1;
};

bool loadLink(const std::u16string& file, Link* out) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* pf = nullptr;
    bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf))) &&
              SUCCEEDED(pf->Load(W(file).c_str(), STGM_READ));
    wchar_t buf[1024];
    if (ok && SUCCEEDED(link->GetPath(buf, 1024, nullptr, SLGP_RAWPATH))) out->path = buf;
    if (ok && SUCCEEDED(link->GetArguments(buf, 1024))) out->arguments = buf;
    if (ok && SUCCEEDED(link->GetDescription(buf, 1024))) out->description = buf;
    if (ok && SUCCEEDED(link->GetIconLocation(buf, 1024, &out->iconIndex))) out->icon = buf;
    if (pf) pf->Release();
    link->Release();
    return ok;
}

std::string gifBytes() {
    GifTestFile file;
    file.width = 2;
    file.height = 2;
    file.global = {0x0000FF, 0xFF0000};
    GifTestFrame f;
    f.width = 2;
    f.height = 2;
    f.pixels = {0, 1, 1, 0};
    f.trans = 1;
    file.frames.push_back(f);
    return gifEncode(file);
}

// Every fetch is recorded; the GIF is written where asked.
struct Fetcher {
    std::vector<std::u16string> gifs;
    bool operator()(const std::u16string& gif, const std::u16string&) {
        gifs.push_back(gif);
        return writeFileBytes(W(gif), gifBytes());
    }
};

std::u16string host() {
    return u"hvtest" + U(std::to_wstring(GetCurrentProcessId()));
}

const char kDocument[] = R"(<webtop>
 <obj name="webtopitem"><attr name="cn">a:b/c</attr><attr name="mrkqvlwebtopobjectname">x" -loginurl "http://elsewhere\</attr><attr name="mrkqvlicon">hvtest.gif</attr></obj>
 <obj name="webtopitem"><attr name="cn">Second</attr><attr name="mrkqvlwebtopobjectname">two</attr><attr name="mrkqvlicon">hvtest.gif</attr></obj>
 <obj name="webtopitem"><attr name="cn">Running</attr><attr name="mrkqvlsessionid">S1</attr></obj>
 <obj name="webtopgroup" groupname="Tools. "><obj name="webtopitem"><attr name="cn">Calc</attr><attr name="mrkqvlwebtopobjectname">calc</attr></obj></obj>
</webtop>)";

TEST(StartMenuLinks, EachShortcutLoadsBackAsWritten) {
    CWinStartMenu menu;
    ASSERT_FALSE(menu.iconsFolder.empty());
    Fetcher fetch;
    menu.fetchIcon = [&](const std::u16string& g, const std::u16string& n) { return fetch(g, n); };
    std::vector<std::u16string> cookies;
    menu.addCookie = [&](const DiChar* c) { cookies.push_back(c); };
    std::u16string ico = menu.iconsFolder + u"\\hvtest.ico";
    DeleteFileW(W(ico).c_str());

    ASSERT_TRUE(menu.PrepareFolder(host().c_str()));
    const std::u16string exe = u"C:\\hv\\hv.exe";
    ASSERT_TRUE(menu.Fill(kDocument, sizeof kDocument - 1, exe, u"web:me:p"));
    ASSERT_TRUE(menu.AddFixedShortcuts(exe, u"web:me:p", u"http://web/hvn/"));
    EXPECT_EQ(cookies, std::vector<std::u16string>{u"S1"});
    // One icon, fetched once, converted, its GIF gone.
    EXPECT_EQ(fetch.gifs, std::vector<std::u16string>{menu.iconsFolder + u"\\hvtest.gif"});
    EXPECT_TRUE(GetFileAttributesW(W(ico).c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(W(fetch.gifs.at(0)).c_str()), INVALID_FILE_ATTRIBUTES);

    struct Row {
        const char16_t* file;
        const char16_t* value;
        bool icon;
        const char16_t* description;
    } rows[] = {
        {u"a!b!c.lnk", u"x\" -loginurl \"http://elsewhere\\", true, u"a!b!c"},
        {u"Second.lnk", u"two", true, u"Second"},
        {u"Tools\\Calc.lnk", u"calc", false, u"Calc"},
        {u"Webtop.lnk", u"http://web/hvn/", false, u"Webtop"},
        {u"Logout.lnk", u"ic_logout", false, u"Logout"},
    };
    for (const Row& r : rows) {
        Link link;
        ASSERT_TRUE(loadLink(menu.startMenuFolder + u"\\" + r.file, &link)) << W(r.file).c_str();
        EXPECT_EQ(link.path, W(exe));
        EXPECT_EQ(link.arguments, W(diMenuItemArguments(u"web:me:p", r.value)));
        std::vector<std::u16string> args = splitCommandLine(u"x" + U(link.arguments));
        ASSERT_EQ(args.size(), 5u);
        EXPECT_EQ(args[4], r.value);
        EXPECT_EQ(link.description, W(r.description));
        EXPECT_EQ(link.icon, r.icon ? W(ico) : L"");
    }

    // Not integrated: the host's folder goes; integrated: only Login stays,
    // named in the profile's language, and the thread's language comes back.
    ASSERT_TRUE(menu.Refresh(false, host().c_str(), exe, nullptr));
    EXPECT_EQ(GetFileAttributesW(W(menu.startMenuFolder).c_str()), INVALID_FILE_ATTRIBUTES);
    struct Lang {
        const char16_t* language;
        const char16_t* file;
    } langs[] = {{u"", u"Login.lnk"}, {u"zh_TW", u"\u767b\u5165.lnk"}, {u"fr", u"Connexion.lnk"}};
    for (const Lang& l : langs) {
        LCID before = GetThreadLocale();
        DdMenuProfile p;
        p.name = u"web";
        p.arguments = diMenuProfileArguments(u"web:me:p");
        p.language = l.language;
        ASSERT_TRUE(menu.Refresh(true, host().c_str(), exe, &p));
        EXPECT_EQ(GetThreadLocale(), before);
        Link link;
        ASSERT_TRUE(loadLink(menu.startMenuFolder + u"\\" + l.file, &link)) << W(l.file).c_str();
        EXPECT_EQ(link.path, W(exe));
        EXPECT_EQ(link.arguments, L"-profile \"web:me:p\"");
        std::vector<std::u16string> left;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(W(menu.startMenuFolder + u"\\*.lnk").c_str(), &fd);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd))
            left.push_back(U(fd.cFileName));
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
        EXPECT_EQ(left.size(), 1u);
    }
    menu.Refresh(false, host().c_str(), exe, nullptr);
    DeleteFileW(W(ico).c_str());
}

TEST(StartMenuLinks, StartupShortcutFollowsAutostartUnderItsCleanedName) {
    CWinStartMenu menu;
    std::u16string startup = ddMenuStartupFolder();
    ASSERT_FALSE(startup.empty());
    DdMenuProfile p;
    p.name = u"fe80::" + host();
    p.arguments = diMenuProfileArguments(u"[fe80::1]:me:p");
    p.autostart = true;
    const std::u16string link = startup + u"\\fe80!!" + host() + u".lnk";
    ASSERT_TRUE(menu.UpdateStartup({p}, u"C:\\hv\\hv.exe"));
    Link back;
    ASSERT_TRUE(loadLink(link, &back));
    EXPECT_EQ(back.arguments, W(p.arguments));
    p.autostart = false;
    ASSERT_TRUE(menu.UpdateStartup({p}, u"C:\\hv\\hv.exe"));
    EXPECT_EQ(GetFileAttributesW(W(link).c_str()), INVALID_FILE_ATTRIBUTES);
}

// Sentinels beside and above every folder the menu writes: a hostile host,
// group or icon name must leave them all.
TEST(StartMenuHostile, NothingOutsideTheHostAndIconsFoldersChanges) {
    CWinStartMenu menu;
    Fetcher fetch;
    menu.fetchIcon = [&](const std::u16string& g, const std::u16string& n) { return fetch(g, n); };
    std::u16string programs = ddMenuProgramsFolder(), startup = ddMenuStartupFolder();
    size_t cut = menu.iconsFolder.rfind(u'\\');
    ASSERT_NE(cut, std::u16string::npos);
    std::u16string above = menu.iconsFolder.substr(0, cut);
    std::u16string brand = programs + u"\\Vek Halvanet";
    CreateDirectoryW(W(brand).c_str(), nullptr);
    std::vector<std::u16string> sentinels = {
        programs + u"\\hvsentinel.txt", startup + u"\\hvsentinel.txt", above + u"\\hvsentinel.txt",
        brand + u"\\hvsentinel.txt", above + u"\\a.doc"};
    for (const auto& s : sentinels)
        ASSERT_TRUE(writeFileBytes(W(s), "keep"));

    const char16_t* hosts[] = {u"..", u"", u".", u"CON", u"nul.example", u" . "};
    for (const char16_t* h : hosts) {
        EXPECT_FALSE(menu.PrepareFolder(h)) << W(h).c_str();
        EXPECT_FALSE(menu.Refresh(false, h, u"hv.exe", nullptr));
    }
    // A host with separators stays one folder below the brand folder.
    ASSERT_TRUE(menu.PrepareFolder((u"x\\..\\" + host()).c_str()));
    EXPECT_EQ(menu.startMenuFolder, brand + u"\\x!..!" + host());
    const char doc[] = R"(<w>
 <obj name="webtopitem"><attr name="cn">i</attr><attr name="mrkqvlicon">x.gif\..\..\a.doc</attr></obj>
 <obj name="webtopitem"><attr name="cn">j</attr><attr name="mrkqvlicon">../../a.gif</attr></obj>
 <obj name="webtopitem"><attr name="cn">..\..\..\hvsentinel.txt</attr></obj>
 <obj name="webtopgroup" groupname=".."><obj name="webtopitem"><attr name="cn">k</attr></obj></obj>
</w>)";
    EXPECT_FALSE(menu.Fill(doc, sizeof doc - 1, u"hv.exe", u"h:u:p"));
    EXPECT_TRUE(fetch.gifs.empty());
    for (const auto& s : sentinels)
        EXPECT_EQ(readFileBytes(W(s)), "keep") << W(s).c_str();
    menu.Refresh(false, (u"x\\..\\" + host()).c_str(), u"hv.exe", nullptr);
    for (const auto& s : sentinels)
        DeleteFileW(W(s).c_str());
}

// The client the outpost makes: after the webtop is read the host's folder
// mirrors it, autostart makes the Startup shortcut, and at exit only Login
// is left.
TEST(StartMenuClient, WebtopStartupAndExitThroughTheIntegratedClient) {
    CMemProfileStore store;
    store.Load(nullptr);
    const std::u16string h = host();
    std::u16string profile = u"<profile name=\"Default\"><url>http://" + h +
                             u":8080/hvn/</url><mode>integrated</mode>"
                             u"<autostart>true</autostart></profile>";
    store.SaveLogin(h.c_str(), u"ann", u"tok", nullptr, 0, nullptr, profile.c_str(), nullptr);
    ASSERT_TRUE(store.current && store.current->profileElement);

    CIntegratedClient* client = ddIntClientCreate(nullptr);
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->SetServer((u"http://" + h + u":8080/hvn/").c_str()));
    ASSERT_TRUE(client->BuildStartMenu(kDocument));
    const std::u16string folder = ddMenuProgramsFolder() + u"\\Vek Halvanet\\" + h;
    const std::u16string key = h + u":ann:Default";
    Link link;
    for (const char16_t* f : {u"\\a!b!c.lnk", u"\\Tools\\Calc.lnk", u"\\Logout.lnk"})
        EXPECT_TRUE(loadLink(folder + f, &link)) << W(f).c_str();
    ASSERT_TRUE(loadLink(folder + u"\\Webtop.lnk", &link));
    EXPECT_EQ(link.arguments,
              W(diMenuItemArguments(key.c_str(), (u"http://" + h + u":8080/hvn/").c_str())));

    const std::u16string startup = ddMenuStartupFolder() + u"\\" + h + u".lnk";
    client->ReadProfileSettings();
    ASSERT_TRUE(loadLink(startup, &link));
    EXPECT_EQ(link.arguments, W(diMenuProfileArguments(key.c_str())));

    delete client;
    std::vector<std::u16string> left;
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW(W(folder + u"\\*").c_str(), &fd);
    for (bool more = f != INVALID_HANDLE_VALUE; more; more = FindNextFileW(f, &fd))
        if (fd.cFileName[0] != L'.') left.push_back(U(fd.cFileName));
    if (f != INVALID_HANDLE_VALUE) FindClose(f);
    EXPECT_EQ(left, std::vector<std::u16string>{u"Login.lnk"});
    CWinStartMenu cleanup;
    cleanup.Refresh(false, h.c_str(), u"", nullptr);
    DeleteFileW(W(startup).c_str());
}

} // namespace
