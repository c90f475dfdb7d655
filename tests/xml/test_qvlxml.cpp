// Owning list, element tree and writer.
#include "xmltest.h"
#include "xml/qvlxmlglobals.h"

#include <gtest/gtest.h>

namespace {

/* Counts live instances to check what the lists delete. */
struct Probe : CQVLXMLElement {
    static int live;
    Probe() { live++; }
    ~Probe() override { live--; }
    void Pack(CQVLPackBuffer*) override {}
};
int Probe::live = 0;

TEST(QVLList, DeletesOwnedItemsOnlyAndFreesEveryNode) {
    Probe::live = 0;
    Probe keep;
    {
        CQVLXMLElementList list;
        list.Append(new Probe, true);
        list.Append(&keep, false);
        list.Append(nullptr, true); // ignored
        list.Append(new Probe, true);
        EXPECT_EQ(list.count, 3u);
        EXPECT_EQ(list.head->next->item, &keep);
        EXPECT_EQ(list.tail->prev->item, &keep);
        EXPECT_EQ(Probe::live, 3);
    }
    EXPECT_EQ(Probe::live, 1); // only the unowned one survives
}

TEST(QVLList, NodeConstructorLinksNeighboursAndAppendNodeMakesTail) {
    CQVLList<CQVLXMLElement> list;
    Probe* a = new Probe;
    Probe* b = new Probe;
    auto* na = new CQVLListNode<CQVLXMLElement>(a, true, nullptr, nullptr);
    list.AppendNode(na);
    auto* nb = new CQVLListNode<CQVLXMLElement>(b, true, nullptr, list.tail);
    list.AppendNode(nb);
    EXPECT_EQ(list.head, na);
    EXPECT_EQ(list.tail, nb);
    EXPECT_EQ(na->next, nb);
    EXPECT_EQ(nb->prev, na);
    EXPECT_EQ(list.count, 2u);
}

TEST(XMLTree, RemoveDeletesOwnedAndDetachKeepsChild) {
    Probe::live = 0;
    CQVLXMLContentTag t("t");
    Probe* owned = new Probe;
    Probe unowned;
    Probe* detached = new Probe;
    t.AddChild(owned, true);
    t.AddChild(&unowned, false);
    t.AddChild(detached, true);
    t.RemoveChild(owned);
    EXPECT_EQ(Probe::live, 2);
    t.RemoveChild(&unowned); // unlinked, not deleted
    t.DetachChild(detached);
    EXPECT_EQ(Probe::live, 2);
    EXPECT_EQ(t.children->count, 0u);
    EXPECT_EQ(t.children->head, nullptr);
    EXPECT_EQ(t.children->tail, nullptr);
    t.RemoveChild(detached); // absent: nothing happens
    delete detached;
}

TEST(XMLTree, TagsWithoutChildrenIgnoreAddChildAndTakeNoOwnership) {
    Probe::live = 0;
    Probe* child = new Probe;
    {
        CQVLXMLEmptyTag empty("e");
        empty.AddChild(child, true); // offered, but an empty tag keeps nothing
        EXPECT_EQ(empty.GetChildren(), nullptr);
        EXPECT_EQ(Markup(&empty), "<e/>");
    }
    // The tag is gone and the child outlived it: it was never owned.
    EXPECT_EQ(Probe::live, 1);
    delete child;
    EXPECT_EQ(Probe::live, 0);
}

TEST(XMLTree, CopiedStringsShareOneText) {
    CQVLXMLString* a = new CQVLXMLString(u"abc");
    CQVLXMLString b(*a);
    CQVLXMLString c(a);
    EXPECT_EQ(a->rep, b.rep);
    EXPECT_EQ(a->rep->count, 3u);
    delete a;
    EXPECT_EQ(U16(b.Text()), u"abc");
    EXPECT_EQ(b.rep->count, 2u);
    CQVLXMLString none(static_cast<const DiChar*>(nullptr));
    EXPECT_EQ(U16(none.Text()), u"");
    EXPECT_EQ(U16(CQVLXMLString(-42).Text()), u"-42");
}

TEST(XMLTree, FindIsPreOrderAndTestsTheNodeItselfFirst) {
    CQVLXMLContentTag a("x");
    CQVLXMLContentTag* inner = new CQVLXMLContentTag("x");
    CQVLXMLContentTag* b = new CQVLXMLContentTag("b");
    CQVLXMLContentTag* deep = new CQVLXMLContentTag("c");
    CQVLXMLContentTag* later = new CQVLXMLContentTag("c");
    b->AddChild(deep, true);
    a.AddChild(inner, true);
    a.AddChild(b, true);
    a.AddChild(later, true);
    EXPECT_EQ(a.Find("x"), &a);
    EXPECT_EQ(a.Find(u"c"), deep);
    EXPECT_EQ(a.Find("nothing"), nullptr);
    EXPECT_EQ(a.Find(static_cast<const DiChar*>(nullptr)), nullptr);
}

TEST(XMLTree, DocumentHoldsRootUnownedInTopLevelList) {
    Probe::live = 0;
    {
        CQVLXMLContentTag* root = new CQVLXMLContentTag("r");
        root->AddChild(new Probe, true);
        CQVLXMLDoc doc(new CQVLXMLDecl, root);
        EXPECT_EQ(doc.topLevel.count, 1u);
        EXPECT_FALSE(doc.topLevel.head->owns);
        EXPECT_EQ(doc.Find("r"), root);
        EXPECT_STREQ(doc.GetContentType(), "text/xml");
    }
    EXPECT_EQ(Probe::live, 0); // deleted once, through the root
}

TEST(XMLTree, AttributesInOrderFirstMatchWins) {
    CQVLXMLContentTag t("t");
    EXPECT_FALSE(t.HasAttributes());
    t.AddAttribute("k", "1");
    t.AddAttribute(u"k", u"2");
    CQVLXMLString n("m"), v("3");
    t.AddAttribute(&n, &v);
    EXPECT_TRUE(t.HasAttributes());
    EXPECT_EQ(U16(t.GetAttribute("k")->Text()), u"1");
    EXPECT_EQ(t.FindAttribute(&n)->rep, v.rep); // shared
    EXPECT_EQ(t.GetAttribute("K"), nullptr);
    EXPECT_EQ(Markup(&t), "<t k=\"1\" k=\"2\" m=\"3\"></t>");
}

TEST(XMLTree, GetTextConcatenatesCharacterDataOnly) {
    CQVLXMLContentTag a("a");
    a.AddChild(new CQVLXMLString("x"), true);
    CQVLXMLContentTag* b = new CQVLXMLContentTag(u"b", u"y");
    b->AddAttribute("q", "no");
    a.AddChild(b, true);
    a.AddChild(new CQVLXMLCDSect(new CQVLXMLString("z")), true);
    a.AddChild(new CQVLXMLEmptyTag("e"), true);
    EXPECT_EQ(Adopt(a.GetText()), u"xyz");
    CQVLXMLContentTag empty("e");
    DiChar* t = empty.GetText();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t[0], 0);
    free(t);
}

