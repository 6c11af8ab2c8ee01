// SPDX-License-Identifier: MIT
// How krvx reads a code: words joined, @FILE, - for standard input, and the bounds.
#include "../krvx/code_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using krvx::cli::kMaxCodeInput;
using krvx::cli::read_code;

namespace {

struct TempFile {
    std::filesystem::path path;
    explicit TempFile(const std::string &bytes) {
        static int count = 0;
        path = std::filesystem::temp_directory_path() /
               ("krvx-code-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~TempFile() { std::filesystem::remove(path); }
};

// A FILE* reading `bytes`, as standard input would.
std::FILE *stream_of(const std::string &bytes) {
    std::FILE *f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

}  // namespace

TEST(CodeInput, WordsFilesAndStandardInputGiveTheSameCode) {
    const std::string code = "0000 006C 0000 0001 0010 0010";
    TempFile file(code + "\n");
    std::FILE *in = stream_of(code);
    const struct {
        const char *name;
        std::vector<std::string> words;
        std::FILE *in;
        std::string expected;
    } rows[] = {
        {"one argument", {code}, nullptr, code},
        {"words joined", {"0000", "006C", "0000", "0001", "0010", "0010"}, nullptr, code},
        {"@FILE", {"@" + file.path.string()}, nullptr, code + "\n"},
        {"stdin", {"-"}, in, code},
    };
    for (const auto &r : rows) {
        const auto got = read_code(r.words, r.in);
        EXPECT_TRUE(got.ok()) << r.name << ": " << got.error;
        EXPECT_EQ(got.code, r.expected) << r.name;
        EXPECT_EQ(krvx::cli::pronto_refusal(got.code), "") << r.name;
    }
    std::fclose(in);
}

TEST(CodeInput, RefusesWhatIsNotOneBoundedText) {
    TempFile with_nul(std::string("0000 006C 0000 0001 0010 0010\0junk", 34));
    TempFile huge(std::string(kMaxCodeInput + 1, '0'));
    TempFile exact(std::string(kMaxCodeInput, '0'));
    std::FILE *nul_in = stream_of(std::string("0010\0", 5));
    const struct {
        const char *name;
        std::vector<std::string> words;
        std::FILE *in;
        bool ok;
    } rows[] = {
        {"NUL in a file", {"@" + with_nul.path.string()}, nullptr, false},
        {"NUL on stdin", {"-"}, nul_in, false},
        {"over the bound", {"@" + huge.path.string()}, nullptr, false},
        {"at the bound", {"@" + exact.path.string()}, nullptr, true},
        {"missing file", {"@/nonexistent/code.txt"}, nullptr, false},
        {"a directory", {"@/"}, nullptr, false},
        {"@ alone", {"@"}, nullptr, false},
        {"- among words", {"0000", "-"}, nullptr, false},
        {"@FILE among words", {"0000", "@x"}, nullptr, false},
        {"nothing", {}, nullptr, false},
        {"words over the bound", {std::string(kMaxCodeInput, '0'), "0"}, nullptr, false},
    };
    for (const auto &r : rows) {
        const auto got = read_code(r.words, r.in);
        EXPECT_EQ(got.ok(), r.ok) << r.name << ": " << got.error;
        EXPECT_EQ(got.error.empty(), r.ok) << r.name;
    }
    std::fclose(nul_in);
}
