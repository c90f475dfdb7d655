// The font cache shares one font per description and destroys it with the
// last user; the platform side is replaced by a recorder here.
#include <gtest/gtest.h>

#include "ui/digdi.h"

#include <string>
#include <vector>

static int s_created;
static std::vector<DiGDIFont*> s_deleted;
static bool s_failCreate;

DiGDIFont* ddGDICreateFont(DdGC*, const DiChar* face, int32_t width, int32_t height, uint32_t bold,
                           uint32_t eastEuropean) {
    if (s_failCreate) return nullptr;
    DiGDIFont* f = diGDIFontNew(face, width, height, bold, eastEuropean);
    if (!f) return nullptr;
    f->handle = reinterpret_cast<void*>(static_cast<uintptr_t>(++s_created));
    diGDIFontAppend(f);
    return f;
}

void ddGDIDeleteFont(DdGC*, DiGDIFont* font) {
    s_deleted.push_back(font);
    diGDIFontUnlink(font);
    diGDIFontFreeRecord(font);
}

TEST(FontCache, SharesEqualDescriptionsAndSeparatesOthers) {
    s_created = 0;
    s_deleted.clear();
    const DiChar* courier = u"Courier New";
    DiGDIFont* a = diGDIFindFont(nullptr, courier, 0, 13, 0, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->useCount, 1u);
    EXPECT_EQ(diGDIFindFont(nullptr, u"Courier New", 0, 13, 0, 0), a);
    EXPECT_EQ(a->useCount, 2u);

    struct {
        const DiChar* face;
        int32_t width, height;
        uint32_t bold, east;
    } other[] = {
        {u"Courier", 0, 13, 0, 0},      // a prefix of the face is another face
        {u"Courier New ", 0, 13, 0, 0}, // so is a longer one
        {u"courier new", 0, 13, 0, 0},  // names compare exactly
        {u"Courier New", 7, 13, 0, 0},  {u"Courier New", 0, 14, 0, 0},
        {u"Courier New", 0, 13, 1, 0},  {u"Courier New", 0, 13, 0, 1},
    };
    std::vector<DiGDIFont*> made;
    for (auto& o : other) {
        DiGDIFont* f = diGDIFindFont(nullptr, o.face, o.width, o.height, o.bold, o.east);
        ASSERT_NE(f, nullptr);
        EXPECT_NE(f, a);
        for (DiGDIFont* m : made)
            EXPECT_NE(f, m);
        made.push_back(f);
    }
    EXPECT_EQ(s_created, 8);
    // New fonts are appended: the first made is the head.
    EXPECT_EQ(diGDIFontList(), a);

    diGDIReleaseFont(nullptr, a);
    EXPECT_TRUE(s_deleted.empty());
    diGDIReleaseFont(nullptr, a);
    ASSERT_EQ(s_deleted.size(), 1u);
    EXPECT_EQ(diGDIFontList(), made[0]);
    for (DiGDIFont* m : made)
        diGDIReleaseFont(nullptr, m);
    EXPECT_EQ(diGDIFontList(), nullptr);
    EXPECT_EQ(s_deleted.size(), 8u);
}

TEST(FontCache, FailedCreationLeavesCacheEmptyAndNullFaceIsEmpty) {
    s_failCreate = true;
    EXPECT_EQ(diGDIFindFont(nullptr, u"Arial", 0, 10, 0, 0), nullptr);
    s_failCreate = false;
    EXPECT_EQ(diGDIFontList(), nullptr);
    DiGDIFont* f = diGDIFindFont(nullptr, nullptr, 0, 10, 0, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->face[0], 0);
    EXPECT_EQ(diGDIFindFont(nullptr, u"", 0, 10, 0, 0), f);
    diGDIReleaseFont(nullptr, f);
    diGDIReleaseFont(nullptr, f);
    EXPECT_EQ(diGDIFontList(), nullptr);
    diGDIReleaseFont(nullptr, nullptr);
}

TEST(BoundedFormat, PositionalArgumentsAndLongTextsStayInTheBuffer) {
    DiChar out[32];
    EXPECT_EQ(diUtilSPrintf(out, 32, u"%2$s likes %1$s", {u"tea", u"Ann"}), 13);
    EXPECT_EQ(std::u16string(out), u"Ann likes tea");

    // A server name longer than the buffer is cut and terminated.
    std::u16string name(200, u'n');
    DiChar small[16];
    for (auto& c : small)
        c = u'#';
    EXPECT_EQ(diUtilSPrintf(small, 12, u"host %s!", {name.c_str()}), -1);
    EXPECT_EQ(small[11], 0);
    EXPECT_EQ(std::u16string(small), u"host nnnnnn");
    EXPECT_EQ(small[12], u'#'); // nothing written past the size given

    EXPECT_EQ(diUtilSPrintf(small, 0, u"x", {}), -1);
    EXPECT_EQ(diUtilSPrintf(nullptr, 5, u"x", {}), -1);
    EXPECT_EQ(diUtilSPrintf(small, 16, nullptr, {}), 0);
    EXPECT_EQ(small[0], 0);
}
