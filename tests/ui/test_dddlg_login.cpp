/* Authentication, change of password, password cache and proxy credentials,
 * driven through their records. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include "ui/dlg_script.h"

namespace {

enum {
    USER = 1001,
    PASSWORD = 1002,
    DOMAIN_EDIT = 1003,
    CONFIRM = 1004,
    SAVE = 1008,
    ALWAYS_CARD = 1009,
    USER_LABEL = 1067,
    PASSWORD_LABEL = 1068,
    DOMAIN_LABEL = 1053,
    MESSAGE = 1118,
    USE_PASSWORD = 1120,
    USE_CARD = 1121,
    CARD_GROUP = 1122,
    METHOD_GROUP = 1123,
    NEW_PASSWORD = 1003,
    CP_DOMAIN = 1054,
    LOCATION = 1000,
    PROMPT = 1101,
    SAVE_DETAILS = 1102,
};

/* A login-dialog request with field 0 and, optionally, the smart-card
 * field 1. */
struct Request {
    DiLAIPField fields[2] = {};
    DiLAIPDialog d = {};
    Request(uint16_t flags, uint8_t field0Flags, uint8_t saveMode, bool card = false,
            uint8_t preference = 0) {
        fields[0].id = 0;
        fields[0].kind = 0;
        fields[0].value = 1;
        fields[0].byte = saveMode;
        fields[0].flags = field0Flags;
        fields[0].label = const_cast<DiChar*>(u"alice");
        fields[0].second = const_cast<DiChar*>(u"CORP");
        fields[1].id = 1;
        fields[1].kind = 1;
        fields[1].byte = preference;
        d.flags = flags;
        d.host = const_cast<DiChar*>(u"apps");
        d.message = const_cast<DiChar*>(u"Please sign in.");
        d.title = const_cast<DiChar*>(u"Given title");
        d.userLabel = const_cast<DiChar*>(u"Account:");
        d.passwordLabel = const_cast<DiChar*>(u"Secret:");
        d.fieldCount = card ? 2 : 1;
        d.fields = fields;
    }
};

struct Reply {
    DiLAIPReply r = {};
    ~Reply() {
        free(r.user);
        free(r.password);
        free(r.password2);
        free(r.domain);
    }
};

std::u16string str(const DiChar* s) {
    return s ? std::u16string(s) : std::u16string(u"<none>");
}

int g_readers;
int readers() {
    return g_readers;
}
bool lookup(const DiChar* host, DiChar* out, size_t size) {
    std::u16string full = std::u16string(host) + u".example.com";
    if (full.size() + 1 > size) return false;
    std::copy(full.c_str(), full.c_str() + full.size() + 1, out);
    return true;
}

const uint32_t kAllRows = DD_AUTH_MESSAGE | DD_AUTH_METHOD_CHOICE | DD_AUTH_ASK_USER |
                          DD_AUTH_ASK_PASSWORD | DD_AUTH_ASK_DOMAIN | DD_AUTH_SAVE_BOX;

/* Visible rows, the OK button's top and the window height at start. */
struct Shown {
    bool message, choice, user, password, domain, save;
};
struct Layout : Shown {
    LONG okTop;
    int height;
};

Layout authLayout(uint16_t flags, uint8_t field0Flags) {
    DlgScript s;
    ScriptScope scope(&s);
    Layout l{};
    s.onInit = [&](HWND dlg, int) {
        l.message = visible(dlg, MESSAGE);
        l.choice = visible(dlg, USE_CARD);
        l.user = visible(dlg, USER);
        l.password = visible(dlg, PASSWORD);
        l.domain = visible(dlg, DOMAIN_EDIT);
        l.save = visible(dlg, SAVE);
        l.okTop = rectIn(dlg, IDOK).top;
        l.height = windowHeight(dlg);
        press(dlg, IDCANCEL);
    };
    Request rq(flags, field0Flags, 0, true);
    Reply reply;
    EXPECT_EQ(ddDlgAuthenticate(nullptr, &rq.d, &reply.r), 0);
    return l;
}

