// The SSSE3 converter. Only this function is compiled for SSSE3 (by its target attribute, not by
// a file-wide flag, so that no inline function of a shared header is emitted with SSSE3 code
// that the linker could pick for callers on any processor).
#include <tmmintrin.h>

#include "ravelstone/texture/rgb24_convert.h"

namespace ravelstone {

__attribute__((target("ssse3"))) void ConvertRgb24ToArgb32Ssse3(std::uint8_t* destination,
                                                                const std::uint8_t* source,
                                                                std::size_t count) {
    // Bytes 12-15 of each 16-byte value are set to 0xFF and become the four alpha bytes.
    const __m128i alpha = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1);
    const __m128i order = _mm_setr_epi8(0, 1, 2, 12, 3, 4, 5, 13, 6, 7, 8, 14, 9, 10, 11, 15);
    while (count >= 16) {
        _mm_prefetch(reinterpret_cast<const char*>(source + 48), _MM_HINT_T0);
        const __m128i in0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
        const __m128i in1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16));
        const __m128i in2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 32));
        const __m128i from0 = in0;
        const __m128i from12 = _mm_alignr_epi8(in1, in0, 12);
        const __m128i from24 = _mm_alignr_epi8(in2, in1, 8);
        const __m128i from36 = _mm_srli_si128(in2, 4);
        auto* out = reinterpret_cast<__m128i*>(destination);
        _mm_storeu_si128(out + 0, _mm_shuffle_epi8(_mm_or_si128(from0, alpha), order));
        _mm_storeu_si128(out + 1, _mm_shuffle_epi8(_mm_or_si128(from12, alpha), order));
        _mm_storeu_si128(out + 2, _mm_shuffle_epi8(_mm_or_si128(from24, alpha), order));
        _mm_storeu_si128(out + 3, _mm_shuffle_epi8(_mm_or_si128(from36, alpha), order));
        source += 48;
        destination += 64;
        count -= 16;
    }
    for (std::size_t i = 0; i < count; ++i) {
        destination[4 * i + 0] = source[3 * i + 0];
        destination[4 * i + 1] = source[3 * i + 1];
        destination[4 * i + 2] = source[3 * i + 2];
        destination[4 * i + 3] = 0xFF;
    }
}

} // namespace ravelstone