/* ---- writer ---- */

/* <a x="1">b&c</a> built in memory. */
std::unique_ptr<CQVLXMLContentTag> SampleTag(const char16_t* text = u"b&c") {
    auto t = std::make_unique<CQVLXMLContentTag>(u"a", text);
    t->AddAttribute("x", "1");
    return t;
}

TEST(XMLWriter, GoldenBytesPerEncodingAndMode) {
    const std::string asis = "<a x=\"1\">b&c</a>";
    const std::string esc = "&lt;a x=&quot;1&quot;&gt;b&amp;c&lt;/a&gt;";
    struct Case {
        int enc, mode;
        std::string want;
    } cases[] = {
        {QVL_ENC_ANSI7, QVL_MODE_TEXT, "b&c"},
        {QVL_ENC_ANSI7, QVL_MODE_ESCAPED, esc},
        {QVL_ENC_ANSI7, QVL_MODE_MARKUP, asis},
        {QVL_ENC_ANSI, QVL_MODE_TEXT, "b&c"},
        {QVL_ENC_ANSI, QVL_MODE_ESCAPED, esc},
        {QVL_ENC_ANSI, QVL_MODE_MARKUP, asis},
        {QVL_ENC_UTF8, QVL_MODE_TEXT, "b&c"},
        {QVL_ENC_UTF8, QVL_MODE_ESCAPED, asis},
        {QVL_ENC_UTF8, QVL_MODE_MARKUP, asis},
        {QVL_ENC_UTF16, QVL_MODE_TEXT, Le16(u"b&c")},
        {QVL_ENC_UTF16, QVL_MODE_ESCAPED, Le16(u"&lt;a x=&quot;1&quot;&gt;b&amp;c&lt;/a&gt;")},
        {QVL_ENC_UTF16, QVL_MODE_MARKUP, Le16(u"<a x=\"1\">b&c</a>")},
        {7, QVL_MODE_MARKUP, ""},
        {QVL_ENC_UTF8, 5, ""},
    };
    auto t = SampleTag();
    for (const Case& c : cases)
        EXPECT_EQ(Packed(t.get(), c.enc, c.mode), c.want) << c.enc << "/" << c.mode;
}