TEST(AuthenticationDialog, HidesRowsNotAskedForAndMovesTheRestUp) {
    Layout full = authLayout(kAllRows, 0);
    ASSERT_TRUE(full.message && full.choice && full.user && full.password && full.domain &&
                full.save);
    /* Each row's band in the full layout, from the template. */
    struct Case {
        const char* name;
        uint16_t flags;
        uint8_t field0Flags;
        Shown expect;
    } cases[] = {
        {"none", 0, 0, {false, false, false, false, false, false}},
        {"user from field 0", 0, DD_AUTH_ASK_USER, {false, false, true, false, false, false}},
        {"password without save box",
         DD_AUTH_ASK_PASSWORD,
         0,
         {false, false, false, true, false, false}},
        {"save box without password",
         DD_AUTH_SAVE_BOX,
         0,
         {false, false, false, false, false, false}},
        {"password and save box",
         DD_AUTH_ASK_PASSWORD | DD_AUTH_SAVE_BOX,
         0,
         {false, false, false, true, false, true}},
        {"message and domain",
         DD_AUTH_MESSAGE | DD_AUTH_ASK_DOMAIN,
         0,
         {true, false, false, false, true, false}},
        {"everything but the choice",
         kAllRows & ~DD_AUTH_METHOD_CHOICE,
         0,
         {true, false, true, true, true, true}},
    };
    for (const Case& c : cases) {
        Layout l = authLayout(c.flags, c.field0Flags);
        EXPECT_EQ(l.message, c.expect.message) << c.name;
        EXPECT_EQ(l.choice, c.expect.choice) << c.name;
        EXPECT_EQ(l.user, c.expect.user) << c.name;
        EXPECT_EQ(l.password, c.expect.password) << c.name;
        EXPECT_EQ(l.domain, c.expect.domain) << c.name;
        EXPECT_EQ(l.save, c.expect.save) << c.name;
        /* The buttons move up exactly as much as the window shrinks. */
        EXPECT_EQ(full.okTop - l.okTop, full.height - l.height) << c.name;
        if (!c.flags && !c.field0Flags) {
            EXPECT_LT(l.okTop, 20) << "only the buttons remain";
        }
    }
    Layout some = authLayout(DD_AUTH_ASK_USER, 0);
    Layout more = authLayout(DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD, 0);
    EXPECT_GT(more.okTop, some.okTop);
}

TEST(AuthenticationDialog, PasswordAnswerCarriesTheTypedCredentials) {
    struct Case {
        uint8_t saveMode;
        bool tick;
        bool boxEnabled;
        uint8_t save;
    } cases[] = {
        {0, true, true, 1}, {1, false, true, 0}, {2, true, false, 2}, {3, false, false, 1}};
    for (const Case& c : cases) {
        DlgScript s;
        ScriptScope scope(&s);
        s.onInit = [&](HWND dlg, int id) {
            EXPECT_EQ(id, DD_DLG_AUTHENTICATE);
            EXPECT_EQ(isChecked(dlg, SAVE), (c.saveMode & 1) != 0);
            EXPECT_EQ(enabled(dlg, SAVE), c.boxEnabled);
            EXPECT_EQ(text(dlg, USER), u"alice"); /* default user name */
            EXPECT_EQ(text(dlg, DOMAIN_EDIT), u"CORP");
            EXPECT_EQ(text(dlg, PASSWORD), u"");
            EXPECT_EQ(focusId(dlg), PASSWORD); /* the user name is filled in */
            setText(dlg, PASSWORD, u"s3cret");
            setText(dlg, DOMAIN_EDIT, u"LAB");
            if (c.boxEnabled) toggle(dlg, SAVE, c.tick);
            press(dlg, IDOK);
        };
        Request rq(DD_AUTH_ASK_PASSWORD | DD_AUTH_SAVE_BOX | DD_AUTH_ASK_DOMAIN |
                       DD_AUTH_DEFAULT_DOMAIN,
                   DD_AUTH_ASK_USER | DD_AUTH_DEFAULT_USER, c.saveMode);
        Reply reply;
        ASSERT_EQ(ddDlgAuthenticate(nullptr, &rq.d, &reply.r), 1);
        EXPECT_EQ(reply.r.method, 0);
        EXPECT_EQ(str(reply.r.user), u"alice");
        EXPECT_EQ(str(reply.r.password), u"s3cret");
        EXPECT_EQ(str(reply.r.domain), u"LAB");
        EXPECT_EQ(reply.r.save, c.save) << "save mode " << int(c.saveMode);
    }
}

