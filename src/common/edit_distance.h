// How far apart two names are, for suggesting the name a user probably meant.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrel {

// The Levenshtein distance of two texts compared without regard to ASCII case.
std::size_t EditDistance(std::string_view a, std::string_view b);

} // namespace kestrel
