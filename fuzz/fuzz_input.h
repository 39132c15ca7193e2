#pragma once
// Splitting a fuzzer's input: a leading byte that picks a case, then the data.

#include <cstddef>
#include <cstdint>
#include <span>

namespace pimo::fuzz {

struct Input {
    std::uint8_t choice = 0;
    std::span<const std::uint8_t> rest;
};

inline Input Split(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return {};
    return {data[0], std::span<const std::uint8_t>(data + 1, size - 1)};
}

}  // namespace pimo::fuzz
