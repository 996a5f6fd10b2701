// The 3x3 matrix product and the composition of rigid transforms with uniform scale, in two
// variants that differ only in how they assemble a matrix's middle row (a byte-align
// instruction where the processor has SSSE3, shifts and an OR where it has not). Both do the
// same single-precision operations in the same order, so they give the same bits.
//
// Matrices are 9 row-major floats; a transform is a matrix, a translation (3 floats) and a
// scale (1 float), 52 bytes. Every input is read with unaligned loads that stay inside it, and
// exactly the result's bytes are written.
#pragma once

#include <tmmintrin.h>

#include "ravelstone/engine/simd_lanes.h"

namespace ravelstone {

namespace lanes {

RS_LANES Rows RowsByShifts(const MatrixLoads& m) {
    return {m.lo, AlignByShifts(m.lo, m.hi), LastRow(m)};
}

__attribute__((target("ssse3"))) RS_LANES Rows RowsByAlign(const MatrixLoads& m) {
    const __m128i middle = _mm_alignr_epi8(_mm_castps_si128(m.hi), _mm_castps_si128(m.lo), 12);
    return {m.lo, _mm_castsi128_ps(middle), LastRow(m)};
}

// result = A x B. Both are read completely before the first store: result may be A or B.
RS_LANES void StoreProduct(const MatrixLoads& a, const Rows& b, float* result) {
    const Rows r = Product(a, b);
    StoreThree(result, r.r0);
    StoreThree(result + 3, r.r1);
    StoreThree(result + 6, r.r2);
}

// result = T composed with U. Everything of T and U is read before the first store, so the
// result may be either of them.
RS_LANES void StoreComposition(const float* t, const MatrixLoads& tRot, const Rows& uRot,
                               const float* u, float* result) {
    const __m128 tMove = Load(t + 9); // x, y, z, scale
    const __m128 uMove = Load(u + 9);
    const Rows rot = Product(tRot, uRot);
    const Rows col = Columns(tRot);
    // T's rotation applied to U's translation, scaled by T's scale, plus T's translation.
    const __m128 turned =
        Add(Add(Mul(Broadcast<1>(uMove), col.r1), Mul(Broadcast<0>(uMove), col.r0)),
            Mul(Broadcast<2>(uMove), col.r2));
    const __m128 move = Add(Mul(turned, Broadcast<3>(tMove)), tMove);
    const __m128 scale = MulLow(Broadcast<3>(uMove), Broadcast<3>(tMove));
    // Each 16-byte store's fourth lane is overwritten by the next store.
    _mm_storeu_ps(result, rot.r0);
    _mm_storeu_ps(result + 3, rot.r1);
    _mm_storeu_ps(result + 6, rot.r2);
    _mm_storeu_ps(result + 9, move);
    _mm_store_ss(result + 12, scale);
}

} // namespace lanes

inline void MatrixProductPlain(const float* a, float* result, const float* b) {
    lanes::StoreProduct(lanes::LoadMatrix(a), lanes::RowsByShifts(lanes::LoadMatrix(b)), result);
}

__attribute__((target("ssse3"))) inline void MatrixProductSsse3(const float* a, float* result,
                                                                const float* b) {
    lanes::StoreProduct(lanes::LoadMatrix(a), lanes::RowsByAlign(lanes::LoadMatrix(b)), result);
}

inline void TransformComposePlain(const float* t, float* result, const float* u) {
    lanes::StoreComposition(t, lanes::LoadMatrix(t), lanes::RowsByShifts(lanes::LoadMatrix(u)), u,
                            result);
}

__attribute__((target("ssse3"))) inline void TransformComposeSsse3(const float* t, float* result,
                                                                   const float* u) {
    lanes::StoreComposition(t, lanes::LoadMatrix(t), lanes::RowsByAlign(lanes::LoadMatrix(u)), u,
                            result);
}

} // namespace ravelstone
