// The integrated webtop client over a recording web service and a recording
// outpost: what each sign-in step sends, what reaches the outpost, the
// browser and the settings file, and the texts built for command lines and
// URLs read back the way their receivers read them.
#include <gtest/gtest.h>

#include "core/diutil.h"
#include "fakes/route_fakes.h"
#include "session/diconnset.h"
#include "session/diintclient.h"
#include "session/diobjhandler.h"
#include "session/disettings.h"
#include "session/diso.h"
#include "support/mem_profile_store.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

int32_t diListenerOpen(DiChannel*) {
    return -1;
}

namespace {

std::string narrow(const std::u16string& s) {
    return diProfileToUtf8(s.c_str());
}

struct RecordingService : DiWsService {
    std::vector<std::string> calls;
    std::vector<DiWsEndpoint> endpoints;
    std::map<std::string, std::deque<DiWsReply>> script;
    std::function<void(const std::string& op)> whileCalling; // as a certificate question
    DiWsReply Call(const DiWsEndpoint& e, const char* op,
                   const std::vector<std::string>& args) override {
        if (whileCalling) whileCalling(op);
        std::string line = op;
        for (size_t i = 0; i < args.size(); i++)
            line += (i ? "," : "(") + args[i];
        calls.push_back(line + ")");
        endpoints.push_back(e);
        std::deque<DiWsReply>& q = script[op];
        if (q.empty()) return ok("done");
        DiWsReply r = q.front();
        if (q.size() > 1) q.pop_front();
        return r;
    }
    static DiWsReply ok(const std::string& text) {
        DiWsReply r;
        r.hasResult = true;
        r.result = text;
        return r;
    }
    static DiWsReply code(int c, const std::string& faultCode = "") {
        DiWsReply r;
        r.code = c;
        r.faultCode = faultCode;
        return r;
    }
};

struct RecordingOutpost : CServerOutpost {
    std::vector<std::string> events;
    explicit RecordingOutpost(const DiSOOptions& o) : CServerOutpost(o) {}
    // The client signs out as the outpost goes, as the Windows outpost's does.
    ~RecordingOutpost() override { delete g_diIntegratedClient; }
    bool Connect(int reason) override {
        events.push_back("connect " + std::to_string(reason));
        return true;
    }
    bool OpenBrowser(const DiChar* url) override {
        events.push_back("browser " + narrow(url));
        return true;
    }
};

struct MemSettingsFile : CSettingsFile {
    std::string bytes;
    MemSettingsFile() { fileName = diTextFromUtf8Dup("set 1.xml", 9); }
    bool CreateUniqueFile() override { return true; }
    bool Open(const DiChar*) override { return true; }
    bool ReadFileBytes(std::string* b) override {
        *b = bytes;
        return true;
    }
    bool WriteFileBytes(const std::string& b) override {
        bytes = b;
        return true;
    }
    std::u16string Value(const DiChar* key) {
        DiChar buf[1024];
        return GetValue(key, buf, 1024, nullptr) ? buf : u"<none>";
    }
};

struct TestClient : CIntegratedClient {
    std::vector<std::u16string> runs;
    explicit TestClient(CServerOutpost* o) : CIntegratedClient(o) {}
    bool GetExePath() override {
        exePath = u"C:\\hv\\client.exe";
        return true;
    }
    void RunSelf(const std::u16string& parameters) override { runs.push_back(parameters); }
};

// A service document: <attr name="X">text</attr> values, and the group
// "connectionattributes" as <obj name=...> with its own attrs.
std::string attr(const char* name, const char* text) {
    return std::string("<attr name=\"") + name + "\">" + text + "</attr>";
}
std::string doc(const std::string& root, const char* conn) {
    std::string out = "<obj name=\"session\">" + root;
    if (conn) out += std::string("<obj name=\"connectionattributes\">") + conn + "</obj>";
    return out + "</obj>";
}
const std::string kConn = attr("server", "pe.example") + attr("port", "7443") +
                          attr("firewalltraversal", "true") + attr("security", "SSL");
const std::string kDoc = doc(attr("mrkqvlsessioncookie", "C1"), kConn.c_str());

// The arguments a program started with this command line receives.
std::vector<std::u16string> split(const std::u16string& line) {
    size_t argc = 0, chars = 0;
    diSplitCommandLine(line.c_str(), nullptr, nullptr, &argc, &chars);
    std::vector<DiChar*> argv(argc);
    std::vector<DiChar> buf(chars);
    diSplitCommandLine(line.c_str(), argv.data(), buf.data(), &argc, &chars);
    std::vector<std::u16string> out;
    for (size_t i = 1; i + 1 < argc; i++)
        out.push_back(argv[i]);
    return out;
}

struct Client : ::testing::Test {
    RecordingService service;
    CMemProfileStore store;
    MemSettingsFile settings;
    RecordingOutpost* so = nullptr;
    TestClient* ic = nullptr;
    void SetUp() override {
        routeFakesReset();
        g_diWsService = &service;
        store.Load(nullptr);
        so = new RecordingOutpost(DiSOOptions{});
        so->listeningPort = 4321;
        so->server = diTextFromUtf8Dup("old", 3);
        so->port = 99;
        ic = new TestClient(so);
        ic->settingsFile = &settings;
    }
    void TearDown() override {
        delete ic;
        delete so;
        g_diWsService = nullptr;
        g_fakeApp.opt.objectName = nullptr;
        g_fakeApp.opt.loginUrl = nullptr;
    }
    // A stored login: profile with url, mode and autologin, user with token.
    void login(const char16_t* mode, const char16_t* token = u"tok", const char16_t* more = u"") {
        std::u16string profile =
            u"<profile name=\"Default\"><url>http://web.example:8080/hvn/</url>"
            u"<mode>" +
            std::u16string(mode) + u"</mode>" + more + u"<autologin>true</autologin></profile>";
        store.SaveLogin(u"web.example", u"ann", token, nullptr, 0, nullptr, profile.c_str(),
                        nullptr);
        ASSERT_TRUE(store.current && store.current->profileElement);
    }
    std::string calls() {
        std::string all;
        for (auto& c : service.calls)
            all += c + ";";
        return all;
    }
};

TEST_F(Client, LoginStartsTheSessionSignsInAndPointsTheOutpostAtTheEngine) {
    login(u"both");
    service.script["startSession"] = {RecordingService::ok(kDoc)};
    service.script["startDRX"] = {
        RecordingService::ok("<obj>" + attr("connectioncookie", "SO-1") + "</obj>")};
    ASSERT_TRUE(ic->Login());
    std::string c = calls();
    EXPECT_EQ(c.substr(c.find("setDRX")), "setDRXConfiguration(C1);startDRX(C1);"
                                          "authenticateSession(C1,,tok);");
    EXPECT_EQ(service.endpoints[0].protocol + "://" + service.endpoints[0].host + ":" +
                  service.endpoints[0].portText + "/" + service.endpoints[0].path,
              "http://web.example:8080/axis/HVNWS.jws");
    EXPECT_EQ(narrow(so->server), "pe.example");
    EXPECT_EQ(so->port, 7443);
    EXPECT_EQ(so->secure, 1);
    EXPECT_EQ(so->firewallTraversal, 1);
    EXPECT_EQ(narrow(so->connectionCookie), "SO-1");
    EXPECT_EQ(so->events, std::vector<std::string>{"connect 1"});
    EXPECT_EQ(ic->pendingKind, 2);
    for (const char* p : {"drxport=4321", "profilename=Default", "sid=C1", "cid="})
        EXPECT_NE(narrow(ic->pendingUrl).find(p), std::string::npos) << p;
    EXPECT_EQ(settings.Value(u"sessioncookie"), u"C1");
    EXPECT_EQ(settings.Value(u"jwslocation"), u"axis/HVNWS.jws");
    // Signed in: a second login calls nothing.
    size_t n = service.calls.size();
    EXPECT_TRUE(ic->Login());
    EXPECT_EQ(service.calls.size(), n);
}

TEST_F(Client, ServerAndProxyFollowTheUrlParserAndTheProxyKind) {
    struct Case {
        const char16_t* url;
        const char16_t* proxyType;
        bool accepted;
        const char* protocol;
        int port;
        const char* proxyHost;
    } cases[] = {
        {u"HTTPS://web.example/hvn/", u"HTTP", true, "https", 443, "proxy"},
        {u"http://web.example:8080/", u"HTTP", true, "http", 8080, "proxy"},
        {u"http://web.example:8080/", u"SOCKS", true, "http", 8080, ""},
        {u"ftp://web.example/", u"HTTP", false, "", 0, ""},
        {u"http://web.example:70000/", u"HTTP", false, "", 0, ""},
    };
    for (const Case& k : cases) {
        CIntegratedClient c(so);
        free(so->proxyHost);
        free(so->proxyType);
        so->proxyHost = diTextFromUtf8Dup("proxy", 5);
        so->proxyType = diTextFromUtf8Dup(narrow(k.proxyType).c_str(), narrow(k.proxyType).size());
        so->proxyPort = 3128;
        EXPECT_EQ(c.SetServer(k.url), k.accepted) << narrow(k.url);
        EXPECT_EQ(c.protocol8, k.protocol) << narrow(k.url);
        EXPECT_EQ(c.port, k.port) << narrow(k.url);
        EXPECT_EQ(c.proxyHost8, k.proxyHost) << narrow(k.url);
    }
}

TEST_F(Client, SessionDocumentsAreCheckedBeforeTheyReachTheOutpost) {
    std::string cookie = attr("mrkqvlsessioncookie", "C");
    struct Case {
        std::string doc;
        bool ok;
        const char* server;
        int port;
        int secure;
    } cases[] = {
        {kDoc, true, "pe.example", 7443, 1},
        // Absent attrs leave the fields; "ssl" is not "SSL".
        {doc(cookie, attr("security", "ssl").c_str()), true, "old", 99, 0},
        // A port outside 1-65535 is absent.
        {doc(cookie, attr("port", "70000").c_str()), true, "old", 99, 0},
        {doc(cookie, attr("port", "99999999999").c_str()), true, "old", 99, 0},
        // Values are attrs of the root, not XML attributes; a nested attr
        // is not the root's.
        {"<obj mrkqvlsessioncookie=\"C\"><obj name=\"connectionattributes\"/></obj>", false, "old",
         99, 0},
        {doc("<obj name=\"x\">" + cookie + "</obj>", ""), false, "old", 99, 0},
        // No cookie, a cookie that would split a header, no group, no XML.
        {doc("", attr("server", "x").c_str()), false, "old", 99, 0},
        {doc(attr("mrkqvlsessioncookie", "C&#10;X: y"), ""), false, "old", 99, 0},
        {doc(cookie, nullptr), false, "old", 99, 0},
        {"<html>proxy page", false, "old", 99, 0},
    };
    for (const Case& k : cases) {
        free(so->server);
        so->server = diTextFromUtf8Dup("old", 3);
        so->port = 99;
        so->secure = 0;
        EXPECT_EQ(ic->ReadSessionDocument(k.doc), k.ok) << k.doc;
        EXPECT_EQ(narrow(so->server), k.server) << k.doc;
        EXPECT_EQ(so->port, k.port) << k.doc;
        EXPECT_EQ(so->secure, k.secure) << k.doc;
    }
}

TEST_F(Client, RestartReplacesTheStoredSessionKeys) {
    login(u"integrated");
    ic->SetServer(u"http://web.example:8080/hvn/");
    ASSERT_TRUE(ic->ReadSessionDocument(kDoc));
    service.script["restartSession"] = {
        RecordingService::ok(doc(attr("mrkqvlsessioncookie", "C2"), ""))};
    ASSERT_TRUE(ic->Restart(u"rt"));
    EXPECT_EQ(settings.Value(u"sessioncookie"), u"C2");
    EXPECT_EQ(settings.bytes.find("C1"), std::string::npos);
}

TEST_F(Client, TheStoredTokenGoesOnlyWhenTheServerRefusedIt) {
    struct Case {
        const char* what;
        DiWsReply reply;
        bool kept;
    } cases[] = {
        {"time-out", RecordingService::code(-1), true},
        {"proxy page", RecordingService::code(32), true},
        {"fault", RecordingService::code(12, "SOAP-ENV:Server.userException"), false},
        {"soap_endv", RecordingService::ok("soap_endv: bad token"), false},
    };
    for (const Case& k : cases) {
        login(u"integrated");
        ic->SetServer(u"http://web.example:8080/hvn/");
        ic->sessionCookie8 = "C1";
        service.script["authenticateSession"] = {k.reply};
        EXPECT_FALSE(ic->AutoLogin()) << k.what;
        std::string file = store.Serialize();
        EXPECT_EQ(file.find("<AT>tok</AT>") != std::string::npos, k.kept) << k.what;
        EXPECT_EQ(file.find("<autologin>") != std::string::npos, k.kept) << k.what;
    }
}

// An element that counts the searches walking into it, put first below a
// parent so that every search of the tree below passes it. A removal that
// keeps finding a key it cannot remove searches without end: past a count
// no finite removal reaches, that search is cut short by an exception (once:
// the walks of the clean-up pass as usual).
struct EndlessSearch {};
class SearchWatch : public CQVLXMLContentTag {
  public:
    SearchWatch() : CQVLXMLContentTag("watch") {}
    CQVLXMLElementList* GetChildren() override {
        if (walks >= 0 && ++walks > 1000) {
            walks = -1;
            throw EndlessSearch{};
        }
        return children;
    }
    static void PutFirst(CQVLXMLElement* parent) {
        CQVLXMLElementList* kids = parent->GetChildren();
        ASSERT_NE(kids, nullptr);
        kids->head = new CQVLXMLElementList::Node(new SearchWatch, true, kids->head, nullptr);
        if (!kids->tail) kids->tail = kids->head;
        kids->count++;
    }

