#include "FfmpegEncode.h"

#include "engine/CommandLine.h"
#include "engine/FailureReason.h"
#include "engine/SegmentPiece.h"
#include "engine/SegmentRun.h"
#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"
#include "subtitles/SubtitleLines.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

namespace {

// The first pass of a two-pass encode reads the movie fast: its share of the
// job's percentage.
constexpr int FirstPassPercent = 35;

} // namespace

void CFfmpegEncode::KeepFileTime(const QString& movie, const QString& output)
{
    struct stat source;
    if (::stat(QFile::encodeName(movie).constData(), &source) != 0)
        return;
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    ::utimensat(AT_FDCWD, QFile::encodeName(output).constData(), times, 0);
}

CFfmpegEncode::CFfmpegEncode(const EncodeProfile& profile, Setup setup)
    : CEncode(std::move(setup))
    , m_profile(profile)
{
}

CFfmpegEncode::~CFfmpegEncode() = default;

std::optional<QString> CFfmpegEncode::Prepare()
{
    const StreamFile& movie = m_setup.movie;
    m_request.profile = m_profile;
    m_request.strInput = movie.strFilePath;
    m_request.strOutput = m_setup.strOutput;
    m_request.bSampling = m_setup.bSampling;
    m_request.nThreads = m_setup.nThreads;
    m_request.source = ProbeMovieTiming(movie.strFilePath);
    if (const std::optional<QString> refusal = FfmpegCommand::Refusal(m_request))
        return refusal;

    if (m_profile.ullSizeBudget > 0) {
        // The whole movie's length sets the rate, also for a sample of it.
        const std::optional<FfmpegCommand::Budget> budget =
            FfmpegCommand::PlanBudget(m_profile, m_request.source);
        if (!budget) {
            if (!(m_request.source.dSeconds > 0))
                return QStringLiteral("The movie's length cannot be read, so it cannot be "
                                      "fitted into %1 MB.")
                    .arg(m_profile.BudgetText());
            return QStringLiteral("The movie is too long for %1 MB.").arg(m_profile.BudgetText());
        }
        m_request.nBudgetKbps = budget->nVideoKbps;
        m_request.profile.nWidth = budget->nMaxWidth;
        m_request.profile.nHeight = budget->nMaxHeight;
        m_passDir = std::make_unique<QTemporaryDir>();
        if (!m_passDir->isValid())
            return QStringLiteral("No temporary folder could be made for the two passes.");
        m_request.strPassLog = m_passDir->filePath(QStringLiteral("pass"));
        m_request.nPass = 1;
    }
    m_subtitle = PrepareSubtitle(m_setup, m_request);
    BuildStep(0, m_request.nPass == 1 ? FirstPassPercent : 100);
    return std::nullopt;
}

EncoderSubtitle CFfmpegEncode::PrepareSubtitle(const Setup& setup, FfmpegCommand::Request& request)
{
    const QString path = SubtitlePathFor(setup.movie);
    const bool burn = setup.bBurnSubtitle;
    if (path.isEmpty() || !(burn || request.profile.CarriesSubtitleTrack()))
        return EncoderSubtitle();
    SubtitleCopyOptions options;
    options.renderer = SubtitleRenderer::Libass;
    options.codePage = setup.nSubtitleCodePage;
    options.frameRate = request.source.dFrameRate;
    options.movieSeconds = request.source.dSeconds;
    // A player draws a track at its own size, and wraps it as it can.
    if (burn) {
        const FfmpegCommand::PictureSize picture = FfmpegCommand::OutputSize(request);
        options.lineHalfWidths =
            LineHalfWidths(FfmpegCommand::SubtitleGlyphPixels(picture), picture.width);
    }
    EncoderSubtitle copy = PrepareSubtitleCopy(path, options);
    if (!copy.pCopy)
        return copy;
    // The font draws the letters: their language where they tell one, else the
    // one the file's name carries ("Movie.ko.smi"), else the system's. The
    // track is tagged with the name's language first: a person chose it, and
    // letters cannot tell English from French.
    const QLocale::Language named = SubtitleNameLanguage(setup.movie.strFilePath, path);
    QLocale letters = QLocale::system();
    if (copy.language != QLocale::AnyLanguage)
        letters = QLocale(copy.language, copy.script, QLocale::AnyTerritory);
    else if (named != QLocale::AnyLanguage)
        letters = QLocale(named);
    const QLocale track = named != QLocale::AnyLanguage ? QLocale(named) : letters;
    FfmpegCommand::Subtitle subtitle;
    subtitle.strPath = copy.strPath;
    subtitle.bBurn = burn;
    subtitle.strFont = FfmpegCommand::SubtitleFontFamily(letters);
    subtitle.strLanguage = FfmpegCommand::SubtitleLanguageCode(track, request.profile.container);
    request.subtitle = subtitle;
    return copy;
}

void CFfmpegEncode::BuildStep(int firstPercent, int lastPercent)
{
    m_strCommandLine = QuotedCommandLine(m_setup.strProgram, FfmpegCommand::Arguments(m_request));
    m_progress = std::make_unique<FfmpegCommand::ProgressReader>(
        FfmpegCommand::ExpectedMicroseconds(m_request.source, m_request.bSampling));
    m_nFirstPercent = firstPercent;
    m_nLastPercent = lastPercent;
    SetPercent(firstPercent);
}

