#include "glimmerward/release_table.h"

namespace glimmerward {

// 1.3, 1.4, the 1.4 builds 0x10 apart, the 1.5 builds from 0x10 on (there was no 1.5.0), and the
// 1.6 builds up to 0x100. Later extenders report their release index themselves.
const std::uint32_t kExtenderReleases[] = {
    0x01030000, 0x01040000,                                                 // 0-1
    0x01040010, 0x01040020, 0x01040030, 0x01040040, 0x01040050, 0x01040060, // 2-7
    0x01040070, 0x01040080, 0x01040090, 0x010400A0, 0x010400B0, 0x010400C0, // 8-13
    0x010400D0, 0x010400E0, 0x010400F0,                                     // 14-16
    0x01050010, 0x01050020, 0x01050030, 0x01050040, 0x01050050, 0x01050060, // 17-22
    0x01050070, 0x01050080, 0x01050090, 0x010500A0, 0x010500B0,             // 23-27
    0x01060000, 0x01060010, 0x01060020, 0x01060030, 0x01060040, 0x01060050, // 28-33
    0x01060060, 0x01060070, 0x01060080, 0x01060090, 0x010600A0, 0x010600B0, // 34-39
    0x010600C0, 0x010600D0, 0x010600E0, 0x010600F0, 0x01060100,             // 40-44
};
const std::size_t kExtenderReleaseCount = sizeof kExtenderReleases / sizeof kExtenderReleases[0];
static_assert(sizeof kExtenderReleases / sizeof kExtenderReleases[0] == 45);

std::uint32_t ReleaseIndexForVersion(std::uint32_t version, std::uint32_t previous) {
    for (std::size_t i = 0; i < kExtenderReleaseCount; ++i) {
        if (kExtenderReleases[i] >= version) {
            return static_cast<std::uint32_t>(i);
        }
    }
    return previous;
}

} // namespace glimmerward
