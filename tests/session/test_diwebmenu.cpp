// The webtop document as Start-menu folders and shortcuts: names from the
// server become one harmless path component, icons stay in their folder,
// and every value reaches the started client as exactly one argument.
#include <gtest/gtest.h>

#include "session/webmenu_check.h"
#include "support/device_names.h"

#include <string>

namespace {

const std::u16string kRoot = u"C:\\Menu\\Vek Halvanet\\web";
const std::u16string kIcons = u"C:\\data\\Vek\\VHVN\\icons";

TEST(WebMenuNames, CleanedToOneComponentOrRefused) {
    struct Row {
        const char16_t* name;
        bool folder;
        const char16_t* want; // null: refused
    } rows[] = {
        {u"a:b/c", false, u"a!b!c"},
        {u"x\\*?\"<>|y", false, u"x!!!!!!!y"},
        {u"tab\there\x7f", false, u"tab!here!"},
        {u"Mail", true, u"Mail"},
        {u"name. . ", true, u"name"},
        {u"name.", false, u"name."},
        {u"..", true, nullptr},
        {u".", true, nullptr},
        {u" ", true, nullptr},
        {u"", false, nullptr},
        {u"CON", false, nullptr},
        {u"con.txt", true, nullptr},
        {u"Nul", false, nullptr},
        {u"aux .x", false, nullptr},
        {u"COM1", false, nullptr},
        {u"lpt9", true, nullptr},
        {u"COM0", false, nullptr},
        {u"CONSOLE", false, u"CONSOLE"},
        {u"fe80::1", true, u"fe80!!1"},
    };
    for (const Row& r : rows) {
        std::u16string out;
        bool ok = diMenuCleanName(r.name, r.folder, &out);
        EXPECT_EQ(ok, r.want != nullptr) << std::string(r.name, r.name + 3);
        EXPECT_EQ(out, r.want ? r.want : u"");
    }
    std::u16string out;
    EXPECT_FALSE(diMenuCleanName(std::u16string(260, u'a').c_str(), false, &out));
    EXPECT_FALSE(diMenuLinkPath(kRoot, std::u16string(259 - kRoot.size() - 4, u'a').c_str(), &out));
    EXPECT_TRUE(diMenuLinkPath(kRoot, std::u16string(259 - kRoot.size() - 5, u'a').c_str(), &out));
    EXPECT_EQ(out.size(), 259u);
}

TEST(WebMenuIcons, OneComponentInsideTheIconsFolder) {
    struct Row {
        const char16_t* name;
        const char16_t* ico; // null: no icon
    } rows[] = {
        {u"mail.gif", u"mail.ico"},
        {u"mail.gif.old", u"mail.ico"},
        {u"a.gif.gif", u"a.ico"},
        {u"x.gif\\..\\..\\..\\Documents\\a.doc", nullptr},
        {u"../x.gif", nullptr},
        {u"x.gif/y", nullptr},
        {u"c:x.gif", nullptr},
        {u"x\n.gif", nullptr},
        {u"mail.png", nullptr},
        {u"..", nullptr},
        {u"", nullptr},
    };
    for (const Row& r : rows) {
        std::u16string ico, gif;
        bool ok = diMenuIconPaths(kIcons, r.name, &ico, &gif);
        EXPECT_EQ(ok, r.ico != nullptr);
        if (ok) {
            EXPECT_EQ(gif, kIcons + u"\\" + r.name);
            EXPECT_EQ(ico, kIcons + u"\\" + r.ico);
        }
    }
    std::u16string ico, gif;
    std::u16string longName = std::u16string(259 - kIcons.size() - 1 - 4, u'i') + u".gif";
    EXPECT_TRUE(diMenuIconPaths(kIcons, longName.c_str(), &ico, &gif));
    EXPECT_FALSE(diMenuIconPaths(kIcons, (u"i" + longName).c_str(), &ico, &gif));
}

// No shortcut, folder or icon file is named after a device: the icon's
// download would write the server's bytes to it.
TEST(WebMenuNames, DeviceNamesAreNeverShortcutsFoldersOrIcons) {
    std::u16string out, ico, gif;
    for (const std::u16string& name : deviceNames()) {
        EXPECT_FALSE(diMenuCleanName(name.c_str(), false, &out)) << deviceNameUtf8(name);
        EXPECT_FALSE(diMenuCleanName(name.c_str(), true, &out)) << deviceNameUtf8(name);
        EXPECT_FALSE(diMenuIconPaths(kIcons, (name + u".gif").c_str(), &ico, &gif))
            << deviceNameUtf8(name);
    }
    for (const std::u16string& name : nearDeviceNames()) {
        EXPECT_TRUE(diMenuCleanName(name.c_str(), false, &out)) << deviceNameUtf8(name);
        EXPECT_TRUE(diMenuCleanName(name.c_str(), true, &out)) << deviceNameUtf8(name);
        EXPECT_TRUE(diMenuIconPaths(kIcons, (name + u".gif").c_str(), &ico, &gif))
            << deviceNameUtf8(name);
    }
}

TEST(WebMenuArguments, EveryValueSplitsBackAsOneArgument) {
    const char16_t* values[] = {
        u"Mail",
        u"x\" -loginurl \"http://elsewhere",
        u"trailing\\",
        u"two\\\\",
        u"a\\\"b",
        u"",
        u"with blank\tand tab",
        u"\"\"",
        u"http://web:8080/hvn/doc?a=1&b=\"2\"",
    };
    const char16_t* profile = u"host:user:pro\"file\\";
    for (const char16_t* v : values) {
        std::u16string line = u"\"C:\\Program Files\\hv.exe\"" + diMenuItemArguments(profile, v);
        std::vector<std::u16string> want = {u"C:\\Program Files\\hv.exe", u"-profile", profile,
                                            u"-application", v};
        EXPECT_EQ(splitCommandLine(line), want) << std::string(line.begin(), line.end());
        std::u16string login = u"hv.exe " + diMenuProfileArguments(profile);
        EXPECT_EQ(splitCommandLine(login).at(2), profile);
    }
    // Plain values stay as they are, only enclosed.
    EXPECT_EQ(diMenuItemArguments(u"h:u:p", u"Mail"), u" -profile \"h:u:p\" -application \"Mail\"");
}

const char kDocument[] = R"(<?xml version="1.0"?>
<webtop>
 <attr name="ignored">x</attr>
 <obj name="webtopitem"><attr name="cn">Mail: inbox</attr>
  <attr name="mrkqvlwebtopobjectname">cn=mail</attr><attr name="mrkqvlicon">mail.gif</attr></obj>
 <obj name="webtopitem"><attr name="cn">Running</attr><attr name="mrkqvlsessionid">S-17</attr></obj>
 <obj name="webtopitem"><attr name="cn">Manual</attr><attr name="objectclass">mrkqvlhtmldocument</attr>
  <attr name="mrkqvllocation">hvn/manual.html</attr></obj>
 <obj name="webtopitem"><attr name="cn">Lost</attr><attr name="objectclass">mrkqvlhtmldocument</attr></obj>
 <obj name="webtopgroup" groupname="Office. ">
  <obj name="webtopitem"><attr name="cn">Calc</attr><attr name="mrkqvlwebtopobjectname">calc</attr>
   <attr name="mrkqvlicon">..\..\calc.gif</attr></obj>
 </obj>
 <obj name="other"/>
</webtop>)";

