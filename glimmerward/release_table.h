// The extender's releases before it could report its own release index.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glimmerward {

// Extender versions in release order; position in this table is the release index.
extern const std::uint32_t kExtenderReleases[];
extern const std::size_t kExtenderReleaseCount;

// The index of the first release at or above version, or previous when none is.
std::uint32_t ReleaseIndexForVersion(std::uint32_t version, std::uint32_t previous);

} // namespace glimmerward