  private:
    int walks = 0;
};

// Runs a step that removes keys; false when its search had to be cut short.
bool endsItsSearch(const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const EndlessSearch&) {
        return false;
    }
}

// Keys of the same name further down (a profile's own "AT", a flag inside a
// group, a group of the settings file) are not the keys being replaced:
// they stay, and the sign-in and the session save return.
TEST_F(Client, ARefusedTokenAndARestartReplaceOnlyTheirOwnKeys) {
    struct Case {
        const char* what;
        const char16_t* more; // inside the profile
        const char* kept;
    } cases[] = {
        {"a profile's own token", u"<AT>theirs</AT>", "<AT>theirs</AT>"},
        {"a flag in a group", u"<g><autologin>grouped</autologin></g>",
         "<autologin>grouped</autologin>"},
    };
    for (const Case& k : cases) {
        login(u"integrated", u"tok", k.more);
        ic->SetServer(u"http://web.example:8080/hvn/");
        ic->sessionCookie8 = "C1";
        service.script["authenticateSession"] = {RecordingService::ok("soap_endv: bad token")};
        SearchWatch::PutFirst(store.current->profileElement);
        bool signedIn = true;
        ASSERT_TRUE(endsItsSearch([&] { signedIn = ic->AutoLogin(); })) << k.what;
        EXPECT_FALSE(signedIn) << k.what;
        std::string file = store.Serialize();
        EXPECT_EQ(file.find("<AT>tok</AT>"), std::string::npos) << k.what << file;
        EXPECT_EQ(file.find("<autologin>true</autologin>"), std::string::npos) << k.what << file;
        EXPECT_NE(file.find(k.kept), std::string::npos) << k.what << file;
        size_t n = service.calls.size();
        EXPECT_FALSE(ic->AutoLogin()) << k.what; // nothing left to sign in with
        EXPECT_EQ(service.calls.size(), n) << k.what;
    }
    std::string grouped = "<settings><emulatorcookies/><g><server>kept</server></g>"
                          "<server>a</server><server>b</server></settings>";
    ASSERT_TRUE(settings.ParseBytes(grouped.data(), grouped.size()));
    SearchWatch::PutFirst(settings.document->root);
    ic->SetServer(u"http://web.example:8080/hvn/");
    bool read = false;
    ASSERT_TRUE(endsItsSearch([&] { read = ic->ReadSessionDocument(kDoc); }));
    ASSERT_TRUE(read);
    EXPECT_EQ(settings.Value(u"server"), u"web.example");
    EXPECT_NE(settings.bytes.find("<server>kept</server>"), std::string::npos) << settings.bytes;
}

