// SPDX-License-Identifier: MIT
#include "code_input.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <memory>

#include "ir/pronto.h"
#include "krvxdrv.h"

namespace krvx::cli {

namespace {

// Reads at most kMaxCodeInput bytes; one more byte means the input is too long.
CodeInput read_stream(std::FILE *in, const std::string &name) {
    CodeInput r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
        r.code.append(buf, n);
        if (r.code.size() > kMaxCodeInput)
            return {{}, name + " holds more than 64 KiB"};
    }
    if (std::ferror(in))
        return {{}, "cannot read " + name + ": " + std::strerror(errno)};
    return r;
}

}  // namespace

void add_code_argument(CLI::App &command, std::vector<std::string> &words) {
    command
        .add_option("CODE", words,
                    "Pronto hex code, or a protocol code (NEC1 D=4 F=8, nec:0x0408): one "
                    "argument or several words, @FILE for a file's contents, - for standard "
                    "input")
        ->required();
}

CodeInput read_code(const std::vector<std::string> &words, std::FILE *in) {
    CodeInput r;
    if (words.empty())
        return {{}, "no code given"};
    const std::string &first = words.front();
    const bool stands_alone = first == "-" || first.starts_with('@');
    if (words.size() > 1) {
        for (const auto &w : words) {
            if (w == "-" || w.starts_with('@'))
                return {{}, "'" + w + "' must be the only word of the code"};
        }
    }
    if (!stands_alone) {
        for (const auto &w : words) {
            if (!r.code.empty())
                r.code += ' ';
            r.code += w;
        }
        if (r.code.size() > kMaxCodeInput)
            return {{}, "the code is longer than 64 KiB"};
    } else if (first == "-") {
        r = read_stream(in, "standard input");
    } else {
        const std::string path = first.substr(1);
        if (path.empty())
            return {{}, "@ needs a file name, as in @code.txt"};
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"),
                                                              &std::fclose);
        if (!file)
            return {{}, "cannot read " + path + ": " + std::strerror(errno)};
        r = read_stream(file.get(), path);
    }
    if (r.ok() && r.code.find('\0') != std::string::npos)
        return {{}, "the code contains a NUL byte"};
    return r;
}

std::string pronto_refusal(const std::string &code) {
    if (KRVXConvertProntoCode(code.c_str(), nullptr, nullptr, 0, 0) != 0)
        return {};
    std::string why = ir::parse_pronto(code).error;
    return why.empty() ? "not a valid Pronto code" : why;
}

}  // namespace krvx::cli
