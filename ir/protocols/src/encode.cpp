// SPDX-License-Identifier: MIT
// The encoder: a row and parameter values in, durations out.
#include <cmath>
#include <string>

#include "frame.h"
#include "table.h"

namespace ir::protocols::detail {
namespace {

// Durations of one frame; a mark after a mark (or a space after a space) lengthens it.
class Writer {
  public:
    void put(double us) {
        elapsed_ += std::abs(us);
        if (!out_.empty() && (out_.back() > 0) == (us > 0)) {
            out_.back() += us;
        } else {
            out_.push_back(us);
        }
    }
    double elapsed() const { return elapsed_; }

    std::vector<Burst> bursts() const {
        std::vector<Burst> pairs;
        pairs.reserve(out_.size() / 2 + 1);
        for (std::size_t i = 0; i < out_.size(); i += 2) {
            const double off = i + 1 < out_.size() ? -out_[i + 1] : 0;
            pairs.push_back({whole_us(out_[i]), whole_us(off)});
        }
        return pairs;
    }

  private:
    static uint32_t whole_us(double us) { return us < 1 ? 1 : uint32_t(std::lround(us)); }
    std::vector<double> out_;
    double elapsed_ = 0;
};

void put_symbol(Writer &w, const Symbol &s) {
    for (uint8_t i = 0; i < s.n; ++i) {
        w.put(s.us[i]);
    }
}

void put_bits(Writer &w, const Row &row, const Coding &coding, const BitStream &stream) {
    if (coding.imon_checks != 0) {
        const double u = coding.imon_unit_us;
        bool prev = false;
        for (std::size_t i = 0; i < stream.n; ++i) {
            const bool bit = stream.at(i);
            const unsigned index = unsigned(stream.n - 1 - i);
            const bool check = ((coding.imon_checks >> index) & 1) != 0 && !bit && !prev;
            w.put(check ? u : -u);
            w.put(bit ? -u : u);
            prev = bit;
        }
        return;
    }
    const unsigned k = bits_per_symbol(coding);
    for (std::size_t i = 0; i + k <= stream.n; i += k) {
        unsigned v = 0;
        for (unsigned j = 0; j < k; ++j) {
            v = (v << 1) | unsigned(stream.at(i + j));
        }
        put_symbol(w, coding.symbols[v]);
    }
    (void)row;
}

}  // namespace

std::vector<Burst> encode_frame(const Row &row, std::span<const Item> items, const Values &v) {
    Writer w;
    for (std::size_t i = 0; i < items.size();) {
        const Item &item = items[i];
        switch (item.op) {
            case Op::Mark:
                w.put(item.us);
                ++i;
                break;
            case Op::Space:
                w.put(-item.us);
                ++i;
                break;
            case Op::Extent:
                // A frame longer than its period still gets a minimal gap.
                w.put(-std::max(double(item.us) - w.elapsed(), double(row.unit_us)));
                ++i;
                break;
            default: {
                const std::size_t end = run_end(items, i);
                BitStream stream;
                for (std::size_t j = i; j < end; ++j) {
                    stream.append(row, items[j], field_value(items[j], v));
                }
                put_bits(w, row, row.codings[item.coding], stream);
                i = end;
                break;
            }
        }
    }
    return w.bursts();
}

}  // namespace ir::protocols::detail
