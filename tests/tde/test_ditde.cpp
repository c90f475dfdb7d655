// The terminal channel's keep-alive and binding.
#include <gtest/gtest.h>

#include "fakes/chan_fakes.h"
#include "tde/ditde.h"

namespace {

TEST(DiTDE, KeepAliveIsOneEmptyMessageOfType45) {
    fakesReset();
    static DiTDisplay tde{};
    diDEChannelInit(&tde.ch, DI_OBJ_TDE, 80, 25);
    DdSocket sock{};
    DiObject owner;
    diUIObjectInit(&owner, DI_OBJ_DEMANAGER, 1, 1);
    diTDEBindChannel(&tde.ch, &owner, nullptr, &sock);
    EXPECT_EQ(tde.ch.hdr.parent, &owner);
    EXPECT_EQ(tde.ch.socket, &sock);
    EXPECT_EQ(diTAIPSendKeepAlive(&tde.ch), -1); // no output limit yet: refused
    tde.ch.out.limit = DI_TDE_OUTPUT_LIMIT;
    EXPECT_EQ(diTAIPSendKeepAlive(&tde.ch), 0);
    EXPECT_EQ(g_fakeNet.sent, std::string("\x2D\x00\x00", 3));
    tde.ch.socket = nullptr;
    diDEChannelFree(&tde.ch);
}

} // namespace
