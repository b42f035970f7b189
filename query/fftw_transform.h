#pragma once
// FFTW's transform: linked by adcard-review, and by the recording module,
// which exports it to the program (kMakeTransformEntry).
#include "query/transform.h"

namespace adcard::query {

RealTransform *makeFftwTransform(int64_t n);

} // namespace adcard::query
