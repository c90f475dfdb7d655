// The server's properties: the values they carry (integer lists, URLs, the
// launch line, the plug-in command's tokens) through the engine's dispatch
// over the recording device, and the plug-in registry over a fake loader.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "xde/dixprop.h"

#include "core/diapp.h"
#include "core/diutil.h"

#include <map>
#include <string>

namespace {

using U = std::u16string;

std::string narrow(const U& s) {
    std::string o;
    for (char16_t c : s) o += c < 0x80 ? char(c) : '?';
    return o;
}

std::vector<std::string> g_styleCalls, g_focusCalls;

void swmUpdateStyle(DiXDisplay*, DiXWindow* w) {
    const uint32_t* s = w->frame->styles;
    char buf[64];
    snprintf(buf, sizeof buf, "%u %08x %08x %08x", w->head.id, s[0], s[1], s[2]);
    g_styleCalls.push_back(buf);
}
void swmFocus(DiXDisplay*, DiXWindow* w) {
    g_focusCalls.push_back(std::to_string(w->head.id));
}

struct Props : ::testing::Test, EngineRig {
    DdXDeviceVector vec{};
    void SetUp() override {
        open();
        vec = *recordingDevice();
        vec.swmUpdateStyle = swmUpdateStyle;
        vec.swmFocus = swmFocus;
        d->dev = &vec;
        g_styleCalls.clear();
        g_focusCalls.clear();
        // Multi-window: top levels get frames.
        startSession(0x2, 0, 200, 100, 24, 0x1);
        for (uint32_t id : {3u, 4u})
            request(15, Bytes().u8(id).u16(10).u16(10).u16(50).u16(40).u8(2).u8(0).u8(0).u8(
                            0).u32(0));
        sent();
    }
    void TearDown() override {
        g_ddApp->url = nullptr;
        close();
    }
    void prop(uint32_t op, const std::string& window, const std::string& name,
              const std::string& value) {
        request(59, Bytes().u16(0).u8(op).text(window).text(name).text(value));
    }
    // The values of the replies ("qvl_call_client_reply") sent since the last call.
    std::vector<std::string> replies() {
        std::vector<std::string> out;
        for (const SentMessage& m : sent()) {
            size_t at = m.payload.find("qvl_call_client_reply");
            if (m.type == 17 && at != std::string::npos) out.push_back(m.payload.substr(at + 24)); // name, 0, u16 length
        }
        return out;
    }
};

TEST_F(Props, SeamlessValuesApplyOnlyWhenEveryIntegerParses) {
    ASSERT_TRUE(d->windows[3] && d->windows[3]->frame);
    // Styles are u32 printed with "%d": a negative value is the high bit.
    prop(1, "3", "qvl-swm-windowinfo", "-2147483648,262144,7");
    prop(1, "4", "qvl-swm-windowinfo", " 13565952, 0, 4294967295");
    EXPECT_EQ(g_styleCalls,
              (std::vector<std::string>{"3 80000000 00040000 00000007",
                                        "4 00cf0000 00000000 ffffffff"}));
    g_styleCalls.clear();
    for (const char* bad : {"1,2", "1,2,3,4", "1,,3", "1,2,3x", "1,2,x", "", "1;2;3",
                            "4294967296,0,0", "-2147483649,0,0", "1,2,3,"})
        prop(1, "3", "qvl-swm-windowinfo", bad);
    // A window that is not a framed one, or not a window at all.
    for (const char* window : {"", "0", "5", "256", "3a", "-3", "99999999999"})
        prop(1, window, "qvl-swm-windowinfo", "1,2,3");
    prop(0, "3", "qvl-swm-windowinfo", "1,2,3");
    EXPECT_TRUE(g_styleCalls.empty());
    EXPECT_EQ(d->windows[3]->frame->styles[0], 0x80000000u);

    prop(1, "", "qvl-swm-serverinfo", "4,4,19,18,16");
    EXPECT_EQ(std::vector<int32_t>(d->swmMetrics, d->swmMetrics + 5),
              (std::vector<int32_t>{4, 4, 19, 18, 16}));
    for (const char* bad : {"4,4,19,18", "4,4,19,18,16,1", "-1,4,19,18,16", "4,4,19,18,99999"})
        prop(1, "", "qvl-swm-serverinfo", bad);
    EXPECT_EQ(d->swmMetrics[0], 4);
    EXPECT_EQ(d->swmMetrics[4], 16);

    prop(1, "4", "qvl-swm-focusinfo", "");
    prop(1, "7", "qvl-swm-focusinfo", "");
    prop(0, "3", "qvl-swm-focusinfo", "");
    EXPECT_EQ(g_focusCalls, (std::vector<std::string>{"4"}));

    // Deleting any property but the transient switch does nothing.
    prop(1, "", "qvl-cwm-oldtransient", "true");
    prop(0, "", "mrkqvlloadurl", "");
    EXPECT_TRUE(d->flags & DI_XFLAG_OLDTRANSIENT);
    prop(1, "", "qvl-cwm-oldtransient", "yes");
    EXPECT_FALSE(d->flags & DI_XFLAG_OLDTRANSIENT);
}

TEST_F(Props, UrlsAreJoinedToTheBaseAndRefusedWhenUnsafe) {
    U server = u"https://srv.example/login/index.html";
    std::vector<DiChar> buf(server.begin(), server.end());
    buf.push_back(0);
    prop(1, "", "mrkqvlloadurl", "http://ignored/apps/doc/");
    EXPECT_TRUE(g_rdev.urls.empty()); // no base at all
    g_ddApp->url = buf.data();
    prop(1, "", "mrkqvlloadurl", "http://ignored/apps/doc/");
    prop(1, "", "mrkqvlloadurl", "docroot/a.html?x=1");
    prop(1, "", "mrkqvlloadurl", "apps/doc");          // not a full URL
    prop(1, "", "mrkqvlloadurl", "http://h/a b");      // white space
    prop(1, "", "mrkqvlloadurl", "http://h/a\" -x");   // a quote
    prop(1, "", "mrkqvlloadurl", "docroot/a\tb");      // a control character
    prop(1, "", "mrkqvlloadurl", "http://h/\xa0x");    // a no-break space
    prop(1, "", "mrkqvlloadurl", "");
    // Docroot pages stay in the redirect page's folder.
    for (const char* leaves : {"docroot/../../../Windows/win.ini", "docroot/a/./../../x",
                               "docroot/..", "docroot/a\\..\\..\\x", "docroot/%2e%2E/x",
                               "docroot/a%2f..%2Fx", "docroot/a%5c..%5Cx", "docroot/.%2e/x"})
        prop(1, "", "mrkqvlloadurl", leaves);
    prop(1, "", "mrkqvlloadurl", "docroot/a..b/.c?u=../x%2f"); // no step, and a query
    EXPECT_EQ(g_rdev.urls, (std::vector<U>{u"https://srv.example/login/apps/doc",
                                           u"docroot/a.html?x=1",
                                           u"docroot/a..b/.c?u=../x%2f"}));

    DiXText url;
    struct Case {
        const char16_t *base, *value, *want;
    } cases[] = {
        {u"https://s/a/b/", u"http://x/p/q", u"https://s/a/b/p/q"},
        {u"https://s/a/page.html", u"http://x/p", u"https://s/a/p"},
        {u"https://s/page.html", u"ftp://x/", u"https://s/"},
        {u"https://s", u"http://x/p", u"https://s/p"},
        {u"https://s/a/page.htm", u"http://x/p", u"https://s/a/page.htm/p"},
        {u"https://s.html", u"http://x/p", u"https://s.html/p"}, // the host is no file
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(diXPropJoinUrl(c.base, c.value, &url)) << narrow(c.base);
        EXPECT_EQ(url, U(c.want)) << narrow(c.base);
    }
    EXPECT_FALSE(diXPropJoinUrl(u"https://s/", u"http:///p", &url));
    EXPECT_FALSE(diXPropJoinUrl(u"https://s/", u"://x/p", &url));
    EXPECT_FALSE(diXPropJoinUrl(u"/", u"http://x/p", &url));
}

// The value of "QVL_LAUNCHPROP": the texts, each followed by a NUL unless
// `last` is false for the final one.
U launchValue(std::vector<U> texts, bool last = false) {
    U v;
    for (size_t i = 0; i < texts.size(); i++) {
        v += texts[i];
        if (i + 1 < texts.size() || last) v += char16_t(0);
    }
    return v;
}

TEST(PropValues, LaunchLineRefusesWhatCouldAddOptions) {
    DiXText line;
    const char* why = nullptr;
    ASSERT_TRUE(diXPropLaunchLine(launchValue({u"http://h/x", u"obj name", u"", u"pw"}), &line,
                                  &why));
    EXPECT_EQ(line, U(u"-url http://h/x -objectname \"obj name\" -username \"\" -epassword "
                      u"\"pw\" -login -minimized"));
    // A terminator after the fourth text is no fifth text.
    EXPECT_TRUE(diXPropLaunchLine(launchValue({u"u", u"o", u"n", u"p"}, true), &line, &why));
    const U refused[] = {
        launchValue({u"http://h/x", u"o", u"u"}),
        launchValue({u"http://h/x", u"o", u"u"}, true),
        launchValue({u"http://h/x"}),
        launchValue({u"", u"o", u"u", u"p"}),
        launchValue({u"http://h/x -ca evil", u"o", u"u", u"p"}),
        launchValue({u"http://h/x\tq", u"o", u"u", u"p"}),
        launchValue({u"http://h/x", u"o\" -resource \"r", u"u", u"p"}),
        launchValue({u"http://h/x", u"o", u"u\rv", u"p"}),
        launchValue({u"http://h/x", u"o", u"u", u"p\x7f"}),
    };
    for (const U& v : refused) {
        why = nullptr;
        EXPECT_FALSE(diXPropLaunchLine(v, &line, &why)) << narrow(v);
        EXPECT_NE(why, nullptr);
    }
    // The whole line within the 1024-character buffer, terminator included.
    ASSERT_TRUE(diXPropLaunchLine(launchValue({u"u", u"o", u"n", u"p"}), &line, &why));
    const size_t fixed = line.size() - 4;
    U fits = launchValue({u"u", u"o", u"n", U(1023 - fixed - 3, u'p')});
    EXPECT_TRUE(diXPropLaunchLine(fits, &line, &why));
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_FALSE(diXPropLaunchLine(fits + u"p", &line, &why));
}

// The new process splits the line back by the runtime's rules: every text
// must come back as exactly the one argument it was given as.
TEST(PropValues, LaunchLineSplitsBackIntoTheTextsItWasGiven) {
    const std::vector<U> hostile[] = {
        {u"http://h/x", u"obj\\", u" -ca \\\\evil\\share\\ca.pem", u"pw"},
        {u"http://h/x", u"o\\\\", u"u\\", u"p\\\\\\"},
        {u"http://h/x\\", u"\\", u"\\ -url http://evil/", u"p"},
        {u"http://h/x", u"a\\b\\\\c", u"dom\\user", u"-options x"},
        {u"http://h/x", u"", u"", u"\\"},
    };
    for (const std::vector<U>& texts : hostile) {
        DiXText line;
        const char* why = nullptr;
        ASSERT_TRUE(diXPropLaunchLine(launchValue(texts), &line, &why)) << narrow(texts[1]);
        U full = u"prog " + line;
        size_t argc = 0, nchars = 0;
        diSplitCommandLine(full.c_str(), nullptr, nullptr, &argc, &nchars);
        std::vector<DiChar*> argv(argc);
        std::vector<DiChar> chars(nchars);
        diSplitCommandLine(full.c_str(), argv.data(), chars.data(), &argc, &nchars);
        std::vector<U> got(argv.begin() + 1, argv.end() - 1);
        EXPECT_EQ(got, (std::vector<U>{u"-url", texts[0], u"-objectname", texts[1], u"-username",
                                       texts[2], u"-epassword", texts[3], u"-login",
                                       u"-minimized"}))
            << narrow(line);
    }
}

TEST(PropValues, TokensSplitAtBlanksAndDecodeEscapesAsBytes) {
    struct Case {
        U value;
        std::vector<U> want;
    } cases[] = {
        {u"CALL inst a+b %41%2a", {u"CALL", u"inst", u"a b", u"A*"}},
        {u"a%e9%C3%A9%80%ff", {u"a\u00e9\u00c3\u00a9\u0080\u00ff"}}, // not U+FFxx
        {u"%zz %4 %", {u"%zz", u"%4", u"%"}},
        {u"a  b", {u"a", u"", u"b"}},
        {u"a b ", {u"a", u"b"}},
        {u"%20%2B", {u" +"}},
        {u"%00x", {U(u"\0x", 2)}},
        {u"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(diXPropTokens(c.value), c.want) << narrow(c.value);
}

TEST(PropValues, IntegerListsAreAllOrNothing) {
    int32_t v[3] = {9, 9, 9};
    auto parse = [&](const U& t, int64_t lo, int64_t hi, int n) {
        return diXPropParseInts(t.data(), uint32_t(t.size()), lo, hi, v, n);
    };
    EXPECT_TRUE(parse(u"+1,-2, 3", -10, 10, 3));
    EXPECT_EQ(std::vector<int32_t>(v, v + 3), (std::vector<int32_t>{1, -2, 3}));
    for (const char16_t* bad : {u"1,2", u"1,2,3 ", u" ,1,2", u"1,2,11", u"1,2,-", u"1 ,2,3",
                                u"99999999999999999999,1,1"})
        EXPECT_FALSE(parse(bad, -10, 10, 3)) << narrow(bad);
    EXPECT_EQ(v[2], 3);
    EXPECT_TRUE(parse(u"4294967295", 0, UINT32_MAX, 1));
    EXPECT_EQ(v[0], -1);
}

// The fake loader: modules are the files that exist; each function answers
// what the test sets, and every call and unload is logged.
struct FakeLib {
    std::map<std::string, int32_t> answers; // exported name to its result
};
std::map<std::string, FakeLib> g_files;
std::vector<std::string> g_calls;
std::string g_current;

void* load(const DiChar* file) {
    auto it = g_files.find(narrow(file));
    g_calls.push_back("load " + narrow(file));
    return it == g_files.end() ? nullptr : &it->second;
}
struct Fn {
    FakeLib* lib;
    std::string name;
};
std::vector<Fn*> g_fns;
void* symbol(void* module, const char* name) {
    FakeLib* lib = static_cast<FakeLib*>(module);
    if (!lib->answers.count(name)) return nullptr;
    g_fns.push_back(new Fn{lib, name});
    return g_fns.back();
}
void unload(void* module) {
    for (auto& f : g_files)
        if (&f.second == module) g_calls.push_back("unload " + f.first);
}
int32_t call1(void* fn, const DiChar* instance) {
    Fn* f = static_cast<Fn*>(fn);
    g_calls.push_back(f->name + " " + narrow(instance));
    return f->lib->answers[f->name];
}
int32_t call3(void* fn, const DiChar* instance, uint32_t argc, const DiChar* const* argv) {
    Fn* f = static_cast<Fn*>(fn);
    std::string s = f->name + " " + narrow(instance);
    for (uint32_t i = 0; i < argc; i++) s += " [" + narrow(argv[i]) + "]";
    g_calls.push_back(s);
    return f->lib->answers[f->name];
}
const DiXPluginLoader kLoader = {load, symbol, unload, call1, call3};

struct Registry : ::testing::Test {
    void SetUp() override {
        g_files.clear();
        g_calls.clear();
        g_files["full.dll"].answers = {
            {"qvlDLLInitialize", 1}, {"qvlDLLTerminate", 1}, {"qvlDLLCall", 42}};
        g_files["zero.dll"].answers = {{"qvlDLLInitialize", 0}, {"qvlDLLTerminate", 2}};
        g_files["none.dll"];
    }
    void TearDown() override {
        // Every test leaves the registry empty.
        EXPECT_EQ(diXPluginFirst(), nullptr);
        for (Fn* f : g_fns) delete f;
        g_fns.clear();
    }
    int32_t init(const char16_t* i, const char16_t* f) {
        return diXPluginInitialize(&kLoader, i, f);
    }
    int32_t term(const char16_t* i) { return diXPluginTerminate(&kLoader, i); }
    int32_t call(const char16_t* i, std::vector<const DiChar*> a) {
        return diXPluginCall(&kLoader, i, uint32_t(a.size()), a.data());
    }
};

TEST_F(Registry, InstancesShareOneLoadAndTheLastTerminationUnloads) {
    EXPECT_EQ(init(u"a", u"full.dll"), 0);
    EXPECT_EQ(init(u"b", u"full.dll"), 0);
    EXPECT_EQ(init(u"c", u"FULL.dll"), 1); // exact names: another file, which does not exist
    EXPECT_EQ(call(u"b", {u"x", u"y z"}), 42);
    EXPECT_EQ(call(u"B", {u"x"}), 1);
    EXPECT_EQ(term(u"a"), 0);
    EXPECT_EQ(call(u"a", {u"x"}), 1);
    EXPECT_EQ(term(u"b"), 0);
    EXPECT_EQ(term(u"b"), 1);
    EXPECT_EQ(g_calls, (std::vector<std::string>{
                           "load full.dll", "qvlDLLInitialize a", "qvlDLLInitialize b",
                           "load FULL.dll", "qvlDLLCall b [x] [y z]", "qvlDLLTerminate a",
                           "qvlDLLTerminate b", "unload full.dll"}));
}

TEST_F(Registry, FailuresStillRegisterAndTerminationAlwaysFrees) {
    // Initialisation returning 0 fails, but the instance stays registered.
    EXPECT_EQ(init(u"z", u"zero.dll"), 1);
    EXPECT_EQ(call(u"z", {u"x"}), 1); // no qvlDLLCall
    EXPECT_EQ(term(u"z"), 1);         // termination answers 2: failure, freed anyway
    // No exports: registered, then removed and unloaded with result 1.
    EXPECT_EQ(init(u"n", u"none.dll"), 1);
    EXPECT_EQ(term(u"n"), 1);
    EXPECT_EQ(term(u"n"), 1);
    EXPECT_EQ(init(u"m", u"missing.dll"), 1);
    EXPECT_EQ(term(u"m"), 1);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"load zero.dll", "qvlDLLInitialize z",
                                                 "qvlDLLTerminate z", "unload zero.dll",
                                                 "load none.dll", "unload none.dll",
                                                 "load missing.dll"}));
}