TEST_F(Client, AWrongCachedProxyPasswordLeadsToThePromptNotALoop) {
    ic->SetServer(u"http://web.example:8080/hvn/");
    ic->proxyHost8 = "proxy";
    ic->proxyPort = 3128;
    service.script["startSession"] = {RecordingService::code(407)};
    // The first answer goes to the password cache; the second is a cancel.
    g_fakeRoutes.dialogs = {{true, u"u", u"wrong", true}, {false, u"", u"", false}};
    EXPECT_FALSE(ic->StartSession("id", false));
    EXPECT_EQ(g_fakeRoutes.dialogPrompts.size(), 2u);
    EXPECT_EQ(service.calls.size(), 2u);
    EXPECT_EQ(service.endpoints[1].proxyUser + ":" + service.endpoints[1].proxyPassword, "u:wrong");
}

// The sign-out at the outpost's end may ask a certificate question, whose
// loop delivers another end: that is the end in progress, and the outpost
// and its client go once.
TEST_F(Client, AnEndDeliveredUnderTheSignOutIsTheEndInProgress) {
    login(u"integrated");
    ic->SetServer(u"http://web.example:8080/hvn/");
    ASSERT_TRUE(ic->ReadSessionDocument(kDoc));
    g_diIntegratedClient = ic;
    int ends = 0;
    service.whileCalling = [&ends](const std::string& op) {
        if (op == "endSession" && ends++ == 0) {
            EXPECT_EQ(diSODestroy(), 0);
        }
    };
    EXPECT_EQ(diSODestroy(), 1);
    so = nullptr, ic = nullptr;
    EXPECT_EQ(g_diOutpost, nullptr);
    EXPECT_EQ(calls(), "endSession(C1);");
}

