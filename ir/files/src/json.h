// SPDX-License-Identifier: MIT
// A small JSON reader for code files: values with the byte range they span in the text, so
// that a key can be added to an object without touching the rest. Bounded: nesting deeper
// than kMaxNesting fails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ir::files::detail::json {

struct Member;

struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    std::string text;  ///< a string's value (escapes resolved); a number's or literal's text
    std::vector<Member> members;     ///< objects, in file order
    std::vector<Value> elements;     ///< arrays
    std::size_t begin = 0, end = 0;  ///< [begin, end) in the text
    int line = 0;                    ///< where it starts

    const Value *member(std::string_view name) const;
    bool is(Type t) const { return type == t; }
};

struct Member {
    std::string name;
    Value value;
};

/// Parses a whole text as one JSON value; throws Failure naming the line.
Value parse(std::string_view text);

/// `s` as a JSON string literal.
std::string quoted(std::string_view s);

}  // namespace ir::files::detail::json
