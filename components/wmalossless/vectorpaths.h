#pragma once

namespace wmalossless {

// Whether the AVX2 (with BMI2) and the BMI2 code paths run: where the
// processor has them, unless turned off. They give the same bits as the
// baseline paths, which tests check by turning them off.
bool avx2Paths();
bool bmi2Paths();
void allowWideVectorPaths(bool allowed);

} // namespace wmalossless
