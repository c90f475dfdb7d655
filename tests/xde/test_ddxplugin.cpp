// Plug-in libraries for real: DLLs built beside this program (__stdcall
// with undecorated names, __cdecl, no exports, a failing initialisation, a
// failing DllMain, a text file named .dll), loaded, called and unloaded
// through the display's device slots; the folders a name may come from;
// and the commands and their replies end to end with the fake X-AIP server.
#include <gtest/gtest.h>

#include "recording_device.h"
#include "core/dilog.h"
#include "support/peer_process.h"
#include "xde/ddxplugin.h"
#include "xde/dixprop.h"

#include <fstream>

#include <windows.h>

#include <string>
#include <vector>

namespace {

using U = std::u16string;

const DiChar* c(const wchar_t* s) {
    return reinterpret_cast<const DiChar*>(s);
}

int32_t init(const wchar_t* instance, const wchar_t* file) {
    return ddXPluginInitialize(nullptr, c(instance), c(file));
}
int32_t term(const wchar_t* instance) {
    return ddXPluginTerminate(nullptr, c(instance));
}
int32_t call(const wchar_t* instance, const std::vector<const wchar_t*>& args) {
    std::vector<const DiChar*> a;
    for (const wchar_t* s : args) a.push_back(c(s));
    return ddXPluginCall(nullptr, c(instance), int32_t(a.size()), a.data());
}

bool loaded(const wchar_t* module) {
    return GetModuleHandleW(module) != nullptr;
}

std::wstring recorded() {
    HMODULE m = GetModuleHandleW(L"plug_std.dll");
    if (!m) return L"(not loaded)";
    auto log = reinterpret_cast<const wchar_t*(__stdcall*)()>(
        reinterpret_cast<void*>(GetProcAddress(m, "plugLog")));
    return log ? log() : L"(no log)";
}

std::wstring programFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L"\\/") + 1);
}

struct Plugins : ::testing::Test {
    void TearDown() override { EXPECT_EQ(diXPluginFirst(), nullptr); }
};

TEST_F(Plugins, StdcallLibraryLoadsOnceAndSeesItsArguments) {
    ASSERT_EQ(init(L"one", L"plug_std.dll"), 0);
    ASSERT_EQ(init(L"two", L"plug_std.dll"), 0);
    EXPECT_EQ(call(L"two", {L"a b", L"\u00e9\u20ac", L""}), 1003);
    EXPECT_EQ(term(L"one"), 0);
    EXPECT_TRUE(loaded(L"plug_std.dll"));
    EXPECT_EQ(recorded(), L"init one\ninit two\ncall two [a b] [\u00e9\u20ac] []\nterm one\n");
    EXPECT_EQ(call(L"one", {L"x"}), 1);
    EXPECT_EQ(term(L"two"), 0);
    EXPECT_FALSE(loaded(L"plug_std.dll"));

    // The 257th instance is refused before the library hears of it.
    std::vector<std::wstring> names;
    for (int i = 0; i < 257; i++) names.push_back(L"n" + std::to_wstring(i));
    for (int i = 0; i < 256; i++) ASSERT_EQ(init(names[i].c_str(), L"plug_std.dll"), 0);
    EXPECT_EQ(init(names[256].c_str(), L"plug_std.dll"), 1);
    std::wstring log = recorded();
    EXPECT_EQ(log.find(L"init n256"), std::wstring::npos);
    EXPECT_NE(log.find(L"init n255\n"), std::wstring::npos);
    for (int i = 0; i < 256; i++) ASSERT_EQ(term(names[i].c_str()), 0);
    EXPECT_FALSE(loaded(L"plug_std.dll"));
}

uintptr_t stackPointer() {
    uintptr_t sp;
    asm volatile("movl %%esp, %0" : "=r"(sp));
    return sp;
}

TEST_F(Plugins, CdeclLibraryLeavesTheStackAsItWas) {
    ASSERT_EQ(init(L"c", L"plug_cdecl.dll"), 0);
    uintptr_t before = stackPointer();
    int32_t last = 0;
    bool ordered = true;
    for (int i = 1; i <= 10000; i++) {
        last = call(L"c", {L"a", L"b"});
        ordered = ordered && last == i * 10 + 2;
    }
    EXPECT_EQ(stackPointer(), before);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(last, 100002);
    EXPECT_EQ(term(L"c"), 0);
}

TEST_F(Plugins, BrokenLibrariesFailWithOne) {
    // A failed initialisation stays registered: the instance can be called
    // and must be terminated.
    EXPECT_EQ(init(L"z", L"plug_zero.dll"), 1);
    EXPECT_EQ(call(L"z", {L"x"}), 11);
    EXPECT_EQ(term(L"z"), 0);
    EXPECT_FALSE(loaded(L"plug_zero.dll"));
    // No exports: registered; terminate removes it, unloads and says 1.
    EXPECT_EQ(init(L"n", L"plug_noexp.dll"), 1);
    EXPECT_EQ(call(L"n", {L"x"}), 1);
    EXPECT_EQ(term(L"n"), 1);
    EXPECT_FALSE(loaded(L"plug_noexp.dll"));
    EXPECT_EQ(term(L"n"), 1);
    // Nothing registered for libraries that do not load.
    for (const wchar_t* file : {L"plug_faildll.dll", L"plug_text.dll", L"plug_missing.dll"}) {
        EXPECT_EQ(init(L"f", file), 1);
        EXPECT_EQ(term(L"f"), 1);
    }
}

