#include "Backends.h"

#include "engine/ExternalTools.h"
#include "engine/FfmpegEncode.h"
#include "engine/MencoderEncode.h"

#include <cstdlib>

using namespace std::chrono_literals;

namespace {

template <class Job>
std::unique_ptr<CEncode> MakeJob(const EncodeProfile& profile, CEncode::Setup setup)
{
    return std::make_unique<Job>(profile, std::move(setup));
}

// ffmpeg on 2 cores: two encodes at once with ffmpeg's own thread count, as
// fast as two with one thread each for a batch of four 1080p movies ("Phone
// and Tablet", 2 % apart either way, within the noise), 9 % faster for a batch
// of three, whose last movie encodes alone on both cores instead of one; and 2
// to 10 % ahead of one at a time, whose serial parts (decoding, scaling,
// sound) leave a core idle (bench/README.md has the figures).
constexpr MeasuredArrangement FfmpegMeasured[] = {
    {2, 2, 0},
};

const BackendInfo Table[] = {
    // mencoder finishes its AVI index at once after SIGTERM; its encoders take
    // no thread count.
    {EncodeProfile::Backend::Mencoder,
     "mencoder",
     "mencoder",
     "mencoder",
     MencoderCauses,
     500ms,
     false,
     {},
     &MakeJob<CMencoderEncode>},
    // After SIGTERM ffmpeg writes the MP4 index, moving it in front of the data.
    {EncodeProfile::Backend::Ffmpeg, "ffmpeg", "ffmpeg", "ffmpeg", FfmpegCauses, 5000ms, true,
     FfmpegMeasured, &MakeJob<CFfmpegEncode>},
};

} // namespace

namespace Backends {

std::span<const BackendInfo> All()
{
    return Table;
}

const BackendInfo& Of(EncodeProfile::Backend backend)
{
    for (const BackendInfo& info : Table) {
        if (info.id == backend)
            return info;
    }
    // Every value of the enumeration has its row.
    std::abort();
}

EncoderTools InstalledTools()
{
    EncoderTools tools;
    for (const BackendInfo& info : Table)
        tools[info.id] = {ExternalTools::ToolPath(QLatin1String(info.program)),
                          QString::fromLatin1(info.imageName)};
    return tools;
}

} // namespace Backends