TEST_F(Registry, TheSameNameOnTwoLibrariesMeansTheFirstAndSlotsAreCapped) {
    EXPECT_EQ(init(u"dup", u"zero.dll"), 1);
    EXPECT_EQ(init(u"dup", u"full.dll"), 0);
    g_calls.clear();
    EXPECT_EQ(term(u"dup"), 1); // zero.dll's, loaded first
    EXPECT_EQ(call(u"dup", {u"x"}), 42);
    EXPECT_EQ(term(u"dup"), 0);
    EXPECT_EQ(g_calls,
              (std::vector<std::string>{"qvlDLLTerminate dup", "unload zero.dll",
                                        "qvlDLLCall dup [x]", "qvlDLLTerminate dup",
                                        "unload full.dll"}));

    std::vector<U> names;
    for (int i = 0; i < 257; i++) names.push_back(u"i" + U(1, char16_t('A' + i / 26)) +
                                                  U(1, char16_t('a' + i % 26)));
    for (int i = 0; i < 256; i++) ASSERT_EQ(init(names[i].c_str(), u"full.dll"), 0);
    g_calls.clear();
    EXPECT_EQ(init(names[256].c_str(), u"full.dll"), 1);
    EXPECT_TRUE(g_calls.empty()); // neither registered nor initialised
    // A freed slot is reused.
    EXPECT_EQ(term(names[10].c_str()), 0);
    EXPECT_EQ(init(names[256].c_str(), u"full.dll"), 0);
    EXPECT_TRUE(U(diXPluginFirst()->names[10]) == names[256]);
    for (int i = 0; i < 257; i++) {
        if (i == 10) continue;
        ASSERT_EQ(term(names[i].c_str()), 0);
    }
}

