// Connection information's smart-card rows from the PC/SC service in use (a
// scripted one): what the listing asks, and what it survives.
#include "session/diinfo.h"

#include "devices/fake_pcsc.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Readers listed through the PC/SC service in use: names, states and
// answers to reset as the service gives them; a list the service
// overstates is read within what it wrote; every context is released.
TEST(ConnectionInfoReaders, FromTheService) {
    struct Case {
        const char* name;
        bool overstate;
        const char* failing;
        size_t readers;
    } cases[] = {
        {"two readers with cards", false, nullptr, 2},
        {"overstated list", true, nullptr, 2},
        {"no list", false, "SCardListReadersW", 0},
        {"no context", false, "SCardEstablishContext", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakePcscReset();
        g_pcsc.overstate = c.overstate;
        if (c.failing) g_pcsc.fail[c.failing] = int32_t(0x8010002E);
        std::vector<DiInfoReader> readers;
        diInfoListReaders(g_diSCardApi, &readers);
        ASSERT_EQ(readers.size(), c.readers);
        if (c.readers) {
            EXPECT_EQ(std::string(readers[1].name.begin(), readers[1].name.end()), "Reader B");
            EXPECT_EQ(diInfoReaderKind(readers[0].state), DI_INFO_READER_CARD);
            EXPECT_EQ(readers[0].atr.size(), 11u);
        }
        EXPECT_TRUE(g_pcsc.contexts.empty());
    }
    g_diSCardApi = nullptr;
    std::vector<DiInfoReader> none;
    diInfoListReaders(nullptr, &none);
    EXPECT_TRUE(none.empty());
}

} // namespace
