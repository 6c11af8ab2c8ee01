// SPDX-License-Identifier: MIT
// The frame callback: what a received frame is, through a private krvxd whose sends come
// back to its receiver.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "ir/pronto.h"
#include "ir/protocols.h"
#include "ir/receive_code.h"
#include "krvxdrv.h"
#include "service_process.h"

using testing_support::ServiceProcess;

namespace {

// What the callbacks saw, in the order they ran, copied on the library's thread.
struct Seen {
    std::mutex mutex;
    std::vector<std::string> events;  // "frame NEC1 D=4 S=251 F=8 nec 0x408 n=67" or "code"
    std::vector<uint32_t> durations;

    static void on_frame(const KRVXReceivedFrame *f, void *user) {
        auto *self = static_cast<Seen *>(user);
        std::lock_guard lock(self->mutex);
        self->events.push_back(std::string("frame ") + f->protocol + " " + f->params + " " +
                               f->kernelProtocol + " " + std::to_string(f->kernelScancode) + " " +
                               f->code);
        self->durations.assign(f->durationsUs, f->durationsUs + f->durationCount);
        EXPECT_EQ(f->structSize, sizeof(KRVXReceivedFrame));
    }
    static void on_code(const char *code, void *user) {
        auto *self = static_cast<Seen *>(user);
        std::lock_guard lock(self->mutex);
        self->events.push_back(std::string("code ") + code);
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return events.size();
    }
};

std::string pronto(const char *protocol_code) {
    return ir::encode_pronto(ir::protocols::encode(protocol_code).signal).text;
}

}  // namespace

TEST(FrameCallback, SaysWhatEachReceivedFrameIsBeforeItsCode) {
    ServiceProcess service({"--time-scale", "0", "--loopback"});
    ASSERT_TRUE(service.ready());
    const int32_t h = KRVXOpen();
    ASSERT_GT(h, 0) << KRVXErrorText(errno);
    Seen seen;
    ASSERT_NE(KRVXSetReceiveFrameCallback(h, Seen::on_frame, &seen), 0);
    ASSERT_NE(KRVXSetReceiveCallback(h, Seen::on_code, &seen), 0);

    const std::string nec = pronto("nec:0x0408");
    const std::string code = ir::receive_code(ir::parse_pronto(nec).signal);
    ASSERT_NE(KRVXTransmitIR(h, nec.c_str(), FMT_PRONTO, 2, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_TRUE(testing_support::eventually([&] { return seen.size() >= 2; }));
    {
        std::lock_guard lock(seen.mutex);
        ASSERT_EQ(seen.events.size(), 2u);
        EXPECT_EQ(seen.events[0], "frame NEC1 D=4 S=251 F=8 nec 1032 " + code);
        EXPECT_EQ(seen.events[1], "code " + code);
        EXPECT_EQ(seen.durations.size(), 67u);  // header, 32 bits, the stop mark
    }

    // Without the frame callback the codes go on; without both, nothing comes.
    ASSERT_NE(KRVXSetReceiveFrameCallback(h, nullptr, nullptr), 0);
    const std::string unknown = "0000 006C 0000 0001 0010 0010";
    ASSERT_NE(KRVXTransmitIR(h, unknown.c_str(), FMT_PRONTO, 1, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_TRUE(testing_support::eventually([&] { return seen.size() >= 3; }));
    EXPECT_EQ(seen.events.back().substr(0, 5), "code ");
    // Only a frame callback: the service still reports, and an unknown frame says so.
    ASSERT_NE(KRVXSetReceiveCallback(h, nullptr, nullptr), 0);
    ASSERT_NE(KRVXSetReceiveFrameCallback(h, Seen::on_frame, &seen), 0);
    ASSERT_NE(KRVXTransmitIR(h, unknown.c_str(), FMT_PRONTO, 1, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_TRUE(testing_support::eventually([&] { return seen.size() >= 4; }));
    EXPECT_EQ(seen.events.back().substr(0, 11), "frame    0 ");
    KRVXClose(h);
}
