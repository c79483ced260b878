#pragma once

#include "engine/Redirect.h"

#include <cstdint>
#include <optional>

#include <QString>
#include <QStringList>

// Why a job of the run failed, in words a user can act on: a headline of the
// program's own (the exit code or signal, an encoder that could not be started,
// an encode that left no movie) and the encoder's own lines that say most.
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
    // kept: the encoder's last lines (COutputTail).
    static std::optional<CFailureReason> ForEnd(const ChildExit& exit, Output output,
                                                const QStringList& kept);
    // The encoder exited 0 but its output is not a whole movie; problem: what the
    // output check found (COutputCheck::Problem). When the output folder's disk
    // is full, that is the headline and the problem the first line under it.
    static CFailureReason ForIncompleteOutput(const QString& problem, bool diskFull,
                                              const QStringList& kept);
    // Whether the encoder says a write failed for want of space.
    static bool SaysDiskFull(const QStringList& kept);
    // The encoder could not be started; error: the system's description.
    static CFailureReason NotStarted(const QString& encoderPath, const QString& error);

    // The job's encoder refused it before any encoder ran; why: its sentence.
    static CFailureReason Refused(const QString& why);
    // The output is a whole movie but bytes long, over the budget it had to
    // keep.
    static CFailureReason OverBudget(std::uint64_t bytes, std::uint64_t budget,
                                     const QStringList& kept);

    // Puts a sentence that names the cause in plain words (CEncoderJob::
    // PlainReason) in front: it becomes the headline, the headline the first
    // line under it. Nothing changes without one.
    void SetPlainReason(const std::optional<QString>& sentence);

    // Whether the encoder's closing summary says the video stream got 0 bytes.
    static bool WroteNoPicture(const QStringList& kept);
    // Whether an encoder line reads like an error ("Cannot open file/device.",
    // "Exiting...", "... failed", "Error while decoding frame!", ...).
    static bool LooksLikeError(const QString& line);
    // The lines a reason shows: the last error-looking ones, or when there are
    // none the last lines; at most MaxShownLines, each without the "====" frames
    // the encoder puts round some messages and cut to MaxShownLineLength.
    static QStringList PickLines(const QStringList& kept);

    // "The encoder ended with exit code 1.", "... was ended by signal 11
    // (Segmentation fault).", "... exited with code 0 but left an empty output
    // file.", ...
    const QString& Headline() const { return m_strHeadline; }
    const QStringList& EncoderLines() const { return m_arrLines; }
    // The headline, then the encoder lines, one per line: the status cell's
    // tooltip. The first line is always the headline, the program's own words,
    // so that no encoder text is ever taken for markup.
    QString Details() const;
    // One short sentence: the last error line other than "Exiting...", else the
    // headline.
    QString Summary() const;

private:
    CFailureReason(QString headline, QStringList lines);

    QString m_strHeadline;
    QStringList m_arrLines;
};
