// Launch options through the option setter, options-file lines, the
// scrambled password and the display settings. Options files themselves are
// read by the Windows layer: here a fake reader records which files were
// asked for.
#include <gtest/gtest.h>

#include "core/diapp.h"
#include "session/diprofile.h"
#include "support/mem_profile_store.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

static std::vector<std::u16string> g_filesAsked;
static bool g_fileExists;

int ddAppReadOptionsFile(DdApp*, const DiChar* path) {
    g_filesAsked.push_back(path);
    return g_fileExists ? 1 : 0;
}

namespace {

std::u16string text(const DiChar* s) {
    return s ? std::u16string(s) : u"<none>";
}

class Options : public ::testing::Test {
  protected:
    void SetUp() override {
        memset(&app, 0, sizeof app);
        app.opt.startImmediately = 1;
        g_filesAsked.clear();
        g_fileExists = false;
    }
    void TearDown() override {
        free(app.url);
        free(app.user);
        free(app.password);
        DiChar** texts[] = {&app.opt.objectName, &app.opt.objectArgs,        &app.opt.server,
                            &app.opt.script,     &app.opt.scriptLog,         &app.opt.portFile,
                            &app.opt.loginUrl,   &app.opt.connectionCookie,  &app.opt.logDir,
                            &app.opt.caFile,     &app.opt.baseRoute,         &app.opt.code,
                            &app.opt.resource,   &app.opt.preferredLanguage,
                            &app.opt.profile,    &app.opt.launchConfig};
        for (DiChar** t : texts)
            free(*t);
    }
    int set(const char16_t* name, const char16_t* value = nullptr) {
        return diAppSetOption(&app, name, value);
    }
    DdApp app;
};

TEST_F(Options, ValueOptionsStoreTheirTextAndRefuseNoValue) {
    struct Case {
        const char16_t* name;
        DiChar* DdApp::*field;
        DiChar* DdLaunchOptions::*optField;
    } cases[] = {
        {u"-url", &DdApp::url, nullptr},
        {u"/url", &DdApp::url, nullptr},
        {u"-username", &DdApp::user, nullptr},
        {u"-password", &DdApp::password, nullptr},
        {u"-args", nullptr, &DdLaunchOptions::objectArgs},
        {u"-server", nullptr, &DdLaunchOptions::server},
        {u"-portfile", nullptr, &DdLaunchOptions::portFile},
        {u"-loginurl", nullptr, &DdLaunchOptions::loginUrl},
        {u"-connectioncookie", nullptr, &DdLaunchOptions::connectionCookie},
        {u"-logdir", nullptr, &DdLaunchOptions::logDir},
        {u"-ca", nullptr, &DdLaunchOptions::caFile},
        {u"-baseroute", nullptr, &DdLaunchOptions::baseRoute},
        {u"-code", nullptr, &DdLaunchOptions::code},
        {u"/resource", nullptr, &DdLaunchOptions::resource},
        {u"-preferredlanguage", nullptr, &DdLaunchOptions::preferredLanguage},
        {u"-profile", nullptr, &DdLaunchOptions::profile},
        {u"-launchconfig", nullptr, &DdLaunchOptions::launchConfig},
        {u"-script", nullptr, &DdLaunchOptions::script},
        {u"-scriptlog", nullptr, &DdLaunchOptions::scriptLog},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        EXPECT_EQ(set(c.name), 0);
        EXPECT_EQ(set(c.name, u"v1"), 1);
        EXPECT_EQ(set(c.name, u"value"), 1); // replaces the first
        DiChar* got = c.field ? app.*c.field : app.opt.*c.optField;
        EXPECT_EQ(text(got), u"value");
    }
}

TEST_F(Options, FlagsSetTheirField) {
    struct Case {
        const char16_t* name;
        uint32_t* field;
        uint32_t value;
    } cases[] = {
        {u"-anonymous", &app.anonymous, 1},
        {u"-nofork", &app.noFork, 1},
        {u"-login", &app.login, 1},
        {u"-setpassword", &app.opt.setPassword, 1},
        {u"-cache", &app.opt.cache, 1},
        {u"-noprogress", &app.opt.noProgress, 1},
        {u"-secure", &app.opt.secure, 1},
        {u"-firewalltraversal", &app.opt.firewallTraversal, 1},
        {u"-no-java", &app.opt.noJava, 1},
        {u"-grabkeyboard", &app.opt.keyboardGrab, 1},
        {u"-minimized", &app.opt.windowMode, 4},
        {u"-showwebtop", &app.opt.windowMode, 1},
        {u"-iconic", &app.opt.windowMode, 4},
        {u"-nostartimmediate", &app.opt.startImmediately, 0},
    };
    for (const Case& c : cases) {
        memset(&app, 0, sizeof app);
        app.opt.startImmediately = 1;
        EXPECT_EQ(set(c.name), 1);
        EXPECT_EQ(*c.field, c.value);
    }
}

TEST_F(Options, NamesAreCaseSensitiveAndIconicIsDashOnly) {
    EXPECT_EQ(set(u"-URL", u"x"), 1); // unknown with a value: accepted, ignored
    EXPECT_EQ(app.url, nullptr);
    EXPECT_EQ(set(u"/iconic"), 0); // unknown alone: tried as an options file
    EXPECT_EQ(g_filesAsked, (std::vector<std::u16string>{u"/iconic"}));
    EXPECT_EQ(app.opt.windowMode, 0u);
}

TEST_F(Options, UnknownNameAloneIsAnOptionsFile) {
    g_fileExists = true;
    EXPECT_EQ(set(u"C:\\opts.txt"), 1);
    g_fileExists = false;
    EXPECT_EQ(set(u"-nosuchoption"), 0);
    EXPECT_EQ(set(u"-file", u"list.txt"), 0);
    EXPECT_EQ(set(u"-file"), 0); // a value option without value: no file asked
    EXPECT_EQ(g_filesAsked,
              (std::vector<std::u16string>{u"C:\\opts.txt", u"-nosuchoption", u"list.txt"}));
}

TEST_F(Options, PasswordRefusesAnOptionNameAndAsksForOne) {
    app.anonymous = 1;
    EXPECT_EQ(set(u"-password", u"-url"), 0);
    EXPECT_EQ(app.opt.setPassword, 1u);
    EXPECT_EQ(app.password, nullptr);
    EXPECT_EQ(app.anonymous, 1u);
    EXPECT_EQ(set(u"-password", u"-nostartimmediate"), 1); // not a recognised name
    EXPECT_EQ(text(app.password), u"-nostartimmediate");
    EXPECT_EQ(app.anonymous, 0u);
}

TEST_F(Options, ApplicationNeedsAValueAndAddsWindowMode2) {
    EXPECT_EQ(set(u"-application", u""), 0);
    EXPECT_EQ(set(u"-objectname", u"calc"), 1);
    EXPECT_EQ(app.opt.windowMode, 2u);
    app.opt.windowMode = 4;
    EXPECT_EQ(set(u"-application", u"calc2"), 1);
    EXPECT_EQ(app.opt.windowMode, 4u);
    EXPECT_EQ(text(app.opt.objectName), u"calc2");
}

TEST_F(Options, PortIsDecimal) {
    EXPECT_EQ(set(u"-port", u"8080"), 1);
    EXPECT_EQ(app.opt.port, 8080u);
    EXPECT_EQ(set(u"-drxport", u"12abc"), 1);
    EXPECT_EQ(app.opt.port, 12u);
}

TEST_F(Options, LocalImeConfigurationIsAnInteger) {
    // Whatever the integer reader accepts counts: a sign, leading blanks or
    // zeros and trailing text do not make the value unreadable.
    const struct {
        const char16_t* value;
        int32_t want;
    } cases[] = {{u"2", 2}, {u"02", 2}, {u" +1", 1}, {u"2 ", 2}, {u"12", 12}, {u"x", 0}};
    for (auto c : cases) {
        app.opt.imeConfig = 7;
        EXPECT_EQ(set(u"-configurelocalime", c.value), 1);
        EXPECT_EQ(app.opt.imeConfig, c.want) << c.want;
    }
}

TEST_F(Options, OptionKindKnowsThePasswordCheckList) {
    for (const char16_t* yes : {u"-url", u"/url", u"-iconic", u"-file", u"/no-java", u"-cache"})
        EXPECT_NE(diAppOptionKind(yes), 0);
    for (const char16_t* no : {u"-nostartimmediate", u"-resource", u"-configurelocalime",
                               u"-grabkeyboard", u"/iconic", u"url", u"-Url", u""})
        EXPECT_EQ(diAppOptionKind(no), 0);
}

TEST_F(Options, OptionsFileLinesSplitAtEqualsThenSpaceThenColon) {
    struct Case {
        const char16_t* line;
        DiChar* DdApp::*field;
        const char16_t* value;
    } cases[] = {
        {u"url=http://a b:c", &DdApp::url, u"http://a b:c"},
        // An '=' anywhere wins: the name is "url http://x", unknown, ignored.
        {u"url http://x=y", &DdApp::url, u"http://a b:c"},
        {u"username jo smith  \r\n", &DdApp::user, u"jo smith"},
        {u"password:secret", &DdApp::password, u"secret"},
        // A space before the ':' splits first: "password:se" is unknown.
        {u"password:se cret", &DdApp::password, u"secret"},
    };
    for (const Case& c : cases) {
        std::u16string line = c.line;
        diAppApplyOptionsLine(&app, &line[0]);
        EXPECT_EQ(text(app.*c.field), c.value) << std::string(line.begin(), line.end());
    }
    std::u16string flag = u"nofork\n";
    diAppApplyOptionsLine(&app, &flag[0]);
    EXPECT_EQ(app.noFork, 1u);
    std::u16string file = u"file=other.txt";
    diAppApplyOptionsLine(&app, &file[0]);
    std::u16string blank = u"  \t\r\n";
    diAppApplyOptionsLine(&app, &blank[0]);
    EXPECT_TRUE(g_filesAsked.empty()); // files do not nest
}

TEST(EPassword, DecodesHexThroughTheKeystream) {
    // Worked by hand from the key "kelp.mint.stroll": the third character's
    // keystream is 0x1A0 ^ 'l', whose high bits would leak into the text.
    struct Case {
        const char16_t* hex;
        std::u16string plain;
    } cases[] = {
        {u"0AD7AF", u"abc"},
        {u"0AD7A", u"ab"}, // odd length: the last digit is ignored
        {u"", u""},
        {u"6B", std::u16string(1, u'\0')},
    };
    for (const Case& c : cases) {
        DiChar* got = diAppDecodeEPassword(c.hex);
        ASSERT_NE(got, nullptr);
        std::u16string s(got, c.plain.size());
        EXPECT_EQ(s, c.plain);
        free(got);
    }
}

TEST(EPassword, EveryDecodedCharacterIsAByte) {
    std::u16string hex;
    for (int i = 0; i < 40; i++)
        hex += u"FF";
    DiChar* got = diAppDecodeEPassword(hex.c_str());
    ASSERT_NE(got, nullptr);
    for (int i = 0; i < 40; i++)
        EXPECT_LE(got[i], 0xFF) << i;
    // The keystream does not depend on the text: scrambling twice restores it.
    std::u16string round(got, 40);
    diAppUnscramble(&round[0], round.size());
    EXPECT_EQ(round, std::u16string(40, u'\xFF'));
    free(got);
}

TEST(DisplaySize, ParsesBothFormsElseMinusOne) {
    struct Case {
        const char16_t* text;
        int32_t w, h;
    } cases[] = {
        {u"800x600", 800, 600},
        {u"x2", -2, -2},
        {u"abc", -1, -1},
        {u"", -1, -1},
        {u"800x", -1, -1},
        {u"x", -1, -1},
        {u"1024x768junk", 1024, 768},
    };
    for (const Case& c : cases) {
        int32_t w = 0, h = 0;
        diAppParseDisplaySize(c.text, &w, &h);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
    }
}

class DisplaySettings : public ::testing::Test {
  protected:
    void SetUp() override {
        store.Load(u"Default");
        memset(&app, 0, sizeof app);
    }
    void put(const char16_t* name, const char16_t* value) { diSOSetLocalSetting(name, value); }
    CMemProfileStore store;
    DdApp app;
};

TEST_F(DisplaySettings, DefaultsWhenAbsent) {
    diAppLoadSettings(&app);
    EXPECT_EQ(app.driveMapping, 1u);
    EXPECT_EQ(app.xScaleQuality, 3u);
    EXPECT_EQ(app.xGraphicsOptions, 0u);
    EXPECT_EQ(app.soundEffects, 1u);
    EXPECT_EQ(app.displayWidth, -1);
    EXPECT_EQ(app.displayHeight, -1);
    EXPECT_EQ(app.customWidth, 1280);
    EXPECT_EQ(app.customHeight, 1024);
}

TEST_F(DisplaySettings, ReadsStoredValuesAndNonNumbersGiveTheDefault) {
    put(u"enablecdm", u"0");
    put(u"XScaleQuality", u"abc");
    put(u"SoundEffects", u"0x");
    put(u"DisplaySize", u"x3");
    put(u"DisplayCustom", u"640x400");
    diAppLoadSettings(&app);
    EXPECT_EQ(app.driveMapping, 0u);
    EXPECT_EQ(app.xScaleQuality, 3u);
    EXPECT_EQ(app.soundEffects, 0u);
    EXPECT_EQ(app.displayWidth, -3);
    EXPECT_EQ(app.customWidth, 640);
    EXPECT_EQ(app.customHeight, 400);
}

TEST_F(DisplaySettings, SaveWritesWhatLoadReadsBack) {
    app.docLaunch = 1;
    app.codePage = 0;
    app.driveMapping = 0;
    app.xScaleQuality = 2;
    app.displayWidth = 800;
    app.displayHeight = 600;
    app.customWidth = 1000;
    app.customHeight = 700;
    diAppSaveSettings(&app);
    DiChar buf[32];
    EXPECT_FALSE(diSOGetLocalSetting(u"CodePage", buf, 32)); // written only when non-zero
    ASSERT_TRUE(diSOGetLocalSetting(u"DOCLAUNCH", buf, 32));
    EXPECT_EQ(std::u16string(buf), u"1");
    ASSERT_TRUE(diSOGetLocalSetting(u"displaysize", buf, 32));
    EXPECT_EQ(std::u16string(buf), u"800x600");
    DdApp back;
    memset(&back, 0, sizeof back);
    diAppLoadSettings(&back);
    EXPECT_EQ(back.driveMapping, 0u);
    EXPECT_EQ(back.xScaleQuality, 2u);
    EXPECT_EQ(back.displayWidth, 800);
    EXPECT_EQ(back.customHeight, 700);

    app.displayWidth = -5;
    app.displayHeight = -5;
    app.codePage = 932;
    diAppSaveSettings(&app);
    ASSERT_TRUE(diSOGetLocalSetting(u"displaysize", buf, 32));
    EXPECT_EQ(std::u16string(buf), u"x5");
    ASSERT_TRUE(diSOGetLocalSetting(u"codepage", buf, 32));
    EXPECT_EQ(std::u16string(buf), u"932");
}

} // namespace
