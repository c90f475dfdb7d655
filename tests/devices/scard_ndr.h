// Smart-card calls as a server encodes them (type serialization 1, little
// endian), and running them through a smart-card class table.
#ifndef HV_TESTS_SCARD_NDR_H
#define HV_TESTS_SCARD_NDR_H

#include "devices/discard.h"
#include "fakes/device_fakes.h"

#include <stdlib.h>
#include <string.h>
#include <string>

namespace scardndr {

inline uint32_t rd32(const std::string& s, size_t at) {
    if (at + 4 > s.size()) return 0xDEADBEEF;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data()) + at;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline std::string hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes)
        out += std::string{kDigits[c >> 4], kDigits[c & 15]};
    return out;
}

// "01 10 ..." written with spaces for the reader.
inline std::string strip(const char* spaced) {
    std::string out;
    for (; *spaced; spaced++)
        if (*spaced != ' ') out += *spaced;
    return out;
}

inline std::string unhex(const char* spaced) {
    std::string h = strip(spaced), out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out += char(strtoul(h.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

class Ndr {
  public:
    static Ndr raw(const std::string& whole) {
        Ndr n;
        n.raw_ = true;
        n.body_ = whole;
        return n;
    }
    Ndr& u32(uint32_t v) {
        for (int i = 0; i < 4; i++)
            body_ += char(v >> (8 * i));
        return *this;
    }
    Ndr& ptr() { return u32(next_ += 4); }
    Ndr& align() {
        while (body_.size() % 4)
            body_ += '\0';
        return *this;
    }
    Ndr& bytes(const void* p, size_t n) {
        body_.append(static_cast<const char*>(p), n);
        return *this;
    }
    Ndr& array(const void* p, uint32_t n) { return align().u32(n).bytes(p, n); }
    Ndr& ctxHead() { return u32(4).ptr(); }
    Ndr& ctxBytes(uint32_t context) { return align().u32(4).u32(context); }
    Ndr& cardHead() { return ctxHead().u32(4).ptr(); }
    Ndr& cardBytes(uint32_t context, uint32_t card) { return ctxBytes(context).u32(4).u32(card); }
    Ndr& strA(const char* s, bool terminated = true) {
        uint32_t n = uint32_t(strlen(s)) + terminated;
        return align().u32(n).u32(0).u32(n).bytes(s, n);
    }
    Ndr& strW(const char16_t* s, bool terminated = true) {
        uint32_t n = terminated;
        while (s[n - terminated])
            n++;
        align().u32(n).u32(0).u32(n);
        for (uint32_t i = 0; i < n; i++)
            body_ += char(s[i] & 0xFF), body_ += char(s[i] >> 8);
        return *this;
    }
    // The whole input: the two headers and the data padded to 8.
    std::string wire() const {
        if (raw_) return body_;
        std::string data = body_;
        while (data.size() % 8)
            data += '\0';
        Ndr h;
        h.bytes("\x01\x10\x08\x00\xCC\xCC\xCC\xCC", 8).u32(uint32_t(data.size())).u32(0);
        return h.body_ + data;
    }

  private:
    std::string body_;
    uint32_t next_ = 0x1FFFC;
    bool raw_ = false;
};

inline Ndr contextCall(uint32_t context) {
    return Ndr().ctxHead().ctxBytes(context);
}

inline Ndr listReaders(uint32_t context, bool, uint32_t count, bool isNull = false) {
    return Ndr().ctxHead().u32(0).u32(0).u32(isNull).u32(count).ctxBytes(context);
}

inline Ndr connectA(uint32_t context, const char* reader) {
    return Ndr().ptr().ctxHead().u32(2).u32(3).strA(reader).ctxBytes(context);
}

// `records` of an array announced with `arrayCount` entries (the call says
// `cReaders`), each named "Reader A" unless `named` is false.
inline Ndr& states(Ndr& n, uint32_t arrayCount, uint32_t records, uint32_t cbAtr, bool named,
                   bool wide = false) {
    n.align().u32(arrayCount);
    uint8_t atr[36] = {0x3B};
    for (uint32_t i = 0; i < records; i++) {
        if (named)
            n.ptr();
        else
            n.u32(0);
        n.u32(0).u32(0).u32(cbAtr).bytes(atr, 36);
    }
    for (uint32_t i = 0; named && i < records; i++)
        wide ? n.strW(u"Reader A") : n.strA("Reader A");
    return n;
}

inline Ndr getStatusChange(uint32_t context, uint32_t cReaders, uint32_t arrayCount,
                           uint32_t records, uint32_t cbAtr = 0, bool named = true) {
    Ndr n;
    n.ctxHead().u32(0).u32(cReaders).ptr().ctxBytes(context);
    return states(n, arrayCount, records, cbAtr, named);
}

inline Ndr locate(uint32_t context) {
    Ndr n;
    n.ctxHead().u32(3).ptr().u32(1).ptr().ctxBytes(context).array("c\0\0", 3);
    return states(n, 1, 1, 0, true);
}

inline Ndr locateByAtr(uint32_t context, uint32_t cAtrs, uint32_t arrayCount, uint32_t cbAtr,
                       bool wide = false) {
    Ndr n;
    n.ctxHead().u32(cAtrs).ptr().u32(1).ptr().ctxBytes(context).align().u32(arrayCount);
    uint8_t field[72] = {0x3B};
    for (uint32_t i = 0; i < arrayCount; i++)
        n.u32(cbAtr).bytes(field, 72);
    return states(n, 1, 1, 0, true, wide);
}

inline Ndr transmit(uint32_t context, uint32_t card, uint32_t cbSendLength, const char* send,
                    uint32_t n, uint32_t recvLength) {
    return Ndr()
        .cardHead()
        .u32(2)
        .u32(0)
        .u32(0)
        .u32(cbSendLength)
        .ptr()
        .u32(0)
        .u32(0)
        .u32(recvLength)
        .cardBytes(context, card)
        .array(send, n);
}

struct Reply {
    bool done = false;
    uint32_t status = 0, returned = 0;
    std::string out;
    bool ok() const { return done && status == 0; }
    int32_t rc() const { return int32_t(rd32(out, 16)); }
};

inline void replyDone(DiDeviceRequest* req, void* arg) {
    Reply* r = static_cast<Reply*>(arg);
    if (r) {
        r->done = true;
        r->status = req->IoStatus;
        r->returned = req->Returned;
        if (req->IoStatus == 0 && req->Returned <= req->OutputBufferLength)
            r->out.assign(reinterpret_cast<char*>(req->OutputBuffer), req->Returned);
    }
    delete req->completion;
    diDeviceRequestFree(req);
}

// Hands a request to the class; `reply` (none: dropped) is filled when it
// completes; `workers` counts it as a channel does.
inline void submit(DiDeviceClass& cls, DiSCardSession* s, uint32_t fn, const Ndr& in,
                   uint32_t outLen = 1024, uint32_t major = 14, Reply* reply = nullptr,
                   uint32_t* workers = nullptr) {
    DiDeviceRequest* req = diDeviceRequestAlloc();
    std::string bytes = in.wire();
    req->deviceClass = &cls;
    req->sessionContext = s;
    req->MajorFunction = major;
    req->IoControlCode = 0x00090000 | fn << 2;
    req->InputBufferLength = uint32_t(bytes.size());
    req->InputBuffer = static_cast<uint8_t*>(malloc(bytes.size() + 1));
    memcpy(req->InputBuffer, bytes.data(), bytes.size());
    req->OutputBufferLength = outLen;
    req->OutputBuffer = static_cast<uint8_t*>(malloc(outLen + 1));
    req->completion = new DiDeviceCompletion{replyDone, reply};
    req->workers = workers;
    cls.run(req);
}

// Runs a call to its reply (workers run on the test's thread).
inline Reply call(DiDeviceClass& cls, DiSCardSession* s, uint32_t fn, const Ndr& in,
                  uint32_t outLen = 1024, uint32_t major = 14) {
    Reply r;
    submit(cls, s, fn, in, outLen, major, &r);
    runDeviceThreads();
    return r;
}

} // namespace scardndr

#endif