TEST_F(Client, UserInfoStartsTheNamedObjectOncePerProcess) {
    std::u16string object = u"calc\" -server evil \\\"x\\";
    g_fakeApp.opt.objectName = const_cast<DiChar*>(object.c_str());
    ic->OnUserInfo();
    ic->OnUserInfo();
    ASSERT_EQ(ic->runs.size(), 1u);
    std::vector<std::u16string> args = split(u"client.exe" + ic->runs[0]);
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[0], u"-launchconfig");
    EXPECT_EQ(args[1], u"set 1.xml");
    EXPECT_EQ(args[2], u"-application");
    EXPECT_EQ(args[3], object);
    EXPECT_TRUE(service.calls.empty());
    g_fakeApp.opt.objectName = nullptr;
}

TEST_F(Client, WithoutAnObjectUserInfoRegistersReadsTheWebtopAndOpensTheWaitingUrl) {
    ic->SetServer(u"http://web.example/");
    ic->sessionCookie8 = "C1";
    ic->pendingUrl = u"http://web.example/hvn/?sid=C1";
    ic->pendingKind = 2;
    ic->OnUserInfo();
    EXPECT_EQ(calls(), "registerDRXEventListener(C1,Print);registerDRXEventListener(C1,Restart);"
                       "getWebtop(C1,false,true);");
    EXPECT_EQ(ic->runs, std::vector<std::u16string>{u"-launchconfig \"set 1.xml\""});
    EXPECT_EQ(so->events, std::vector<std::string>{"browser http://web.example/hvn/?sid=C1"});
    EXPECT_EQ(ic->pendingKind, 0);
}