bool CFfmpegEncode::ReadOutput(std::string_view chunk)
{
    if (m_pSegments)
        return m_pPiece && m_pPiece->ReadOutput(chunk);
    if (const std::optional<int> percent = m_progress->Feed(chunk))
        SetPercent(m_nFirstPercent + *percent * (m_nLastPercent - m_nFirstPercent) / 100);
    // Standard output carries nothing but the progress records.
    return false;
}

CEncode::StepEnd CFfmpegEncode::StepSucceeded(std::uint64_t outputBytes)
{
    if (m_pSegments && m_pPiece) {
        const bool join = m_pPiece->Piece() == m_pSegments->JoinPiece();
        if (m_pPiece->StepSucceeded(outputBytes) == StepEnd::Failed) {
            m_strFailure = m_pPiece->StepFailure();
            return StepEnd::Failed;
        }
        if (!join)
            return NextPiece();
        KeepFileTime(m_setup.movie.strFilePath, m_setup.strOutput);
        return StepEnd::Done;
    }
    if (m_request.nPass == 1) {
        m_request.nPass = 2;
        BuildStep(FirstPassPercent, 100);
        return StepEnd::NextStep;
    }
    const std::uint64_t budget = m_profile.ullSizeBudget;
    if (budget > 0 && outputBytes > budget && m_nRedos < MaxRedos) {
        // The encoder missed its aim: the second pass again, at the rate that
        // would have met the budget, less a little more.
        ++m_nRedos;
        m_request.nBudgetKbps = std::max(
            1, static_cast<int>(m_request.nBudgetKbps * (double(budget) / outputBytes) * 0.97));
        BuildStep(FirstPassPercent, 100);
        return StepEnd::NextStep;
    }
    KeepFileTime(m_setup.movie.strFilePath, m_setup.strOutput);
    return StepEnd::Done;
}

QString CFfmpegEncode::StepOutput() const
{
    return m_pPiece ? m_pPiece->GetSetup().strOutput : m_setup.strOutput;
}

std::optional<FfmpegCommand::Request>
CFfmpegEncode::SegmentRequest(const SegmentLimits& limits) const
{
    if (WholeBecause(m_request, limits) != SegmentPlan::Whole::No)
        return std::nullopt;
    return m_request;
}

std::optional<QString> CFfmpegEncode::UseSegments(const SegmentPlan& plan, const QString& folder,
                                                  int threads, StepEnd* next)
{
    *next = StepEnd::NextStep;
    if (!plan.IsSegmented()) {
        m_arrNotes = {QStringLiteral("Segments: %1").arg(DescribePlan(plan))};
        return std::nullopt;
    }
    FfmpegCommand::Request request = m_request;
    request.nThreads = threads;
    auto segments = std::make_shared<CSegmentRun>(request, plan, folder, m_setup.strProgram);
    QString error;
    if (!segments->Open(&error))
        return error;
    m_pSegments = std::move(segments);
    *next = NextPiece();
    return std::nullopt;
}

std::unique_ptr<CSegmentPiece> CFfmpegEncode::MakePiece(int piece) const
{
    Setup setup = m_setup;
    setup.strOutput = m_pSegments->OutputOf(piece);
    return std::make_unique<CSegmentPiece>(std::move(setup), m_pSegments, piece);
}

CEncode::StepEnd CFfmpegEncode::NextPiece()
{
    m_pPiece.reset();
    const int piece = m_pSegments->TakePiece();
    if (piece >= 0) {
        m_pPiece = MakePiece(piece);
        m_strCommandLine = m_pPiece->CommandLine();
        return StepEnd::NextStep;
    }
    if (m_pSegments->Running() > 0)
        return StepEnd::Wait;
    if (!m_bJoinReady) {
        m_bChecking = true;
        return StepEnd::Check;
    }
    // The join: the last piece, into the output.
    m_pSegments->TakeJoin();
    m_pPiece = MakePiece(m_pSegments->JoinPiece());
    m_strCommandLine = m_pPiece->CommandLine();
    return StepEnd::NextStep;
}

std::function<void()> CFfmpegEncode::BackgroundWork()
{
    return [segments = m_pSegments] { segments->CheckPieces(); };
}

CEncode::StepEnd CFfmpegEncode::Checked()
{
    m_bChecking = false;
    std::optional<QString> problem;
    if (m_pSegments->AfterCheck(&problem))
        return NextPiece();
    if (problem) {
        m_strFailure = *problem;
        return StepEnd::Failed;
    }
    m_bJoinReady = true;
    return NextPiece();
}

std::unique_ptr<CEncode> CFfmpegEncode::TakePiece()
{
    if (!m_pSegments)
        return nullptr;
    const int piece = m_pSegments->TakePiece();
    return piece < 0 ? nullptr : MakePiece(piece);
}

CEncode::StepEnd CFfmpegEncode::Continue()
{
    return m_pSegments && !m_pPiece && !m_bChecking ? NextPiece() : StepEnd::Wait;
}

QStringList CFfmpegEncode::LogNotes() const
{
    return m_pSegments ? m_pSegments->Notes() : m_arrNotes;
}

void CFfmpegEncode::Published()
{
    if (m_pSegments)
        m_pSegments->Remove();
}

int CFfmpegEncode::Percent() const
{
    return m_pSegments ? m_pSegments->Percent() : CEncode::Percent();
}