TEST(AuthenticationDialog, TitleLabelsAndMessageFollowTheFlags) {
    DlgScript s;
    ScriptScope scope(&s);
    g_ddDlgHooks.lookupHostName = lookup;
    std::u16string shown[2];
    int run = 0;
    s.onInit = [&](HWND dlg, int) {
        shown[run] = title(dlg);
        if (run == 0) {
            EXPECT_EQ(text(dlg, USER_LABEL), u"&Username:");
            EXPECT_EQ(text(dlg, MESSAGE), u"");
        } else {
            EXPECT_EQ(text(dlg, USER_LABEL), u"Account:");
            EXPECT_EQ(text(dlg, PASSWORD_LABEL), u"Secret:");
            EXPECT_EQ(text(dlg, MESSAGE), u"Please sign in.");
            /* The server's text is shown as it is: "&" marks no accelerator. */
            EXPECT_TRUE(GetWindowLongW(GetDlgItem(dlg, MESSAGE), GWL_STYLE) & SS_NOPREFIX);
            EXPECT_EQ(text(dlg, USER), u""); /* no default user flag */
        }
        press(dlg, IDCANCEL);
    };
    Reply reply;
    Request plain(DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD, 0, 0);
    ddDlgAuthenticate(nullptr, &plain.d, &reply.r);
    run = 1;
    Request custom(DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD | DD_AUTH_TITLE | DD_AUTH_MESSAGE |
                       DD_AUTH_USER_LABEL | DD_AUTH_PASSWORD_LABEL,
                   0, 0);
    ddDlgAuthenticate(nullptr, &custom.d, &reply.r);
    EXPECT_EQ(shown[0], u"Authentication for apps.example.com");
    EXPECT_EQ(shown[1], u"Given title");
    /* A failed lookup shows the host as given. */
    g_ddDlgHooks.lookupHostName = nullptr;
    run = 0;
    ddDlgAuthenticate(nullptr, &plain.d, &reply.r);
    EXPECT_EQ(shown[0], u"Authentication for apps");
}

TEST(AuthenticationDialog, OkNeedsAUserNameOnlyWhenAsked) {
    DlgScript s;
    ScriptScope scope(&s);
    bool asked = true;
    s.onInit = [&](HWND dlg, int) {
        if (asked) {
            EXPECT_FALSE(enabled(dlg, IDOK));
            EXPECT_EQ(focusId(dlg), USER);
            setText(dlg, USER, u"bob");
            EXPECT_TRUE(enabled(dlg, IDOK));
            setText(dlg, USER, u"");
            EXPECT_FALSE(enabled(dlg, IDOK));
        } else {
            EXPECT_TRUE(enabled(dlg, IDOK));
            EXPECT_EQ(focusId(dlg), PASSWORD);
        }
        press(dlg, IDCANCEL);
    };
    Reply reply;
    reply.r.user = static_cast<DiChar*>(calloc(4, sizeof(DiChar)));
    reply.r.user[0] = u'x';
    Request rq(DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD, 0, 0);
    EXPECT_EQ(ddDlgAuthenticate(nullptr, &rq.d, &reply.r), 0);
    EXPECT_EQ(str(reply.r.user), u"x") << "cancel leaves the reply as it was";
    asked = false;
    Request noUser(DD_AUTH_ASK_PASSWORD, 0, 0);
    EXPECT_EQ(ddDlgAuthenticate(nullptr, &noUser.d, &reply.r), 0);
}

