// The recorder module's two exported entries, the recorder and the reader;
// the program finds them by name once it has loaded the module.
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
