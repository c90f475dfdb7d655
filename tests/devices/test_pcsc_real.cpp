// The smart-card handlers over the host's PC/SC service: with pcscd, the
// virtual reader driver and a virtual card, each handler's answer equals the
// direct library call made in the same run, and a status-change call blocked
// on the empty reader returns when its session ends.
#include <gtest/gtest.h>

#include "devices/pcsclite_table.h"
#include "devices/scard_ndr.h"

#include <PCSC/winscard.h>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace scardndr;

namespace {

// Starts a program with its output dropped; it ends with the test program,
// even when that is killed (a time-out) or crashes, so no service of this
// run is left to refuse the next run's.
pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = open("/dev/null", O_WRONLY);
        if (getppid() != parent || null < 0) _exit(127);
        dup2(null, 1);
        dup2(null, 2);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    return pid > 0 ? pid : 0;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// The readers pcscd lists now (empty while it is not serving).
std::string readers() {
    SCARDCONTEXT c;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &c)) return "";
    char buf[1024];
    DWORD n = sizeof buf;
    std::string out;
    if (SCardListReaders(c, nullptr, buf, &n) == SCARD_S_SUCCESS) out.assign(buf, n);
    SCardReleaseContext(c);
    return out;
}

class RealPcsc : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access("/usr/sbin/pcscd", X_OK) || access("/usr/bin/vicc", X_OK) ||
            access("/usr/lib/pcsc/drivers/serial/libifdvpcd.so", R_OK))
            GTEST_SKIP() << "pcscd, vpcd or vicc not installed";
        // A pcscd refuses to start while the one named in its pid file
        // lives, and one killed with an earlier run stays until it is
        // reaped: ours is started again until it serves the reader.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::string list;
        while (!servedByOurs(list) && std::chrono::steady_clock::now() < deadline) {
            if (pcscd <= 0 || waitpid(pcscd, nullptr, WNOHANG) != 0)
                pcscd = spawn({"/usr/sbin/pcscd", "-f"});
            usleep(50000);
        }
        ASSERT_TRUE(servedByOurs(list))
            << "pcscd " << pcscd << " shows no virtual reader; the service's pid file names "
            << servicePid();
        reader = list.substr(list.find("Virtual PCD"));
        reader = reader.c_str(); // the first virtual reader
        deviceFakesReset();
        g_diSCardApi = &g_pcscliteApi;
        diSCardRegisterClass(&cls);
    }
    void TearDown() override {
        stop(vicc);
        stop(pcscd);
        if (tmp.size()) system(("rm -rf " + tmp).c_str());
        g_diSCardApi = nullptr;
    }
    // The virtual card: the card emulator's modules sit off Python's path
    // and import their crypto under another name than Debian's.
    void insertCard() {
        char dir[] = "/tmp/hv_vicc_XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        tmp = dir;
        ASSERT_EQ(0,
                  symlink("/usr/lib/python3/dist-packages/Cryptodome", (tmp + "/Crypto").c_str()));
        setenv("PYTHONPATH", ("/usr/lib/python3/site-packages/virtualsmartcard:" + tmp).c_str(), 1);
        vicc = spawn({"/usr/bin/python3", "/usr/bin/vicc", "-t", "iso7816"});
        unsetenv("PYTHONPATH");
        ASSERT_GT(vicc, 0);
    }
    // The pid the service's pid file names (0: none).
    static pid_t servicePid() {
        pid_t pid = 0;
        std::ifstream("/run/pcscd/pcscd.pid") >> pid;
        return pid;
    }
    // Whether our pcscd serves and lists the virtual reader (in `list`).
    bool servedByOurs(std::string& list) {
        list = readers();
        return pcscd > 0 && servicePid() == pcscd && list.find("Virtual PCD") != std::string::npos;
    }
    DiSCardSession* newSession() { return static_cast<DiSCardSession*>(cls.createSession(&cls)); }
    Ndr statusChange(uint32_t context, uint32_t current, uint32_t timeout) {
        Ndr n;
        n.ctxHead().u32(timeout).u32(1).ptr().ctxBytes(context).align().u32(1).ptr();
        uint8_t atr[36] = {};
        n.u32(current).u32(0).u32(0).bytes(atr, 36).strA(reader.c_str());
        return n;
    }
    pid_t pcscd = 0, vicc = 0;
    std::string reader, tmp;
    DiDeviceClass cls = {};
};

