#include "MencoderEncode.h"

#include "engine/CommandLine.h"
#include "jobs/MediaProbe.h"
#include "shell/Numbers.h"
#include "subtitles/SubtitleCharset.h"

#include <cctype>

CMencoderEncode::CMencoderEncode(const EncodeProfile& profile, Setup setup)
    : CEncode(std::move(setup))
    , m_setting(EncodeSetting::FromProfile(profile, m_setup.bBurnSubtitle))
{
}

std::optional<QString> CMencoderEncode::Prepare()
{
    const StreamFile& movie = m_setup.movie;
    m_subtitle = m_setting.PrepareSubtitle(SubtitlePathFor(movie), movie.strFilePath,
                                           m_setup.nSubtitleCodePage);
    // A turned movie is set upright and its frame cut from the picture as
    // shown, whatever size the job recorded (rows from older versions hold the
    // stored size).
    const MovieTiming source = ProbeMovieTiming(movie.strFilePath);
    StreamFile job = movie;
    if (source.IsTurned() && source.nWidth > 0 && source.nHeight > 0) {
        job.nWidth = source.ShownWidth();
        job.nHeight = source.ShownHeight();
    }
    const QString arguments =
        m_setting.BuildCommandLine(m_subtitle, m_setup.strOutput, m_setup.bSampling, job,
                                   {source.nRotation, source.bMirrored});
    m_strCommandLine = MakeProcessCommandLine(m_setup.strProgram, arguments);
    return std::nullopt;
}

std::optional<int> CMencoderEncode::ParseProgressPercent(std::string_view text)
{
    if (text.substr(0, 4) != "Pos:")
        return std::nullopt;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos)
        return std::nullopt;
    const std::size_t percent = text.find('%', open);
    if (percent == std::string_view::npos)
        return 0;
    return LeadingNumber<int>(text.substr(open + 1, percent - open - 1));
}

bool CMencoderEncode::ReadOutput(std::string_view chunk)
{
    if (const std::optional<int> percent = ParseProgressPercent(chunk))
        SetPercent(*percent);
    // mencoder prints its errors on standard output too.
    return true;
}
