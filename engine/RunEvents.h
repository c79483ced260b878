#pragma once

#include "engine/FailureReason.h"
#include "jobs/JobStatus.h"

#include <optional>

#include <QString>

// How a job of a run ended, as the run's JobEnded event tells it.
struct JobEnd
{
    // Finished, Failed, Stopped or Skipped.
    JobState state = JobState::Finished;
    // Why a Failed job failed.
    std::optional<CFailureReason> failure;
    // Why a Skipped job was left out: its output's name was in use
    // (COutputClaim::InUseReason).
    QString strSkipReason;

    // What the job's row says besides its status (the status cell's tooltip):
    // the failure's details, or why it was left out; empty otherwise.
    QString Reason() const { return failure ? failure->Details() : strSkipReason; }
};

// How a run ended, as the run's RunEnded event tells it.
struct RunEnd
{
    enum class Way
    {
        // It went through its jobs.
        Finished,
        // The Stop button (CEncodingRun::Stop).
        Stopped,
        // Clipvane is to quit (CEncodingRun::StopForQuit).
        StoppedForQuit,
        // An encoder could not be started: no further job started.
        EncoderNotStarted
    };
    Way way = Way::Finished;
    // The jobs of the run that finished and that failed.
    int nFinished = 0;
    int nFailed = 0;
    // Why an encoder could not be started: "Unable to start <program>".
    QString strWhy;
    // "<file> failed: <why>" for the last job that failed.
    QString strLastFailure;

    bool Stopped() const { return way == Way::Stopped || way == Way::StoppedForQuit; }
    // The jobs that were encoded or failed to be.
    int Ended() const { return nFinished + nFailed; }

    // The finish message's first line, which the desktop's notification says
    // too.
    static inline const QString FinishedText = QStringLiteral("Encoding Finished !!");
    // "1 of 3 files failed.": the line under it when jobs failed, and the end
    // of the run's log.
    QString FailedFilesText() const
    {
        return QStringLiteral("%1 of %2 files failed.").arg(nFailed).arg(Ended());
    }
    // The message the window shows at the end: FinishedText, then
    // FailedFilesText when jobs failed and the last failure when one did; or
    // why an encoder could not be started; nothing after a Stop.
    QString Message() const
    {
        if (way == Way::EncoderNotStarted)
            return strWhy;
        if (way != Way::Finished)
            return QString();
        QString message = FinishedText;
        if (nFailed > 0)
            message += QLatin1Char('\n') + FailedFilesText();
        if (nFailed == 1)
            message += QLatin1Char('\n') + strLastFailure;
        return message;
    }
};
