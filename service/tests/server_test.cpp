// SPDX-License-Identifier: MIT
// The server in-process: a client that stops reading its events is dropped once its queue
// passes the bound, and the others go on; a lost device is refused everywhere and served
// again when it is back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <asio.hpp>
#include <thread>

#include "server_loop.h"

using namespace krvxd;
using namespace krvxd::testing;

TEST(Server, AClientThatStopsReadingIsDroppedAndOthersGoOn) {
    ServerLimits limits;
    limits.max_clients = 4;
    limits.output_budget = 4 * 16 * 1024;                      // 16 KiB each
    limits.max_client_presses = limits.max_presses = 1 << 20;  // not the bound under test
    ServerLoop loop(limits);
    SimSettings settings;
    settings.time_scale = 0;
    loop.use_sim(settings);
    ASSERT_TRUE(loop.start());

    RawClient slow(loop.path()), presser(loop.path());
    ASSERT_TRUE(slow.hello().ok() && presser.hello().ok());
    ASSERT_TRUE(slow.send({2, wire::SetReceive{true}}));
    ASSERT_TRUE(slow.reply(2));

    // Each press makes one received-code event for the slow client, which never reads:
    // far more than the socket buffer and its share of the output budget together.
    const wire::Press press{0, 100, "0000 006C 0000 0001 0010 0010"};
    uint32_t id = 2;
    for (int batch = 0; batch < 200; ++batch) {
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(presser.send({id + i, press}));
        auto r = presser.reply(id + 99);
        ASSERT_TRUE(r) << "batch " << batch;
        id += 100;
    }

    // The slow client reads what was queued, then the end of the stream.
    int events = 0;
    while (slow.next())
        ++events;
    EXPECT_GT(events, 0);
    EXPECT_LT(events, 20000);
    EXPECT_LE(loop.on_loop([&] { return loop.server().queued_output(); }), 16u * 1024);

    // The service goes on for the others.
    ASSERT_TRUE(presser.send({id, wire::GetInfo{}}));
    auto info = presser.reply(id);
    ASSERT_TRUE(info);
    EXPECT_TRUE(std::holds_alternative<wire::InfoReply>(info->body));
}

namespace {

// A device that can be unplugged and plugged back by the test (on the loop).
class PluggableBackend final : public Backend {
  public:
    explicit PluggableBackend(asio::io_context &io) : io_(io) {}
    std::string name() const override { return "pluggable"; }
    wire::Status open_status() override {
        return present ? wire::Status::Ok : wire::Status::DeviceNotFound;
    }
    krvxd::DeviceInfo info() const override { return {}; }
    void transmit(const ir::Signal &, int, TransmitDone done) override {
        asio::post(io_, [done = std::move(done)] { done(wire::Status::Ok); });
    }
    int32_t set_learning(bool on) override { return on ? learn_status : 0; }
    bool present = true;
    int32_t learn_status = 0;

  private:
    asio::io_context &io_;
};

}  // namespace

TEST(Server, ALostDeviceIsRefusedEverywhereAndServedAgainWhenBack) {
    std::optional<PluggableBackend> device;
    std::optional<ServerLoop> loop_holder;  // stopped before the device goes
    ServerLoop &loop = loop_holder.emplace();
    device.emplace(loop.io());
    loop.server().set_backend(&*device);
    ASSERT_TRUE(loop.start());
    const std::string code = "0000 006C 0000 0001 0010 0010";

    RawClient learner(loop.path());
    ASSERT_TRUE(learner.send({1, wire::Hello{}}));
    ASSERT_EQ(status_of(learner.reply(1)), 0);
    ASSERT_TRUE(learner.send({2, wire::LearnStart{}}));
    ASSERT_EQ(status_of(learner.reply(2)), 0);

    loop.on_loop([&] {
        device->present = false;
        loop.server().on_device_lost("unplugged");
    });
    // The running learn ends saying why, then the client hears that the device is gone.
    const auto end = next_of<wire::LearnEnd>(learner);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->result, LEARN_FAIL_DEVICE_LOST);
    ASSERT_TRUE(next_of<wire::DeviceLost>(learner));

    RawClient late(loop.path());
    ASSERT_TRUE(late.send({1, wire::Hello{}}));
    EXPECT_EQ(status_of(late.reply(1)), ERR_DEVICE_NOT_FOUND);
    ASSERT_TRUE(learner.send({3, wire::Transmit{1, code}}));
    EXPECT_EQ(status_of(learner.reply(3)), ERR_COMM_FAILED);
    ASSERT_TRUE(learner.send({4, wire::LearnStart{}}));
    EXPECT_EQ(status_of(learner.reply(4)), ERR_COMM_FAILED);

    loop.on_loop([&] {
        device->present = true;
        loop.server().on_device_back();
    });
    // A new client and the one that saw the loss are both served again.
    RawClient fresh(loop.path());
    ASSERT_TRUE(fresh.send({1, wire::Hello{}}));
    ASSERT_EQ(status_of(fresh.reply(1)), 0);
    ASSERT_TRUE(fresh.send({2, wire::Transmit{1, code}}));
    auto accepted = fresh.next();
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(std::holds_alternative<wire::SendAccepted>(accepted->body));
    EXPECT_EQ(status_of(fresh.reply(2)), 0);
    ASSERT_TRUE(learner.send({5, wire::Transmit{1, code}}));
    auto accepted_too = learner.reply(5);
    ASSERT_TRUE(accepted_too);
    EXPECT_TRUE(std::holds_alternative<wire::SendAccepted>(accepted_too->body));
    EXPECT_EQ(status_of(learner.reply(5)), 0);
    ASSERT_TRUE(fresh.send({3, wire::LearnStart{}}));
    EXPECT_EQ(status_of(fresh.reply(3)), 0);
    loop_holder.reset();
}

TEST(Server, ALearnTheDeviceCannotRunEndsAtOnceForTheLearnerAndTheHooks) {
    std::optional<PluggableBackend> device;
    std::optional<ServerLoop> loop_holder;
    ServerLoop &loop = loop_holder.emplace();
    device.emplace(loop.io());
    device->learn_status = LEARN_FAIL_CANNOT_LEARN;
    loop.server().set_backend(&*device);
    ASSERT_TRUE(loop.start());

    RawClient hook(loop.path()), learner(loop.path());
    ASSERT_TRUE(hook.send({1, wire::Hello{}}));
    ASSERT_EQ(status_of(hook.reply(1)), 0);
    ASSERT_TRUE(hook.send({2, wire::Hook{}}));
    ASSERT_EQ(status_of(hook.reply(2)), 0);
    ASSERT_TRUE(learner.send({1, wire::Hello{}}));
    ASSERT_EQ(status_of(learner.reply(1)), 0);
    ASSERT_TRUE(learner.send({2, wire::LearnStart{}}));
    ASSERT_EQ(status_of(learner.reply(2)), 0);
    const auto end = next_of<wire::LearnEnd>(learner);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->result, LEARN_FAIL_CANNOT_LEARN);
    EXPECT_TRUE(end->code.empty());
    const auto seen = next_of<wire::LearnEnd>(hook);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->result, LEARN_FAIL_CANNOT_LEARN);

    // The device is free for the next learn (nothing is left running).
    loop.on_loop([&] { device->learn_status = 0; });
    ASSERT_TRUE(learner.send({3, wire::LearnStart{}}));
    EXPECT_EQ(status_of(learner.reply(3)), 0);
    loop_holder.reset();
}