TEST_F(RealPcsc, HandlersAnswerAsTheServiceDoes) {
    SCARDCONTEXT direct;
    ASSERT_EQ(SCARD_S_SUCCESS,
              SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &direct));
    SCARD_READERSTATE rs = {};
    rs.szReader = reader.c_str();
    ASSERT_EQ(SCARD_S_SUCCESS, SCardGetStatusChange(direct, 0, &rs, 1));
    ASSERT_TRUE(rs.dwEventState & SCARD_STATE_EMPTY);

    // A status change blocked on the empty reader ends with its session.
    DiSCardSession* s = newSession();
    Reply est;
    submit(cls, s, 5, Ndr().u32(SCARD_SCOPE_SYSTEM), 1024, 14, &est);
    ASSERT_EQ(0, est.rc());
    Reply blocked;
    submit(cls, s, 40, statusChange(rd32(est.out, 32), rs.dwEventState, INFINITE), 1024, 14,
           &blocked);
    ASSERT_EQ(1u, g_fakeThreads.workers.size());
    std::thread worker(diDeviceWorkerThread, reinterpret_cast<uintptr_t>(g_fakeThreads.workers[0]));
    g_fakeThreads.workers.clear();
    cls.destroySession(&cls, s);
    worker.join();
    runCompletions();
    // Cancelled inside the service, or refused when the session ended first.
    uint32_t ended = uint32_t(blocked.rc());
    EXPECT_TRUE(ended == uint32_t(SCARD_E_CANCELLED) || ended == uint32_t(SCARD_E_INVALID_HANDLE))
        << std::hex << ended;

    // The card arrives; every answer equals the direct call's.
    insertCard();
    rs.dwCurrentState = rs.dwEventState;
    ASSERT_EQ(SCARD_S_SUCCESS, SCardGetStatusChange(direct, 60000, &rs, 1));
    ASSERT_TRUE(rs.dwEventState & SCARD_STATE_PRESENT);
    s = newSession();
    Reply r = call(cls, s, 5, Ndr().u32(SCARD_SCOPE_SYSTEM));
    uint32_t ctx = rd32(r.out, 32);
    ASSERT_EQ(0, r.rc());

    char list[1024];
    DWORD n = sizeof list;
    ASSERT_EQ(SCARD_S_SUCCESS, SCardListReaders(direct, nullptr, list, &n));
    r = call(cls, s, 10, listReaders(ctx, false, 1024));
    EXPECT_EQ(std::string(list, n), r.out.substr(32, rd32(r.out, 28)));

    rs.dwCurrentState = 0;
    ASSERT_EQ(SCARD_S_SUCCESS, SCardGetStatusChange(direct, 0, &rs, 1));
    r = call(cls, s, 40, statusChange(ctx, 0, 0));
    EXPECT_EQ(0, r.rc());
    EXPECT_EQ(uint32_t(rs.dwEventState), rd32(r.out, 36));
    EXPECT_EQ(uint32_t(rs.cbAtr), rd32(r.out, 40));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rs.rgbAtr), rs.cbAtr),
              r.out.substr(44, rs.cbAtr));

    SCARDHANDLE card;
    DWORD protocol;
    ASSERT_EQ(SCARD_S_SUCCESS,
              SCardConnect(direct, reader.c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol));
    r = call(cls, s, 43, connectA(ctx, reader.c_str()));
    ASSERT_EQ(0, r.rc());
    EXPECT_EQ(uint32_t(protocol), rd32(r.out, 36));
    uint32_t hcard = rd32(r.out, 52);

    char name[256];
    DWORD nameLen = sizeof name, state, proto, atrLen = 36;
    uint8_t atr[36];
    ASSERT_EQ(SCARD_S_SUCCESS, SCardStatus(card, name, &nameLen, &state, &proto, atr, &atrLen));
    r = call(cls, s, 50, Ndr().cardHead().u32(0).u32(256).u32(36).cardBytes(ctx, hcard));
    EXPECT_EQ(0, r.rc());
    EXPECT_EQ(uint32_t(state), rd32(r.out, 28));
    EXPECT_EQ(uint32_t(proto), rd32(r.out, 32));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(atr), atrLen), r.out.substr(36, atrLen));
    EXPECT_EQ(std::string(name, nameLen), r.out.substr(76, rd32(r.out, 72)));

    // SELECT of an empty AID.
    const uint8_t select[] = {0x00, 0xA4, 0x04, 0x00, 0x00};
    SCARD_IO_REQUEST pci = {protocol, sizeof(SCARD_IO_REQUEST)};
    uint8_t resp[258];
    DWORD respLen = sizeof resp;
    ASSERT_EQ(SCARD_S_SUCCESS, SCardTransmit(card, &pci, select, 5, nullptr, resp, &respLen));
    Ndr t = Ndr()
                .cardHead()
                .u32(protocol)
                .u32(0)
                .u32(0)
                .u32(5)
                .ptr()
                .u32(0)
                .u32(0)
                .u32(258)
                .cardBytes(ctx, hcard)
                .array(select, 5);
    r = call(cls, s, 52, t);
    EXPECT_EQ(0, r.rc());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(resp), respLen),
              r.out.substr(36, rd32(r.out, 24)));

    EXPECT_EQ(SCARD_S_SUCCESS, SCardDisconnect(card, SCARD_LEAVE_CARD));
    r = call(cls, s, 46, Ndr().cardHead().u32(SCARD_LEAVE_CARD).cardBytes(ctx, hcard));
    EXPECT_EQ(0, r.rc());
    cls.destroySession(&cls, s);
    SCardReleaseContext(direct);
}

} // namespace
