/* The Windows side of the channel framework: what it reads from DdApp. */
#include "core/ddapp.h"
#include "core/dide.h"

void ddDESetCodePage(DiChannel* ch) {
    uint32_t cp = g_ddApp->codePage ? g_ddApp->codePage : GetACP();
    diDESetCodePageKind(ch, cp);
}

DiClientInfo* ddDEGetClientInfo() {
    return &g_ddApp->clientInfo;
}

int ddDENoProgress() {
    return g_ddApp->opt.noProgress != 0;
}
