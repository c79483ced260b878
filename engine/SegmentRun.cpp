#include "SegmentRun.h"

#include "engine/CommandLine.h"
#include "engine/SegmentCommand.h"

#include <algorithm>
#include <cmath>

CSegmentRun::CSegmentRun(const FfmpegCommand::Request& request, const SegmentPlan& plan,
                         const QString& folder, const QString& program)
    : m_request(request)
    , m_plan(plan)
    , m_work(folder, request, plan)
    , m_strProgram(program)
    , m_bSound(request.source.nAudioStream >= 0)
    , m_pPercent(std::make_unique<std::atomic<int>[]>(std::size_t(plan.Count() + 2)))
{
    for (int i = 0; i < plan.Count() + 2; ++i)
        m_pPercent[i] = 0;
}

bool CSegmentRun::Open(QString* error)
{
    if (!m_work.Open(error))
        return false;
    m_pending.clear();
    if (m_bSound && !m_work.IsSoundFinished())
        m_pending.push_back(Count());
    else
        m_pPercent[Count()] = 100;
    for (int i = 0; i < Count(); ++i) {
        if (m_work.IsFinished(i))
            m_pPercent[i] = 100;
        else
            m_pending.push_back(i);
    }
    // The row said "Resumes at N %": its bar does not start below it.
    m_nReused = m_work.ReusedCount();
    m_nReusedPercent = m_work.ResumePercent();
    m_nShown = m_nReusedPercent;
    return true;
}

QStringList CSegmentRun::Notes() const
{
    return {QStringLiteral("Segments: %1").arg(DescribePlan(m_plan)),
            QStringLiteral("Reused %1 of %2 segments (%3 %)")
                .arg(m_nReused)
                .arg(Count())
                .arg(m_nReusedPercent)};
}

int CSegmentRun::TakePiece()
{
    if (m_pending.empty())
        return -1;
    const int piece = m_pending.front();
    m_pending.pop_front();
    ++m_nRunning;
    m_pPercent[piece] = 0;
    return piece;
}

QString CSegmentRun::CommandLine(int piece) const
{
    QStringList args;
    if (piece == JoinPiece())
        args = SegmentCommand::JoinArguments(m_request, m_join);
    else if (piece == Count())
        args = SegmentCommand::SoundArguments(m_request, m_work.SoundPartPath());
    else
        args = SegmentCommand::SegmentArguments(m_request, m_plan, piece, m_work.PartPath(piece));
    return QuotedCommandLine(m_strProgram, args);
}

QString CSegmentRun::OutputOf(int piece) const
{
    if (piece == JoinPiece())
        return m_request.strOutput;
    return piece == Count() ? m_work.SoundPartPath() : m_work.PartPath(piece);
}

std::int64_t CSegmentRun::ExpectedMicroseconds(int piece) const
{
    if (piece >= 0 && piece < Count())
        return SegmentCommand::SegmentMicroseconds(m_plan, piece);
    return FfmpegCommand::ExpectedMicroseconds(m_request.source, false);
}

void CSegmentRun::SetProgress(int piece, int percent)
{
    if (piece >= 0 && piece <= JoinPiece())
        m_pPercent[piece] = std::clamp(percent, 0, 100);
}

std::optional<QString> CSegmentRun::Finish(int piece)
{
    --m_nRunning;
    if (piece == JoinPiece()) {
        m_pPercent[piece] = 100;
        return std::nullopt;
    }
    std::optional<QString> problem = piece == Count() ? m_work.FinishSound() : m_work.Finish(piece);
    m_pPercent[piece] = problem ? 0 : 100;
    return problem;
}

void CSegmentRun::Abandon(int piece)
{
    --m_nRunning;
    if (piece >= 0 && piece <= JoinPiece())
        m_pPercent[piece] = 0;
}

void CSegmentRun::CheckPieces()
{
    m_checkProblem = m_work.CheckJoin(m_join);
}

bool CSegmentRun::AfterCheck(std::optional<QString>* problem)
{
    *problem = m_checkProblem;
    if (!*problem)
        return false;
    // CheckJoin took the damaged piece away: it is made again once, and a
    // missing one too; a second time, the job fails with the piece named.
    const bool remake = !m_bRemade;
    m_bRemade = true;
    if (!remake)
        return false;
    if (m_bSound && !m_work.IsSoundFinished())
        m_pending.push_back(Count());
    for (int i = 0; i < Count(); ++i) {
        if (!m_work.IsFinished(i))
            m_pending.push_back(i);
    }
    if (m_pending.empty())
        return false;
    problem->reset();
    return true;
}

double CSegmentRun::Weight(int piece) const
{
    if (piece == JoinPiece())
        return JoinWeight * m_plan.dMovieSeconds;
    if (piece == Count())
        return m_bSound ? SoundWeight * m_plan.dMovieSeconds : 0.0;
    return m_plan.arrSegments[piece].dSeconds;
}

int CSegmentRun::Percent() const
{
    double all = 0;
    double done = 0;
    for (int i = 0; i <= JoinPiece(); ++i) {
        const double weight = Weight(i);
        all += weight;
        done += weight * m_pPercent[i].load(std::memory_order_relaxed) / 100;
    }
    const int now = all > 0 ? static_cast<int>(std::floor(done * 100 / all + 1e-9)) : 0;
    int shown = m_nShown.load(std::memory_order_relaxed);
    while (now > shown && !m_nShown.compare_exchange_weak(shown, now, std::memory_order_relaxed)) {
    }
    return std::max(now, shown);
}
