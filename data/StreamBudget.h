#pragma once
// Counts read from a stream are claims until checked against what the stream still holds:
// a damaged or hostile count must never size an allocation. The budget is an upper bound of
// the bytes left, or unlimited when the stream cannot tell (a pipe); readers without a bound
// grow their storage as the data arrives instead of trusting the count.
#include <cstdint>
#include <istream>
#include <limits>

namespace kelto::data {

constexpr std::uint64_t kUnknownBudget = std::numeric_limits<std::uint64_t>::max();

inline std::uint64_t BytesLeft(std::istream& in) {
    if (!in.good()) return 0;
    std::streampos here = in.tellg();
    if (here == std::streampos(-1)) {
        in.clear();
        return kUnknownBudget;
    }
    in.seekg(0, std::ios::end);
    std::streampos end = in.tellg();
    in.seekg(here);
    if (!in || end == std::streampos(-1) || end < here) {
        in.clear();
        in.seekg(here);
        return kUnknownBudget;
    }
    return static_cast<std::uint64_t>(end - here);
}

// Lowers a known budget by what was read; an unknown one stays unknown.
inline void Spend(std::uint64_t& budget, std::uint64_t bytes) {
    if (budget != kUnknownBudget) budget -= bytes < budget ? bytes : budget;
}

// Smallest stream forms: a cell is at least its type byte and a 4-byte float; a vector at
// least its 4-byte count.
constexpr std::uint64_t kMinCellBytes = 5;
constexpr std::uint64_t kMinVectorBytes = 4;

}  // namespace kelto::data