TEST(PluginNames, OnlyBareNamesAndAbsoluteLocalPathsLoad) {
    struct Case {
        const char16_t* name;
        int kind;
    } cases[] = {
        {u"plugin.dll", 1}, {u"plug in.dll", 1}, {u"C:\\dir\\p.dll", 2}, {u"c:/dir/p.dll", 2},
        {u"\\\\server\\share\\p.dll", 0}, {u"//server/share/p.dll", 0}, {u"\\/server/p.dll", 0},
        {u"\\\\?\\C:\\p.dll", 0}, {u"\\\\.\\pipe\\p", 0}, {u"\\dir\\p.dll", 0},
        {u"dir\\p.dll", 0}, {u"..\\p.dll", 0}, {u".\\p.dll", 0}, {u"C:p.dll", 0},
        {u"C:\\dir\\p.dll:stream", 0}, {u"NUL", 0}, {u"con.dll", 0}, {u"C:\\x\\COM1.dll", 0},
        {u"LPT9", 0}, {u"COM0.dll", 1}, {u"console.dll", 1}, {u"p*.dll", 0}, {u"p\n.dll", 0},
        {u"C:\\dir\\", 0}, {u"", 0}, {u"1:\\p.dll", 0}, {u"C:\\a\\..\\p.dll", 0},
        {u"C:\\a\\.\\p.dll", 0}, {u"..", 0}, {u"C:\\a..b\\...p.dll", 2}, {u"p.dll.", 1},
        {u"COM\u00b9", 0}, {u"lpt\u00b2.dll", 0}, {u"C:\\x\\COM\u00b3.dll", 0},
        {u"COM\u2074.dll", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(diXPluginNameKind(c.name), c.kind) << narrow(c.name);
}

TEST(PluginNames, DrivesOverTheNetworkAreKnownByTheirDeviceTarget) {
    struct Case {
        const char16_t* target;
        int kind;
        DiChar drive;
    } cases[] = {
        {u"\\Device\\HarddiskVolume1", 0, 0},
        {u"\\??\\UNC\\server\\share", 1, 0},
        {u"\\??\\unc\\server\\share\\dir", 1, 0},
        {u"\\Device\\LanmanRedirector\\;Z:0000\\server\\share", 1, 0},
        {u"\\Device\\Mup\\;LanmanRedirector\\server\\share", 1, 0},
        {u"\\Device\\WebDavRedirector\\host\\dav", 1, 0},
        {u"\\GLOBAL??\\UNC\\server\\share", 1, 0},
        {u"\\\\server\\share", 1, 0},
        {u"\\??\\GLOBALROOT\\Device\\Mup\\x", 1, 0},
        {u"\\??\\c:\\folder", 2, u'C'},
    };
    for (const Case& c : cases) {
        DiChar drive = 0;
        EXPECT_EQ(diXPluginDriveTarget(c.target, &drive), c.kind) << narrow(c.target);
        EXPECT_EQ(drive, c.drive) << narrow(c.target);
    }
}

TEST_F(Props, PluginCommandsReplyAndRefuseMalformedOnes) {
    g_rdev.pluginResult = 5;
    prop(1, "", "qvl_call_client_cmd", "CALL inst");
    prop(1, "", "qvl_call_client_cmd", "CALL inst %e9+x");
    prop(1, "", "qvl_call_client_cmd", "INITIALIZE inst");     // no library
    prop(1, "", "qvl_call_client_cmd", "INITIALIZE inst%00x a.dll"); // NUL in the name
    prop(1, "", "qvl_call_client_cmd", "TERMINATE");
    prop(1, "", "qvl_call_client_cmd", "initialize inst a.dll"); // commands are exact
    prop(1, "", "qvl_call_client_cmd", "");
    std::string many = "CALL inst";
    for (int i = 0; i < 32; i++) many += " a";
    prop(1, "", "qvl_call_client_cmd", many);
    prop(1, "", "qvl_call_client_cmd", many + " a");
    prop(1, "", "qvl_call_client_cmd", "CALL inst " + std::string(1020, 'x'));
    prop(1, "", "qvl_call_client_cmd", "TERMINATE inst");
    EXPECT_EQ(replies(), (std::vector<std::string>{"-1", "5", "1", "1", "1", "5", "1", "1", "5"}));
    ASSERT_EQ(g_rdev.plugin.size(), 3u);
    EXPECT_EQ(g_rdev.plugin[0], "call inst [\xe9 x]");
    EXPECT_EQ(g_rdev.plugin[2], "term inst");
    // Without plug-in support every command fails.
    vec.pluginCall = nullptr;
    prop(1, "", "qvl_call_client_cmd", "CALL inst a");
    EXPECT_EQ(replies(), (std::vector<std::string>{"1"}));
}

} // namespace