TEST(ClientTexts, ArgumentsReadBackAsTheyWere) {
    for (std::u16string s : {u"plain", u"two words", u"a\"b", u"end\\", u"c:\\dir\\ x\\\\", u"\\\"",
                             u"", u"\" -x \""}) {
        std::vector<std::u16string> args = split(u"p.exe " + diQuoteArgument(s) + u" next");
        ASSERT_EQ(args.size(), 2u) << narrow(s);
        EXPECT_EQ(args[0], s);
    }
}

TEST(ClientTexts, UrlsLanguagesPortsAndTrimming) {
    std::u16string longCookie(300, u'k');
    struct UrlCase {
        const char16_t *url, *cid, *sid, *want;
    } urls[] = {
        {u"http://w/hvn/x", u"1:2", u"a&b=c", u"http://w/hvn/x?cid=1%3A2&sid=a%26b%3Dc"},
        {u"http://w/hvn/?a=1", u"id", u"s", u"http://w/hvn/?a=1&cid=id&sid=s"},
    };
    for (const UrlCase& k : urls)
        EXPECT_EQ(diWebtopSessionUrl(k.url, k.cid, k.sid), k.want);
    EXPECT_NE(diWebtopSessionUrl(u"u", u"i", longCookie).find(u"sid=" + longCookie),
              std::u16string::npos);

    struct LangCase {
        const char16_t *location, *language, *want;
    } langs[] = {
        {u"/hvn/usertocs/a.htm", u"zh_TW", u"U/help/zh-tw/usertocs/a.htm"},
        {u"/hvn/usertocs/a.htm", u"zh", u"U/help/zh/usertocs/a.htm"},
        {u"/hvn/usertocs/a.htm", u"FR", u"U/help/fr/usertocs/a.htm"},
        {u"/hvn/usertocs/a.htm", u"de_DE", u"U/help/en/usertocs/a.htm"},
        {u"/hvn/admintocs/b.htm", u"ja_JP", u"U/help/ja/admintocs/b.htm"},
        {u"/hvn/admintocs/b.htm", u"ko", u"U/help/en/admintocs/b.htm"},
    };
    for (const LangCase& k : langs)
        EXPECT_EQ(diHelpUrl(u"U/", k.location, k.language), k.want) << narrow(k.language);

    struct PortCase {
        const char16_t* text;
        int32_t port;
    } ports[] = {{u"8080", 8080}, {u"65535", 65535},  {u"65536", 0},
                 {u"70000", 0},   {u"4294967297", 0}, {u"99999999999999999999", 0},
                 {u"", 0},        {u"0", 0},          {u"80a", 0},
                 {u"-1", 0}};
    for (const PortCase& k : ports)
        EXPECT_EQ(diParsePort(k.text), k.port) << narrow(k.text);

    struct TrimCase {
        const char16_t *text, *left, *right;
    } trims[] = {{u" \t\r\nurl \n", u"url \n", u" \t\r\nurl"},
                 {u"   ", u"", u""},
                 {u"a b", u"a b", u"a b"},
                 {u"\vx", u"\vx", u"\vx"}};
    for (const TrimCase& k : trims) {
        std::u16string l = k.text, r = k.text;
        diStrTrimLeft(&l[0]);
        diStrTrimRight(&r[0]);
        EXPECT_EQ(std::u16string(l.c_str()), k.left);
        EXPECT_EQ(std::u16string(r.c_str()), k.right);
    }
}

