#include "EncoderJob.h"

#include "engine/FfmpegJob.h"
#include "engine/MencoderJob.h"
#include "jobs/MediaProbe.h"

CEncoderJob::CEncoderJob(Setup setup)
    : m_setup(std::move(setup))
{
}

CEncoderJob::~CEncoderJob() = default;

QString CEncoderJob::SubtitlePathFor(const StreamFile& movie)
{
    return movie.bHasSubtitle ? FindSubtitleFile(movie.strFilePath) : QString();
}

std::unique_ptr<CEncoderJob> MakeEncoderJob(const EncodeProfile& profile, CEncoderJob::Setup setup)
{
    if (profile.backend == EncodeProfile::Backend::Ffmpeg)
        return std::make_unique<CFfmpegJob>(profile, std::move(setup));
    return std::make_unique<CMencoderJob>(profile, std::move(setup));
}
