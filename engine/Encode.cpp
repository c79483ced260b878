#include "Encode.h"

#include "engine/Backends.h"
#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"

CEncode::CEncode(Setup setup)
    : m_setup(std::move(setup))
{
}

CEncode::~CEncode() = default;

QString CEncode::SubtitlePathFor(const StreamFile& movie)
{
    return movie.bHasSubtitle ? FindSubtitleFile(movie.strFilePath) : QString();
}

std::unique_ptr<CEncode> MakeEncode(const EncodeProfile& profile, CEncode::Setup setup)
{
    return Backends::Of(profile.backend).makeJob(profile, std::move(setup));
}