TEST_F(Client, DocumentUrlsOnPortZeroAndWithHelpLanguages) {
    ic->SetServer(u"http://web.example/");
    ic->port = 0;
    EXPECT_EQ(ic->BuildDocumentUrl(u"x/y.htm"), u"http://web.example/quorvellan/x/y.htm");
    ic->SetServer(u"http://web.example:8080/");
    EXPECT_EQ(ic->BuildDocumentUrl(u"/hvn/a"), u"http://web.example:8080/hvn/a");
    EXPECT_EQ(ic->BuildDocumentUrl(u"https://o/x"), u"https://o/x");
}

struct RecordingHandler : CLaunchObjectHandler {
    std::vector<std::string> events;
    bool OpenBrowser(const DiChar* url) override {
        events.push_back("browser " + narrow(url));
        return true;
    }
    void ShowMessage(uint32_t message) override {
        events.push_back("box " + std::to_string(message));
    }
    void Pause(uint32_t ms) override { events.push_back("pause " + std::to_string(ms)); }
};

struct Handler : ::testing::Test {
    RecordingService service;
    CMemProfileStore store;
    MemSettingsFile file;
    RecordingHandler handler;
    void SetUp() override {
        routeFakesReset();
        g_diWsService = &service;
        store.Load(nullptr);
        for (auto kv : {std::pair<const DiChar*, const DiChar*>{u"sessioncookie", u"S&1"},
                        {u"protocol", u"http"},
                        {u"server", u"w"},
                        {u"port", u"8080"},
                        {u"jwslocation", u"axis/HVNWS.jws"}})
            file.AddKey(kv.first, kv.second);
    }
    void TearDown() override { g_diWsService = nullptr; }
    static DiWsReply userFault(const char* text) {
        DiWsReply r = RecordingService::code(12, "SOAP-ENV:Server.userException");
        r.faultString = std::string("java.rmi.RemoteException: ") + text;
        return r;
    }
};

