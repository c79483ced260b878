#include "EncoderJob.h"

#include "engine/Backends.h"
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
    return Backends::Of(profile.backend).makeJob(profile, std::move(setup));
}
