// SPDX-License-Identifier: MIT
// lircd.conf into the model: every remote, every key rendered as lircd sends it; read from
// its folder, the file's includes are followed as lircd follows them.
#include <glob.h>

#include "formats.h"
#include "io.h"
#include "lircd.h"
#include "text.h"

namespace ir::files::detail {
namespace {

constexpr int kMaxIncludeDepth = 10;

std::string folder_of(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

void read_lircd_file(const std::string &path, std::string_view text, int depth, CodeFile &out) {
    lircd::Parsed parsed = lircd::parse(text);
    for (std::string &w : parsed.warnings) {
        out.warnings.push_back(depth == 0 ? std::move(w) : "in " + path + ":" + w);
    }
    std::size_t next_include = 0;
    auto follow = [&](int before_line) {
        while (next_include < parsed.includes.size() &&
               parsed.includes[next_include].first < before_line) {
            const auto &[line, pattern] = parsed.includes[next_include++];
            if (path.empty()) {
                fail(line,
                     "include " + shown(pattern) +
                         ": includes are followed only when the file is read from its folder");
            }
            if (depth >= kMaxIncludeDepth) {
                fail(line,
                     "includes nested more than " + std::to_string(kMaxIncludeDepth) + " deep");
            }
            const std::string full =
                pattern.front() == '/' ? pattern : folder_of(path) + "/" + pattern;
            glob_t g{};
            const int rc = ::glob(full.c_str(), 0, nullptr, &g);
            std::vector<std::string> files(g.gl_pathv, g.gl_pathv + (rc == 0 ? g.gl_pathc : 0));
            ::globfree(&g);
            for (const std::string &f : files) {
                const FileText t = read_bounded(f);
                if (!t.error.empty()) {
                    fail(line, "include: " + t.error);
                }
                try {
                    read_lircd_file(f, t.text, depth + 1, out);
                } catch (const Failure &inner) {
                    fail(line, "in " + f +
                                   (inner.line > 0 ? ":" + std::to_string(inner.line) : "") + ": " +
                                   inner.why);
                }
            }
        }
    };
    for (const lircd::Remote &r : parsed.remotes) {
        follow(r.line);
        Remote remote;
        remote.name = r.name;
        remote.carrier_hz = r.frequency;
        for (const lircd::Code &c : r.codes) {
            remote.keys.push_back(lircd::key_of(r, c));
        }
        out.remotes.push_back(std::move(remote));
    }
    follow(1 << 30);
}

void read_lircd(std::string_view text, std::string_view, CodeFile &out) {
    read_lircd_file("", text, 0, out);
}

}  // namespace ir::files::detail
