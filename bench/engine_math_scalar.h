// Plain scalar versions of the engine's vector routines, for the benchmark's comparison.
#pragma once

namespace bench {

void ScalarMatrixProduct(const float* a, float* result, const float* b);
void ScalarTransformCompose(const float* t, float* result, const float* u);
bool ScalarBoxInsidePlanes(const void* box, const void* planes);

} // namespace bench
