#pragma once

#include "engine/EncodeProfile.h"
#include "engine/FfmpegCommand.h"
#include "engine/SegmentPlan.h"
#include "jobs/StreamFile.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include <QString>
#include <QStringList>

// An encode: the encoder's work on one job of a run (a row of the job list),
// as its encoder program sees it. What differs between the encoders sits here,
// behind one small interface, and in the back end's row of Backends.h; the
// run, its slots, the naming, the log and the output check never ask which
// encoder runs. An encode is one or more steps, each one run of the encoder (a
// two-pass encode has two); the slot runs them one after another. Made on the UI thread
// (MakeEncode) and used there, but for ReadOutput, which the runner's stdout thread calls.
class CEncode
{
public:
    // What the run hands every job.
    struct Setup
    {
        StreamFile movie;
        QString strOutput;
        // The encoder program and its image name (/proc/<pid>/comm).
        QString strProgram;
        bool bSampling = false;
        // Draw the subtitle beside the movie into the picture; otherwise a
        // container that carries subtitle tracks gets it as a track.
        bool bBurnSubtitle = true;
        // Threads the encoder may use; 0 for its own choice.
        int nThreads = 0;
        // The code page a subtitle that is not Unicode is read in; 0 has its
        // charset detected (SubtitleCopyOptions::codePage).
        int nSubtitleCodePage = 0;
    };

    // The encoder's verdict on a step that ended.
    enum class StepEnd
    {
        NextStep, // another step runs: CommandLine() gives it
        Done,     // the job's encoding is over; the run checks the output
        Wait,     // nothing to run until the job's other pieces end (Continue)
        Failed,   // what the step made is not of use: StepFailure says why
        Check,    // BackgroundWork first, off the UI thread; then Checked
    };

    explicit CEncode(Setup setup);
    virtual ~CEncode();
    CEncode(const CEncode&) = delete;
    CEncode& operator=(const CEncode&) = delete;

    const Setup& GetSetup() const { return m_setup; }

    // The subtitle beside the movie as the job list finds it (FindSubtitleFile);
    // empty when the job has no subtitle or it has gone since.
    static QString SubtitlePathFor(const StreamFile& movie);

    // Readies the first step: the subtitle copy, the movie's probe, the command
    // line. A job that cannot be encoded this way says why in plain words
    // ("The movie is too long for 25 MB."), and no encoder is started for it.
    virtual std::optional<QString> Prepare() = 0;

    // The complete process command line of the step to run now (the quoted
    // program path, then the arguments).
    virtual QString CommandLine() const = 0;

    // A chunk of the encoder's standard output, on the runner's stdout thread:
    // moves the percentage on. Returns whether the chunk may hold lines worth
    // keeping for a failure's reason (an encoder that prints only progress on
    // its standard output keeps none from there).
    virtual bool ReadOutput(std::string_view chunk) = 0;

    // The step's encoder exited with code 0 (the run handles every other end).
    // outputBytes: the size of the output file now.
    virtual StepEnd StepSucceeded(std::uint64_t outputBytes) = 0;

    // What the whole-movie check expects of the output, beyond a movie of the
    // input's length: a size it must stay within (0: none). A job over its
    // budget after its last step has failed.
    virtual std::uint64_t SizeBudget() const { return 0; }

    // Why the last step Failed, in plain words.
    virtual QString StepFailure() const { return QString(); }
    // The file the current step writes: the output, or a piece of it.
    virtual QString StepOutput() const { return m_setup.strOutput; }

    // A long movie may be encoded in segments (SegmentPlan). After Prepare:
    // the request whose movie's key frames decide it, when the profile and the
    // movie allow segments with these limits; nothing for a whole encode.
    virtual std::optional<FfmpegCommand::Request> SegmentRequest(const SegmentLimits&) const
    {
        return std::nullopt;
    }
    // The plan made from the key frames (off the UI thread): a segmented plan
    // turns the job into its pieces, kept in folder, each run given threads;
    // next: what the job does first. Why it cannot (the folder cannot be
    // written); a whole plan changes nothing (next: its first step).
    virtual std::optional<QString> UseSegments(const SegmentPlan&, const QString& /*folder*/,
                                               int /*threads*/, StepEnd* next)
    {
        *next = StepEnd::NextStep;
        return std::nullopt;
    }
    // The work a Check asks for: it reads and writes only what it holds, so
    // that it may run on another thread while the job lasts or after it ended.
    virtual std::function<void()> BackgroundWork() { return {}; }
    // That work is done: what the job does now.
    virtual StepEnd Checked() { return StepEnd::Wait; }
    // A piece of the job that another slot may encode now, as an encode of its
    // own; null when none waits.
    virtual std::unique_ptr<CEncode> TakePiece() { return nullptr; }
    // The job Waits for its other pieces and one of them ended: what to do now.
    virtual StepEnd Continue() { return StepEnd::Wait; }
    // The lines the run's log adds for the job (its segments).
    virtual QStringList LogNotes() const { return {}; }
    // The output is finished and has its name: what the job kept to make it
    // may go.
    virtual void Published() {}

    // The job's percentage, 0 to 100 over all of its steps; any thread.
    virtual int Percent() const { return m_nPercent.load(std::memory_order_relaxed); }
    void SetPercent(int percent) { m_nPercent.store(percent, std::memory_order_relaxed); }

protected:
    const Setup m_setup;

private:
    std::atomic<int> m_nPercent{0};
};

// The job of the profile's back end (its row in Backends.h).
std::unique_ptr<CEncode> MakeEncode(const EncodeProfile& profile, CEncode::Setup setup);
