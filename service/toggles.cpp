// SPDX-License-Identifier: MIT
#include "toggles.h"

#include <cctype>

#include "ir/protocols.h"

namespace krvxd {

namespace {

// The words of a code text, separated by blanks.
std::vector<std::string_view> words_of(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

bool gives(const std::vector<std::string_view> &words, std::string_view param) {
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto w = words[i];
        if (w.size() > param.size() && w[param.size()] == '=') {
            bool same = true;
            for (std::size_t k = 0; k < param.size(); ++k)
                same = same && std::toupper(static_cast<unsigned char>(w[k])) ==
                                   std::toupper(static_cast<unsigned char>(param[k]));
            if (same)
                return true;
        }
    }
    return false;
}

}  // namespace

std::string Toggles::fill(std::string_view code) {
    std::string out(code);
    if (code.size() > ir::protocols::kMaxCodeTextChars || !ir::protocols::is_protocol_code(code))
        return out;
    const auto words = words_of(code);
    const ir::protocols::ProtocolInfo *p = words.empty() ? nullptr : ir::protocols::find(words[0]);
    if (p == nullptr)
        return out;  // a kernel scancode: no toggle in it
    for (const auto &param : p->params) {
        if (!param.toggle || gives(words, param.name))
            continue;
        uint64_t &next = next_[p->name];
        out += ' ';
        out += param.name;
        out += '=';
        out += std::to_string(next);
        next = next >= param.max ? 0 : next + 1;
    }
    return out;
}

}  // namespace krvxd
