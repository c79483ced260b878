#include "SegmentPiece.h"

#include "engine/SegmentRun.h"

CSegmentPiece::CSegmentPiece(Setup setup, std::shared_ptr<CSegmentRun> run, int piece)
    : CEncode(std::move(setup))
    , m_pRun(std::move(run))
    , m_nPiece(piece)
    , m_strCommandLine(m_pRun->CommandLine(piece))
    , m_progress(m_pRun->ExpectedMicroseconds(piece))
{
}

CSegmentPiece::~CSegmentPiece()
{
    // A piece that did not end well is made again by the next run.
    if (!m_bEnded)
        m_pRun->Abandon(m_nPiece);
}

bool CSegmentPiece::ReadOutput(std::string_view chunk)
{
    if (const std::optional<int> percent = m_progress.Feed(chunk)) {
        SetPercent(*percent);
        m_pRun->SetProgress(m_nPiece, *percent);
    }
    return false;
}

CEncode::StepEnd CSegmentPiece::StepSucceeded(std::uint64_t /*outputBytes*/)
{
    m_bEnded = true;
    if (const std::optional<QString> problem = m_pRun->Finish(m_nPiece)) {
        m_strFailure = *problem;
        return StepEnd::Failed;
    }
    return StepEnd::Done;
}