TEST(AuthenticationDialog, SmartCardChoiceAndPreference) {
    struct Case {
        const char* name;
        bool cardField;
        int readers;
        uint16_t lastMethod;
        uint8_t preference;
        bool tickAlways;
        bool cardChecked, cardEnabled, alwaysEnabled, alwaysShown;
        int method;
        uint16_t kind;
    } cases[] = {
        {"card chosen last time", true, 1, 1, 0, true, true, true, true, true, 1, 1},
        {"preference fixed on", true, 1, 1, 3, false, true, true, false, true, 1, 2},
        {"always box cleared", true, 1, 1, 1, false, true, true, true, true, 1, 0},
        {"no readers", true, 0, 1, 0, false, false, false, false, true, 0, 0},
        {"no card field", false, 1, 1, 0, false, false, false, false, false, 0, 0},
        {"password last time", true, 1, 0, 0, false, false, true, false, true, 0, 0},
    };
    for (const Case& c : cases) {
        DlgScript s;
        ScriptScope scope(&s);
        g_readers = c.readers;
        g_ddDlgHooks.smartCardReadersPresent = readers;
        s.onInit = [&](HWND dlg, int) {
            EXPECT_EQ(isChecked(dlg, USE_CARD), c.cardChecked) << c.name;
            EXPECT_EQ(isChecked(dlg, USE_PASSWORD), !c.cardChecked) << c.name;
            EXPECT_EQ(enabled(dlg, USE_CARD), c.cardEnabled) << c.name;
            EXPECT_EQ(enabled(dlg, ALWAYS_CARD), c.alwaysEnabled) << c.name;
            EXPECT_EQ(visible(dlg, ALWAYS_CARD), c.alwaysShown) << c.name;
            EXPECT_EQ(visible(dlg, CARD_GROUP), c.alwaysShown) << c.name;
            EXPECT_TRUE(visible(dlg, METHOD_GROUP)) << c.name;
            if (c.cardChecked) {
                /* The credentials are not used with the card. */
                EXPECT_FALSE(enabled(dlg, USER)) << c.name;
                EXPECT_FALSE(enabled(dlg, PASSWORD)) << c.name;
                EXPECT_FALSE(enabled(dlg, SAVE)) << c.name;
                EXPECT_TRUE(enabled(dlg, IDOK)) << c.name;
                EXPECT_EQ(isChecked(dlg, ALWAYS_CARD), (c.preference & 1) != 0) << c.name;
                if (c.alwaysEnabled) toggle(dlg, ALWAYS_CARD, c.tickAlways);
            } else {
                setText(dlg, USER, u"carol");
            }
            press(dlg, IDOK);
        };
        Request rq(DD_AUTH_METHOD_CHOICE | DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD, 0, 0,
                   c.cardField, c.preference);
        rq.d.lastMethod = c.lastMethod;
        Reply reply;
        ASSERT_EQ(ddDlgAuthenticate(nullptr, &rq.d, &reply.r), 1) << c.name;
        EXPECT_EQ(reply.r.method, c.method) << c.name;
        if (c.method == 1) {
            EXPECT_EQ(reply.r.kind, c.kind) << c.name;
            EXPECT_EQ(reply.r.user, nullptr) << c.name;
        }
    }
}

TEST(AuthenticationDialog, SwitchingToTheCardAndBack) {
    DlgScript s;
    ScriptScope scope(&s);
    g_readers = 1;
    g_ddDlgHooks.smartCardReadersPresent = readers;
    s.onInit = [&](HWND dlg, int) {
        EXPECT_TRUE(isChecked(dlg, USE_PASSWORD));
        EXPECT_FALSE(enabled(dlg, IDOK));
        choose(dlg, USE_PASSWORD, USE_CARD, USE_CARD);
        EXPECT_TRUE(enabled(dlg, IDOK));
        EXPECT_FALSE(enabled(dlg, USER));
        EXPECT_TRUE(enabled(dlg, ALWAYS_CARD));
        choose(dlg, USE_PASSWORD, USE_CARD, USE_PASSWORD);
        EXPECT_FALSE(enabled(dlg, IDOK));
        EXPECT_TRUE(enabled(dlg, USER));
        EXPECT_FALSE(enabled(dlg, ALWAYS_CARD));
        EXPECT_EQ(focusId(dlg), USER);
        press(dlg, IDCANCEL);
    };
    Request rq(DD_AUTH_METHOD_CHOICE | DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD, 0, 0, true, 0);
    Reply reply;
    EXPECT_EQ(ddDlgAuthenticate(nullptr, &rq.d, &reply.r), 0);
}

