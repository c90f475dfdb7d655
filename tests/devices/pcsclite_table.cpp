// The smart-card class's function table over the host's PC/SC service
// (libpcsclite): 64-bit DWORDs and 80-byte reader states converted to the
// client's 32-bit forms. Only the calls the host service offers are mapped;
// the others answer SCARD_E_UNSUPPORTED_FEATURE.
#include "devices/pcsclite_table.h"

#include <PCSC/winscard.h>
#include <string.h>

namespace {

const int32_t kUnsupported = int32_t(0x80100022);

int32_t rcOf(LONG rc) {
    return int32_t(uint32_t(rc));
}

DWORD sizeIn(uint32_t n) {
    return n == DI_SCARD_AUTOALLOCATE ? SCARD_AUTOALLOCATE : n;
}

int32_t establish(uint32_t scope, uint32_t* context) {
    SCARDCONTEXT c = 0;
    LONG rc = SCardEstablishContext(scope, nullptr, nullptr, &c);
    *context = uint32_t(c);
    return rcOf(rc);
}

int32_t release(uint32_t context) {
    return rcOf(SCardReleaseContext(context));
}

int32_t isValid(uint32_t context) {
    return rcOf(SCardIsValidContext(context));
}

int32_t listGroups(bool wide, uint32_t context, void* buf, uint32_t* chars) {
    if (wide) return kUnsupported;
    DWORD n = sizeIn(*chars);
    LONG rc = SCardListReaderGroups(context, static_cast<char*>(buf), &n);
    *chars = uint32_t(n);
    return rcOf(rc);
}

int32_t listReaders(bool wide, uint32_t context, const void* groups, void* buf, uint32_t* chars) {
    if (wide) return kUnsupported;
    DWORD n = sizeIn(*chars);
    LONG rc =
        SCardListReaders(context, static_cast<const char*>(groups), static_cast<char*>(buf), &n);
    *chars = uint32_t(n);
    return rcOf(rc);
}

int32_t admin(uint32_t, uint32_t, const void*, const void*) {
    return kUnsupported;
}

int32_t locate(bool, uint32_t, const void*, DiSCardReaderState*, uint32_t) {
    return kUnsupported;
}

int32_t getStatusChange(bool wide, uint32_t context, uint32_t timeout, DiSCardReaderState* states,
                        uint32_t count) {
    if (wide || count > 11) return kUnsupported;
    SCARD_READERSTATE native[11] = {};
    for (uint32_t i = 0; i < count; i++) {
        native[i].szReader = static_cast<const char*>(states[i].reader);
        native[i].dwCurrentState = states[i].currentState;
        native[i].dwEventState = states[i].eventState;
        native[i].cbAtr = states[i].cbAtr < MAX_ATR_SIZE ? states[i].cbAtr : MAX_ATR_SIZE;
        memcpy(native[i].rgbAtr, states[i].atr, native[i].cbAtr);
    }
    LONG rc = SCardGetStatusChange(context, timeout, native, count);
    for (uint32_t i = 0; i < count; i++) {
        states[i].currentState = uint32_t(native[i].dwCurrentState);
        states[i].eventState = uint32_t(native[i].dwEventState);
        states[i].cbAtr = uint32_t(native[i].cbAtr);
        memcpy(states[i].atr, native[i].rgbAtr, MAX_ATR_SIZE);
    }
    return rcOf(rc);
}

int32_t cancel(uint32_t context) {
    return rcOf(SCardCancel(context));
}

int32_t connect(bool wide, uint32_t context, const void* reader, uint32_t share, uint32_t protocols,
                uint32_t* card, uint32_t* active) {
    if (wide) return kUnsupported;
    SCARDHANDLE h = 0;
    DWORD p = 0;
    LONG rc = SCardConnect(context, static_cast<const char*>(reader), share, protocols, &h, &p);
    *card = uint32_t(h);
    *active = uint32_t(p);
    return rcOf(rc);
}

int32_t reconnect(uint32_t card, uint32_t share, uint32_t protocols, uint32_t init,
                  uint32_t* active) {
    DWORD p = 0;
    LONG rc = SCardReconnect(card, share, protocols, init, &p);
    *active = uint32_t(p);
    return rcOf(rc);
}

int32_t disconnect(uint32_t card, uint32_t disposition) {
    return rcOf(SCardDisconnect(card, disposition));
}

int32_t beginTransaction(uint32_t card) {
    return rcOf(SCardBeginTransaction(card));
}

int32_t endTransaction(uint32_t card, uint32_t disposition) {
    return rcOf(SCardEndTransaction(card, disposition));
}

int32_t status(bool wide, uint32_t card, void* names, uint32_t* chars, uint32_t* state,
               uint32_t* protocol, uint8_t* atr, uint32_t* atrLen) {
    if (wide) return kUnsupported;
    DWORD n = sizeIn(*chars), st = 0, p = 0, a = *atrLen;
    LONG rc = SCardStatus(card, static_cast<char*>(names), &n, &st, &p, atr, &a);
    *chars = uint32_t(n);
    *state = uint32_t(st);
    *protocol = uint32_t(p);
    *atrLen = uint32_t(a);
    return rcOf(rc);
}

uint32_t le32(const void* p) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

int32_t transmit(uint32_t card, const void* sendPci, const uint8_t* send, uint32_t sendLen,
                 void* recvPci, uint8_t* recv, uint32_t* recvLen) {
    SCARD_IO_REQUEST s = {le32(sendPci), sizeof(SCARD_IO_REQUEST)};
    SCARD_IO_REQUEST r = {recvPci ? le32(recvPci) : 0, sizeof(SCARD_IO_REQUEST)};
    DWORD n = *recvLen;
    LONG rc = SCardTransmit(card, &s, send, sendLen, recvPci ? &r : nullptr, recv, &n);
    *recvLen = uint32_t(n);
    return rcOf(rc);
}

int32_t control(uint32_t card, uint32_t code, const void* in, uint32_t inLen, void* out,
                uint32_t outLen, uint32_t* returned) {
    DWORD n = 0;
    LONG rc = SCardControl(card, code, in, inLen, out, outLen, &n);
    *returned = uint32_t(n);
    return rcOf(rc);
}

int32_t getAttrib(uint32_t card, uint32_t id, void* buf, uint32_t* len) {
    DWORD n = sizeIn(*len);
    LONG rc = SCardGetAttrib(card, id, static_cast<uint8_t*>(buf), &n);
    *len = uint32_t(n);
    return rcOf(rc);
}

int32_t setAttrib(uint32_t card, uint32_t id, const void* buf, uint32_t len) {
    return rcOf(SCardSetAttrib(card, id, static_cast<const uint8_t*>(buf), len));
}

int32_t freeMemory(uint32_t context, const void* mem) {
    return rcOf(SCardFreeMemory(context, mem));
}

} // namespace

const DiSCardApi g_pcscliteApi = {
    establish,  release,   isValid,    listGroups,       listReaders,
    admin,      locate,    nullptr,    getStatusChange,  cancel,
    connect,    reconnect, disconnect, beginTransaction, endTransaction,
    status,     transmit,  control,    getAttrib,        setAttrib,
    freeMemory, nullptr,   nullptr,    nullptr,          nullptr,
};
