// Parser: accepted forms, references, first-error messages, the document
// type declaration and the nesting limit.
#include "xmltest.h"
#include "xml/qvlxmlglobals.h"

#include <gtest/gtest.h>

namespace {

std::u16string Err(const char* s) {
    return std::u16string(s, s + strlen(s));
}

TEST(XMLParser, AcceptedFormsRoundTrip) {
    struct Case {
        const char* in;
        const char* root; // the root written back as is
    } cases[] = {
        {"<a>x &lt; y</a>", "<a>x < y</a>"},
        {"<e a='1'b=\"2\"/>", "<e a=\"1\" b=\"2\"/>"},
        {"<e a = \"1\"\n\tb='x\"y' />", "<e a=\"1\" b='x\"y'/>"},
        {"<_a.b-c:d9/>", "<_a.b-c:d9/>"},
        {"<a> <b/> </a >", "<a> <b/> </a>"},
        {"<a/><b/>trailing & junk <", "<a/>"},
        {"<r>t<!--x-->u<?p d?>v<![CDATA[<w>]]></r>", "<r>tuv<![CDATA[<w>]]></r>"},
        {"<!-- c -->\n<?pi?> <r/> <!-- after -->", "<r/>"},
        {"<a v='&lt;&quot;&#65;'>&gt;</a>", "<a v='<\"A'>></a>"},
        {"<a>\xc3\xa9\xe2\x82\xac</a>", "<a>\xc3\xa9\xe2\x82\xac</a>"},
        {"<a><![CDATA[unterminated", nullptr},
    };
    for (const Case& c : cases) {
        Parsed r = ParseXml(c.in);
        if (!c.root) {
            EXPECT_EQ(r.doc, nullptr) << c.in;
            continue;
        }
        ASSERT_NE(r.doc, nullptr) << c.in;
        EXPECT_EQ(Markup(r.doc->root), c.root) << c.in;
    }
}

TEST(XMLParser, ContentKeepsStringsCDataAndElementsOnly) {
    Parsed r = ParseXml("<r> <!--c--><a/>t<?p?><![CDATA[d]]></r>");
    ASSERT_NE(r.doc, nullptr);
    CQVLXMLElementList* kids = r.doc->root->GetChildren();
    ASSERT_EQ(kids->count, 4u);
    auto* n = kids->head;
    EXPECT_EQ(Adopt(n->item->GetText()), u" ");
    EXPECT_TRUE(n->next->item->IsTag());
    EXPECT_EQ(Adopt(n->next->next->item->GetText()), u"t");
    EXPECT_NE(dynamic_cast<CQVLXMLCDSect*>(n->next->next->next->item), nullptr);
    for (auto* k = kids->head; k; k = k->next)
        EXPECT_TRUE(k->owns);
}

TEST(XMLParser, RepeatedTextsStayWholeAndBelongToTheirInput) {
    // Equal names, values and texts of one input may share storage: taking
    // one node away leaves the others intact, and a decoded text is never
    // mistaken for the raw bytes it came from.
    Parsed r = ParseXml("<r><i k='v'>t</i><i k='v'>t</i><i k='v'>t&amp;</i><i k='v'>t</i></r>");
    ASSERT_NE(r.doc, nullptr);
    auto* root = static_cast<CQVLXMLContentTag*>(r.doc->root);
    root->RemoveChild(root->children->head->item);
    EXPECT_EQ(Markup(root), "<r><i k=\"v\">t</i><i k=\"v\">t&</i><i k=\"v\">t</i></r>");
    // A parser used again reads the new input, even at the same address.
    std::string text = "<x a='same'>same</x>";
    CQVLParser p(text.data(), text.size());
    std::unique_ptr<CQVLXMLDoc> first(CQVLXMLParser::ParseDocument(&p));
    text.replace(text.find("same"), 4, "else");
    text.replace(text.find("same"), 4, "else");
    p.Reset(text.data(), text.size());
    std::unique_ptr<CQVLXMLDoc> second(CQVLXMLParser::ParseDocument(&p));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(Markup(first->root), "<x a=\"same\">same</x>");
    EXPECT_EQ(Markup(second->root), "<x a=\"else\">else</x>");
}

TEST(XMLParser, DeclarationAttributesInFixedOrder) {
    struct Case {
        const char* in;
        const char* decl; // null: no declaration kept
        const char* error;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding='UTF-8' standalone=\"yes\"?><r/>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", ""},
        {"<?xml?><r/>", "<?xml?>", ""},
        {"<?xml encoding=\"x\"?><r/>", "<?xml encoding=\"x\"?>", ""},
        {"<?xml standalone=\"maybe\"?><r/>", nullptr, "Value of standalone cannot be maybe"},
        {"<?xml encoding=\"x\" version=\"1.0\"?><r/>", nullptr,
         "Expected ?> at end of XML declaration tag"},
    };
    for (const Case& c : cases) {
        Parsed r = ParseXml(c.in);
        ASSERT_NE(r.doc, nullptr) << c.in; // the root still parses
        if (c.decl) {
            ASSERT_NE(r.doc->decl, nullptr);
            EXPECT_EQ(Markup(r.doc->decl), c.decl);
        } else {
            EXPECT_EQ(r.doc->decl, nullptr) << c.in;
        }
        EXPECT_EQ(r.error, Err(c.error)) << c.in;
    }
}

