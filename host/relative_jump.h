// The 5-byte relative jump through which host code reaches plug-in code.
#pragma once

#include <array>
#include <cstdint>

namespace host {

inline constexpr std::uint8_t kJumpRel32Opcode = 0xE9;
inline constexpr std::uint32_t kJumpRel32Size = 5;

// The displacement the processor adds to the address after the jump: target - (site + 5).
constexpr std::int32_t RelativeJumpDisplacement(std::uint32_t site, std::uint32_t target) {
    return static_cast<std::int32_t>(target - (site + kJumpRel32Size));
}

constexpr std::array<std::uint8_t, kJumpRel32Size> EncodeRelativeJump(std::uint32_t site,
                                                                      std::uint32_t target) {
    const auto d = static_cast<std::uint32_t>(RelativeJumpDisplacement(site, target));
    return {kJumpRel32Opcode, static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8),
            static_cast<std::uint8_t>(d >> 16), static_cast<std::uint8_t>(d >> 24)};
}

} // namespace host
