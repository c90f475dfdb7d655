// The session menu model: the status text and tip from the outpost's facts,
// the tray menu's lines as the server enables, disables and hides verbs,
// verbs run by name, and the menu's availability around nested dialogs.
#include "session/disoui.h"

#include "core/dilog.h"
#include "session/diso.h"
#include "xml/qvlxmlglobals.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The listener is opened by the Windows side; these tests never open one.
int32_t diListenerOpen(DiChannel*) {
    return -1;
}

namespace {

/* Message N reads "mN". */
bool numberedMessages(uint32_t n, DiChar* buffer, size_t size) {
    std::u16string t = u"m";
    for (char c : std::to_string(n))
        t += char16_t(c);
    size_t i = 0;
    for (; i < t.size() && i + 1 < size; i++)
        buffer[i] = t[i];
    buffer[i] = 0;
    return true;
}

int g_runs[5];
DiSOUIActions countingActions() {
    DiSOUIActions a;
    a.showEventLog = [] { g_runs[0]++; };
    a.showConnectionInfo = [] { g_runs[1]++; };
    a.showOptions = [] { g_runs[2]++; };
    a.exit = [] { g_runs[3]++; };
    a.showAbout = [] { g_runs[4]++; };
    return a;
}

class SessionMenu : public ::testing::Test {
  protected:
    void SetUp() override { diLogSetMessageLoader(numberedMessages); }
    void TearDown() override { diLogSetMessageLoader(nullptr); }
};

void setState(CSOUIComponent* root, const DiChar* verb, const DiChar* word) {
    CSOUIComponent* c = root->Find(verb);
    int32_t s = diSOUIParseState(word);
    if (c && s >= 0) c->state = s;
}

std::string lines(CSOUIRootMenu* root) {
    std::vector<DiSOUIMenuLine> v;
    diSOUIMenuLines(root, &v);
    std::string out;
    for (const DiSOUIMenuLine& l : v) {
        if (!out.empty()) out += "|";
        if (l.separator) {
            out += "-";
            continue;
        }
        out += l.disabled ? "!" : l.grayed ? "~" : "";
        out += std::string(l.text.begin(), l.text.end());
    }
    return out;
}

TEST_F(SessionMenu, StatusTextAndTipFollowTheConnection) {
    struct Case {
        bool connected;
        const char16_t *shortName, *server, *option;
        uint32_t port;
        const char16_t* expect;
    } cases[] = {
        {false, u"short", u"server", u"opt", 80, u"m416"},
        {true, u"short", u"server", u"opt", 80, u"short@server"},
        {true, u"short", nullptr, u"opt", 70000, u"short@opt:4464"},
        {true, u"short", nullptr, nullptr, 80, u"short"},
        {true, nullptr, u"server", u"opt", 80, u"server"},
        {true, nullptr, nullptr, u"opt", 65535, u"opt:65535"},
        {true, nullptr, nullptr, nullptr, 80, u"m442"},
    };
    CSOUIRootMenu root(countingActions());
    for (const Case& c : cases) {
        DiSOOptions o;
        o.server = c.option;
        o.port = c.port;
        CServerOutpost so(o);
        so.connectionState = c.connected ? DI_SO_CONNECTED : DI_SO_NOT_CONNECTED;
        if (c.shortName) so.userInfo[DI_SO_SHORTNAME] = qvlStrDup(c.shortName);
        if (c.server) so.userInfo[DI_SO_SERVER] = qvlStrDup(c.server);
        DiChar tip[64];
        diSOUITipText(&root, tip);
        EXPECT_EQ(std::u16string(tip), std::u16string(c.expect));
    }
    /* Long tips stop at 63 units and never split a surrogate pair. */
    DiSOOptions o;
    CServerOutpost so(o);
    so.connectionState = DI_SO_CONNECTED;
    struct Cut {
        std::u16string name;
        size_t kept;
    } cuts[] = {{std::u16string(80, u'a'), 63},
                {std::u16string(62, u'a') + u"\U0001F600" + u"zz", 62},
                {std::u16string(61, u'a') + u"\U0001F600" + u"zz", 63}};
    for (const Cut& c : cuts) {
        free(so.userInfo[DI_SO_SHORTNAME]);
        so.userInfo[DI_SO_SHORTNAME] = qvlStrDup(c.name.c_str());
        DiChar tip[64];
        diSOUITipText(&root, tip);
        EXPECT_EQ(std::u16string(tip), c.name.substr(0, c.kept));
    }
    setState(&root, u"_server", u"disabled");
    DiChar tip[64];
    diSOUITipText(&root, tip);
    EXPECT_EQ(tip[0], 0) << "no tip while the status item is not enabled";
}

TEST_F(SessionMenu, MenuLinesFollowTheServersStates) {
    struct Case {
        std::vector<std::pair<const DiChar*, const DiChar*>> changes;
        const char* expect;
    } cases[] = {
        {{}, "!m416|-|m415|m417|m426|-|m425|m423"},
        {{{u"file", u"disabled"}}, "!m416|-|m425|m423"},
        {{{u"exit", u"hidden"}}, "!m416|-|m415|m417|m426|-|m425"},
        {{{u"exit", u"disabled"}}, "!m416|-|m415|m417|m426|-|m425|~m423"},
        {{{u"help", u"hidden"}, {u"eventlog", u"disabled"}}, "!m416|-|~m415|m417|m426|-|m423"},
        {{{u"_server", u"disabled"}, {u"about", u"hidden"}}, "m415|m417|m426|-|m423"},
        {{{u"exit", u"Hidden"}, {u"exit", u"gone"}, {u"nothing", u"hidden"}},
         "!m416|-|m415|m417|m426|-|m425|m423"},
    };
    for (const Case& c : cases) {
        CSOUIRootMenu root(countingActions());
        for (auto& ch : c.changes)
            setState(&root, ch.first, ch.second);
        EXPECT_EQ(lines(&root), c.expect);
    }
}

TEST_F(SessionMenu, VerbsRunTheirLeafOnly) {
    CSOUIRootMenu root(countingActions());
    memset(g_runs, 0, sizeof g_runs);
    for (const DiChar* verb :
         {u"eventlog", u"connectioninfo", u"options", u"exit", u"about", u"file", u"_root"})
        EXPECT_TRUE(diSOUIActivateVerb(&root, verb));
    EXPECT_FALSE(diSOUIActivateVerb(&root, u"EventLog"));
    EXPECT_FALSE(diSOUIActivateVerb(&root, nullptr));
    EXPECT_EQ(std::vector<int>(g_runs, g_runs + 5), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(root.CountItems(), 9);
    EXPECT_FALSE(root.file->IsVisible() && root.file->state != 0);
    setState(&root, u"eventlog", u"hidden");
    setState(&root, u"connectioninfo", u"hidden");
    setState(&root, u"options", u"hidden");
    setState(&root, u"exit", u"hidden");
    EXPECT_FALSE(root.file->IsVisible()) << "a menu with no visible child is not visible";
}

TEST(TrayAccess, NestedDialogsKeepTheMenuUntilTheLastCloses) {
    CSOUIRootMenu root{DiSOUIActions()};
    DiSOTrayAccess access;
    int first = 0, second = 0;
    EXPECT_TRUE(access.Available(&root));
    access.Disable(&first);
    access.Disable(&second); /* a dialog opened over the first */
    EXPECT_EQ(access.Owner(), &second);
    access.Enable();
    EXPECT_FALSE(access.Available(&root)) << "the first dialog is still open";
    EXPECT_EQ(access.Owner(), &first);
    access.Enable();
    EXPECT_TRUE(access.Available(&root));
    access.Enable(); /* an extra close does not make the count negative */
    access.Disable(nullptr);
    EXPECT_FALSE(access.Available(&root));
    access.Enable();
    root.state = DI_SOUI_DISABLED;
    EXPECT_FALSE(access.Available(&root));
}

} // namespace