TEST(XMLParser, ReferencesInText) {
    struct Case {
        const char* in;
        std::u16string text;
    } cases[] = {
        {"&apos;", u"&apos;"},
        {"&#x41;&#X41;&#65;", u"AAA"},
        {"&bogus;&eacute;&Yuml;&yuml;&euro;&nbsp;", u"&bogus;\u00e9&Yuml;\u00ff\u20ac\u00a0"},
        {"&times;&divide;", u"&times;&divide;"},
        {"&#x1F600;&#1114111;", u"\U0001F600\U0010FFFF"},
        // Not characters: kept as text.
        {"&#0;&#xD800;&#x110000;&#99999999999;", u"&#0;&#xD800;&#x110000;&#99999999999;"},
        {"&#x4g;&#;&#x;", u"&#x4g;&#;&#x;"},
        // The ';' must stand 3 to 16 units after the '&'.
        {"&a;&amp", u"&a;&amp"},
        {"&abcdefghijklmno;", u"&abcdefghijklmno;"},
        {"&&amp;&amp;", u"&&&"},
    };
    for (const Case& c : cases) {
        Parsed r = ParseXml(std::string("<a>") + c.in + "</a>");
        ASSERT_NE(r.doc, nullptr) << c.in;
        EXPECT_EQ(Adopt(r.doc->root->GetText()), c.text) << c.in;
    }
}

TEST(XMLParser, InvalidUtf8BecomesReplacementCharacters) {
    Parsed r = ParseXml("<a>\xff\xc0\x80\xed\xa0\x80x</a>");
    ASSERT_NE(r.doc, nullptr);
    std::u16string t = Adopt(r.doc->root->GetText());
    EXPECT_EQ(t.back(), u'x');
    for (size_t i = 0; i + 1 < t.size(); i++)
        EXPECT_EQ(t[i], 0xFFFD);
}

TEST(XMLParser, FirstErrorMessages) {
    struct Case {
        const char* in;
        const char* error;
        bool doc;
    } cases[] = {
        {"<a></b>", "End tag <b> doesn't match start tag <a>", false},
        {"   ", "Missing element tag", false},
        {"", "Missing element tag", false},
        {"<a x=\"1>", "Read past end of buffer!", false},
        {"<a", "Read past end of buffer!", false},
        {"<a b>", "Illegal tag syntax for <a>", false},
        {"<a>text", "Missing end tag for a\n", false},
        {"<a><b></a>", "End tag <a> doesn't match start tag <b>", false},
        {"<a></a  ", "Missing > at end of tag", false},
        {"<a></a x>", "Missing > at end of tag", false},
        {"<? x?><r/>", "Expected target for processing instruction", false},
        {"<a><b c></b></a>", "Illegal tag syntax for <b>", false},
        {"<a/>", "", true},
        {"<a/><", "", true}, // trailing bytes are not read
    };
    for (const Case& c : cases) {
        Parsed r = ParseXml(c.in);
        EXPECT_EQ(r.doc != nullptr, c.doc) << c.in;
        EXPECT_EQ(r.error, Err(c.error)) << c.in;
    }
}

