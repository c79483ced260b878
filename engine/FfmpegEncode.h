#pragma once

#include "engine/Encode.h"
#include "engine/FailureReason.h"
#include "engine/FfmpegCommand.h"
#include "subtitles/EncoderSubtitle.h"

#include <memory>

class CSegmentPiece;
class CSegmentRun;
class QTemporaryDir;

// What ffmpeg prints when it is broken on purpose (the lines are kept in
// tests/engine/data/ffmpeg-lines), in the order they are tried. A movie that is
// gone, and an output folder that is missing or not writable, are found before
// ffmpeg starts; its "No such file or directory" is then the movie's.
inline constexpr EncoderCause FfmpegCauses[] = {
    {"No space left on device", "The output folder's disk is full."},
    {"Read-only file system", "The output file cannot be written."},
    {"Invalid data found when processing input", DamagedMovieCause},
    {"moov atom not found", DamagedMovieCause},
    {"Unknown encoder", "This ffmpeg cannot make the codec the settings ask for."},
    {"not divisible by 2", "The picture size does not suit this encoder."},
    {"Error while opening encoder", "The encoder cannot make a movie with these settings."},
    {"Error initializing filter 'subtitles'", "The subtitle cannot be drawn."},
    {"Permission denied", "A file cannot be opened: permission denied."},
    {"No such file or directory", "The movie file is gone or cannot be read."},
};

// A job made by ffmpeg: the movie probed for its picture, frame rate and
// sound, then one run (FfmpegCommand::Arguments), or two passes for a size
// budget, with the second done again at a lower rate should the file still
// come out over the budget. Progress comes from "-progress" records only.
// A long movie whose plan cuts it (UseSegments) is made of pieces instead: its
// sound and its unfinished segments, each one step of this job unless another
// slot takes it (TakePiece), then the join into the output (CSegmentRun).
class CFfmpegEncode final : public CEncode
{
public:
    CFfmpegEncode(const EncodeProfile& profile, Setup setup);
    ~CFfmpegEncode() override;

    std::optional<QString> Prepare() override;
    QString CommandLine() const override { return m_strCommandLine; }
    bool ReadOutput(std::string_view chunk) override;
    StepEnd StepSucceeded(std::uint64_t outputBytes) override;
    std::uint64_t SizeBudget() const override { return m_profile.ullSizeBudget; }
    QString StepFailure() const override { return m_strFailure; }
    QString StepOutput() const override;
    std::optional<FfmpegCommand::Request>
    SegmentRequest(const SegmentLimits& limits) const override;
    std::optional<QString> UseSegments(const SegmentPlan& plan, const QString& folder, int threads,
                                       StepEnd* next) override;
    std::function<void()> BackgroundWork() override;
    StepEnd Checked() override;
    std::unique_ptr<CEncode> TakePiece() override;
    StepEnd Continue() override;
    QStringList LogNotes() const override;
    void Published() override;
    int Percent() const override;

    // How many times a second pass is done again at a lower rate before a file
    // over its budget fails.
    static constexpr int MaxRedos = 2;

    // The subtitle beside the setup's movie as a SubRip copy for request (its
    // profile and probed source set): burnt in, or a track of a container that
    // carries one. The copy is ffmpeg's to read while the returned value lives.
    static EncoderSubtitle PrepareSubtitle(const Setup& setup, FfmpegCommand::Request& request);
    // Gives the output the movie's modification time, so that a gallery sorts
    // it by when it was filmed rather than by when it was converted. A rename
    // keeps it. Nothing happens when either file cannot be reached.
    static void KeepFileTime(const QString& movie, const QString& output);

private:
    // Makes the command line of the pass in m_request, and the progress reader
    // for it: the pass's share of the job's percentage starts at firstPercent.
    void BuildStep(int firstPercent, int lastPercent);
    // The segmented job's next step: a piece, the join, or a wait for the
    // pieces other slots run.
    StepEnd NextPiece();
    std::unique_ptr<CSegmentPiece> MakePiece(int piece) const;

    const EncodeProfile m_profile;
    FfmpegCommand::Request m_request;
    // The UTF-8 copy of the subtitle, read by ffmpeg while the job runs.
    EncoderSubtitle m_subtitle;
    // The statistics of a two-pass encode.
    std::unique_ptr<QTemporaryDir> m_passDir;
    QString m_strCommandLine;
    int m_nRedos = 0;
    QString m_strFailure;

    // A segmented job's pieces, and the one its own step runs (null while it
    // waits); replaced between steps, when no reader runs.
    std::shared_ptr<CSegmentRun> m_pSegments;
    std::unique_ptr<CSegmentPiece> m_pPiece;
    // The pieces are being checked before the join, and were found whole.
    bool m_bChecking = false;
    bool m_bJoinReady = false;
    QStringList m_arrNotes;

    // Used by the runner's stdout thread while a step runs, and replaced
    // between steps, when no reader runs.
    std::unique_ptr<FfmpegCommand::ProgressReader> m_progress;
    int m_nFirstPercent = 0;
    int m_nLastPercent = 100;
};
