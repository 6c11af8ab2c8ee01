// SPDX-License-Identifier: MIT
// Toggle values of protocol codes sent through the device. A remote flips the toggle of
// RC5, RC6 and MCE on every new press, so that a receiver tells a second press from a
// held button. A protocol code sent without its toggle parameter ("RC5 D=0 F=12") gets the
// device's next value for that protocol: successive sends and presses alternate, whichever
// client sends them, as the presses of one remote in front of one receiver would. A code
// that gives the toggle ("RC5 D=0 F=12 T=1") is sent as given and changes nothing.
//
// Threads: plain data; the service loop only.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace krvxd {

class Toggles {
  public:
    /// `code` with the toggle parameter added when it is a protocol code of a protocol
    /// with a toggle that does not give it; otherwise `code` unchanged.
    std::string fill(std::string_view code);

  private:
    std::map<std::string_view, uint64_t> next_;  // by protocol name (the tables' storage)
};

}  // namespace krvxd
