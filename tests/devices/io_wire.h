// Builders and a reader of the IO request channel's messages for tests:
// framed messages as the server sends them, requests with their 20-byte
// header, device requests, and the client's frames taken back apart (with
// deflated data inflated).
#ifndef HV_TESTS_IO_WIRE_H
#define HV_TESTS_IO_WIRE_H

#include "devices/didevice.h"
#include "fakes/chan_fakes.h"

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>
#include <zlib.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define HV_COUNTS_ALLOCATIONS 1
#endif
#endif

namespace iowire {

// The bytes the process holds in allocations (none counted without the
// sanitizer's allocator: callers skip).
inline size_t heldBytes() {
#ifdef HV_COUNTS_ALLOCATIONS
    return __sanitizer_get_current_allocated_bytes();
#else
    return 0;
#endif
}

inline std::string le32(uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
inline std::string le16(uint32_t v) {
    return std::string{char(v), char(v >> 8)};
}

// A framed message: type, length, flags, reserved, stream id, then `rest`
// (the raw length and data when compressed).
inline std::string frame(uint8_t type, uint8_t flags, uint16_t stream, const std::string& rest) {
    return std::string(1, char(type)) + le16(uint32_t(rest.size() + 5)) + char(flags) + le16(0) +
           le16(stream) + rest;
}

inline std::string deflated(const std::string& raw) {
    uLongf n = compressBound(uLong(raw.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(raw.data()),
              uLong(raw.size()), 3);
    out.resize(n);
    return out;
}

// Message 7 with the data as is, or deflated (flag 2).
inline std::string data(uint16_t stream, const std::string& bytes, bool ack = false,
                        bool compress = false) {
    uint8_t flags = uint8_t((stream ? 4 : 0) | (ack ? 1 : 0) | (compress ? 2 : 0));
    if (compress) return frame(7, flags, stream, le16(uint32_t(bytes.size())) + deflated(bytes));
    return frame(7, flags, stream, bytes);
}

inline std::string header(uint32_t total, uint32_t kind, uint32_t code) {
    return le32(total) + le32(kind) + le32(0) + le32(code) + le32(0);
}

// A whole request of the kind with its payload.
inline std::string request(uint32_t kind, uint32_t code, const std::string& payload) {
    return header(uint32_t(payload.size() + 20), kind, code) + payload;
}

// Device requests at level 2.
inline std::string dev(uint32_t device, uint32_t file, uint32_t id, uint32_t major,
                       const std::string& params) {
    return le32(device) + le32(file) + le32(id) + le32(major) + le32(0) + params;
}
inline std::string devCreate(uint32_t device, uint32_t id) {
    return dev(device, 0, id, 0, std::string(28, '\0') + le32(0));
}
inline std::string devRead(uint32_t device, uint32_t file, uint32_t id, uint32_t length) {
    return dev(device, file, id, 3, le32(length) + std::string(8, '\0'));
}
inline std::string devWrite(uint32_t device, uint32_t file, uint32_t id, const std::string& d) {
    return dev(device, file, id, 4, le32(uint32_t(d.size())) + std::string(28, '\0') + d);
}
inline std::string devControl(uint32_t device, uint32_t file, uint32_t id, uint32_t fn,
                              const std::string& in, uint32_t outLen) {
    return dev(device, file, id, 14,
               le32(outLen) + le32(uint32_t(in.size())) + le32(0x1B0000 | fn << 2) +
                   std::string(20, '\0') + in);
}

struct Frame {
    uint8_t type = 0, flags = 0;
    uint16_t stream = 0;
    std::string data; // inflated when it was compressed
};

inline uint32_t rd32(const std::string& s, size_t at) {
    if (at + 4 > s.size()) return 0xDEADBEEF;
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
           uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

// Takes every whole frame out of the bytes sent so far.
inline std::vector<Frame> sentFrames(std::string& sent) {
    std::vector<Frame> out;
    size_t at = 0;
    while (at + 3 <= sent.size()) {
        size_t len = uint8_t(sent[at + 1]) | uint8_t(sent[at + 2]) << 8;
        if (at + 3 + len > sent.size()) break;
        Frame f;
        f.type = uint8_t(sent[at]);
        f.flags = uint8_t(sent[at + 3]);
        f.stream = uint16_t(uint8_t(sent[at + 6]) | uint8_t(sent[at + 7]) << 8);
        if (f.flags & 2) {
            uLongf raw = uint8_t(sent[at + 8]) | uint8_t(sent[at + 9]) << 8;
            f.data.assign(raw, '\0');
            uncompress(reinterpret_cast<Bytef*>(&f.data[0]), &raw,
                       reinterpret_cast<const Bytef*>(sent.data() + at + 10), uLong(len - 7));
            f.data.resize(raw);
        } else {
            f.data = sent.substr(at + 8, len - 5);
        }
        out.push_back(f);
        at += 3 + len;
    }
    sent.erase(0, at);
    return out;
}

// A device channel on a fake socket, with the fixed values.
inline DiIOChannel* newDeviceChannel() {
    DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDeviceChannelInit(io, 0, 0);
    diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    return io;
}
inline void destroyDeviceChannel(DiIOChannel* io) {
    diDeviceChannelTeardown(io);
    diDeviceChannelRelease(io);
}

} // namespace iowire

#endif