TEST_F(Handler, ObjectNamesPickTheirPathAndRepliesTheirCodes) {
    struct Case {
        const char16_t* name;
        bool clientId;
        std::vector<DiWsReply> replies; // for whatever operation is called
        int result;
        const char* call;  // the one call expected, or ""
        const char* event; // the one browser or box event expected, or ""
    } cases[] = {
        {u"http://w:8080/hvn/x?a=1",
         true,
         {},
         0,
         "",
         "browser http://w:8080/hvn/x?a=1&cid=7%3A9&sid=S%261"},
        {u"http://w:8080/hvn/x", false, {}, 1, "", ""},
        {u"http://elsewhere/", false, {}, 0, "", "browser http://elsewhere/"},
        {u"HTTP://w:8080/hvn/", true, {}, 0, "startEmulatorSession(S&1,HTTP://w:8080/hvn/)", ""},
        {u"ic_logout", true, {}, 0, "endSession(S&1)", ""},
        {u"ic_logout", true, {RecordingService::code(21)}, 2, "endSession(S&1)", ""},
        {u"IC_Logout", true, {}, 0, "startEmulatorSession(S&1,IC_Logout)", ""},
        {u"calc",
         true,
         {userFault("Server.LaunchFailed")},
         1,
         "startEmulatorSession(S&1,calc)",
         "box 495"},
        {u"calc",
         true,
         {userFault("Client.InvalidSessionCookie")},
         2,
         "startEmulatorSession(S&1,calc)",
         ""},
        {u"calc",
         true,
         {userFault("Server.NoDRXResponse")},
         4,
         "startEmulatorSession(S&1,calc)",
         ""},
        {u"calc", true, {RecordingService::code(23)}, 23, "startEmulatorSession(S&1,calc)", ""},
        {u"calc",
         true,
         {RecordingService::ok("soap_endv")},
         1,
         "startEmulatorSession(S&1,calc)",
         ""},
    };
    for (const Case& k : cases) {
        diSOSetLocalSetting(u"drxclientid", k.clientId ? u"7:9" : u"");
        service.calls.clear();
        service.script.clear();
        handler.events.clear();
        for (const DiWsReply& r : k.replies) {
            service.script["startEmulatorSession"].push_back(r);
            service.script["endSession"].push_back(r);
        }
        EXPECT_EQ(handler.HandleObject(k.name, &file), k.result) << narrow(k.name);
        std::string call = service.calls.empty() ? "" : service.calls[0];
        EXPECT_EQ(call, k.call) << narrow(k.name);
        EXPECT_LE(service.calls.size(), 1u);
        std::string event = handler.events.empty() ? "" : handler.events[0];
        EXPECT_EQ(event, k.event) << narrow(k.name);
    }
    // A file without the session's settings starts nothing and says so.
    MemSettingsFile empty;
    EXPECT_EQ(handler.HandleObject(u"calc", &empty), DI_OBJ_NO_SETTINGS);
}

