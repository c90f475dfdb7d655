// Launch parameters read from requests, query parameters added to browser
// URLs, and capability values as they are sent, shown and logged.
#include <gtest/gtest.h>

#include "session/dicapability.h"
#include "session/dilaunchparams.h"
#include "session/diurlparam.h"
#include "core/dilog.h"
#include "xml/qvlsoap.h"

#include <limits.h>
#include <stdlib.h>

#include <memory>
#include <string>

namespace {

// One parameter of a request: its XSD type and text.
struct Param {
    const char16_t* name;
    const char16_t* type; // "xsd:string", "xsd:int", "xsd:short", "xsd:boolean", others
    const char16_t* text;
};

std::unique_ptr<CQVLSOAPRequest> request(std::initializer_list<Param> params) {
    auto r = std::make_unique<CQVLSOAPRequest>(u"ns1:requestLaunch");
    for (const Param& p : params) {
        std::u16string type = p.type;
        if (type == u"xsd:string")
            r->AddParameter(p.name, p.text);
        else if (type == u"xsd:int")
            r->AddParameter(p.name, static_cast<int32_t>(std::stol(std::string(
                                        p.text, p.text + std::u16string(p.text).size()))));
        else if (type == u"xsd:boolean")
            r->AddParameter(new CQVLSOAPParameter(p.name, std::u16string(p.text) == u"true"));
        else
            r->AddParameter(p.name, new CQVLXSDType(p.type, p.text));
    }
    return r;
}

TEST(LaunchParams, EachParameterTypeConvertsByItsRule) {
    struct Case {
        Param param;
        int32_t DiLaunchParams::*number;
        uint8_t DiLaunchParams::*flag;
        int32_t expect;
    } cases[] = {
        {{u"mrkqvlsessionport", u"xsd:string", u" 5307x"}, &DiLaunchParams::port, nullptr, 5307},
        {{u"mrkqvlsessionport", u"xsd:short", u"-1"}, &DiLaunchParams::port, nullptr, -1},
        {{u"mrkqvlsessionport", u"xsd:string", u"99999999999999999999"},
         &DiLaunchParams::port,
         nullptr,
         INT_MAX},
        {{u"mrkqvlsessionport", u"xsd:string", u"abc"}, &DiLaunchParams::port, nullptr, 0},
        {{u"mrkqvlsessionport", u"xsd:boolean", u"true"}, &DiLaunchParams::port, nullptr, 1},
        {{u"mrkqvlsessionport", u"xsd:long", u"7"}, &DiLaunchParams::port, nullptr, 0},
        {{u"mrkqvlsessionwidth", u"xsd:int", u"1280"}, &DiLaunchParams::width, nullptr, 1280},
        {{u"mrkqvlscalable", u"xsd:string", u"YES"}, nullptr, &DiLaunchParams::scalable, 1},
        {{u"mrkqvlscalable", u"xsd:string", u"on"}, nullptr, &DiLaunchParams::scalable, 0},
        {{u"mrkqvlscalable", u"xsd:string", u"1"}, nullptr, &DiLaunchParams::scalable, 1},
        {{u"mrkqvlscalable", u"xsd:short", u"2"}, nullptr, &DiLaunchParams::scalable, 1},
        {{u"mrkqvlsessionsecurity", u"xsd:string", u"SsL"}, nullptr, &DiLaunchParams::secure, 1},
        {{u"mrkqvlsessionsecurity", u"xsd:string", u"tls"}, nullptr, &DiLaunchParams::secure, 0},
        {{u"mrkqvlapplicationplacement", u"xsd:string", u"KIOSK"},
         &DiLaunchParams::placement,
         nullptr,
         4},
        {{u"mrkqvlapplicationplacement", u"xsd:string", u"kiosk1"},
         &DiLaunchParams::placement,
         nullptr,
         0},
        {{u"mrkqvlapplicationplacement", u"xsd:string", u"SeamlessWindows"},
         &DiLaunchParams::placement,
         nullptr,
         7},
        {{u"mrkqvllaunchdetailsinitialstate", u"xsd:string", u"Shown"},
         &DiLaunchParams::detailsHidden,
         nullptr,
         0},
        {{u"mrkqvllaunchdetailsinitialstate", u"xsd:string", u"half"},
         &DiLaunchParams::detailsHidden,
         nullptr,
         1},
        {{u"mrkqvllaunchdetailsactivestate", u"xsd:string", u"DISABLED"},
         &DiLaunchParams::detailsDisabled,
         nullptr,
         1},
        {{u"mrkqvllaunchdetailsshowonerror", u"xsd:string", u"False"},
         nullptr,
         &DiLaunchParams::showOnError,
         0},
        {{u"mrkqvlshowlaunchdialogafter", u"xsd:int", u"30"},
         &DiLaunchParams::showLaunchDialogAfter,
         nullptr,
         30},
    };
    for (const Case& c : cases) {
        DiLaunchParams p(request({c.param}).get());
        int32_t got = c.number ? p.*c.number : p.*c.flag;
        EXPECT_EQ(got, c.expect) << std::u16string(c.param.name).size() << " "
                                 << std::u16string(c.param.text).size();
    }
}

TEST(LaunchParams, ObjectClassTextsOverridesAndShortNames) {
    struct Case {
        const char16_t* objectClass; // null: absent
        int32_t engine, kind;
    } classes[] = {
        {nullptr, 2, 0},
        {u"top mrkqvlapplication mrkqvlconsoleapplication", 6, 3},
        {u"mrkqvlwindowsapplication mrkqvlxapplication", 5, 1}, // table order decides
        {u"mrkqvl5250application", 5, 7},
        {u"something else", 5, 1},
        {u"MRKQVLCONSOLEAPPLICATION", 5, 1}, // case counts
    };
    for (const Case& c : classes) {
        auto r =
            c.objectClass ? request({{u"objectclass", u"xsd:string", c.objectClass}}) : request({});
        DiLaunchParams p(r.get());
        EXPECT_EQ(p.engineType, c.engine);
        EXPECT_EQ(p.appKind, c.kind);
    }
    struct Text {
        Param param;
        const char16_t* url;     // expected url field (texts)
        const char16_t* baseUrl; // expected baseUrl
    } texts[] = {
        {{u"url", u"xsd:int", u"-12"}, u"-12", nullptr},
        {{u"url", u"xsd:boolean", u"true"}, u"true", nullptr},
        {{u"override", u"xsd:string", u"DRX.BaseURL=http://b/?a=b"}, nullptr, u"http://b/?a=b"},
        {{u"override", u"xsd:string", u"drx.baseurl"}, nullptr, u""},
        {{u"override", u"xsd:string", u"drx.other=x"}, nullptr, nullptr},
    };
    auto str = [](const DiChar* s) { return s ? std::u16string(s) : u"<null>"; };
    for (const Text& t : texts) {
        DiLaunchParams p(request({t.param}).get());
        EXPECT_EQ(str(p.url), str(t.url));
        EXPECT_EQ(str(p.baseUrl), str(t.baseUrl));
    }
    struct Name {
        const char16_t *appName, *shortName;
    } names[] = {{u"cn=apps,cn=xterm", u"xterm"}, {u"xterm", u"xterm"}, {u"a=", u""}};
    for (const Name& n : names) {
        DiLaunchParams p(request({{u"mrkqvlsessionappname", u"xsd:string", n.appName}}).get());
        EXPECT_EQ(str(p.appShortName), n.shortName);
    }
}

TEST(LaunchParams, MergeTakesPresentTextsAndEveryNumber) {
    DiLaunchParams held(request({{u"url", u"xsd:string", u"http://u/"},
                                 {u"mrkqvlsessionwidth", u"xsd:int", u"800"},
                                 {u"mrkqvlsessionid", u"xsd:string", u"s1"},
                                 {u"mrkqvlsessionappname", u"xsd:string", u"cn=a"}})
                            .get());
    DiLaunchParams later(request({{u"mrkqvlsessionid", u"xsd:string", u"s2"},
                                  {u"mrkqvlsessionappname", u"xsd:string", u"cn=b"}})
                             .get());
    held.Merge(later);
    EXPECT_EQ(std::u16string(held.url), u"http://u/");
    EXPECT_EQ(held.width, 0);
    EXPECT_EQ(std::u16string(held.sessionId), u"s2");
    EXPECT_EQ(std::u16string(held.appShortName), u"b");
    held.ReplaceSessionId(u"s3");
    held.ClearTransactionId();
    EXPECT_EQ(std::u16string(held.sessionId), u"s3");
    EXPECT_EQ(held.transactionId, nullptr);
}

TEST(UrlParameter, ValuesAreSetOnceAndEncodedSoTheQueryReadsBack) {
    struct Case {
        const char16_t *url, *name, *value, *expect;
        size_t capacity;
    } cases[] = {
        {u"http://h/p", u"drxport", u"5000", u"http://h/p?drxport=5000", 512},
        {u"http://h/p?a=1", u"drxport", u"5000", u"http://h/p?a=1&drxport=5000", 512},
        {u"http://h/p?drxport=1&a=1", u"drxport", u"2", u"http://h/p?drxport=2&a=1", 512},
        {u"http://h/p?a=1&drxport=1", u"drxport", u"2", u"http://h/p?a=1&drxport=2", 512},
        {u"http://h/p?a=1&amp;x=1&b", u"x", u"2", u"http://h/p?a=1&amp;x=2&b", 512},
        {u"http://h/", u"v", u"a b&c#d%e+f", u"http://h/?v=a+b%26c%23d%25e%2Bf", 512},
        {u"http://h/", u"v", u"\u00e9\U0001F600", u"http://h/?v=%C3%A9%F0%9F%98%80", 512},
        {u"http://h/", u"v", u"\r\n\"", u"http://h/?v=%0D%0A\"", 512},
        {u"http://h/", u"v", u"1234", u"http://h/?v=1234", 17},
        {u"http://h/", u"v", u"12345", u"http://h/", 17}, // does not fit: unchanged
    };
    for (const Case& c : cases) {
        DiChar url[600];
        std::u16string start = c.url;
        std::copy(start.begin(), start.end() + 1, url);
        bool fits = std::u16string(c.expect) != start;
        EXPECT_EQ(AddUrlParameter(c.name, c.value, url, c.capacity), fits);
        EXPECT_EQ(std::u16string(url), c.expect);
    }
}

TEST(Capabilities, TextElementAndLogCarryNameAndWholeValue) {
    auto text = [](CCapability& c) {
        DiChar* t = c.ToText();
        std::u16string s = t ? t : u"<null>";
        free(t);
        return s;
    };
    auto element = [](CCapability& c, std::u16string* type) {
        CQVLXMLElement* e = c.ToSOAPParameter();
        if (!e) return std::u16string(u"<none>");
        const CQVLXMLString* t = static_cast<CQVLXMLTag*>(e)->GetAttribute(u"xsi:type");
        *type = t ? t->Text() : u"";
        DiChar* v = e->GetText();
        std::u16string s = static_cast<CQVLXMLTag*>(e)->name->Text() + std::u16string(u"|") + v;
        free(v);
        delete e;
        return s;
    };
    CBoolCapability b(u"x", true);
    b.value = 1;
    CStringCapability s(u"name", nullptr, false);
    CIntCapability i(u"min", false);
    i.value = INT_MIN;
    CShortCapability sh(u"big", false);
    sh.value = -1234567; // more than six characters: printed whole
    CIntCapability nameless(nullptr, false);
    nameless.value = 5;
    struct Case {
        CCapability* cap;
        const char16_t *text, *element, *type, *log;
    } cases[] = {
        {&b, u"x=true", u"x|true", u"xsd:boolean", u"x = true"},
        {&s, u"name=", u"name|", u"xsd:string", u"name = "},
        {&i, u"min=-2147483648", u"min|-2147483648", u"xsd:int", u"min = -2147483648"},
        {&sh, u"big=-1234567", u"big|-1234567", u"xsd:int", u"big = -1234567"},
        {&nameless, u"=5", u"<none>", u"", u" = 5"},
    };
    diLogSetMessageLoader([](uint32_t message, DiChar* buffer, size_t size) {
        std::u16string f = message == 390 ? u"%s = %d" : u"%s = %s";
        return f.size() < size && std::copy(f.begin(), f.end() + 1, buffer);
    });
    CLog log;
    log.level = 3;
    diLogSet(&log);
    for (const Case& c : cases) {
        std::u16string type;
        EXPECT_EQ(text(*c.cap), c.text);
        EXPECT_EQ(element(*c.cap, &type), c.element);
        EXPECT_EQ(type, c.type);
        c.cap->Log();
        ASSERT_NE(log.GetEntries()->tail, nullptr);
        EXPECT_EQ(std::u16string(log.GetEntries()->tail->item->text), c.log);
    }
    diLogSet(nullptr);
    diLogSetMessageLoader(nullptr);
}

} // namespace