TEST(XMLParser, NulByteEndsEveryRule) {
    std::string in("<a>x\0y</a>", 10);
    Parsed r = ParseXml(in);
    EXPECT_EQ(r.doc, nullptr);
    EXPECT_EQ(r.error, Err("Missing end tag for a\n"));
}

std::string Nested(int depth) {
    std::string s;
    for (int i = 0; i < depth; i++)
        s += "<a>";
    for (int i = 0; i < depth; i++)
        s += "</a>";
    return s;
}

TEST(XMLParser, NestingIsLimited) {
    EXPECT_NE(ParseXml(Nested(256)).doc, nullptr);
    Parsed r = ParseXml(Nested(257));
    EXPECT_EQ(r.doc, nullptr);
    EXPECT_EQ(r.error, Err("Elements nested too deeply"));
    // Far deeper input fails the same way, without exhausting the stack.
    EXPECT_EQ(ParseXml(Nested(100000)).doc, nullptr);
    std::string groups = "<!DOCTYPE r [<!ELEMENT r " + std::string(100000, '(') + "a" +
                         std::string(100000, ')') + ">]><r/>";
    Parsed g = ParseXml(groups);
    EXPECT_EQ(g.doc, nullptr);
    EXPECT_EQ(g.error, Err("Elements nested too deeply"));
}

TEST(XMLParser, ParserIsReusableAfterReset) {
    CQVLParser p("<a", 2);
    delete CQVLXMLParser::ParseDocument(&p);
    EXPECT_TRUE(p.HasError());
    p.SetError("later %s", u"ignored");
    EXPECT_EQ(std::u16string(p.error), u"Read past end of buffer!");
    p.Reset("<b/>", 4);
    std::unique_ptr<CQVLXMLDoc> d(CQVLXMLParser::ParseDocument(&p));
    EXPECT_NE(d, nullptr);
    EXPECT_FALSE(p.HasError());
}

/* ---- document type declaration ---- */

TEST(XMLDtd, DeclarationIsCheckedAndNothingIsKept) {
    Parsed r = ParseXml("<!DOCTYPE note [<!ELEMENT note (to,from)><!ATTLIST note id ID "
                        "#REQUIRED>]><note id=\"1\"/>");
    ASSERT_NE(r.doc, nullptr);
    EXPECT_EQ(r.doc->topLevel.count, 1u);
    EXPECT_EQ(Markup(r.doc.get()), "<note id=\"1\"/>");
}