TEST(WebMenuWalk, DocumentBecomesFoldersShortcutsAndCookies) {
    RecordingSink sink;
    DiMenuContext ctx{kIcons, u"C:\\hv\\hv.exe", u"web:me:work"};
    ASSERT_TRUE(diMenuWalk(kDocument, sizeof kDocument - 1, kRoot, ctx, &sink));
    std::vector<std::u16string> want = {
        u"link:" + kRoot + u"\\Mail! inbox.lnk", u"cookie:S-17", u"link:" + kRoot + u"\\Manual.lnk",
        u"folder:" + kRoot + u"\\Office", u"link:" + kRoot + u"\\Office\\Calc.lnk"};
    EXPECT_EQ(sink.events, want);
    ASSERT_EQ(sink.shortcuts.size(), 3u);
    const DiMenuShortcut& mail = sink.shortcuts[0];
    EXPECT_EQ(mail.name, u"Mail! inbox");
    EXPECT_EQ(mail.target, u"\"C:\\hv\\hv.exe\"");
    EXPECT_EQ(mail.arguments, u" -profile \"web:me:work\" -application \"cn=mail\"");
    EXPECT_EQ(mail.icoPath, kIcons + u"\\mail.ico");
    EXPECT_EQ(sink.shortcuts[1].arguments,
              u" -profile \"web:me:work\" -application \"http://web:8080/hvn/manual.html\"");
    EXPECT_TRUE(sink.shortcuts[1].iconName.empty());
    // An icon name that leaves its folder gives no icon, but the shortcut.
    EXPECT_TRUE(sink.shortcuts[2].iconName.empty());
    EXPECT_TRUE(sink.shortcuts[2].icoPath.empty());
}

TEST(WebMenuWalk, FailuresStopTheWalk) {
    struct Row {
        const char* doc;
        int failAt;
        bool ok;
        size_t events;
    } rows[] = {
        {"", -1, false, 0},
        {"<webtop><obj", -1, false, 0},
        {"<webtop/>", -1, true, 0},
        {"<w><obj name='webtopitem'><attr name='cn'>CON</attr></obj>"
         "<obj name='webtopitem'><attr name='cn'>b</attr></obj></w>",
         -1, false, 1},
        {"<w><obj name='webtopgroup' groupname='..'><obj name='webtopitem'>"
         "<attr name='cn'>b</attr></obj></obj></w>",
         -1, false, 1},
        {"<w><obj name='webtopgroup'/><obj name='webtopitem'><attr name='cn'>b</attr></obj></w>",
         -1, false, 1},
        {"<w><obj name='webtopitem'><attr name='cn'></attr></obj></w>", -1, false, 1},
        {"<w><obj name='webtopitem'><attr name='cn'>a</attr></obj>"
         "<obj name='webtopitem'><attr name='cn'>b</attr></obj></w>",
         0, false, 1},
        {"<w><obj name='webtopitem'><attr name='cn'>a</attr></obj>"
         "<obj name='webtopitem'><attr name='cn'>a</attr></obj></w>",
         -1, true, 2},
    };
    for (const Row& r : rows) {
        RecordingSink sink;
        sink.failAt = r.failAt;
        DiMenuContext ctx{kIcons, u"hv.exe", u"h:u:p"};
        EXPECT_EQ(diMenuWalk(r.doc, strlen(r.doc), kRoot, ctx, &sink), r.ok) << r.doc;
        EXPECT_EQ(sink.events.size(), r.events) << r.doc;
    }
}

} // namespace