TEST(AuthenticationDialog, LongTextsAreKeptToTheirLimits) {
    DlgScript s;
    ScriptScope scope(&s);
    std::u16string user(600, u'u'), password(200, u'p');
    s.onInit = [&](HWND dlg, int) {
        setText(dlg, USER, user);
        setText(dlg, PASSWORD, password);
        press(dlg, IDOK);
    };
    Request rq(DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD, 0, 0);
    Reply reply;
    ASSERT_EQ(ddDlgAuthenticate(nullptr, &rq.d, &reply.r), 1);
    EXPECT_EQ(str(reply.r.user), user.substr(0, DD_DLG_MAX_USER));
    EXPECT_EQ(str(reply.r.password), password.substr(0, DD_DLG_MAX_PASSWORD));
    EXPECT_EQ(reply.r.domain, nullptr) << "the domain was not asked";
}

/* ---- Change of password ----------------------------------------------- */

TEST(ChangePasswordDialog, MismatchKeepsTheDialogOpenUntilCorrected) {
    DlgScript s;
    ScriptScope scope(&s);
    g_ddDlgHooks.lookupHostName = lookup;
    /* Longer than the 64 characters a confirmation was once cut to. */
    std::u16string fresh(100, u'n');
    s.onInit = [&](HWND dlg, int id) {
        EXPECT_EQ(id, DD_DLG_CHANGE_PASSWORD);
        EXPECT_EQ(title(dlg), u"Change Password for apps.example.com");
        EXPECT_EQ(text(dlg, USER), u"alice");
        EXPECT_EQ(focusId(dlg), PASSWORD);
        EXPECT_TRUE(visible(dlg, CP_DOMAIN));
        setText(dlg, PASSWORD, u"old");
        setText(dlg, NEW_PASSWORD, fresh);
        setText(dlg, CONFIRM, fresh + u"x");
        setText(dlg, CP_DOMAIN, u"LAB");
        toggle(dlg, SAVE, true);
        press(dlg, IDOK);
    };
    s.onWarn = [&](HWND dlg, int) {
        EXPECT_EQ(focusId(dlg), NEW_PASSWORD);
        setText(dlg, CONFIRM, fresh);
        press(dlg, IDOK);
    };
    Request rq(DD_AUTH_ASK_DOMAIN, DD_AUTH_ASK_USER | DD_AUTH_DEFAULT_USER, 0);
    Reply reply;
    ASSERT_EQ(ddDlgChangePassword(nullptr, &rq.d, &reply.r), 1);
    EXPECT_EQ(s.warnings, std::vector<int>{712});
    EXPECT_EQ(s.inits.size(), 1u) << "the same dialog stayed open";
    EXPECT_EQ(str(reply.r.user), u"alice");
    EXPECT_EQ(str(reply.r.password), u"old");
    EXPECT_EQ(str(reply.r.password2), fresh);
    EXPECT_EQ(str(reply.r.domain), u"LAB");
    EXPECT_EQ(reply.r.save, 1);
    EXPECT_EQ(rq.fields[0].byte, 1) << "the save choice goes back into field 0";
}

