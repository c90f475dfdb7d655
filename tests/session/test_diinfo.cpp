// Connection information from fake facts: the server, user, version and
// platform rows, printers read from the queue's list (each key within its
// own printer), drives by type, the Copy All text and the value order.
#include "session/diinfo.h"

#include "core/dilog.h"
#include "session/diso.h"
#include "xml/qvlxmlglobals.h"

#include <gtest/gtest.h>

#include <string>

namespace {

/* The English texts the rows use; any other message reads "mN". */
bool englishMessages(uint32_t n, DiChar* buffer, size_t size) {
    const char16_t* known = n == 704   ? u"%s:%d"
                            : n == 705 ? u"Proxy #%d"
                            : n == 721 ? u"Printer #%d"
                            : n == 732 ? u"%d x %d"
                            : n == 733 ? u"%d x %d @ %d-bit color depth"
                            : n == 735 ? u" on %s"
                            : n == 736 ? u" with driver %s"
                            : n == 723 ? u"Reader"
                            : n == 724 ? u"Port"
                                       : nullptr;
    std::u16string t = known ? known : u"m";
    if (!known)
        for (char c : std::to_string(n))
            t += char16_t(c);
    size_t i = 0;
    for (; i < t.size() && i + 1 < size; i++)
        buffer[i] = t[i];
    buffer[i] = 0;
    return true;
}

std::string copyAll(CConnectionInfo& info) {
    CQVLPackBuffer b(QVL_ENC_UTF8, QVL_MODE_MARKUP);
    info.Pack(&b);
    return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

std::string rowsOf(CConnectionInfo& info, int32_t kind) {
    std::string out;
    for (auto* r : info.rows)
        if (r->kind == kind)
            out += std::string(r->property.begin(), r->property.end()) + "=" +
                   std::string(r->value.begin(), r->value.end()) + ";";
    return out;
}

class ConnectionInfo : public ::testing::Test {
  protected:
    void SetUp() override { diLogSetMessageLoader(englishMessages); }
    void TearDown() override { diLogSetMessageLoader(nullptr); }
};

TEST_F(ConnectionInfo, RowsFromTheOutpostAndTheMachine) {
    DiSOOptions o;
    o.server = u"opt";
    o.port = 443;
    o.code = u"CODE1";
    CServerOutpost so(o);
    DiInfoFacts f;
    f.screenWidth = 1280;
    f.screenHeight = 1024;
    f.depth = 32;
    f.maxWidth = 1000;
    f.maxHeight = 700;
    f.osCode = 0x0207;
    CConnectionInfo info;
    info.Refresh(&so, f);
    EXPECT_EQ(rowsOf(info, DI_INFO_SERVER), "m700=m734;m725=m730;") << "not connected: no type";
    EXPECT_EQ(rowsOf(info, DI_INFO_PLATFORM), "m713=Windows XP;m711=1280 x 1024 @ 32-bit color "
                                              "depth;m715=1000 x 700;m712=1280 x 1024;m714=m731;");
    EXPECT_EQ(rowsOf(info, DI_INFO_VERSION), "m710=4.31;m709=CODE1;");
    so.connectionState = DI_SO_CONNECTED;
    so.secure = 1;
    f.osCode = 0x0204;
    f.osText = u"unused";
    info.Refresh(&so, f);
    EXPECT_EQ(rowsOf(info, DI_INFO_SERVER), "m700=opt:443;m701=m728;m725=m730;");
    EXPECT_EQ(rowsOf(info, DI_INFO_PLATFORM).substr(0, 13), "m713=Windows;");
    so.userInfo[DI_SO_SERVER] = qvlStrDup(u"srv");
    so.userInfo[DI_SO_SHORTNAME] = qvlStrDup(u"short");
    info.Refresh(&so, f);
    EXPECT_EQ(rowsOf(info, DI_INFO_USER), "m707=short;");
    EXPECT_EQ(copyAll(info).substr(0, 16), "m700\tsrv\r\nm701\tm");
}

TEST_F(ConnectionInfo, PrintersAndDrives) {
    struct Case {
        const char16_t* list;
        const char* rows;
    } cases[] = {
        {u"pn=@@QVL_PDF@@\npo=PDF:\npn=Laser\npo=LPT1:\ndn=Drv\ndp=Desc\n",
         "Printer #1=Laser on LPT1: with driver Drv (Desc);"},
        /* A printer without a port does not take the next one's. */
        {u"pn=First\r\npn=Second\r\npo=COM1:\r\n", "Printer #1=First;Printer #2=Second on COM1:;"},
        /* "pn=" inside a value is no printer. */
        {u"pn=A\ndn=xpn=B\n", "Printer #1=A with driver xpn=B;"},
        {u"", ""},
    };
    DiSOOptions o;
    CServerOutpost so(o);
    for (const Case& c : cases) {
        DiInfoFacts f;
        f.hasPrintQueue = true;
        f.printerList = c.list;
        CConnectionInfo info;
        info.Refresh(&so, f);
        EXPECT_EQ(rowsOf(info, DI_INFO_PRINTERS), c.rows);
    }
    DiInfoFacts f;
    f.hasPrintQueue = true;
    f.defaultPrinter = u"Laser";
    f.drives = {{u"C", 1}, {u"D", 4}, {u"E", 1}, {u"Q", 3}};
    CConnectionInfo info;
    info.Refresh(&so, f);
    EXPECT_EQ(rowsOf(info, DI_INFO_PRINTERS), "m722=Laser;");
    EXPECT_EQ(rowsOf(info, DI_INFO_DRIVES), "m717=C: E: ;m719=D: ;");
    /* Values order exactly, unit by unit. */
    CConnectionInfoItem a(0, u"p", u"Z"), b(0, u"p", u"a");
    EXPECT_LT(a.Compare(&b, 1), 0);
    EXPECT_EQ(a.Compare(&b, 0), 0);
}

// A reader's kind by its state (mute before unavailable before a card), the
// answer to reset only with a card; serial ports as "device (name)".
TEST_F(ConnectionInfo, ReadersAndSerialPorts) {
    struct Case {
        uint32_t state;
        int32_t kind;
        const char* value;
    } cases[] = {
        {0x22, DI_INFO_READER_CARD, "R: 3b 0f"}, {0x12, DI_INFO_READER_EMPTY, "R"},
        {0x28, DI_INFO_READER_UNAVAILABLE, "R"}, {0x22A, DI_INFO_READER_MUTE, "R"},
        {0, DI_INFO_READER_EMPTY, "R"},
    };
    DiSOOptions o;
    CServerOutpost so(o);
    for (const Case& c : cases) {
        DiInfoFacts f;
        f.readers.push_back(DiInfoReader{u"R", c.state, {0x3b, 0x0f}});
        f.serialPorts = {{u"COM1", u"COM3"}};
        CConnectionInfo info;
        info.Refresh(&so, f);
        EXPECT_EQ(rowsOf(info, c.kind), std::string("Reader=") + c.value + ";") << c.state;
        EXPECT_EQ(rowsOf(info, DI_INFO_SERIAL), "Port=COM1 (COM3);");
    }
}

} // namespace
