// SPDX-License-Identifier: MIT
// Learning through a private krvxd, as an application does: a button learned again and
// again gives the same code; a learned code sent back through the loopback learns as the
// pressed code; toggle protocols alternate their toggle from send to send.
#include <gtest/gtest.h>

#include "learn_repeat.h"

using learn_repeat::LearnRig;

namespace {

// `krvx send CODE -r 5`: a learn wants more than one frame.
bool krvx_send(const std::string &socket, const std::string &code) {
    const int status =
        testing_support::run_program({KRVX_PATH, "--socket", socket, "send", code, "-r", "5"});
    EXPECT_EQ(status, 0) << "krvx send " << code;
    return status == 0;
}

}  // namespace

// Every code of the table, a few learns at a fair press: one code every time; sent back
// (by the library and by `krvx send`), it learns as what was pressed.
TEST(LearnRepeat, LearnedCodesAreTheSameAndSendBackAsPressed) {
    LearnRig rig;
    ASSERT_TRUE(rig.ready());
    for (const auto &c : learn_repeat::repeat_codes()) {
        if (c.pronto.empty())
            continue;  // a protocol this build does not know
        SCOPED_TRACE(c.name);
        const auto f = learn_repeat::run_repeats(rig, c, 80, 3);
        EXPECT_EQ(f.done, 3);
        if (!c.protocol.empty()) {
            EXPECT_EQ(f.identical, 3);
            EXPECT_EQ(f.as_pressed, 3);
        } else {
            EXPECT_LE(f.mean_error, 0.02);
        }
        const auto learned = rig.learn_press(c.pronto, 80);
        ASSERT_TRUE(learned && learned->result == LEARN_PROGRESS_DONE);
        const auto by_library = rig.learn_send(learned->code);
        const auto by_krvx = rig.learn([&] { return krvx_send(rig.socket(), learned->code); });
        for (const auto &back : {by_library, by_krvx}) {
            ASSERT_TRUE(back && back->result == LEARN_PROGRESS_DONE);
            if (!c.protocol.empty()) {
                EXPECT_EQ(learn_repeat::decode_text(back->code),
                          learn_repeat::decode_text(c.pronto));
            } else {
                const auto e = learn_repeat::timing_error(back->code, c.pronto);
                ASSERT_TRUE(e) << back->code;
                EXPECT_LE(*e, 0.02);
            }
        }
    }
}

// RC5 learned with T=0, then T=1: two codes. Sent without T, a toggle code alternates from
// send to send (library or krvx, press too); with T given it stays.
TEST(LearnRepeat, ToggleCodesLearnTheirToggleAndAlternateWhenSent) {
    LearnRig rig;
    ASSERT_TRUE(rig.ready());
    const auto pronto = [](const char *text) {
        return learn_repeat::pronto_of(ir::protocols::encode(std::string_view(text)).signal);
    };
    const auto t0 = rig.learn_press(pronto("RC5 D=0 F=12 T=0"), 80);
    const auto t1 = rig.learn_press(pronto("RC5 D=0 F=12 T=1"), 80);
    ASSERT_TRUE(t0 && t1);
    EXPECT_EQ(learn_repeat::decode_text(t0->code), "RC5 D=0 F=12 T=0");
    EXPECT_EQ(learn_repeat::decode_text(t1->code), "RC5 D=0 F=12 T=1");

    const auto toggle_of = [](const std::optional<learn_repeat::Learned> &l) {
        const std::string d = l ? learn_repeat::decode_text(l->code) : "";
        return d.size() > 2 ? d.substr(d.size() - 3) : d;
    };
    std::vector<std::string> seen;
    for (int i = 0; i < 2; ++i)
        seen.push_back(toggle_of(rig.learn_send("RC5 D=0 F=12")));
    for (int i = 0; i < 2; ++i)
        seen.push_back(
            toggle_of(rig.learn([&] { return krvx_send(rig.socket(), "RC5 D=0 F=12"); })));
    seen.push_back(toggle_of(rig.learn_press("RC5 D=0 F=12", 100)));
    EXPECT_EQ(seen, (std::vector<std::string>{"T=0", "T=1", "T=0", "T=1", "T=0"}));
    // A given toggle is kept, and does not move the alternation.
    EXPECT_EQ(toggle_of(rig.learn_send("RC5 D=0 F=12 T=1")), "T=1");
    EXPECT_EQ(toggle_of(rig.learn_send("RC5 D=0 F=12 T=1")), "T=1");
    EXPECT_EQ(toggle_of(rig.learn_send("RC5 D=0 F=12")), "T=1");
}