TEST_F(Plugins, NamesFromTheCurrentFolderPathOrNetworkAreNotLoaded) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring dir = std::wstring(temp) + L"hv_planted_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    std::wstring planted = dir + L"\\plug_planted.dll";
    ASSERT_TRUE(CopyFileW((programFolder() + L"plug_cdecl.dll").c_str(), planted.c_str(), FALSE));
    wchar_t oldDir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, oldDir);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    wchar_t oldPath[32767];
    DWORD n = GetEnvironmentVariableW(L"PATH", oldPath, 32767);
    SetEnvironmentVariableW(L"PATH", (dir + L";" + (n ? oldPath : L"")).c_str());

    // The planted name lies in the current folder and on PATH only.
    EXPECT_EQ(init(L"p", L"plug_planted.dll"), 1);
    for (const std::wstring& name :
         {std::wstring(L".\\plug_planted.dll"), std::wstring(L"..\\") + dir.substr(dir.rfind(L'\\') + 1) +
                                                   L"\\plug_planted.dll",
          std::wstring(L"\\\\127.0.0.1\\c$") + planted.substr(2), L"\\\\?\\" + planted,
          planted.substr(2) /* rooted, no drive */, planted.substr(0, 2) + L"plug_planted.dll"})
        EXPECT_EQ(init(L"p", name.c_str()), 1) << std::string(name.begin(), name.end());
    EXPECT_FALSE(loaded(L"plug_planted.dll"));
    // Its absolute path is the one way in.
    EXPECT_EQ(init(L"p", planted.c_str()), 0);
    EXPECT_EQ(call(L"p", {}), 10);
    EXPECT_EQ(term(L"p"), 0);
    EXPECT_EQ(term(L"p"), 1);

    SetEnvironmentVariableW(L"PATH", n ? oldPath : nullptr);
    SetCurrentDirectoryW(oldDir);
    DeleteFileW(planted.c_str());
    RemoveDirectoryW(dir.c_str());
}

// A drive letter made over a share, directly or through another drive, is
// the network: refused before anything is loaded (the log says why).
TEST_F(Plugins, DrivesMadeOverTheNetworkAreRefused) {
    CLog log;
    diLogSet(&log);
    ASSERT_TRUE(DefineDosDeviceW(0, L"S:", L"\\\\127.0.0.1\\share"));
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, L"R:", L"\\??\\S:\\plugins"));
    for (const wchar_t* name : {L"S:\\plug_cdecl.dll", L"R:\\plug_cdecl.dll"}) {
        uint32_t before = log.GetCount();
        EXPECT_EQ(init(L"p", name), 1);
        ASSERT_EQ(log.GetCount(), before + 1);
        EXPECT_NE(std::wstring(reinterpret_cast<wchar_t*>(log.GetEntries()->tail->item->text))
                      .find(L"network"),
                  std::wstring::npos);
    }
    for (const wchar_t* drive : {L"R:", L"S:"})
        DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive, nullptr);
    diLogSet(nullptr);
}

// The server's commands reach the libraries through the engine's property
// dispatch and the display's plug-in slots; the server checks the replies.
TEST_F(Plugins, ServerCommandsAreAnsweredInOrder) {
    ASSERT_TRUE(hvSocketSinkInit());
    g_rdev = RecordingDevice();
    DdXDeviceVector vec = *recordingDevice();
    vec.pluginInitialize = ddXPluginInitialize;
    vec.pluginTerminate = ddXPluginTerminate;
    vec.pluginCall = ddXPluginCall;
    DiXDisplay* d = static_cast<DiXDisplay*>(calloc(1, sizeof(DiXDisplay)));
    ASSERT_EQ(diXDEInit(d, &vec, nullptr, 640, 480), 0);
    d->ch.hdr.refCount = 2; // never released by a resume timer
    Peer peer;
    ASSERT_TRUE(peer.reservePortFile());
    std::string result = peer.portFile + ".result";
    ASSERT_TRUE(peer.start("xaip_peer.py serve prop-plugins --result-file " + result, ""));
    DdSocket* s = ddNetSocketCreate();
    ASSERT_NE(s, nullptr);
    diDEChannelSetContext(&d->ch, nullptr, nullptr, s);
    diNetSetOwner(s, &d->ch.hdr);
    d->ch.open = 1;
    ASSERT_EQ(ddNetSocketOpen(s, 1, 1), 0);
    ASSERT_EQ(diNetConnect(s, u"127.0.0.1", uint16_t(peer.port), 0), 0);
    ddNetSelectEvents(s, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE, DD_NET_READ | DD_NET_CLOSE);
    std::string zresult = "Z:" + result;
    hvPumpUntil([&] {
        return GetFileAttributesA(zresult.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    std::ifstream f(zresult);
    std::string verdict;
    std::getline(f, verdict);
    EXPECT_EQ(verdict, "ok");
    // "keep" holds the library: its record shows the escapes as bytes.
    EXPECT_EQ(recorded(), L"init keep\ninit a\ncall a [x y] [\u00e9A]\nterm a\n");
    EXPECT_EQ(term(L"keep"), 0);

    DiEvent ev{};
    ev.w[0] = 11;
    if (d->ch.open) diXDEHandleEvent(&d->ch.hdr, &ev);
    d->ch.open = 0;
    if (d->ch.resumeTimer) diTimerRemove(d->ch.resumeTimer);
    if (d->ch.socket) ddNetSocketClose(d->ch.socket);
    diXDEFree(d);
    free(d);
    f.close();
    DeleteFileA(zresult.c_str());
}

} // namespace
