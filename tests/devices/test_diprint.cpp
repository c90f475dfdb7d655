// What the client tells the server about its printers, which printer names
// a server may print to, the PDF reader's command line and the lines of a
// printed text.
#include <gtest/gtest.h>

#include "core/diutil.h"
#include "devices/diprint.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

DiPrinter printer(const std::u16string& name, const std::u16string& port,
                  const std::u16string& driver) {
    return {name, port, u"C:\\windows\\system32\\spool\\drivers\\w32x86\\3\\" + driver + u".drv",
            driver + u" Driver"};
}

TEST(PrintDescribe, ClientDescriptionAndPrinterList) {
    const DiPrinter a = printer(u"A", u"A", u"adrv"), b = printer(u"B", u"CUPS:B", u"bdrv");
    DiPrinter undescribed = a;
    undescribed.driverName.clear();
    const std::u16string entryA = u"pn=A\ndp=adrv.drv\ndn=adrv Driver\n";
    const std::u16string entryB = u"pn=B\npo=CUPS:B\ndp=bdrv.drv\ndn=bdrv Driver\n";
    const std::u16string pdf = u"pn=@@QVL_PDF@@\ndp=\ndn=\n";
    const std::u16string nt5 = u"os=Windows2000&driver=";
    // printers: a, b, or u (A without a driver); want: description file,
    // list and driver text joined by "|", or nothing (no description).
    struct Row {
        const char* label;
        bool nt;
        uint32_t major;
        bool pdf;
        const char* printers;
        std::u16string defaultName, want;
    } rows[] = {
        {"pdf, then others, default last", true, 6, true, "ab", u"A",
         nt5 + u"adrv.drv|" + pdf + entryB + entryA + u"|W32x86:adrv Driver"},
        {"default found in any case", true, 5, false, "ba", u"a",
         nt5 + u"adrv.drv|" + entryB + entryA + u"|W32x86:adrv Driver"},
        {"nt4 names its major version", true, 4, false, "a", u"A",
         u"os=WindowsNT4&driver=adrv.drv|" + entryA + u"|W32x86:adrv Driver"},
        {"9x", false, 4, false, "b", u"B",
         u"os=Windows9*&driver=bdrv.drv|" + entryB + u"|W32x86:bdrv Driver"},
        {"9x before 4", false, 3, false, "a", u"A", u""},
        {"no default printer", true, 6, true, "ab", u"", u""},
        {"marker as default", true, 6, true, "ab", u"DEFAULT_PRINTER_UNKNOWN", u""},
        // The default could not be described: its own driver is named, not
        // the last entry's (B's), so PDF jobs do not go to B.
        {"undescribed default keeps its driver", true, 6, false, "ub", u"A",
         nt5 + u"own.drv|" + entryB + u"|W32x86:own Driver"},
        {"nothing described: the list is the default's name", true, 6, false, "", u"Z",
         nt5 + u"own.drv|Z|W32x86:own Driver"},
    };
    for (const Row& r : rows) {
        DiPrintSystem sys;
        sys.nt = r.nt, sys.major = r.major, sys.pdfReader = r.pdf;
        sys.defaultName = r.defaultName;
        for (const char* c = r.printers; *c; c++)
            sys.printers.push_back(*c == 'a' ? a : *c == 'b' ? b : undescribed);
        sys.defaultDriverPath = u"D:\\x\\own.drv";
        sys.defaultDriverName = u"own Driver";
        DiPrintClient out;
        EXPECT_EQ(diPrintDescribe(sys, &out), !r.want.empty()) << r.label;
        std::u16string got = out.description + u"|" + out.list + u"|" + out.driverEnv;
        if (!r.want.empty()) {
            EXPECT_TRUE(got == r.want) << r.label;
        }
    }
}

TEST(PrintDescribe, CapabilityItemsCarryTheDescription) {
    DiPrintClient c;
    EXPECT_TRUE(diPrintCapabilityItems(c).empty());
    c.description = u"os=Windows2000&driver=a.drv";
    std::vector<DiPrintItem> items = diPrintCapabilityItems(c);
    ASSERT_EQ(items.size(), 8u);
    EXPECT_TRUE(items[0].text == u"os=Windows2000+driver=a.drv"); // "&" would end the value
    EXPECT_TRUE(std::string(items[6].name) == "printerpassword" && items[6].hidden);
}

