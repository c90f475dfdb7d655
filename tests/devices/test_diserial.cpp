// The serial class over a recording port: queues, purge, close and session
// end with transfers in flight, and the device-control answers.
#include <gtest/gtest.h>

#include "fakes/device_fakes.h"
#include "io_wire.h"

#include <stdlib.h>

using namespace iowire;

namespace {

class Serial : public ::testing::Test {
  protected:
    void SetUp() override {
        fakesReset();
        deviceFakesReset();
        io = newDeviceChannel();
        ASSERT_EQ(1, diDeviceAdd(io, diDeviceMake(&diSerialDeviceMake(u"COM5", fakePortOpen)->ops,
                                                  512, 1, u"COM5")));
        diDeviceOpenSession(io, 1);
        diDeviceOpenSession(io, 2);
        submit(devCreate(0, 1));
        auto out = replies();
        ASSERT_EQ(1u, out.size());
        file = rd32(out[0].second, 8);
        ASSERT_EQ(1u, file);
    }
    void TearDown() override {
        if (io) destroyDeviceChannel(io);
        runDeviceThreads();
        EXPECT_EQ(g_fakePort.opened, g_fakePort.freed);
        EXPECT_EQ(0, g_fakeThreads.handlesOpen);
    }
    void submit(const std::string& bytes, uint16_t session = 1) {
        diDeviceSubmitRequest(io, reinterpret_cast<const uint8_t*>(bytes.data()),
                              uint32_t(bytes.size()), session);
    }
    // (status, body) of the replies sent so far, in order.
    std::vector<std::pair<uint32_t, std::string>> replies() {
        std::vector<std::pair<uint32_t, std::string>> out;
        for (const Frame& f : sentFrames(g_fakeNet.sent))
            out.push_back({rd32(f.data, 16), f.data.substr(20)});
        return out;
    }
    std::vector<uint32_t> ids(const std::vector<std::pair<uint32_t, std::string>>& out,
                              uint32_t status) {
        std::vector<uint32_t> r;
        for (auto& o : out)
            if (o.first == status) r.push_back(rd32(o.second, 0));
        return r;
    }
    DiIOChannel* io = nullptr;
    uint32_t file = 0;
};

TEST_F(Serial, ReadsAndWritesRunOneAtATimeInArrivalOrder) {
    g_fakePort.input = "abcdef";
    submit(devRead(0, file, 10, 4));
    submit(devRead(0, file, 11, 4));
    submit(devWrite(0, file, 20, "xy"));
    EXPECT_EQ(2u, g_fakeThreads.workers.size()); // one read beside one write
    runOneWorker();
    runCompletions();
    auto out = replies();
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(le32(10) + le32(0) + le32(4) + "abcd", out[0].second);
    EXPECT_EQ(2u, g_fakeThreads.workers.size()); // the write, then the second read
    runDeviceThreads();
    out = replies();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(le32(20) + le32(0) + le32(2) + std::string(1, '\0'), out[0].second);
    EXPECT_EQ(le32(11) + le32(0) + le32(2) + "ef", out[1].second);
    EXPECT_EQ("xy", g_fakePort.output);
}

TEST_F(Serial, PurgeCancelsOnlyWhatItsMaskAborts) {
    struct Row {
        uint32_t mask;
        size_t readsCancelled, writesCancelled;
    } rows[] = {{8, 0, 0}, {4, 0, 0}, {2, 2, 0}, {1, 0, 2}, {3, 2, 2}};
    for (const Row& r : rows) {
        for (uint32_t i = 0; i < 3; i++) {
            submit(devRead(0, file, 100 + i, 1));
            submit(devWrite(0, file, 200 + i, "w"));
        }
        submit(devControl(0, file, 300, DI_SERIAL_PURGE, le32(r.mask), 0));
        auto out = replies();
        size_t reads = 0, writes = 0;
        for (uint32_t id : ids(out, DI_STATUS_CANCELLED))
            (id < 200 ? reads : writes)++;
        EXPECT_EQ(r.readsCancelled, reads) << r.mask;
        EXPECT_EQ(r.writesCancelled, writes) << r.mask;
        EXPECT_EQ(std::vector<uint32_t>{300}, ids(out, 0));
        runDeviceThreads();
        replies();
    }
}

TEST_F(Serial, ClosingFreesThePortOnlyAfterItsLastTransfer) {
    enum { CLOSE_REQUEST, SESSION_END, CHANNEL_DESTROY };
    for (int how : {CLOSE_REQUEST, SESSION_END, CHANNEL_DESTROY}) {
        SCOPED_TRACE(how);
        if (how) {
            submit(devCreate(0, 1));
            file = rd32(replies()[0].second, 8);
        }
        submit(devRead(0, file, 1, 8));
        submit(devRead(0, file, 2, 8));
        submit(devWrite(0, file, 3, "abc"));
        submit(devWrite(0, file, 4, "def"));
        int freed = g_fakePort.freed;
        if (how == CLOSE_REQUEST) submit(dev(0, file, 5, DI_DEV_CLOSE, "x"));
        if (how == SESSION_END) diDeviceCloseSession(io, 1);
        if (how == CHANNEL_DESTROY) destroyDeviceChannel(io), io = nullptr;
        auto out = replies();
        EXPECT_EQ(freed, g_fakePort.freed); // two workers still hold it
        if (how == CLOSE_REQUEST) {
            EXPECT_EQ((std::vector<uint32_t>{2, 4}), ids(out, DI_STATUS_CANCELLED));
            EXPECT_EQ(std::vector<uint32_t>{5}, ids(out, 0));
            // A new port takes the slot; the old port's late completions
            // must not touch it.
            submit(devCreate(0, 6));
            EXPECT_EQ(file, rd32(replies()[0].second, 8));
        } else {
            EXPECT_TRUE(out.empty()); // the session is gone: nothing to answer
        }
        runDeviceThreads();
        EXPECT_EQ(freed + 1, g_fakePort.freed);
        if (how == CLOSE_REQUEST) {
            EXPECT_EQ(2u, replies().size()); // the running read and write
            g_fakePort.input = "zz";
            submit(devRead(0, file, 7, 2));
            runDeviceThreads();
            auto late = replies();
            ASSERT_EQ(1u, late.size());
            EXPECT_EQ(le32(7) + le32(0) + le32(2) + "zz", late[0].second);
            submit(dev(0, file, 8, DI_DEV_CLOSE, "x"));
            replies();
        }
        if (how == SESSION_END) diDeviceOpenSession(io, 1);
    }
}

TEST_F(Serial, ControlAnswers) {
    struct Row {
        const char* what;
        uint32_t fn;
        std::string in;
        uint32_t outLen, error, status, returned, driverOut;
        uint16_t session;
    } rows[] = {
        {"set baud", 1, le32(115200), 0, 0, 0, 0, 0, 1},
        {"set baud short", 1, "abc", 0, 0, DI_STATUS_BUFFER_TOO_SMALL, 0, 0, 1},
        {"get baud short", 20, "", 3, 0, DI_STATUS_BUFFER_TOO_SMALL, 0, 0, 1},
        {"get baud fails", 20, "", 4, 50, 0x80070032, 0, 4, 1},
        {"modem status fails", 26, "", 4, 87, 0x80070057, 0, 4, 1},
        {"properties", 29, "", 100, 0, 0, 62, 64, 1},
        {"comm status", 27, "", 18, 0, 0, 18, 20, 1},
        {"dtr and rts", 30, "", 4, 0, 0, 4, 4, 1},
        {"reset", 11, "", 0, 0, 0, 0, 0, 1},
        {"get commconfig", 33, "", 0, 0, DI_STATUS_NOT_IMPLEMENTED, 0, 0, 1},
        {"function 0", 0, "", 0, 0, DI_STATUS_INVALID_DEVICE_REQUEST, 0, 0, 1},
        {"function 40", 40, "", 0, 0, DI_STATUS_INVALID_DEVICE_REQUEST, 0, 0, 1},
        {"another session's port", 20, "", 4, 0, DI_STATUS_INVALID_HANDLE, 0, 0, 2},
        {"immediate char", 6, "A", 1, 0, 0, 1, 0, 1},
        {"immediate char held", 6, "A", 0, 1460, DI_STATUS_TIMEOUT, 0, 0, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        g_fakePort.controlError = r.error;
        g_fakePort.immediateError = r.error;
        g_fakePort.lastOutLen = 0;
        memset(g_fakePort.driverOut, 0xA5, sizeof g_fakePort.driverOut);
        submit(devControl(0, file, 9, r.fn, r.in, r.outLen), r.session);
        auto out = replies();
        ASSERT_EQ(1u, out.size());
        EXPECT_EQ(r.status, out[0].first);
        EXPECT_EQ(r.returned, rd32(out[0].second, 8));
        EXPECT_EQ(12 + r.returned, out[0].second.size());
        EXPECT_EQ(r.driverOut, g_fakePort.lastOutLen);
    }
}

// A port queues a bounded number of reads and writes behind a head transfer
// that does not end: queued reads hold no buffer, queued writes a bounded
// total; the rest are refused at once, and the queue takes more once it
// has drained.
TEST_F(Serial, QueuedTransfersAreBounded) {
#ifndef HV_COUNTS_ALLOCATIONS
    GTEST_SKIP() << "needs the sanitizer's allocation count";
#endif
    const std::string mib(1u << 20, 'w');
    struct Row {
        const char* what;
        uint32_t major, sent, every;
        size_t accepted, held;
    } rows[] = {
        {"reads of the largest size", DI_DEV_READ, 10000, 100, DI_SERIAL_MAX_READS, 256u << 10},
        {"writes of 1 MiB", DI_DEV_WRITE, 1024, 16, DI_SERIAL_MAX_WRITE_BYTES / mib.size(),
         DI_SERIAL_MAX_WRITE_BYTES + (1u << 20)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        size_t before = heldBytes(), refused = 0;
        for (uint32_t id = 1; id <= r.sent; id++) {
            submit(r.major == DI_DEV_READ ? devRead(0, file, id, DI_IO_MAX_TRANSFER)
                                          : devWrite(0, file, id, mib));
            if (id % r.every) continue;
            refused += ids(replies(), DI_STATUS_INSUFFICIENT_RESOURCES).size();
            g_fakeNet.sentBy.clear();
            ASSERT_LT(heldBytes() - before, r.held) << "after " << id;
        }
        EXPECT_EQ(r.sent - r.accepted, refused);
        g_fakePort.input = std::string(r.accepted, 'i');
        g_fakePort.output.clear();
        runDeviceThreads();
        EXPECT_EQ(r.accepted, ids(replies(), 0).size());
        EXPECT_EQ(r.major == DI_DEV_WRITE ? r.accepted * mib.size() : 0, g_fakePort.output.size());
        submit(r.major == DI_DEV_READ ? devRead(0, file, 1, 4) : devWrite(0, file, 1, "w"));
        EXPECT_EQ(1u, g_fakeThreads.workers.size()); // the queue has room again
        runDeviceThreads();
        replies();
    }
}

// The head write counts whole until its completion arrives, also when its
// worker has already ended having sent part of it.
TEST_F(Serial, CommStatusCountsEveryQueuedWrite) {
    memset(g_fakePort.driverOut, 0, sizeof g_fakePort.driverOut);
    g_fakePort.driverOut[12] = 7; // the driver's output queue
    g_fakePort.writeLimit = 10;
    submit(devWrite(0, file, 1, std::string(60, 'a')));
    submit(devWrite(0, file, 2, std::string(40, 'b')));
    runOneWorker();
    submit(devControl(0, file, 3, DI_SERIAL_GET_COMMSTATUS, "", 18));
    auto out = replies();
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(107u, rd32(out[0].second, 12 + 12));
}

// One wait per port, as the serial driver allows: a second one is refused
// at once while the first is on its worker, and taken once it ended.
TEST_F(Serial, WaitOnMaskRunsOnAWorkerAndHoldsThePort) {
    submit(devControl(0, file, 6, DI_SERIAL_WAIT_ON_MASK, "", 4));
    submit(devControl(0, file, 7, DI_SERIAL_WAIT_ON_MASK, "", 4));
    EXPECT_EQ(std::vector<uint32_t>{7}, ids(replies(), DI_STATUS_INVALID_PARAMETER));
    runDeviceThreads();
    g_fakeNet.sent.clear();
    submit(devControl(0, file, 4, DI_SERIAL_WAIT_ON_MASK, "", 4));
    EXPECT_EQ(1u, g_fakeThreads.workers.size());
    submit(dev(0, file, 5, DI_DEV_CLOSE, "x"));
    EXPECT_EQ(0, g_fakePort.freed);
    runDeviceThreads();
    auto out = replies();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(le32(4) + le32(0) + le32(4) + le32(4), out[1].second);
    EXPECT_EQ(1, g_fakePort.freed);
}

} // namespace
