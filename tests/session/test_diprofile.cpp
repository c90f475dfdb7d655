// The local settings of the profile store: names lower-cased, every write
// saved, the rest of the profile file kept as it was.
#include <gtest/gtest.h>

#include "session/diprofile.h"

#include <string>
#include <vector>

namespace {

class ProfileStore : public ::testing::Test {
  protected:
    void SetUp() override {
        store.save = [](DiProfileStore*, const std::string& bytes) {
            s_saved.push_back(bytes);
            return 0;
        };
        s_saved.clear();
        g_diProfileStore = &store;
    }
    void TearDown() override { g_diProfileStore = nullptr; }
    void load(const std::string& file) { diProfileParse(&store, file.data(), file.size()); }
    std::u16string get(const char16_t* name, size_t size = 64) {
        std::vector<DiChar> buf(size + 1, u'#');
        if (!diSOGetLocalSetting(name, buf.data(), size)) return u"<absent>";
        return buf.data();
    }
    DiProfileStore store;
    static std::vector<std::string> s_saved;
};
std::vector<std::string> ProfileStore::s_saved;

TEST_F(ProfileStore, NamesAreLowerCasedAndEveryWriteSaves) {
    EXPECT_TRUE(diSOSetLocalSetting(u"ClipboardTimeout", u"5"));
    EXPECT_EQ(get(u"clipboardtimeout"), u"5");
    EXPECT_EQ(get(u"CLIPBOARDTIMEOUT"), u"5");
    EXPECT_TRUE(diSOSetLocalSetting(u"clipboardTIMEOUT", u"7"));
    EXPECT_EQ(get(u"ClipboardTimeout"), u"7");
    EXPECT_EQ(store.settings.size(), 1u);
    ASSERT_EQ(s_saved.size(), 2u);
    EXPECT_NE(s_saved[1].find("<setting name=\"clipboardtimeout\">7</setting>"), std::string::npos);
    EXPECT_EQ(get(u"missing"), u"<absent>");
}

TEST_F(ProfileStore, ValuesAreCutToTheBufferAndTerminated) {
    diSOSetLocalSetting(u"k", u"abcdef");
    EXPECT_EQ(get(u"k", 4), u"abc");
    EXPECT_EQ(get(u"k", 1), u"");
}

TEST_F(ProfileStore, MarkupAndNonAsciiSurviveTheFile) {
    const char16_t* value = u"<a href=\"x&y\">'\u00e9\u4e2d\U0001F600'</a>";
    diSOSetLocalSetting(u"Cache Pass List0", value);
    std::string file = s_saved.back();
    DiProfileStore again;
    diProfileParse(&again, file.data(), file.size());
    g_diProfileStore = &again;
    again.save = store.save;
    EXPECT_EQ(get(u"cache pass list0"), value);
}

TEST_F(ProfileStore, OtherContentOfTheFileIsKept) {
    load("<?xml version=\"1.0\"?>\r\n<profile>\r\n  <server>h</server>\r\n"
         "  <localsettings>\r\n    <setting name=\"a\">1</setting>\r\n  </localsettings>\r\n"
         "  <tail/>\r\n</profile>\r\n");
    EXPECT_EQ(get(u"a"), u"1");
    diSOSetLocalSetting(u"b", u"2");
    const std::string& out = s_saved.back();
    EXPECT_EQ(out.find("<?xml version=\"1.0\"?>\r\n<profile>\r\n  <server>h</server>\r\n  "
                       "<localsettings>"),
              0u);
    EXPECT_NE(out.find("<setting name=\"a\">1</setting>"), std::string::npos);
    EXPECT_NE(out.find("<setting name=\"b\">2</setting>"), std::string::npos);
    EXPECT_NE(out.find("</localsettings>\r\n  <tail/>\r\n</profile>\r\n"), std::string::npos);
}

TEST_F(ProfileStore, AProfileWithoutTheElementGetsOneInsideTheRoot) {
    load("<profile><server>h</server></profile>");
    diSOSetLocalSetting(u"x", u"1");
    const std::string& out = s_saved.back();
    size_t settings = out.find("<localsettings>");
    ASSERT_NE(settings, std::string::npos);
    EXPECT_LT(out.find("<server>h</server>"), settings);
    EXPECT_GT(out.find("</profile>"), settings);
}

TEST_F(ProfileStore, MalformedEntriesEndTheElement) {
    struct Case {
        std::string body;
        size_t count;
    } cases[] = {
        {"<setting name=\"a\">1</setting><setting name=\"b\">2", 1},
        {"<setting name=\"a\">1&bogus;</setting>", 0},
        {"<setting name=\"a>1</setting>", 0},
        {"<setting name=\"a\">1</setting>", 1},
    };
    for (const Case& c : cases) {
        load("<p><localsettings>" + c.body + "</localsettings></p>");
        EXPECT_EQ(store.settings.size(), c.count) << c.body;
    }
    load("<p><localsettings><setting name=\"a\">1</setting>"); // no end tag
    EXPECT_TRUE(store.settings.empty());
}

TEST_F(ProfileStore, NoStoreMeansAbsentAndUnsaved) {
    g_diProfileStore = nullptr;
    EXPECT_EQ(get(u"a"), u"<absent>");
    EXPECT_FALSE(diSOSetLocalSetting(u"a", u"1"));
}

} // namespace
