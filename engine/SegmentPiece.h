#pragma once

#include "engine/Encode.h"
#include "engine/FfmpegCommand.h"

#include <memory>

class CSegmentRun;

// One piece of a segmented job (a segment or the sound) that a free slot
// encodes beside the job's own slot: one ffmpeg run, whose progress moves the
// job's percentage, and whose file is checked and kept when it ends well
// (CSegmentRun). The job's own encode (CFfmpegEncode) takes it out of the job
// (TakePiece).
class CSegmentPiece final : public CEncode
{
public:
    CSegmentPiece(Setup setup, std::shared_ptr<CSegmentRun> run, int piece);
    ~CSegmentPiece() override;

    std::optional<QString> Prepare() override { return std::nullopt; }
    QString CommandLine() const override { return m_strCommandLine; }
    bool ReadOutput(std::string_view chunk) override;
    StepEnd StepSucceeded(std::uint64_t outputBytes) override;
    QString StepFailure() const override { return m_strFailure; }
    int Piece() const { return m_nPiece; }

private:
    std::shared_ptr<CSegmentRun> m_pRun;
    const int m_nPiece;
    const QString m_strCommandLine;
    // Used by the runner's stdout thread while the piece runs.
    FfmpegCommand::ProgressReader m_progress;
    bool m_bEnded = false;
    QString m_strFailure;
};
