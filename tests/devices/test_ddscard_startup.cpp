// Through the client's own start-up with the stand-in winscard.dll: the
// authentication dialog offers the smart card (chosen last time) when a
// reader is listed in user scope or only in system scope, and not when the
// lists are empty.
#include <gtest/gtest.h>

#include "core/ddapp.h"
#include "session/ddso.h"
#include "support/wintemp.h"
#include "ui/dlg_script.h"

namespace {

enum { USER = 1001, USE_CARD = 1121 };

TEST(SCardStartUp, AuthenticationDialogOffersTheCardWithAReader) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring temp = std::wstring(base) + L"hvscard" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(temp.c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    ddProfStoreSetPath((temp + L"\\profile.xml").c_str());
    // The script's hooks first: start-up adds its own to them.
    DlgScript s;
    ScriptScope scope(&s);
    ASSERT_EQ(ddAppInitWith(g_ddApp, GetModuleHandleW(nullptr), nullptr,
                            L"prog.exe -nostartimmediate", 1),
              1);
    auto script = reinterpret_cast<void(WINAPI*)(const char*)>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"winscard.dll"), "HvStandinScript")));
    ASSERT_TRUE(script);
    struct Row {
        const char* script;
        bool offered;
        int method;
    } rows[] = {{"", true, 1}, {"userempty", true, 1}, {"nouser", true, 1}, {"empty", false, 0}};
    for (const Row& w : rows) {
        SCOPED_TRACE(w.script);
        script(w.script);
        s.onInit = [&](HWND dlg, int) {
            EXPECT_EQ(w.offered, enabled(dlg, USE_CARD));
            EXPECT_EQ(w.offered, isChecked(dlg, USE_CARD));
            if (!w.offered) setText(dlg, USER, u"carol");
            press(dlg, IDOK);
        };
        DiLAIPField fields[2] = {};
        fields[0].value = 1;
        fields[0].label = const_cast<DiChar*>(u"alice");
        fields[1].id = 1;
        fields[1].kind = 1;
        DiLAIPDialog d = {};
        d.flags = DD_AUTH_METHOD_CHOICE | DD_AUTH_ASK_USER | DD_AUTH_ASK_PASSWORD;
        d.host = const_cast<DiChar*>(u"apps");
        d.fieldCount = 2;
        d.fields = fields;
        d.lastMethod = 1;
        DiLAIPReply reply = {};
        ASSERT_EQ(1, ddDlgAuthenticate(nullptr, &d, &reply));
        EXPECT_EQ(w.method, reply.method);
        free(reply.user);
        free(reply.password);
        free(reply.password2);
        free(reply.domain);
    }
    ddAppShutdown(g_ddApp);
    removeTree(temp);
}

} // namespace
