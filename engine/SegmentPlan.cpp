#include "SegmentPlan.h"

#include <algorithm>
#include <climits>
#include <cmath>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
}

namespace {

using Profile = EncodeProfile;

// The output frame rate exactly as the fps filter takes it: its text ("15",
// "29.970", "30000/1001") evaluated to a number, then made a fraction by
// av_d2q; 0/1 when there is none.
AVRational FpsFilterRate(const FfmpegCommand::Request& request)
{
    const FfmpegCommand::PictureSize size = FfmpegCommand::OutputSize(request);
    const bool sized = size.width > 0 && size.height > 0;
    const QString text = FfmpegCommand::OutputFrameRate(
        request.profile, request.source,
        sized ? size : FfmpegCommand::PictureSize{request.profile.nWidth, request.profile.nHeight});
    if (text.isEmpty())
        return {0, 1};
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    const double value =
        slash < 0 ? text.toDouble() : text.left(slash).toDouble() / text.mid(slash + 1).toDouble();
    return value > 0 ? av_d2q(value, INT_MAX) : AVRational{0, 1};
}

// The output frame the fps filter puts a source picture on.
std::int64_t FrameOf(std::int64_t pts, std::int64_t shift, AVRational timeBase, AVRational rate)
{
    return av_rescale_q_rnd(pts - shift, timeBase, av_inv_q(rate),
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

} // namespace

QString SegmentPlan::SeekText(int index) const
{
    if (index <= 0 || index >= Count())
        return QString();
    // Rounded down to the microsecond: ffmpeg's seek and its exact cut after it
    // (which drops every picture before the position) then keep the key frame.
    const std::int64_t us = std::max<std::int64_t>(
        av_rescale_q_rnd(arrSegments[index].nKeyPts, AVRational{nTimeBaseNum, nTimeBaseDen},
                         AVRational{1, 1000000}, AV_ROUND_DOWN) -
            nSeekBaseUs,
        0);
    return QStringLiteral("%1.%2").arg(us / 1000000).arg(us % 1000000, 6, 10, QLatin1Char('0'));
}

int SegmentPlan::PercentOf(const std::vector<bool>& done) const
{
    double all = 0;
    double kept = 0;
    for (int i = 0; i < Count(); ++i) {
        all += arrSegments[i].dSeconds;
        if (std::size_t(i) < done.size() && done[i])
            kept += arrSegments[i].dSeconds;
    }
    return all > 0 ? static_cast<int>(std::floor(kept * 100 / all + 1e-9)) : 0;
}

SegmentPlan::Whole WholeBecause(const FfmpegCommand::Request& request, const SegmentLimits& limits)
{
    const Profile& profile = request.profile;
    if (profile.backend != Profile::Backend::Ffmpeg)
        return SegmentPlan::Whole::Encoder;
    if (profile.ullSizeBudget > 0 || request.nBudgetKbps > 0 || request.nPass > 0)
        return SegmentPlan::Whole::TwoPasses;
    if (request.bSampling)
        return SegmentPlan::Whole::Sample;
    if (!(request.source.dSeconds >= limits.dMinMovieSeconds))
        return SegmentPlan::Whole::Short;
    if (FpsFilterRate(request).num <= 0)
        return SegmentPlan::Whole::UnknownRate;
    return SegmentPlan::Whole::No;
}

SegmentPlan PlanSegments(const FfmpegCommand::Request& request, const KeyFrames& keys,
                         const SegmentLimits& limits)
{
    SegmentPlan plan;
    plan.dMovieSeconds = request.source.dSeconds;
    plan.whole = WholeBecause(request, limits);
    if (plan.whole != SegmentPlan::Whole::No)
        return plan;
    if (!keys.bRead || !keys.bSteady || keys.nTimeBaseNum <= 0 || keys.nTimeBaseDen <= 0) {
        plan.whole = SegmentPlan::Whole::UnsteadyTimes;
        return plan;
    }
    const AVRational timeBase{keys.nTimeBaseNum, keys.nTimeBaseDen};
    const AVRational rate = FpsFilterRate(request);
    plan.nTimeBaseNum = timeBase.num;
    plan.nTimeBaseDen = timeBase.den;
    plan.nRateNum = rate.num;
    plan.nRateDen = rate.den;
    plan.nSeekBaseUs = keys.nStartUs;
    plan.nVideoShift = av_rescale_q(keys.nWholeStartUs, AV_TIME_BASE_Q, timeBase);

    const std::vector<std::int64_t>& pts = keys.arrKeyPts;
    if (pts.empty()) {
        plan.whole = SegmentPlan::Whole::FewKeyFrames;
        return plan;
    }
    const auto seconds = [&](std::int64_t key) {
        return double(key - pts.front()) * av_q2d(timeBase);
    };
    const auto frame = [&](std::int64_t key) {
        return FrameOf(key, plan.nVideoShift, timeBase, rate);
    };
    const double length = limits.dSegmentSeconds;
    // The movie's length counted from its first key frame.
    const double firstKey = pts.front() * av_q2d(timeBase) - double(keys.nStartUs) / AV_TIME_BASE;
    const double movie = std::max(plan.dMovieSeconds - firstKey, seconds(pts.back()));
    std::vector<std::int64_t> cuts{pts.front()};
    std::size_t at = 1;
    while (true) {
        const double last = seconds(cuts.back());
        const double target = last + length;
        // The key frame nearest the target, at least half a segment on, leaving
        // at least half a segment after it.
        while (at < pts.size() && seconds(pts[at]) < last + length / 2)
            ++at;
        if (at >= pts.size())
            break;
        while (at + 1 < pts.size() &&
               std::abs(seconds(pts[at + 1]) - target) <= std::abs(seconds(pts[at]) - target))
            ++at;
        if (movie - seconds(pts[at]) < length / 2)
            break;
        // Two key frames on one output frame (a faster source made slower) cut
        // nothing between them.
        if (frame(pts[at]) > frame(cuts.back()))
            cuts.push_back(pts[at]);
        ++at;
    }
    if (cuts.size() < 2) {
        plan.whole = SegmentPlan::Whole::FewKeyFrames;
        return plan;
    }
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        SegmentPlan::Segment segment;
        segment.nKeyPts = cuts[i];
        segment.nFirstFrame = frame(cuts[i]);
        segment.dStartSeconds = seconds(cuts[i]);
        if (i + 1 < cuts.size()) {
            segment.nEndFrame = frame(cuts[i + 1]);
            segment.dSeconds = seconds(cuts[i + 1]) - segment.dStartSeconds;
        } else {
            segment.dSeconds = std::max(movie - segment.dStartSeconds, 0.0);
        }
        plan.arrSegments.push_back(segment);
    }
    return plan;
}

QString DescribePlan(const SegmentPlan& plan)
{
    switch (plan.whole) {
    case SegmentPlan::Whole::No:
        return QStringLiteral("%1 segments of about %2 s")
            .arg(plan.Count())
            .arg(plan.Count() > 0 ? qRound(plan.dMovieSeconds / plan.Count()) : 0);
    case SegmentPlan::Whole::Encoder:
        return QStringLiteral("encoded whole: the preset's encoder takes the movie whole");
    case SegmentPlan::Whole::TwoPasses:
        return QStringLiteral("encoded whole: a size budget needs two passes over the whole movie");
    case SegmentPlan::Whole::Sample:
        return QStringLiteral("encoded whole: a sample");
    case SegmentPlan::Whole::Short:
        return QStringLiteral("encoded whole: a short movie");
    case SegmentPlan::Whole::UnknownRate:
        return QStringLiteral("encoded whole: its frame rate is unknown");
    case SegmentPlan::Whole::UnsteadyTimes:
        return QStringLiteral("encoded whole: its timestamps do not allow exact cuts");
    case SegmentPlan::Whole::FewKeyFrames:
        return QStringLiteral("encoded whole: too few key frames to cut at");
    }
    return QString();
}

SegmentPlan PlanMovieSegments(const FfmpegCommand::Request& request, const SegmentLimits& limits)
{
    return PlanSegments(
        request,
        ProbeKeyFrames(request.strInput, request.source.nVideoStream, request.source.nAudioStream),
        limits);
}