TEST(ChangePasswordDialog, RowsSaveModesAndTheUserName) {
    struct Case {
        const char* name;
        uint16_t flags;
        uint8_t field0Flags, saveMode;
        bool userShown, domainShown, messageShown, okAtStart, saveEnabled;
        uint8_t savedBack;
    } cases[] = {
        {"user asked, empty", DD_AUTH_MESSAGE, DD_AUTH_ASK_USER, 0, true, false, true, false, true,
         0},
        {"fixed save mode", 0, DD_AUTH_ASK_USER | DD_AUTH_DEFAULT_USER, 2, true, false, false, true,
         false, 2},
        {"user not asked", DD_AUTH_ASK_DOMAIN, 0, 3, false, true, false, true, false, 1},
    };
    int fullHeight = 0;
    {
        DlgScript s;
        ScriptScope scope(&s);
        s.onInit = [&](HWND dlg, int) {
            fullHeight = windowHeight(dlg);
            press(dlg, IDCANCEL);
        };
        Request rq(DD_AUTH_MESSAGE | DD_AUTH_ASK_DOMAIN, DD_AUTH_ASK_USER, 0);
        Reply reply;
        EXPECT_EQ(ddDlgChangePassword(nullptr, &rq.d, &reply.r), 0);
    }
    for (const Case& c : cases) {
        DlgScript s;
        ScriptScope scope(&s);
        s.onInit = [&](HWND dlg, int) {
            EXPECT_EQ(visible(dlg, USER), c.userShown) << c.name;
            EXPECT_EQ(visible(dlg, CP_DOMAIN), c.domainShown) << c.name;
            EXPECT_EQ(visible(dlg, MESSAGE), c.messageShown) << c.name;
            EXPECT_EQ(enabled(dlg, IDOK), c.okAtStart) << c.name;
            EXPECT_EQ(enabled(dlg, SAVE), c.saveEnabled) << c.name;
            EXPECT_EQ(focusId(dlg), c.okAtStart ? PASSWORD : USER) << c.name;
            bool hidden = !c.userShown || !c.domainShown || !c.messageShown;
            EXPECT_EQ(windowHeight(dlg) < fullHeight, hidden) << c.name;
            if (!c.okAtStart) setText(dlg, USER, u"dave");
            setText(dlg, NEW_PASSWORD, u"n");
            setText(dlg, CONFIRM, u"n");
            press(dlg, IDOK);
        };
        Request rq(c.flags, c.field0Flags, c.saveMode);
        Reply reply;
        ASSERT_EQ(ddDlgChangePassword(nullptr, &rq.d, &reply.r), 1) << c.name;
        EXPECT_EQ(rq.fields[0].byte, c.savedBack) << c.name;
        EXPECT_EQ(reply.r.domain != nullptr, c.domainShown) << c.name;
    }
}

/* ---- Password cache ------------------------------------------------- */

DiChar* heap(const std::u16string& s) {
    DiChar* p = static_cast<DiChar*>(malloc((s.size() + 1) * sizeof(DiChar)));
    std::copy(s.c_str(), s.c_str() + s.size() + 1, p);
    return p;
}

TEST(PasswordCacheDialog, ChecksTheLocationAndTheConfirmation) {
    DlgScript s;
    ScriptScope scope(&s);
    std::u16string longPassword(100, u'q');
    int step = 0;
    s.onInit = [&](HWND dlg, int id) {
        EXPECT_EQ(id, DD_DLG_PASSWORD_CACHE);
        EXPECT_EQ(text(dlg, LOCATION), u"halvanet.example.com");
        EXPECT_EQ(text(dlg, USER), u"erin");
        EXPECT_EQ(focusId(dlg), PASSWORD);
        EXPECT_FALSE(enabled(dlg, IDOK));
        setText(dlg, PASSWORD, longPassword);
        setText(dlg, CONFIRM, longPassword.substr(0, 99));
        EXPECT_FALSE(enabled(dlg, IDOK)) << "lengths differ";
        setText(dlg, CONFIRM, longPassword.substr(0, 99) + u"r");
        EXPECT_TRUE(enabled(dlg, IDOK));
        press(dlg, IDOK);
    };
    s.onWarn = [&](HWND dlg, int id) {
        if (step++ == 0) {
            EXPECT_EQ(id, 5) << "not a full URL";
            EXPECT_EQ(focusId(dlg), LOCATION);
            setText(dlg, LOCATION, u"https://halvanet.example.com/");
        } else if (step == 2) {
            EXPECT_EQ(id, 19);
            EXPECT_EQ(focusId(dlg), PASSWORD);
            setText(dlg, CONFIRM, longPassword);
        }
        press(dlg, IDOK);
    };
    DiChar* url = heap(u"halvanet.example.com");
    DiChar* user = heap(u"erin");
    DiChar* password = nullptr;
    ASSERT_EQ(ddDlgPasswordCache(&url, &user, &password), 1);
    EXPECT_EQ(s.warnings, (std::vector<int>{5, 19}));
    EXPECT_EQ(str(url), u"https://halvanet.example.com/");
    EXPECT_EQ(str(user), u"erin");
    EXPECT_EQ(str(password), longPassword) << "a long password can be confirmed";
    free(url);
    free(user);
    free(password);
}

