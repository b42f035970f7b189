// The recorder module's exported entries, the recorder, the reader and the
// spectra's transform; the program finds them by name once it has loaded the
// module, which brings HDF5 and FFTW with it.
#include "query/fftw_transform.h"
#include "recording/recorder.h"
#include "recording/recording_reader_impl.h"

#include <chrono>
#include <type_traits>

extern "C" ADPANEL_EXPORT adcard::RecordingSession *
adcard_make_recorder(std::size_t queueBlocks, int64_t flushEveryMs)
{
    return new adcard::Recorder(queueBlocks, std::chrono::milliseconds{flushEveryMs});
}

// A mismatch between this entry and what the program calls is a compile error.
static_assert(std::is_same_v<decltype(&adcard_make_recorder), adcard::MakeRecorderFn>);

extern "C" ADPANEL_EXPORT adcard::RecordingReader *
adcard_open_recording(const char *path, std::string *error)
{
    return adcard::openRecording(path, error);
}

static_assert(std::is_same_v<decltype(&adcard_open_recording), adcard::OpenRecordingFn>);

extern "C" ADPANEL_EXPORT adcard::query::RealTransform *adcard_make_transform(int64_t n)
{
    return adcard::query::makeFftwTransform(n);
}

static_assert(std::is_same_v<decltype(&adcard_make_transform), adcard::query::MakeTransformFn>);