TEST(XMLDtd, EveryDeclarationKindParsesCleanly) {
    const char* dtd =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE r [\n"
        " <!ELEMENT r (#PCDATA|a|b)*>\n"
        " <!ELEMENT a EMPTY>\n"
        " <!ELEMENT b ANY>\n"
        " <!ELEMENT c ((a|b)*|c?)+>\n"
        " <!ELEMENT d (#PCDATA)*>\n"
        " <!ATTLIST r id ID #REQUIRED t (x|y) \"x\" n NOTATION (g|h) #IMPLIED\n"
        "   f CDATA #FIXED 'v&amp;&#65;&#x42;' k IDREFS #IMPLIED m NMTOKENS #IMPLIED>\n"
        " <!ENTITY e \"v\">\n"
        " <!ENTITY u SYSTEM \"u.bin\" NDATA g>\n"
        " <!ENTITY % p PUBLIC \"-//p\" \"p.dtd\">\n"
        " <!NOTATION g SYSTEM \"g\">\n"
        " <?pi x?> <!-- c --> %p;\n"
        "] >\n<r id=\"i\"/>";
    Parsed r = ParseXml(dtd);
    ASSERT_NE(r.doc, nullptr);
    EXPECT_EQ(r.error, u"");
}

TEST(XMLDtd, FirstErrorMessages) {
    struct Case {
        const char* subset;
        const char* error;
    } cases[] = {
        {"<!ELEMENT p (#PCDATA)>", "Expected )* in Mixed declaration"},
        {"<!ELEMENT >", "Expected name after !ELEMENT"},
        {"<!ELEMENT p FOO>", "Expected content in !ELEMENT tag"},
        {"<!ELEMENT p EMPTY x>", "Missing > in !ELEMENT tag"},
        {"<!ELEMENT p (#PCDATA|)*>", "Expected name after |"},
        {"<!ELEMENT p (a|b>", "Expected ) at end of Choice"},
        {"<!ELEMENT p (a|b,c)>", "Expected ) at end of Choice"},
        {"<!ELEMENT p>", "Expected content in !ELEMENT tag"},
        {"<!ELEMENTp>", "Missing ] in !DOCTYPE"},
        {"<!ATTLIST>", "Expected space after !ATTLIST"},
        {"<!ATTLIST >", "Expected space agter !ATTLIST "},
        {"<!ATTLIST r a CDATA #IMPLIED x>", "Expected > at end of !ATTLIST"},
        {"<!ATTLIST r a NOTATION x>", "Expected ( after NOTATION"},
        {"<!ATTLIST r a NOTATION ()>", "Expected Name after NOTATION"},
        {"<!ATTLIST r a NOTATION (g|)>", "Expected Name after | in NOTATION"},
        {"<!ATTLIST r a NOTATION (g h)>", "Expected ) to terminate NOTATION"},
        {"<!ATTLIST r a (x|) #IMPLIED>", "Expected Name after | in enumeration"},
        {"<!ATTLIST r a (x y) #IMPLIED>", "Expected ) to terminate enumeration"},
        {"<!ATTLIST r a CDATA \"x<\">", "Expected terminating quote in AttValue"},
        {"<!ATTLIST r a CDATA \"&#;\">", "Expected 'x' or digit to start CharRef"},
        {"<!ATTLIST r a CDATA \"&#12\">", "Missing semi-colon in CharRef"},
        {"<!ATTLIST r a CDATA \"& x;\">", "Expected name in EntityRef"},
        {"<!ATTLIST r a CDATA \"&x y\">", "Missing semi-colon in EntityRef x"},
        {"<!ENTITY e \"v\" x>", "Expected terminating > in ENTITY tag"},
        {"<!ENTITY e>", "Parse error after ENTITY"},
        {"<!ENTITY % p \"v\" x>", "Expected terminating > in !ENTITY tag"},
        {"<!ENTITY % p>", "Parse error after !ENTITY"},
        {"<!ENTITY e SYSTEM>", "Expected value after SYSTEM"},
        {"<!ENTITY e PUBLIC>", "Expected value after PUBLIC"},
        {"<!ENTITY e PUBLIC \"a\">", "Expected value after PUBLIC <value>"},
        {"<!ENTITY e SYSTEM \"u\" NDATA>", "Expected Name after NDATA"},
        {"<!NOTATION n SYSTEM \"s\" x>", "Expected > at end of !NOTATION tag"},
        {"%;", "Expected name in PERef"},
        {"%p", "Missing semi-colon in PERef"},
    };
    for (const Case& c : cases) {
        Parsed r = ParseXml(std::string("<!DOCTYPE r [") + c.subset + "]><r/>");
        EXPECT_EQ(r.doc, nullptr) << c.subset;
        EXPECT_EQ(r.error, Err(c.error)) << c.subset;
    }
}

TEST(XMLDtd, OutsideTheSubset) {
    struct Case {
        const char* in;
        const char* error;
        bool doc;
    } cases[] = {
        {"<!DOCTYPE html SYSTEM \"x.dtd\"><r/>", "Missing terminating > in !DOCTYPE", false},
        // The prolog goes on where the failure left the cursor.
        {"<!DOCTYPE r [<!ELEMENT r ANY>]<r/>", "Missing terminating > in !DOCTYPE", true},
        {"<!DOCTYPE r><r/>", "", true},
        {"<!DOCTYPE r [%p;]><r/>", "", true},
        // A sequence is first tried as a choice; the root still parses.
        {"<!DOCTYPE r [<!ELEMENT r (a,b)>]><r/>", "Expected ) at end of Choice", true},
        {"<!DOCTYPE r [<!NOTATION n PUBLIC \"p\">]><r/>", "Expected value after PUBLIC <value>",
         true},
        {"<!DOCTYPE r [<!ATTLIST r a IDREFS #IMPLIED>]><r/>", "", true},
        {"<!DOCTYPEr><r/>", "Missing element tag", false},
    };
    for (const Case& c : cases) {
        Parsed r = ParseXml(c.in);
        EXPECT_EQ(r.doc != nullptr, c.doc) << c.in;
        EXPECT_EQ(r.error, Err(c.error)) << c.in;
    }
}

} // namespace
