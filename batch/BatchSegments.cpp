#include "BatchSegments.h"

#include "engine/FailureReason.h"
#include "engine/FfmpegEncode.h"
#include "engine/OutputCheck.h"
#include "engine/RunOutputs.h"
#include "engine/SegmentCommand.h"
#include "engine/SegmentWork.h"
#include "engine/StartChecks.h"
#include "jobs/MediaProbe.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>

namespace {

// How many of ffmpeg's last lines are kept for a failure's reason.
constexpr int KeptLines = 40;

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString Seconds(const QElapsedTimer& clock)
{
    return QStringLiteral("%1 s").arg(qRound(double(clock.elapsed()) / 1000.0));
}

} // namespace

CBatchSegments::CBatchSegments(const BatchOptions& options, const RunPlan& plan, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_plan(plan)
{
}

CBatchSegments::~CBatchSegments() = default;

void CBatchSegments::StopForQuit(int signal)
{
    if (m_nSignal == 0)
        m_nSignal = signal;
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->terminate();
}

int CBatchSegments::Fail(const Failure& failure)
{
    Print(stderr, BatchOptions::Complaint(failure.strText));
    return failure.nExitCode;
}

std::optional<CBatchSegments::Failure> CBatchSegments::PrepareRequest()
{
    const QString given = m_options.arrPaths.front();
    const QString movie = QDir::cleanPath(QFileInfo(given).absoluteFilePath());
    if (const std::optional<QString> problem = StartChecks::MovieProblem(movie))
        return Failure{2, QStringLiteral("cannot encode '%1': %2").arg(given, *problem)};
    m_request.profile = m_plan.profile;
    m_request.strInput = movie;
    m_request.source = ProbeMovieTiming(movie);
    if (m_plan.profile.backend != EncodeProfile::Backend::Ffmpeg)
        return std::nullopt;
    if (const std::optional<QString> refusal = FfmpegCommand::Refusal(m_request))
        return Failure{1, QStringLiteral("cannot encode '%1': %2").arg(given, *refusal)};

    // The subtitle beside the movie, burnt into every segment or added as a
    // track at the join, as an encode of the whole movie takes it.
    CEncode::Setup setup;
    setup.movie = ProbeMovieJob(movie);
    setup.bBurnSubtitle = m_plan.bBurnSubtitle;
    setup.nSubtitleCodePage = m_plan.nSubtitleCodePage;
    m_subtitle = CFfmpegEncode::PrepareSubtitle(setup, m_request);
    return std::nullopt;
}

int CBatchSegments::Run()
{
    using Step = BatchOptions::SegmentStep;
    if (const std::optional<Failure> failure = PrepareRequest())
        return Fail(*failure);
    const QString& given = m_options.arrPaths.front();
    SegmentPlan plan = PlanMovieSegments(m_request, m_options.segmentLimits);
    if (!plan.IsSegmented()) {
        if (m_options.segmentStep == Step::Plan) {
            Print(stderr, BatchOptions::Complaint(
                              QStringLiteral("'%1': %2").arg(given, DescribePlan(plan))));
            Print(stdout, QStringLiteral("0\n"));
            return 0;
        }
        return Fail({2, QStringLiteral("'%1': %2 (encode it without --segments)")
                            .arg(given, DescribePlan(plan))});
    }
    if (m_options.segmentStep == Step::Segment && m_options.nSegment > plan.Count())
        return Fail({2, QStringLiteral("there is no segment %1: '%2' has %3 segments")
                            .arg(m_options.nSegment)
                            .arg(given)
                            .arg(plan.Count())});

    CSegmentWork work(m_options.strWorkDir, m_request, plan);
    if (m_options.segmentStep != Step::Plan) {
        // Only the plan starts a work folder over: a task beside others must
        // not remove what they made, nor add pieces of another movie.
        switch (work.Inspect()) {
        case CSegmentWork::Stored::Nothing:
            return Fail({2, QStringLiteral("no plan in the work folder '%1' (run --segments "
                                           "plan first)")
                                .arg(m_options.strWorkDir)});
        case CSegmentWork::Stored::Other:
            return Fail({1, QStringLiteral("the work folder '%1' was planned for another movie, "
                                           "preset or segment length, or '%2' has changed since: "
                                           "run --segments plan again")
                                .arg(m_options.strWorkDir, given)});
        case CSegmentWork::Stored::Same:
            break;
        }
    }
    QString error;
    if (!work.Open(&error))
        return Fail({1, error});

    switch (m_options.segmentStep) {
    case Step::Plan:
        Print(stderr,
              BatchOptions::Complaint(
                  QStringLiteral("'%1': %2 in '%3'%4")
                      .arg(given, DescribePlan(plan), m_options.strWorkDir,
                           work.ReusedCount() > 0
                               ? QStringLiteral(", %1 finished already").arg(work.ReusedCount())
                               : QString())));
        Print(stdout, QStringLiteral("%1\n").arg(plan.Count()));
        return 0;
    case Step::Segment:
    case Step::Sound:
        return Piece(plan, work);
    case Step::Join:
        return Join(work);
    case Step::None:
        break;
    }
    return 2;
}

int CBatchSegments::Piece(const SegmentPlan& plan, CSegmentWork& work)
{
    const bool sound = m_options.segmentStep == BatchOptions::SegmentStep::Sound;
    const int index = m_options.nSegment - 1;
    const QString& given = m_options.arrPaths.front();
    const QString what = sound ? QStringLiteral("the sound of '%1'").arg(given)
                               : QStringLiteral("segment %1 of %2 of '%3'")
                                     .arg(index + 1)
                                     .arg(plan.Count())
                                     .arg(given);
    if (sound && m_request.source.nAudioStream < 0) {
        Print(stdout, QStringLiteral("'%1' has no sound: nothing to encode\n").arg(given));
        return 0;
    }
    if (sound ? work.IsSoundFinished() : work.IsFinished(index)) {
        Print(stdout, QStringLiteral("%1 is finished already\n").arg(what));
        return 0;
    }
    // A name of this process's own (PartPath), so that two tasks given the same
    // piece never write one file.
    const QString part = sound ? work.SoundPartPath() : work.PartPath(index);
    QElapsedTimer clock;
    clock.start();
    QStringList lines;
    const int exitCode =
        RunEncoder(sound ? SegmentCommand::SoundArguments(m_request, part)
                         : SegmentCommand::SegmentArguments(m_request, plan, index, part),
                   &lines);
    if (exitCode != 0 || m_nSignal != 0) {
        QFile::remove(part);
        return EncoderFailed(what, exitCode, lines);
    }
    if (const std::optional<QString> problem = sound ? work.FinishSound() : work.Finish(index))
        return Fail({1, *problem});
    Print(stdout, QStringLiteral("finished %1 in %2\n").arg(what, Seconds(clock)));
    return 0;
}

int CBatchSegments::Join(CSegmentWork& work)
{
    const QString& given = m_options.arrPaths.front();
    // Every piece is checked before the output's name is touched.
    SegmentCommand::JoinPieces pieces;
    if (const std::optional<QString> problem = work.CheckJoin(pieces))
        return Fail({1, QStringLiteral("cannot join '%1': %2").arg(given, *problem)});

    // The output is named, claimed, checked and published as a batch job's.
    RunPlan run = m_plan;
    const StreamFile movie = ProbeMovieJob(m_request.strInput);
    run.SetJobs({movie});
    if (const std::optional<QString> problem = run.OutputFolderProblem())
        return Fail({1, *problem});
    CRunOutputs outputs;
    outputs.Start(run);
    CRunOutputs::Readied ready = outputs.Ready(0);
    if (ready.failure)
        return Fail(
            {1, QStringLiteral("cannot join '%1': %2").arg(given, ready.failure->Details())});
    if (!ready.claim) {
        const bool writing = ready.held == COutputClaim::Found::Claim;
        Print(stdout, QStringLiteral("skipped '%1': %2 %3\n")
                          .arg(given, outputs.Paths().front(),
                               writing ? QStringLiteral("is being written by another process")
                                       : QStringLiteral("exists already")));
        return 0;
    }
    QElapsedTimer clock;
    clock.start();
    FfmpegCommand::Request request = m_request;
    request.strOutput = ready.claim->TempPath();
    QStringList lines;
    const int exitCode = RunEncoder(SegmentCommand::JoinArguments(request, pieces), &lines);
    if (exitCode != 0 || m_nSignal != 0)
        return EncoderFailed(QStringLiteral("the join of '%1'").arg(given), exitCode, lines);
    const double seconds = COutputCheck::InputSeconds(movie, m_request.source);
    if (const std::optional<QString> problem =
            COutputCheck::Problem(ProbeMovieContent(request.strOutput),
                                  COutputCheck::ExpectedSeconds(seconds, false), false))
        return Fail(
            {1, QStringLiteral("the join of '%1' is not a whole movie: %2").arg(given, *problem)});
    CFfmpegEncode::KeepFileTime(m_request.strInput, request.strOutput);
    QString error;
    if (!ready.claim->Publish(&error))
        return Fail({1, QStringLiteral("the finished movie could not be given its name %1: %2")
                            .arg(ready.claim->Path(), error)});
    // The output is whole: the pieces are of no more use.
    work.Remove();
    Print(stdout, QStringLiteral("finished '%1' -> %2 in %3\n")
                      .arg(given, ready.claim->Path(), Seconds(clock)));
    return 0;
}

int CBatchSegments::RunEncoder(const QStringList& arguments, QStringList* lines)
{
    if (m_nSignal != 0)
        return -1;
    QProcess process;
    // The progress records are not shown: each step is one line in a log.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProgram(m_plan.Encoder().strPath);
    process.setArguments(arguments);
    QByteArray errors;
    QEventLoop loop;
    connect(&process, &QProcess::readyReadStandardError, &loop, [&] {
        errors += process.readAllStandardError();
        // Only the end is worth keeping.
        if (errors.size() > 64 * 1024)
            errors = errors.right(32 * 1024);
    });
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    m_process = &process;
    process.start();
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    m_process = nullptr;
    errors += process.readAllStandardError();
    *lines = QString::fromLocal8Bit(errors).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines->size() > KeptLines)
        *lines = lines->mid(lines->size() - KeptLines);
    if (process.error() == QProcess::FailedToStart) {
        lines->prepend(QStringLiteral("%1 cannot be started: %2")
                           .arg(process.program(), process.errorString()));
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int CBatchSegments::EncoderFailed(const QString& what, int exitCode, const QStringList& lines)
{
    if (m_nSignal != 0) {
        Print(stdout, QStringLiteral("stopped %1\n").arg(what));
        return 128 + m_nSignal;
    }
    const QString cause = CFailureReason::CauseIn(lines, FfmpegCauses);
    QString text =
        QStringLiteral("%1 failed: %2")
            .arg(what, !cause.isEmpty() ? cause
                       : exitCode < 0
                           ? QStringLiteral("the encoder crashed or could not start.")
                           : QStringLiteral("the encoder ended with exit code %1.").arg(exitCode));
    for (const QString& line : CFailureReason::PickLines(lines))
        text += QStringLiteral("\n  ") + line;
    return Fail({1, text});
}