TEST(XMLWriter, NonAsciiCharactersPerEncoding) {
    // e-acute, euro sign, and U+1F600 as a surrogate pair.
    const char16_t text[] = u"\u00e9\u20ac\U0001F600";
    CQVLXMLString s(text);
    struct Case {
        int enc;
        std::string want;
    } cases[] = {
        {QVL_ENC_ANSI7, "????"},
        {QVL_ENC_UTF8, "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {QVL_ENC_UTF16, Le16(text)},
    };
    for (const Case& c : cases)
        for (int mode = 0; mode <= 2; mode++)
            EXPECT_EQ(Packed(&s, c.enc, mode), c.want) << c.enc << "/" << mode;
    // A lone surrogate has no UTF-8 form: one replacement character.
    CQVLXMLString lone(u"a\xd800"
                       u"b");
    EXPECT_EQ(Packed(&lone, QVL_ENC_UTF8, QVL_MODE_MARKUP), "a\xef\xbf\xbd"
                                                            "b");
}

// Encodings 0 and 1 write what the installed code-page converter gives (the
// client's own is tested in its code pages under Wine, with the start-up
// that installs it).
TEST(XMLWriter, AnsiOutputIsWhatTheConverterGives) {
    qvlSetAnsiConverter([](DiChar c, uint8_t out[4]) -> int {
        if (c == 0x20AC) {
            out[0] = 0x80;
            return 1;
        }
        return 0; // nothing: nothing is written
    });
    CQVLXMLString s(u"\u20ac\u0101");
    EXPECT_EQ(Packed(&s, QVL_ENC_ANSI, QVL_MODE_MARKUP), "\x80");
    EXPECT_EQ(Packed(&s, QVL_ENC_ANSI7, QVL_MODE_MARKUP), "?");
    qvlSetAnsiConverter(nullptr);
}

TEST(XMLWriter, AttributeQuoting) {
    struct Case {
        const char16_t* value;
        int mode;
        std::string want;
    } cases[] = {
        {u"plain", QVL_MODE_MARKUP, "<t v=\"plain\"/>"},
        {u"say \"hi\"", QVL_MODE_MARKUP, "<t v='say \"hi\"'/>"},
        {u"it's", QVL_MODE_MARKUP, "<t v=\"it's\"/>"},
        // Both kinds: double quotes, the inner ones as references.
        {u"it's \"x\"", QVL_MODE_MARKUP, "<t v=\"it's &quot;x&quot;\"/>"},
        {u"it's \"x\"", QVL_MODE_ESCAPED,
         "&lt;t v=&quot;it&apos;s &amp;quot;x&amp;quot;&quot;/&gt;"},
    };
    for (const Case& c : cases) {
        CQVLXMLEmptyTag t("t");
        t.AddAttribute(u"v", c.value);
        EXPECT_EQ(Packed(&t, QVL_ENC_ANSI, c.mode), c.want);
    }
    CQVLPackBuffer b(QVL_ENC_UTF8, QVL_MODE_MARKUP);
    b.WriteQuoted(QVL_ENC_UTF8, nullptr);
    EXPECT_EQ(b.length, 0u);
}

TEST(XMLWriter, ObjectForms) {
    CQVLXMLContentTag outer("o");
    outer.AddChild(new CQVLXMLContentTag("t"), true);
    outer.AddChild(new CQVLXMLCDSect(new CQVLXMLString("<x>")), true);
    outer.AddChild(new CQVLXMLEntityRef(new CQVLXMLString("amp")), true);
    outer.AddChild(new CQVLXMLEntityRef(new CQVLXMLString("nbsp")), true);
    outer.AddChild(new CQVLXMLCharRef(u"x41"), true);
    EXPECT_EQ(Markup(&outer), "<o><t></t><![CDATA[<x>]]>&amp;&nbsp;&#65;</o>");
    EXPECT_EQ(Packed(&outer, QVL_ENC_UTF8, QVL_MODE_TEXT), "<x>&&nbsp;65");
    CQVLXMLDoc doc(new CQVLXMLDecl, new CQVLXMLEmptyTag("r"));
    EXPECT_EQ(Markup(&doc), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>");
    EXPECT_EQ(Packed(&doc, QVL_ENC_UTF8, QVL_MODE_TEXT), "");
    EXPECT_EQ(CQVLXMLCharRef(u"12z").code, 12);
    EXPECT_EQ(CQVLXMLCharRef(u"zz").code, 0);
}

TEST(XMLWriter, ReserveDoublesAndFailureIsSticky) {
    CQVLPackBuffer b(QVL_ENC_UTF8, QVL_MODE_MARKUP);
    EXPECT_EQ(b.capacity, 16u);
    EXPECT_TRUE(b.Reserve(16));
    EXPECT_EQ(b.capacity, 16u);
    EXPECT_TRUE(b.Reserve(17));
    EXPECT_EQ(b.capacity, 32u);
    b.AppendBytes("abc", 3);
    EXPECT_FALSE(b.Reserve(uint64_t(1) << 33)); // past the ceiling
    EXPECT_TRUE(b.failed);
    EXPECT_EQ(Bytes(b), "abc"); // unchanged and usable
    EXPECT_FALSE(b.Terminate());
}

/* Writes some text, then meets an allocation failure. */
struct FailingNode : CQVLXMLElement {
    void Pack(CQVLPackBuffer* b) override {
        b->WriteAscii(b->encoding, "partial");
        b->Reserve(uint64_t(1) << 40);
    }
};

TEST(XMLWriter, GetTextReportsFailureInsteadOfTruncating) {
    CQVLXMLContentTag t("t");
    t.AddChild(new CQVLXMLString("x"), true);
    t.AddChild(new FailingNode, true);
    EXPECT_EQ(t.GetText(), nullptr);
}

} // namespace
