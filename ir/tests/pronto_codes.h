// SPDX-License-Identifier: MIT
// Pronto codes the tests of several components press, learn, inject and send.
#pragma once

namespace test_codes {

/// An NEC code at 38.4 kHz as a remote sends it: 34 bursts once, then a ditto repeated.
inline constexpr const char *kNec =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 06A4 "
    "015B 0057 0016 0E6C";

/// A short valid code at 36 kHz that no remote sends: what a hook injects.
inline constexpr const char *kInjected = "0000 0073 0000 0001 0020 0CA8";

}  // namespace test_codes
