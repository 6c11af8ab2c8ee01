// SPDX-License-Identifier: MIT
// The part of TOML that keymaps use, read line by line into headers and key/value pairs:
// [table] and [[array of tables]] headers, bare and quoted keys, basic and literal strings,
// integers, booleans, arrays (over several lines too) and inline tables. Bounded: nesting
// deeper than kMaxNesting fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ir::files::detail::toml {

struct Member;

struct Value {
    enum class Type { String, Integer, Bool, Array, Table } type = Type::String;
    std::string text;             ///< a string's value, an integer's or bool's text
    int64_t integer = 0;          ///< Integer
    std::vector<Value> elements;  ///< Array
    std::vector<Member> members;  ///< inline Table
};

struct Member {
    std::string name;
    Value value;
};

struct Item {
    enum class Kind { Table, ArrayTable, Pair } kind = Kind::Pair;
    std::string path;  ///< "protocols.scancodes" for a header; the key for a pair
    Value value;       ///< pairs only
    int line = 0;
};

/// Every header and key/value pair of the text, in order. Throws Failure.
std::vector<Item> parse(std::string_view text);

}  // namespace ir::files::detail::toml