TEST(PrintNames, OnlyOfferedPrintersOrTheDefault) {
    DiPrintClient c;
    c.defaultName = u"Office";
    c.list = u"pn=@@QVL_PDF@@\ndp=\ndn=\npn=Label Printer\npo=CUPS:label\ndp=l.drv\ndn=L\n"
             u"pn=Office\ndp=o.drv\ndn=O\n";
    struct Row {
        std::u16string asked;
        bool ok;
        std::u16string use;
    } rows[] = {
        {u"", true, u"Office"},
        {u"OFFICE", true, u"Office"},
        {u"label printer", true, u"Label Printer"},
        {u"\\\\attacker\\share", false, u""},
        {u"Label Printer,XcvMonitor Local Port", false, u""},
        {u"Office,XcvPort COM1:", false, u""},
        {u"@@QVL_PDF@@", false, u""},
        {u"CUPS:label", false, u""},
        {u"Label", false, u""},
    };
    for (const Row& r : rows) {
        std::u16string use;
        EXPECT_EQ(diPrintAcceptName(c, r.asked, &use), r.ok) << r.asked.size();
        if (r.ok) {
            EXPECT_TRUE(use == r.use);
        }
    }
    c.defaultName = u"DEFAULT_PRINTER_UNKNOWN";
    std::u16string use;
    EXPECT_FALSE(diPrintAcceptName(c, u"", &use));
    EXPECT_FALSE(diPrintAcceptName(c, u"DEFAULT_PRINTER_UNKNOWN", &use));

    DiPrinter p;
    ASSERT_TRUE(diPrintFindEntry(c.list, u"LABEL PRINTER", &p));
    EXPECT_TRUE(p.port == u"CUPS:label" && p.driverPath == u"l.drv" && p.driverName == u"L");
}

// Splits a command line as the reader's runtime will.
std::vector<std::u16string> split(const std::u16string& line) {
    size_t argc = 0, chars = 0;
    std::u16string full = u"reader.exe " + line;
    diSplitCommandLine(full.c_str(), nullptr, nullptr, &argc, &chars);
    std::vector<DiChar*> argv(argc);
    std::vector<DiChar> buf(chars);
    diSplitCommandLine(full.c_str(), argv.data(), buf.data(), &argc, &chars);
    std::vector<std::u16string> out;
    for (size_t i = 1; i + 1 < argc; i++)
        out.push_back(argv[i]);
    return out;
}

TEST(PrintReader, ParametersAndCommandLine) {
    // A user's text with 't' second is replaced by the built-in one.
    const std::u16string tUser = u"/tanything";
    EXPECT_TRUE(diPrintPdfParameters(&tUser, false, 2) == u"/t \"%s\" \"%s\" \"%s\" \"%s\"");

    // The printer the parameters name.
    EXPECT_TRUE(diPrintParametersPrinter(u"/t \"%s\" \"%s\" \"%s\" \"%s\"").empty());
    EXPECT_TRUE(diPrintParametersPrinter(u"/t \"%s\" \"Label Printer\" x") == u"Label Printer");
    EXPECT_TRUE(diPrintParametersPrinter(u"/t %s \"Office\"") == u"Office");
    EXPECT_TRUE(diPrintParametersPrinter(u"\"%s\"").empty());
    EXPECT_TRUE(diPrintParametersPrinter(u"/p").empty());

    const std::u16string args[4] = {u"C:\\tmp\\QVL1.tmp", u"Office", u"O Driver", u"CUPS:o"};
    struct Row {
        std::u16string params;
        bool ok;
        std::vector<std::u16string> argv;
    } rows[] = {
        {u"/t \"%s\" \"%s\" \"%s\" \"%s\"",
         true,
         {u"/t", u"C:\\tmp\\QVL1.tmp", u"Office", u"O Driver", u"CUPS:o"}},
        // A fifth "%s" is empty; "%n" and "%d" are text, not conversions.
        {u"\"%s\" \"%s\" \"%s\" \"%s\" \"%s\" %n %d",
         true,
         {u"C:\\tmp\\QVL1.tmp", u"Office", u"O Driver", u"CUPS:o", u"", u"%n", u"%d"}},
        {u"100%% \"%s\"", true, {u"100%", u"C:\\tmp\\QVL1.tmp"}},
        {u"%", true, {u"%"}},
        {u"", true, {}},
    };
    for (const Row& r : rows) {
        std::u16string line;
        ASSERT_EQ(diPrintFormatLine(r.params, args, 4, 8191, &line), r.ok);
        EXPECT_TRUE(split(line) == r.argv) << r.params.size();
    }
    // Arguments that would change how the line splits, and a bound line.
    const std::u16string quote[2] = {u"a\" /evil \"b", u"x"};
    const std::u16string slash[2] = {u"C:\\dir\\", u"x"};
    std::u16string line;
    EXPECT_FALSE(diPrintFormatLine(u"\"%s\" \"%s\"", quote, 2, 8191, &line));
    EXPECT_FALSE(diPrintFormatLine(u"\"%s\" \"%s\"", slash, 2, 8191, &line));
    EXPECT_TRUE(diPrintFormatLine(u"%s \"%s\"", slash, 2, 8191, &line));
    EXPECT_FALSE(diPrintFormatLine(u"\"%s\" \"%s\"", args, 4, 20, &line));
}

