// The one place that writes FITS: cfitsio builds the whole file in memory,
// and the caller writes it out whole.
#pragma once

#include "observation.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qarch {

struct MemoryFits {
    std::unique_ptr<char, decltype(&std::free)> buffer{nullptr, &std::free};
    std::size_t size = 0;
    std::string error; // cfitsio's reason when nothing was made
    std::string_view bytes() const { return {buffer.get(), size}; }
};

// A 16-bit unsigned image of n1 x n2 counts (host order; written as BZERO
// 32768 over signed values) under the keywords, in order.
MemoryFits write_fits(const std::vector<Keyword>& keys, int n1, int n2,
                      const std::uint16_t* counts);

} // namespace qarch