TEST_F(Handler, ALaunchConfigurationSuspendsAllThenResumesInOrderWithPauses) {
    for (const DiChar* c : {u"e1", u"e2", u"e3"})
        file.AddCookie(c);
    EXPECT_EQ(handler.HandleAllItems(&file), 0);
    std::string all;
    for (auto& c : service.calls)
        all += c + ";";
    EXPECT_EQ(all, "suspendSession(S&1,e1);suspendSession(S&1,e2);suspendSession(S&1,e3);"
                   "resumeSession(S&1,e1);resumeSession(S&1,e2);resumeSession(S&1,e3);");
    EXPECT_EQ(handler.events, (std::vector<std::string>{"pause 3000", "pause 2000", "pause 1000"}));
}

TEST_F(Handler, AProxyThatKeepsAskingEndsAtTheUsersCancel) {
    file.AddKey(u"proxyserver", u"proxy");
    file.AddKey(u"proxyport", u"3128");
    service.script["startEmulatorSession"] = {RecordingService::code(407)};
    g_fakeRoutes.dialogs = {{true, u"u", u"wrong", true}, {false, u"", u"", false}};
    EXPECT_EQ(handler.HandleObject(u"calc", &file), 407);
    EXPECT_EQ(g_fakeRoutes.dialogPrompts.size(), 2u);
    EXPECT_EQ(service.calls.size(), 2u);
    EXPECT_EQ(service.endpoints[0].proxyHost, "proxy");
}

TEST(ConnSettings, TheDialogsEntriesBecomeTheValue) {
    struct Case {
        int dialog;
        int32_t kind;
        const char16_t *host, *port;
        int32_t result;
        bool proxy;
        const char* hostOut;
        int32_t portOut;
        const char16_t* kindName;
    } cases[] = {
        {2, 1, u"p", u"3128", 0, false, "", 0, nullptr},
        {1, 0, u"typed", u"3128", 1, false, "", 0, nullptr},
        {1, 1, u"p", u"3128", 1, true, "p", 3128, u"HTTP"},
        {1, 2, u" p ", u"", 1, true, " p ", 0, u"SOCKS"},
        {1, 1, u"p", u"70000", 1, true, "p", 0, u"HTTP"},
        {1, 1, u"p", u"4294971424", 1, true, "p", 0, u"HTTP"},
    };
    for (const Case& k : cases) {
        DiConnSettings s;
        EXPECT_EQ(diConnSettingsFill(&s, k.dialog, u"http://w/", k.kind, k.host, k.port), k.result);
        EXPECT_EQ(diConnSettingsGetResult(&s), k.result);
        EXPECT_EQ(diConnSettingsUsesProxy(&s), k.proxy);
        const DiChar* h = diConnSettingsGetProxyHost(&s);
        EXPECT_EQ(narrow(h ? h : u""), k.hostOut);
        EXPECT_EQ(s.proxyPort, k.portOut) << narrow(k.port);
        const DiChar* name = diConnSettingsGetProxyKindName(&s);
        EXPECT_EQ(std::u16string(name ? name : u"-"), k.kindName ? k.kindName : u"-");
    }
    struct UrlCase {
        const char16_t* typed;
        bool ok;
        const char16_t* kept;
    } urls[] = {{u"  http://w:8080/hvn/ \r\n", true, u"http://w:8080/hvn/"},
                {u" \t ", false, u""},
                {u"w/hvn", false, u"w/hvn"}};
    for (const UrlCase& k : urls) {
        std::u16string u = k.typed;
        EXPECT_EQ(diConnSettingsCheckUrl(&u[0]), k.ok) << narrow(k.typed);
        EXPECT_EQ(std::u16string(u.c_str()), k.kept);
    }
}

} // namespace
