// Printing through Wine's spooler to a private CUPS server: started by
// tests/devices/print-local.sh, which names its queues (a PDF printer, the
// default, and a raw socket printer) and checks what reached them. Skipped
// in ordinary runs.
#include <gtest/gtest.h>

#include "devices/dddevices.h"
#include "devices/ddprint.h"
#include "session/ddso.h"
#include "session/diprofile.h"
#include "support/host_command.h"

#include <shellapi.h>
#include <winspool.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::u16string env(const wchar_t* name) {
    wchar_t buf[256] = {};
    DWORD n = GetEnvironmentVariableW(name, buf, 256);
    return n && n < 256 ? std::u16string(reinterpret_cast<const char16_t*>(buf), n)
                        : std::u16string();
}
const wchar_t* w(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

// The spooler takes its printer list from the CUPS server when it is
// listed; the PDF printer is made the default.
void syncPrinters(const std::u16string& def) {
    DWORD needed = 0, count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    if (!def.empty()) {
        ASSERT_TRUE(SetDefaultPrinterW(w(def)));
    }
}

std::wstring beside(const wchar_t* file) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + file;
}

void setUserKey(const wchar_t* key, const wchar_t* value) {
    std::wstring path = std::wstring(L"Software\\Quorvellan\\Printing\\") + key;
    if (!value) {
        RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
        return;
    }
    HKEY h;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &h, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   DWORD((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

struct Profile : ::testing::Environment {
    void SetUp() override {
        ddProfStoreSetPath(L"");
        ddProfStoreCreate();
    }
    void TearDown() override { ddProfStoreDestroy(); }
};
const auto* const kProfile = ::testing::AddGlobalTestEnvironment(new Profile);

std::wstring spoolFile(const std::string& bytes) {
    wchar_t dir[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"HVP", 0, path);
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

TEST(LocalPrintNone, WithoutPrintersThereIsNoDefaultAndNoDescription) {
    if (env(L"HV_TEST_NO_PRINTER").empty()) GTEST_SKIP() << "no private print server";
    syncPrinters(u"");
    EXPECT_TRUE(ddPrintDefaultName() == u"DEFAULT_PRINTER_UNKNOWN");
    EXPECT_FALSE(ddPrintCheckDefault());
    DiPrintClient c;
    EXPECT_FALSE(ddPrintDescribeClient(&c));
    EXPECT_TRUE(diPrintCapabilityItems(c).empty());
    DWORD error = 0;
    std::wstring file = spoolFile("x");
    EXPECT_EQ(ddPrintRaw(file.c_str(), u"", c, &error), -1);
    EXPECT_NE(error, 0u);
    DeleteFileW(file.c_str());
}

struct LocalPrint : ::testing::Test {
    std::u16string pdf = env(L"HV_TEST_PRINTER"), raw = env(L"HV_TEST_RAW_QUEUE");
    void SetUp() override {
        if (pdf.empty() || raw.empty()) GTEST_SKIP() << "no test printers";
        syncPrinters(pdf);
        setUserKey(L"AcrobatReader", beside(L"reader_standin.exe").c_str());
        setUserKey(L"AcrobatParameters", nullptr);
    }
    DiPrintClient describe(const char16_t* options) {
        diSOSetLocalSetting(u"PrinterOptions", options);
        DiPrintClient c;
        EXPECT_TRUE(ddPrintDescribeClient(&c));
        return c;
    }
};

TEST_F(LocalPrint, DescribesThePrintersUnderBothOptions) {
    EXPECT_TRUE(ddPrintCheckDefault());
    for (const char16_t* options : {u"0", u"2"}) {
        SCOPED_TRACE(options[0]);
        DiPrintClient c = describe(options);
        // The PDF entry, the raw printer, the default last; every port is
        // the CUPS queue and every driver Wine's PostScript driver.
        const std::u16string pdfEntry = u"pn=@@QVL_PDF@@\ndp=\ndn=\n";
        EXPECT_EQ(c.list.compare(0, pdfEntry.size(), pdfEntry), 0);
        DiPrinter a, b;
        ASSERT_TRUE(diPrintFindEntry(c.list, raw, &a));
        ASSERT_TRUE(diPrintFindEntry(c.list, pdf, &b));
        EXPECT_LT(c.list.find(u"pn=" + raw), c.list.find(u"pn=" + pdf));
        const std::u16string last = u"pn=" + pdf + u"\npo=" + b.port + u"\ndp=" + b.driverPath +
                                    u"\ndn=" + b.driverName + u"\n";
        ASSERT_GE(c.list.size(), last.size());
        EXPECT_EQ(c.list.compare(c.list.size() - last.size(), last.size(), last), 0);
        EXPECT_TRUE(a.port == u"CUPS:" + raw && b.port == u"CUPS:" + pdf);
        EXPECT_TRUE(a.driverPath == u"wineps.drv" && b.driverPath == u"wineps.drv");
        EXPECT_TRUE(c.description == u"os=Windows2000&driver=wineps.drv");
        EXPECT_TRUE(c.defaultName == pdf);
        EXPECT_TRUE(c.driverEnv == u"W32x86:" + b.driverName);
        EXPECT_EQ(diPrintCapabilityItems(c).size(), 8u);
    }
}

TEST_F(LocalPrint, RawJobOfEveryByteValueGoesToTheOfferedPrinterOnly) {
    DiPrintClient c = describe(u"0");
    std::string bytes;
    for (int i = 0; i < 256 * 9 + 100; i++)
        bytes += char(i % 256);
    std::wstring file = spoolFile(bytes);
    DWORD error = 0;
    // Names the client never offered are refused before the spooler sees them.
    for (const std::u16string& name : {u"\\\\127.0.0.1\\" + raw, raw + u",XcvMonitor Local Port",
                                       raw + u",XcvPort COM1:", std::u16string(u"@@QVL_PDF@@")}) {
        EXPECT_EQ(ddPrintRaw(file.c_str(), name, c, &error), -1);
        EXPECT_EQ(error, DWORD(ERROR_INVALID_PRINTER_NAME));
    }
    std::u16string upper = raw;
    for (char16_t& ch : upper)
        ch = ch >= u'a' && ch <= u'z' ? char16_t(ch - 32) : ch;
    EXPECT_EQ(ddPrintRaw(file.c_str(), upper, c, &error), 0) << error;
    DeleteFileW(file.c_str());
}

TEST_F(LocalPrint, PdfJobRunsTheReaderWithItsArguments) {
    DiPrintClient c = describe(u"0");
    DiPrinter def, other;
    ASSERT_TRUE(diPrintFindEntry(c.list, pdf, &def));
    ASSERT_TRUE(diPrintFindEntry(c.list, raw, &other));
    std::wstring file = spoolFile("%PDF-1.4\n");
    std::u16string f(reinterpret_cast<const char16_t*>(file.c_str()));
    const std::wstring naming = L"x \"%s\" \"" + std::wstring(w(raw)) + L"\" \"%s\" \"%s\"";
    struct Row {
        const wchar_t* params; // none: the built-in ones
        bool dialog;
        uint32_t kind;
        std::vector<std::u16string> argv;
    } rows[] = {
        {nullptr, false, 1, {u"/t", f, pdf, def.driverName, u"CUPS:" + pdf}},
        {nullptr, true, 1, {u"/p", f}},
        {nullptr, false, 2, {f}},
        {L"/tx", false, 2, {u"/t", f, pdf, def.driverName, u"CUPS:" + pdf}},
        {L"\"%s\" %n %d \"%s\" \"%s\" \"%s\" \"%s\"",
         false,
         1,
         {f, u"%n", u"%d", pdf, def.driverName, u"CUPS:" + pdf, u""}},
        {naming.c_str(), false, 1, {u"x", f, raw, raw, other.driverName}},
    };
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring log = std::wstring(dir) + L"hv_reader_args.txt";
    SetEnvironmentVariableW(L"HV_READER_LOG", log.c_str());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.argv.size());
        DeleteFileW(log.c_str());
        setUserKey(L"AcrobatParameters", r.params);
        ASSERT_EQ(ddPrintPdf(file.c_str(), r.dialog, r.kind, c), 0);
        for (int i = 0; i < 1000 && GetFileAttributesW(log.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
            Sleep(10); // a process of its own: only its file tells that it ran
        std::ifstream in(log.c_str(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::wstring line(ss.str().size() / 2, L'\0');
        memcpy(&line[0], ss.str().data(), line.size() * 2);
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
        ASSERT_NE(argv, nullptr);
        std::vector<std::u16string> got;
        for (int i = 1; i < argc; i++)
            got.push_back(reinterpret_cast<const char16_t*>(argv[i]));
        LocalFree(argv);
        EXPECT_TRUE(got == r.argv) << line.size();
    }
    setUserKey(L"AcrobatParameters", nullptr);
    DeleteFileW(file.c_str());
    DeleteFileW(log.c_str());
}

} // namespace
