// The spectrum where FFTW is not among the dependencies (the Windows build):
// every other query works, and a spectrum says why it cannot be had.
#include "query/spectrum.h"

#include <algorithm>
#include <cmath>

namespace adcard::query {

SpectrumResult spectrum(const RecordedRun &, const SpectrumQuery &q, const Control &)
{
    SpectrumResult r;
    r.outcome = Outcome::Failed;
    r.error = "spectra need FFTW, which this build of the program lacks";
    r.first = q.first;
    return r;
}

double dbv(double volts)
{
    return volts > 0 ? std::max(-200.0, 20 * std::log10(volts)) : -200.0;
}

} // namespace adcard::query
