// SPDX-License-Identifier: MIT
// krvx: the command line of the Korvex IR transceiver. Uses libkrvxdrv's public C API like
// any other application; only `press` speaks the service's private protocol (press.h).
// Each subcommand lives in commands/; cli.h holds what they share (exit statuses, output).
#include <CLI/CLI.hpp>
#include <array>
#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli.h"
#include "commands.h"
#include "krvx_version.h"
#include "wire/socket_path.h"

namespace {

using namespace krvx::cli;

constexpr std::array kCommands = {&add_info,   &add_check,  &add_send,    &add_listen,
                                  &add_learn,  &add_hook,   &add_press,   &add_decode,
                                  &add_encode, &add_convert, &add_keys};

constexpr const char *kAbout =
    "krvx: learn, check and send infrared remote-control codes with a Korvex transceiver.\n"
    "Talks to the device service krvxd (start it first: krvxd &). Codes are Pronto hex\n"
    "text, given as one argument or as several words, @FILE for a file's contents, or - for\n"
    "standard input.";

constexpr const char *kFooter =
    "Examples:\n"
    "  krvx learn > power.txt      learn a button: hold it in front of the device\n"
    "  krvx check @power.txt       what the learned code holds\n"
    "  krvx send @power.txt -r 3   send it, its repeat part 3 times\n"
    "  krvx --json listen          one JSON object per code the device receives\n"
    "  krvx press @power.txt       simulated device: hold a virtual remote's button\n"
    "\n"
    "Exit status (every command): 0 done, 1 refused or failed, 2 bad usage,\n"
    "3 no service or device.\n"
    "Run 'krvx COMMAND --help' for a command's options.";

// The first word that is neither a global option nor an option's value: the subcommand the
// user meant, or "" when there is none.
std::string command_word(CLI::App &app, int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            return i + 1 < argc ? argv[i + 1] : "";
        if (!arg.starts_with('-') || arg == "-")
            return std::string(arg);
        if (arg.starts_with("--") && arg.find('=') == std::string_view::npos) {
            const auto *opt = app.get_option_no_throw(std::string(arg));
            if (opt != nullptr && opt->get_items_expected_min() > 0)
                ++i;  // skip the option's value
        }
    }
    return {};
}

std::string command_list(const CLI::App &app) {
    std::string list;
    for (const auto *sub : app.get_subcommands({})) {
        if (!list.empty())
            list += ", ";
        list += sub->get_name();
    }
    return list;
}

bool is_command(const CLI::App &app, const std::string &name) {
    for (const auto *sub : app.get_subcommands({})) {
        if (sub->check_name(name))
            return true;
    }
    return false;
}

bool has_word(int argc, char **argv, std::string_view word) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == word)
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{kAbout, "krvx"};
    app.require_subcommand(1);
    app.fallthrough();  // --socket and --json also after the command
    Context ctx;
    std::string socket;
    auto *socket_opt = app.add_option(
        "--socket", socket,
        "Service socket (default: $KRVX_SOCKET, else $XDG_RUNTIME_DIR/krvxd.sock, else "
        "/tmp/krvxd-<uid>/krvxd.sock)");
    app.add_flag("--json", ctx.json,
                 "Print one JSON object per line, with \"ok\" true exactly when krvx exits 0");
    app.set_version_flag("--version", KRVX_VERSION);
    std::vector<Command> commands;
    for (const auto add : kCommands)
        commands.push_back(add(app));
    app.footer(kFooter);  // after the subcommands, which would inherit it

    // --json may come anywhere, and must shape even the messages of a failed parse.
    ctx.json = has_word(argc, argv, "--json");
    const auto usage_error = [&](const std::string &message) {
        fail(ctx, kUsage, message);
        if (!ctx.json)
            std::fprintf(stderr, "Run 'krvx --help' for the commands and options.\n");
        return kUsage;
    };
    const std::string word = command_word(app, argc, argv);
    if (!word.empty() && !is_command(app, word))
        return usage_error("unknown command '" + word + "'; commands: " + command_list(app));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::string help = app.help();
        for (const auto &c : commands) {
            if (c.app->parsed())
                help = c.app->help();
        }
        if (ctx.json)
            print_line(JsonObject(true).text("help", help).str());
        else
            std::fputs(help.c_str(), stdout);
        return kDone;
    } catch (const CLI::CallForAllHelp &) {
        std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), stdout);
        return kDone;
    } catch (const CLI::CallForVersion &) {
        if (ctx.json)
            print_line(JsonObject(true).text("version", KRVX_VERSION).str());
        else
            std::printf("krvx %s\n", KRVX_VERSION);
        return kDone;
    } catch (const CLI::ParseError &e) {
        if (word.empty() && !has_word(argc, argv, "--"))
            return usage_error("a command is required; commands: " + command_list(app));
        return usage_error(e.what());
    }
    if (socket_opt->count() > 0) {
        if (socket.empty())
            return usage_error("--socket: the path is empty");
        if (socket.size() > wire::max_socket_path())
            return usage_error("--socket: the path is longer than " +
                               std::to_string(wire::max_socket_path()) + " bytes");
        ::setenv("KRVX_SOCKET", socket.c_str(), 1);
    }
    ctx.socket = wire::default_socket_path();
    std::signal(SIGPIPE, SIG_IGN);
    for (const auto &c : commands) {
        if (c.app->parsed())
            return c.run(ctx);
    }
    return usage_error("a command is required; commands: " + command_list(app));
}
