#include "SegmentCommand.h"

#include "shell/AppFolder.h"

#include <numeric>

#include <QCryptographicHash>
#include <QFile>

namespace SegmentCommand {

namespace {

using Profile = EncodeProfile;

QString Seconds(double seconds)
{
    return QString::number(seconds, 'f', 6);
}

// Microseconds of a number of output frames, rounded to the nearest.
std::int64_t FramesUs(const SegmentPlan& plan, std::int64_t frames)
{
    const long double us = (long double)frames * 1000000 * plan.nRateDen / plan.nRateNum;
    return static_cast<std::int64_t>(std::llround(us));
}

} // namespace

QString SegmentFileName(int index)
{
    return QStringLiteral("video-%1.mp4").arg(index + 1, 4, 10, QLatin1Char('0'));
}

QString SoundFileName(const EncodeProfile& profile)
{
    return profile.container == Profile::Container::WebM ? QStringLiteral("sound.webm")
                                                         : QStringLiteral("sound.m4a");
}

QString ListFileName()
{
    return QStringLiteral("segments.ffconcat");
}

QStringList SegmentArguments(const FfmpegCommand::Request& request, const SegmentPlan& plan,
                             int index, const QString& output)
{
    const SegmentPlan::Segment& segment = plan.arrSegments.at(index);
    // The source's timestamps kept: the filters see every picture at the time
    // the whole encode sees it, once the same start is taken away.
    QStringList args = FfmpegCommand::CommonArguments();
    args << QStringLiteral("-copyts");
    if (index > 0)
        args << QStringLiteral("-ss") << plan.SeekText(index);
    args << QStringLiteral("-i") << FfmpegCommand::FileUrl(request.strInput)
         << QStringLiteral("-map") << FfmpegCommand::VideoMap(request.source);
    QStringList filters;
    if (plan.nVideoShift != 0)
        filters << QStringLiteral("setpts=PTS-%1").arg(plan.nVideoShift);
    filters << FfmpegCommand::VideoFilters(request);
    // Frames counted by the fps filter: the segment ends before the next one's
    // first. Each but the first then starts its file at 0; the first keeps
    // where the whole encode's picture starts, for the join.
    if (!segment.IsLast())
        filters << QStringLiteral("trim=end_pts=%1").arg(segment.nEndFrame);
    if (index > 0)
        filters << QStringLiteral("setpts=PTS-STARTPTS");
    args << QStringLiteral("-vf") << filters.join(QLatin1Char(',')) << QStringLiteral("-fps_mode")
         << QStringLiteral("passthrough") << FfmpegCommand::VideoCodecArguments(request);
    if (request.nThreads > 0)
        args << QStringLiteral("-threads") << FormatInt(request.nThreads);
    if (request.profile.container == Profile::Container::WebM) {
        // WebM counts milliseconds: a time base that holds both them and every
        // frame's time keeps the join's rounding the whole encode's.
        args << QStringLiteral("-video_track_timescale")
             << QString::number(std::lcm(std::int64_t(1000), std::int64_t(plan.nRateNum)));
    }
    args << QStringLiteral("-f") << QStringLiteral("mp4") << FfmpegCommand::FileUrl(output);
    return args;
}

QStringList SoundArguments(const FfmpegCommand::Request& request, const QString& output)
{
    // The picture is read too, copied to nothing: ffmpeg starts its clock at
    // the earliest of the streams it reads in MPEG streams, and it must be the
    // whole encode's.
    QStringList args = FfmpegCommand::CommonArguments();
    args << QStringLiteral("-i") << FfmpegCommand::FileUrl(request.strInput)
         << QStringLiteral("-map") << FfmpegCommand::VideoMap(request.source)
         << QStringLiteral("-c:v") << QStringLiteral("copy") << QStringLiteral("-f")
         << QStringLiteral("null") << QStringLiteral("-") << QStringLiteral("-map")
         << QStringLiteral("0:%1").arg(request.source.nAudioStream)
         << FfmpegCommand::AudioArguments(request) << QStringLiteral("-f")
         << (request.profile.container == Profile::Container::WebM ? QStringLiteral("webm")
                                                                   : QStringLiteral("mp4"))
         << FfmpegCommand::FileUrl(output);
    return args;
}

QByteArray ConcatList(const SegmentPlan& plan)
{
    QByteArray list = "ffconcat version 1.0\n";
    const std::int64_t first = plan.arrSegments.empty() ? 0 : plan.arrSegments.front().nFirstFrame;
    for (int i = 0; i < plan.Count(); ++i) {
        const SegmentPlan::Segment& segment = plan.arrSegments[i];
        list += "file '" + SegmentFileName(i).toUtf8() + "'\n";
        if (segment.IsLast())
            continue;
        // Each end rounded from the start of the first segment, so that the
        // microseconds the demuxer adds up never drift by a tick.
        const std::int64_t us =
            FramesUs(plan, segment.nEndFrame - first) - FramesUs(plan, segment.nFirstFrame - first);
        list += "duration " + Seconds(us / 1e6).toUtf8() + '\n';
    }
    return list;
}

QStringList JoinArguments(const FfmpegCommand::Request& request, const JoinPieces& pieces)
{
    // The movie first: the facts are taken from input 0 as in the whole encode.
    // ffmpeg takes each input's start away from its timestamps: given back, the
    // picture and the sound keep the whole encode's times. The segments' list
    // starts at 0; its first picture is where the first segment's file says.
    QStringList args = FfmpegCommand::CommonArguments();
    args << QStringLiteral("-i") << FfmpegCommand::FileUrl(request.strInput)
         << QStringLiteral("-itsoffset")
         << Seconds(pieces.dFirstPictureSeconds + pieces.sound.dPictureDelaySeconds)
         << QStringLiteral("-f") << QStringLiteral("concat") << QStringLiteral("-i")
         << FfmpegCommand::FileUrl(pieces.strList);
    int inputs = 2;
    const bool sound = !pieces.strSound.isEmpty();
    const int soundInput = sound ? inputs++ : -1;
    if (sound)
        args << QStringLiteral("-itsoffset") << Seconds(pieces.sound.dOffsetSeconds)
             << QStringLiteral("-i") << FfmpegCommand::FileUrl(pieces.strSound);
    const bool track = request.subtitle && !request.subtitle->bBurn;
    const int trackInput = track ? inputs++ : -1;
    if (track)
        args << QStringLiteral("-i") << FfmpegCommand::FileUrl(request.subtitle->strPath);
    args << QStringLiteral("-map") << QStringLiteral("1:v:0");
    if (sound)
        args << QStringLiteral("-map") << QStringLiteral("%1:a:0").arg(soundInput);
    if (track)
        args << QStringLiteral("-map") << QStringLiteral("%1:0").arg(trackInput);
    args << QStringLiteral("-c:v") << QStringLiteral("copy");
    if (sound)
        args << QStringLiteral("-c:a") << QStringLiteral("copy");
    else
        args << QStringLiteral("-an");
    if (track)
        args << FfmpegCommand::SubtitleTrackArguments(request);
    args << FfmpegCommand::MetadataArguments(request)
         << FfmpegCommand::ContainerArguments(request.profile)
         << FfmpegCommand::FileUrl(request.strOutput);
    return args;
}

std::int64_t SegmentMicroseconds(const SegmentPlan& plan, int index)
{
    if (index < 0 || index >= plan.Count())
        return 0;
    return static_cast<std::int64_t>(plan.arrSegments[index].dSeconds * 1e6);
}

QByteArray ProfileFingerprint(const FfmpegCommand::Request& request)
{
    // A burnt subtitle counts by what it says: the run hands ffmpeg a copy
    // written anew each time.
    FfmpegCommand::Request same = request;
    QByteArray subtitle;
    if (same.subtitle && same.subtitle->bBurn) {
        QFile file(same.subtitle->strPath);
        if (file.open(QIODevice::ReadOnly))
            subtitle = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex();
        same.subtitle->strPath = QStringLiteral("subtitle");
    }
    QStringList parts{FfmpegCommand::VideoFilters(same), QString::fromLatin1(subtitle)};
    parts << FfmpegCommand::VideoCodecArguments(same)
          << FfmpegCommand::ContainerArguments(same.profile);
    if (same.source.nAudioStream >= 0)
        parts << QStringLiteral("sound %1").arg(same.source.nAudioStream)
              << FfmpegCommand::AudioArguments(same);
    return QCryptographicHash::hash(parts.join(QLatin1Char('\n')).toUtf8(),
                                    QCryptographicHash::Sha1)
        .toHex();
}

} // namespace SegmentCommand
