#include "test_run_support.h"

#include "engine/OutputNamer.h"
#include "engine/Presets.h"
#include "engine/StoredSettings.h"
#include "shell/AppFolder.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>

const std::vector<InputKind> InputKinds = {
    {"mpeg4 without b-frames.avi", {"-c:v", "mpeg4", "-bf", "0", "-c:a", "libmp3lame"}},
    {"mpeg4 with b-frames.avi", {"-c:v", "mpeg4", "-bf", "2", "-c:a", "libmp3lame"}},
    {"motion jpeg.avi", {"-c:v", "mjpeg", "-c:a", "pcm_s16le"}},
    {"program stream.mpg", {}},
    {"dvd.vob", {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob"}},
    {"windows media.wmv", {"-c:v", "wmv2", "-c:a", "wmav2"}},
    {"matroska h264.mkv", {"-c:v", "libx264", "-c:a", "aac"}},
    {"h264.mp4", {"-c:v", "libx264", "-c:a", "aac"}},
    // What phones and cameras record.
    {"phone h264.mov", {"-c:v", "libx264", "-c:a", "aac"}},
    {"phone h265.m4v",
     {"-c:v", "libx265", "-x265-params", "log-level=error", "-tag:v", "hvc1", "-c:a", "aac", "-f",
      "mp4"}},
    {"phone h263.3gp", {"-c:v", "h263", "-s", "352x288", "-c:a", "aac", "-ar", "8000", "-ac", "1"}},
    {"camera h264.mts", {"-c:v", "libx264", "-c:a", "ac3", "-mpegts_m2ts_mode", "1"}},
    {"disc h264.m2ts", {"-c:v", "libx264", "-c:a", "ac3"}},
    {"broadcast mpeg2.ts", {"-c:v", "mpeg2video", "-c:a", "mp2"}},
    {"stream h264.ts", {"-c:v", "libx264", "-c:a", "aac"}},
    {"web vp9.webm", {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-c:a", "libopus"}},
};

QStringList InputKindArgs(const char* name)
{
    for (const InputKind& kind : InputKinds) {
        if (QLatin1String(kind.name) == QLatin1String(name))
            return kind.args;
    }
    ADD_FAILURE() << "no input kind " << name;
    return {};
}

QString LatestRunLog(const ScopedTempHome& home)
{
    const QDir logs(home.StateDir() + "/Tolva/Clipvane/logs");
    const QStringList names = logs.entryList({"*.log"}, QDir::Files, QDir::Name);
    return names.isEmpty() ? QString()
                           : QString::fromUtf8(MediaFactory::ReadFile(logs.filePath(names.back())));
}

RunPlan TestPlan(const QString& folder, const EncoderTool& encoder, const QString& preset,
                 int parallel)
{
    RunPlan plan;
    plan.profile = preset.isEmpty() ? Presets::PocketPcNormal() : *Presets::Find(preset);
    plan.strOutputDir = folder;
    plan.nCores = StoredSettings::CoreCount();
    StoredSettings settings;
    settings.nParallel = DWORD(parallel);
    const RunPlan::Arrangement arrangement = RunPlan::Arrange(plan.profile, settings, plan.nCores);
    plan.nEncodesAtOnce = arrangement.nEncodesAtOnce;
    plan.nThreadsPerEncoder = arrangement.nThreadsPerEncoder;
    for (const BackendInfo& backend : Backends::All())
        plan.tools[backend.id] = encoder;
    return plan;
}

void FakeForm::AddJob(const QString& path, std::uint64_t size, bool hasSubtitle)
{
    StreamFile job;
    job.strFilePath = path;
    job.strFileName = PathFileName(path);
    job.dwFileSize = size;
    job.bHasSubtitle = hasSubtitle;
    m_jobs.push_back(job);
}

void FakeForm::Listen(CEncodingRun& run)
{
    QObject::connect(&run, &CEncodingRun::JobStarted, [this](int index, const QString& output) {
        m_outputs[index] = output;
        SetStatus(index, JobState::Encoding, QString());
    });
    QObject::connect(&run, &CEncodingRun::JobProgress,
                     [this](int index, int percent) { m_rowProgress[index].push_back(percent); });
    QObject::connect(&run, &CEncodingRun::JobEnded, [this](int index, const JobEnd& end) {
        SetStatus(index, end.state, end.Reason());
    });
    QObject::connect(
        &run, &CEncodingRun::RunProgress,
        [this](const CProgressTally::Reading& reading) { m_progress.push_back(reading); });
    QObject::connect(&run, &CEncodingRun::RunEnded, [this, &run](const RunEnd& end) {
        m_ends.push_back(end);
        if (!end.Message().isEmpty()) {
            m_messages << end.Message();
            m_events << QStringLiteral("message ") + end.Message();
        }
        if (!run.IncompleteOutputs().isEmpty())
            run.SettleIncompleteOutputs(
                Ask(OutputNamer::IncompleteOutputsQuestion(run.IncompleteOutputs())));
    });
}

bool FakeForm::Start(CEncodingRun& run, RunPlan plan)
{
    if (const std::optional<QString> problem = plan.OutputFolderProblem()) {
        m_messages << *problem;
        m_events << QStringLiteral("message ") + *problem;
        return false;
    }
    plan.SetJobs(m_jobs);
    const QStringList existing = plan.ExistingOutputs();
    if (!existing.isEmpty()) {
        if (!Ask(OutputNamer::ExistingOutputsQuestion(existing)))
            return false;
        plan.ReplaceExisting(existing);
    }
    return run.Start(std::move(plan));
}

bool FakeForm::Ask(const QString& question)
{
    m_questions << question;
    m_events << QStringLiteral("question ") + question;
    if (m_answers.empty())
        return m_bDefaultAnswer;
    const bool answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void FakeForm::SetStatus(int index, JobState state, const QString& reason)
{
    const QString status = JobStatus::Text(state);
    m_statusHistory[index] << status;
    m_rowProgress[index].push_back(-1);
    m_reasons[index] = reason;
    m_events << QStringLiteral("status %1 %2").arg(index).arg(status);
    if (m_onStatus)
        m_onStatus(index, status);
}

QString FakeForm::Status(int row) const
{
    const auto it = m_statusHistory.find(row);
    return it == m_statusHistory.end() || it->second.isEmpty() ? QString() : it->second.back();
}

QStringList FakeForm::Statuses() const
{
    QStringList statuses;
    for (int row = 0; row < int(m_jobs.size()); ++row)
        statuses << Status(row);
    return statuses;
}

int FakeForm::RowProgress(int row) const
{
    const auto it = m_rowProgress.find(row);
    return it == m_rowProgress.end() || it->second.empty() ? -1 : it->second.back();
}

CProgressTally::Reading FakeForm::LastProgress() const
{
    return m_progress.empty() ? CProgressTally::Reading{-1, -1, -1} : m_progress.back();
}