// A spool file and a printer: the printer takes at most `take` bytes of
// its `failAt`-th block, or fails that call.
struct CopyEnds {
    std::string file;
    size_t at = 0;
    int failReadAt = -1, shortAt = -1, failWriteAt = -1, reads = 0, writes = 0;
    std::string printed;
};

TEST(PrintCopy, EveryBlockGoesWholeOrTheJobFails) {
    auto read = [](void* c, uint8_t* buf, uint32_t size, uint32_t* got) {
        CopyEnds* e = static_cast<CopyEnds*>(c);
        if (e->reads++ == e->failReadAt) return false;
        *got = uint32_t(std::min<size_t>(size, e->file.size() - e->at));
        memcpy(buf, e->file.data() + e->at, *got);
        e->at += *got;
        return true;
    };
    auto write = [](void* c, const uint8_t* buf, uint32_t size, uint32_t* taken) {
        CopyEnds* e = static_cast<CopyEnds*>(c);
        int n = e->writes++;
        if (n == e->failWriteAt) return false;
        *taken = n == e->shortAt ? size / 2 : size;
        e->printed.append(reinterpret_cast<const char*>(buf), *taken);
        return true;
    };
    std::string every;
    for (int i = 0; i < 2600; i++)
        every += char(i * 7 + i / 256);
    struct Row {
        const char* label;
        size_t size;
        int failReadAt, shortAt, failWriteAt;
        DiPrintCopyResult want;
    } rows[] = {
        {"whole file", 2600, -1, -1, -1, DI_PRINT_COPIED},
        {"one block exactly", 1024, -1, -1, -1, DI_PRINT_COPIED},
        {"empty file", 0, -1, -1, -1, DI_PRINT_COPIED},
        {"printer cuts the second block", 2600, -1, 1, -1, DI_PRINT_WRITE_FAILED},
        {"printer fails the last block", 2600, -1, -1, 2, DI_PRINT_WRITE_FAILED},
        {"file unreadable midway", 2600, 1, -1, -1, DI_PRINT_READ_FAILED},
    };
    for (const Row& r : rows) {
        CopyEnds e;
        e.file = every.substr(0, r.size);
        e.failReadAt = r.failReadAt, e.shortAt = r.shortAt, e.failWriteAt = r.failWriteAt;
        EXPECT_EQ(diPrintCopyBlocks(read, &e, write, &e), r.want) << r.label;
        if (r.want == DI_PRINT_COPIED) {
            EXPECT_TRUE(e.printed == e.file) << r.label;
        }
    }
}

TEST(PrintText, LinesEndAtLineBreaksTerminatorOrEnd) {
    struct Row {
        std::u16string text;
        std::vector<std::u16string> lines;
    } rows[] = {
        {u"one\r\ntwo", {u"one", u"two"}},
        {u"a\rb\nc\r\n", {u"a", u"b", u"c"}},
        {u"\n\n", {u"", u""}},
        {std::u16string(u"x\ny\0z", 5), {u"x", u"y"}},
        {u"", {}},
        {u"\u4e2d\u6587 \u20ac\r\n\U0001F600", {u"\u4e2d\u6587 \u20ac", u"\U0001F600"}},
    };
    for (const Row& r : rows) {
        std::vector<std::u16string> got;
        for (const DiPrintLine& l : diPrintSplitLines(r.text.data(), r.text.size()))
            got.push_back(r.text.substr(l.start, l.length));
        EXPECT_TRUE(got == r.lines) << r.text.size();
    }
}

} // namespace
