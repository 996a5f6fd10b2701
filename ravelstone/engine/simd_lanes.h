// Lane helpers shared by the SIMD math variants. They use SSE2 only, so every variant (whatever
// instruction set its own function is built for) can inline them.
#pragma once

#include <cstdint>

#include <emmintrin.h>

#define RS_LANES inline __attribute__((always_inline))

namespace ravelstone::lanes {

// Lane k of v in all four lanes.
template <int k> RS_LANES __m128 Broadcast(__m128 v) {
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(k, k, k, k));
}

// Arithmetic with its operands in a fixed order. The compiler treats the packed operations as
// commutative and may swap their operands differently in each variant; when both operands are
// NaNs the processor returns the first one, so a swap would change a result's bits.
RS_LANES __m128 Mul(__m128 a, __m128 b) {
    asm("mulps %1, %0" : "+x"(a) : "x"(b));
    return a;
}
RS_LANES __m128 Add(__m128 a, __m128 b) {
    asm("addps %1, %0" : "+x"(a) : "x"(b));
    return a;
}
RS_LANES __m128 MulLow(__m128 a, __m128 b) {
    asm("mulss %1, %0" : "+x"(a) : "x"(b));
    return a;
}

RS_LANES __m128 Load(const float* p) {
    return _mm_loadu_ps(p);
}

// Bytes [12, 28) of the pair lo:hi, by shifts and an OR.
RS_LANES __m128 AlignByShifts(__m128 lo, __m128 hi) {
    const __m128i low = _mm_srli_si128(_mm_castps_si128(lo), 12);
    const __m128i high = _mm_slli_si128(_mm_castps_si128(hi), 4);
    return _mm_castsi128_ps(_mm_or_si128(low, high));
}

// A 3x3 row-major matrix (36 bytes) read with three unaligned 16-byte loads that stay inside
// it: lo = m[0..3], hi = m[4..7], tail = m[5..8].
struct MatrixLoads {
    __m128 lo, hi, tail;
};

RS_LANES MatrixLoads LoadMatrix(const float* m) {
    return {Load(m), Load(m + 4), Load(m + 5)};
}

// Row 2 (m[6..8], 0): the tail without its first lane.
RS_LANES __m128 LastRow(const MatrixLoads& m) {
    return _mm_castsi128_ps(_mm_srli_si128(_mm_castps_si128(m.tail), 4));
}

struct Rows {
    __m128 r0, r1, r2;
};

// Row i of A times B: (A[i][1] * B1 + A[i][0] * B0) + A[i][2] * B2, in this order.
RS_LANES __m128 ProductRow(__m128 a0, __m128 a1, __m128 a2, const Rows& b) {
    return Add(Add(Mul(a1, b.r1), Mul(a0, b.r0)), Mul(a2, b.r2));
}

// The product's three rows; the fourth lane of each is of no meaning.
RS_LANES Rows Product(const MatrixLoads& a, const Rows& b) {
    return {ProductRow(Broadcast<0>(a.lo), Broadcast<1>(a.lo), Broadcast<2>(a.lo), b),
            ProductRow(Broadcast<3>(a.lo), Broadcast<0>(a.hi), Broadcast<1>(a.hi), b),
            ProductRow(Broadcast<2>(a.hi), Broadcast<3>(a.hi), Broadcast<3>(a.tail), b)};
}

// Writes lanes 0..2 only: 8 bytes, then 4.
RS_LANES void StoreThree(float* p, __m128 v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(v));
    _mm_store_ss(p + 2, _mm_movehl_ps(v, v));
}

// Columns of the matrix (m[0][k], m[1][k], m[2][k], any).
RS_LANES Rows Columns(const MatrixLoads& m) {
    const __m128 c0 = _mm_shuffle_ps(m.lo, m.hi, _MM_SHUFFLE(2, 2, 3, 0));
    const __m128 t1 = _mm_shuffle_ps(m.lo, m.hi, _MM_SHUFFLE(0, 0, 1, 1));
    const __m128 c1 = _mm_shuffle_ps(t1, m.hi, _MM_SHUFFLE(3, 3, 2, 0));
    const __m128 t2 = _mm_shuffle_ps(m.lo, m.hi, _MM_SHUFFLE(1, 1, 2, 2));
    const __m128 c2 = _mm_shuffle_ps(t2, m.tail, _MM_SHUFFLE(3, 3, 2, 0));
    return {c0, c1, c2};
}

} // namespace ravelstone::lanes
