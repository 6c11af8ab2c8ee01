// SPDX-License-Identifier: MIT
// The subcommands of krvx. Each file in commands/ adds one subcommand with its options to
// the program and returns what runs it; main.cpp lists them in kCommands. To add one: a new
// commands/<name>.cpp with an add_<name>(), its line here and in kCommands, its source in
// CMakeLists.txt.
#pragma once

#include <functional>

#include "cli.h"

namespace CLI {
class App;
}

namespace krvx::cli {

struct Command {
    CLI::App *app = nullptr;                  ///< the subcommand, owned by the parent
    std::function<int(const Context &)> run;  ///< runs it once parsed; returns the exit status
};

Command add_info(CLI::App &parent);
Command add_check(CLI::App &parent);
Command add_send(CLI::App &parent);
Command add_listen(CLI::App &parent);
Command add_learn(CLI::App &parent);
Command add_hook(CLI::App &parent);
Command add_press(CLI::App &parent);
Command add_decode(CLI::App &parent);
Command add_encode(CLI::App &parent);
Command add_convert(CLI::App &parent);
Command add_keys(CLI::App &parent);

}  // namespace krvx::cli
