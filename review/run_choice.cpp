#include "review/run_choice.h"

#include "platform/local_time.h"

namespace adcard {

std::unique_ptr<RecordedRun> openFirstRun(RecordingReader &reader, std::string &why)
{
    const std::vector<RecordedRunInfo> runs = reader.runs();
    if (runs.empty()) {
        why = "the file holds no runs";
        return nullptr;
    }
    for (const RecordedRunInfo &run : runs) {
        if (run.blocks > 0)
            return reader.openRun(run.number, why);
    }
    why = runs.size() == 1 ? "its run has no blocks" : "none of its runs has blocks";
    return nullptr;
}

std::string runStartText(const RecordedRunInfo &run, bool utc)
{
    if (run.startTimeNs != 0)
        return formatLocalTime(run.startTimeNs, 3, utc);
    return run.startTime;
}

} // namespace adcard