TEST(PasswordCacheDialog, CancelReleasesTheGivenTextsAndFocusesTheFirstEmpty) {
    DlgScript s;
    ScriptScope scope(&s);
    int expectFocus = 0;
    s.onInit = [&](HWND dlg, int) {
        EXPECT_EQ(focusId(dlg), expectFocus);
        press(dlg, IDCANCEL);
    };
    DiChar* url = heap(u"http://h/");
    DiChar* user = heap(u"");
    DiChar* password = heap(u"keep");
    expectFocus = USER;
    EXPECT_EQ(ddDlgPasswordCache(&url, &user, &password), 0);
    EXPECT_EQ(url, nullptr) << "a non-empty text is freed and cleared";
    ASSERT_NE(user, nullptr) << "an empty text is left alone";
    EXPECT_EQ(str(password), u"keep");
    expectFocus = LOCATION;
    EXPECT_EQ(ddDlgPasswordCache(&url, &user, &password), 0);
    free(user);
    free(password);
}

TEST(WebUrlCheck, AcceptsOnlyAbsoluteHttpAndHttps) {
    ddDlgResetHooks();
    struct Case {
        const DiChar* url;
        bool ok;
    } cases[] = {
        {u"http://host/", true},
        {u"HTTPS://host:443/x", true},
        {u"ftp://host/", false},
        {u"host/path", false},
        {u"http://", false},
        {u"http:///path", false},
        {u"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(g_ddDlgHooks.isWebUrl(c.url), c.ok) << str(c.url).size();
}

/* ---- Proxy credentials ------------------------------------------------- */

TEST(ProxyCredentialsDialog, PromptUserAndSaveBox) {
    struct Case {
        const char* name;
        const DiChar* user;
        bool allowSave, cached, tick;
        bool expectCached;
    } cases[] = {
        {"known user, saving allowed", u"frank", true, true, false, false},
        {"new user, saving allowed", u"", true, false, true, true},
        {"saving not allowed", u"frank", false, true, true, true},
    };
    for (const Case& c : cases) {
        DlgScript s;
        ScriptScope scope(&s);
        s.onInit = [&](HWND dlg, int id) {
            EXPECT_EQ(id, DD_DLG_SERVER_AUTH);
            EXPECT_EQ(title(dlg), u"Authentication Required") << c.name;
            EXPECT_EQ(text(dlg, PROMPT), u"Enter username and password for HTTP proxy p:8080:");
            EXPECT_EQ(enabled(dlg, SAVE_DETAILS), c.allowSave) << c.name;
            EXPECT_EQ(isChecked(dlg, SAVE_DETAILS), c.allowSave && c.cached) << c.name;
            bool known = c.user[0] != 0;
            EXPECT_EQ(focusId(dlg), known ? PASSWORD : USER) << c.name;
            EXPECT_EQ(enabled(dlg, IDOK), known) << c.name;
            if (!known) setText(dlg, USER, u"gina");
            setText(dlg, PASSWORD, u"pw");
            CheckDlgButton(dlg, SAVE_DETAILS, c.tick ? BST_CHECKED : BST_UNCHECKED);
            press(dlg, IDOK);
        };
        DdDlgProxyAuth auth = {};
        auth.description = u"HTTP proxy p:8080";
        std::u16string u(c.user);
        std::copy(u.begin(), u.end(), auth.user);
        auth.allowSave = c.allowSave;
        auth.cached = c.cached;
        ASSERT_EQ(ddDlgProxyCredentials(nullptr, &auth), 1) << c.name;
        EXPECT_EQ(std::u16string(auth.user), c.user[0] ? c.user : u"gina") << c.name;
        EXPECT_EQ(std::u16string(auth.password), u"pw") << c.name;
        EXPECT_EQ(auth.cached, c.expectCached) << c.name;
    }
}

TEST(ProxyCredentialsDialog, CancelLeavesTheRecordAlone) {
    DlgScript s;
    ScriptScope scope(&s);
    s.onInit = [&](HWND dlg, int) {
        setText(dlg, USER, u"other");
        press(dlg, IDCANCEL);
    };
    DdDlgProxyAuth auth = {};
    auth.description = u"d";
    auth.user[0] = u'h';
    auth.password[0] = u'k';
    EXPECT_EQ(ddDlgProxyCredentials(nullptr, &auth), 0);
    EXPECT_EQ(std::u16string(auth.user), u"h");
    EXPECT_EQ(std::u16string(auth.password), u"k");
}

/* A route seen through the route hooks. */
struct FakeRoute {
    std::u16string user = u"ivan", password;
    bool cached = false;
    int setCalls = 0;
} g_route;

bool routeDescribe(DiRoute*, DiChar* out, size_t size) {
    std::u16string d = u"SOCKS proxy s:1080";
    if (d.size() + 1 > size) return false;
    std::copy(d.c_str(), d.c_str() + d.size() + 1, out);
    return true;
}
const DiChar* routeUser(DiRoute*) {
    return g_route.user.c_str();
}
bool routeCached(DiRoute*) {
    return g_route.cached;
}
void routeSetCredentials(DiRoute*, const DiChar* user, const DiChar* password) {
    g_route.user = user;
    g_route.password = password;
    ++g_route.setCalls;
}
void routeSetCached(DiRoute*, bool cached) {
    g_route.cached = cached;
}

TEST(ProxyCredentialsDialog, RouteWrapperSetsTheRouteOnOkOnly) {
    DlgScript s;
    ScriptScope scope(&s);
    g_ddDlgHooks.routeDescribe = routeDescribe;
    g_ddDlgHooks.routeUser = routeUser;
    g_ddDlgHooks.routeCached = routeCached;
    g_ddDlgHooks.routeSetCredentials = routeSetCredentials;
    g_ddDlgHooks.routeSetCached = routeSetCached;
    int button = IDCANCEL;
    s.onInit = [&](HWND dlg, int) {
        EXPECT_EQ(text(dlg, PROMPT), u"Enter username and password for SOCKS proxy s:1080:");
        EXPECT_EQ(text(dlg, USER), u"ivan");
        setText(dlg, PASSWORD, u"pw2");
        CheckDlgButton(dlg, SAVE_DETAILS, BST_CHECKED);
        press(dlg, button);
    };
    DiRoute* route = reinterpret_cast<DiRoute*>(&g_route);
    EXPECT_EQ(ddDlgServerAuthentication(nullptr, route, 1), 0);
    EXPECT_EQ(g_route.setCalls, 0);
    button = IDOK;
    EXPECT_EQ(ddDlgServerAuthentication(nullptr, route, 1), 1);
    EXPECT_EQ(g_route.password, u"pw2");
    EXPECT_TRUE(g_route.cached);
    /* Without route access there is nothing to authenticate. */
    g_ddDlgHooks.routeSetCredentials = nullptr;
    EXPECT_EQ(ddDlgServerAuthentication(nullptr, route, 1), 0);
}

} // namespace
