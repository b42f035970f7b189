#include "query/fftw_transform.h"

#include <fftw3.h>

#include <cmath>
#include <memory>
#include <mutex>

namespace adcard::query {

namespace {

// FFTW's planner is not reentrant; executing a plan is.
std::mutex &plannerMutex()
{
    static std::mutex m;
    return m;
}

struct FftwFree {
    void operator()(void *p) const { fftw_free(p); }
};

class FftwTransform final : public RealTransform {
public:
    explicit FftwTransform(int64_t n)
        : n_(n), in_(static_cast<double *>(fftw_malloc(sizeof(double) * std::size_t(n)))),
          out_(static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * std::size_t(n / 2 + 1))))
    {
        if (!in_ || !out_)
            return;
        const std::lock_guard lock(plannerMutex());
        plan_ = fftw_plan_dft_r2c_1d(int(n), in_.get(), out_.get(), FFTW_ESTIMATE);
    }
    ~FftwTransform() override
    {
        if (plan_) {
            const std::lock_guard lock(plannerMutex());
            fftw_destroy_plan(plan_);
        }
    }
    FftwTransform(const FftwTransform &) = delete;
    FftwTransform &operator=(const FftwTransform &) = delete;

    bool ready() const { return plan_ != nullptr; }
    double *in() override { return in_.get(); }
    std::vector<float> amplitudes(double gain) override
    {
        fftw_execute(plan_);
        std::vector<float> a(std::size_t(n_ / 2 + 1));
        for (std::size_t k = 0; k < a.size(); ++k) {
            const bool single = k == 0 || (n_ % 2 == 0 && int64_t(k) == n_ / 2);
            const double re = out_.get()[k][0], im = out_.get()[k][1];
            a[k] = float((single ? 1.0 : 2.0) * std::sqrt(re * re + im * im) / gain);
        }
        return a;
    }

private:
    int64_t n_;
    std::unique_ptr<double, FftwFree> in_;
    std::unique_ptr<fftw_complex, FftwFree> out_;
    fftw_plan plan_ = nullptr;
};

} // namespace

RealTransform *makeFftwTransform(int64_t n)
{
    auto t = std::make_unique<FftwTransform>(n);
    return t->ready() ? t.release() : nullptr;
}

} // namespace adcard::query
