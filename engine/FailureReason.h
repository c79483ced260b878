#pragma once

#include "engine/Redirect.h"

#include <cstdint>
#include <optional>
#include <span>

#include <QString>
#include <QStringList>

// A cause of failure that an encoder's line names: a line that holds words
// says that sentence is why.
struct EncoderCause
{
    const char* words;
    const char* sentence;
};

// The sentence of the causes tables of both encoders (MencoderCauses,
// FfmpegCauses) for a movie they cannot read.
inline constexpr char DamagedMovieCause[] =
    "The movie cannot be read: it is damaged or of an unknown kind.";

// Why a job of the run failed, in words a user can act on: the cause in plain
// words where the encoder's lines name one, a headline of the program's own (the
// exit code or signal, an encoder that could not be started, an encode that left
// no movie, a job that could not start) and the encoder's own lines that say
// most.
class CFailureReason final
{
public:
    // What the encoder left at the output path.
    enum class Output
    {
        Written,
        Missing,
        Empty
    };

    // How many of the encoder's lines a reason shows, and how long each may be.
    static constexpr int MaxShownLines = 6;
    static constexpr int MaxShownLineLength = 160;

    // The reason a job failed, or nothing when it did not: a job fails when its
    // encoder did not exit with 0, left no movie or says it wrote no picture.
    // kept: the encoder's last lines (COutputTail); the cause is the one causes
    // (its back end's table, BackendInfo::causes) names for them.
    static std::optional<CFailureReason> ForEnd(const ChildExit& exit, Output output,
                                                const QStringList& kept,
                                                std::span<const EncoderCause> causes);
    // The encoder exited 0 but its output is not a whole movie; problem: what the
    // output check found (COutputCheck::Problem), the headline. When the output
    // folder's disk is full, that is the cause; else the one causes names.
    static CFailureReason ForIncompleteOutput(const QString& problem, bool diskFull,
                                              const QStringList& kept,
                                              std::span<const EncoderCause> causes);
    // Whether the encoder says a write failed for want of space.
    static bool SaysDiskFull(const QStringList& kept);
    // The encoder could not be started; error: the system's description.
    static CFailureReason NotStarted(const QString& encoderPath, const QString& error);
    // The job could not start (its movie or its output folder): why, in the
    // program's words, and what else tells it.
    static CFailureReason BeforeStart(const QString& why, const QStringList& lines = {});

    // The sentence of the first entry of causes whose words a line holds; empty
    // when none does.
    static QString CauseIn(const QStringList& lines, std::span<const EncoderCause> causes);
    // When the output folder's disk is full, that is the cause.
    static constexpr char DiskFullCause[] = "The output folder's disk is full.";

    // The output is a whole movie but bytes long, over the budget it had to
    // keep.
    static CFailureReason OverBudget(std::uint64_t bytes, std::uint64_t budget,
                                     const QStringList& kept);

    // Whether the encoder's closing summary says the video stream got 0 bytes.
    static bool WroteNoPicture(const QStringList& kept);
    // Whether an encoder line reads like an error ("Cannot open file/device.",
    // "Exiting...", "... failed", "Error while decoding frame!", ...).
    static bool LooksLikeError(const QString& line);
    // The lines a reason shows: the last error-looking ones, or when there are
    // none the last lines; at most MaxShownLines, each without the "====" frames
    // the encoder puts round some messages and cut to MaxShownLineLength.
    static QStringList PickLines(const QStringList& kept);

    // The cause in plain words ("The movie file is gone or cannot be read.");
    // empty when the lines name none.
    const QString& Cause() const { return m_strCause; }
    void SetCause(const QString& cause) { m_strCause = cause; }
    // "The encoder ended with exit code 1.", "... was ended by signal 11
    // (Segmentation fault).", "... exited with code 0 but left an empty output
    // file.", ...
    const QString& Headline() const { return m_strHeadline; }
    const QStringList& EncoderLines() const { return m_arrLines; }
    // The cause, the headline, then the encoder lines, one per line: the status
    // cell's tooltip. The first lines are always the program's own words, so
    // that no encoder text is ever taken for markup.
    QString Details() const;
    // The cause and the headline on one line: how the run log ends the job.
    QString OneLine() const;
    // One short sentence: the cause, else the last error line other than
    // "Exiting...", else the headline.
    QString Summary() const;

private:
    CFailureReason(QString cause, QString headline, QStringList lines);

    QString m_strCause;
    QString m_strHeadline;
    QStringList m_arrLines;
};
