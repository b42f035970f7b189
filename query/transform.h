#pragma once
// The real-to-complex transform behind a spectrum, as an interface: FFTW
// does it (query/fftw_transform.h), but the program does not link FFTW at
// start-up. adcard-review links it; the program takes it from the recording
// module, loaded when a review opens a file.
#include <cstdint>
#include <vector>

namespace adcard::query {

// One transform of n real values.
class RealTransform {
public:
    virtual ~RealTransform() = default;
    // The n values to transform, to be filled before amplitudes().
    virtual double *in() = 0;
    // Each bin's amplitude from 0 to n / 2, in the input's unit, corrected
    // for a window's gain `gain` (the sum of its weights).
    virtual std::vector<float> amplitudes(double gain) = 0;
};

// A transform of n values; null when there is no memory for one.
using MakeTransformFn = RealTransform *(*)(int64_t n);
// The recording module's entry that makes FFTW's.
inline constexpr const char *kMakeTransformEntry = "adcard_make_transform";

} // namespace adcard::query
