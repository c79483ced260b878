#include "test_run_support.h"

#include "shell/AppFolder.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

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

QString LatestRunLog(const ScopedTempHome& home)
{
    const QDir logs(home.StateDir() + "/Tolva/Clipvane/logs");
    const QStringList names = logs.entryList({"*.log"}, QDir::Files, QDir::Name);
    return names.isEmpty() ? QString()
                           : QString::fromUtf8(MediaFactory::ReadFile(logs.filePath(names.back())));
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

QString FakeForm::Status(int row) const
{
    const auto it = m_statusHistory.find(row);
    return it == m_statusHistory.end() || it->second.isEmpty() ? QString() : it->second.back();
}

QStringList FakeForm::Statuses() const
{
    QStringList statuses;
    for (int row = 0; row < JobCount(); ++row)
        statuses << Status(row);
    return statuses;
}

int FakeForm::LastProgress(ProgressBar bar) const
{
    const auto it = m_progress.find(bar);
    return it == m_progress.end() || it->second.empty() ? -1 : it->second.back();
}

int FakeForm::RowProgress(int row) const
{
    const auto it = m_rowProgress.find(row);
    return it == m_rowProgress.end() || it->second.empty() ? -1 : it->second.back();
}

void FakeForm::ShowRow(int index)
{
    m_shownRows.push_back(index);
    m_nSelectedRow = index;
}

std::optional<StreamFile> FakeForm::JobAt(int index) const
{
    if (index < 0 || index >= JobCount())
        return std::nullopt;
    return m_jobs[static_cast<std::size_t>(index)];
}

std::uint64_t FakeForm::TotalBytes() const
{
    std::uint64_t total = 0;
    for (const StreamFile& job : m_jobs)
        total += job.CountedSize();
    return total;
}

void FakeForm::SetRowStatus(int index, const QString& status, const QString& reason)
{
    if (index < 0 || index >= JobCount())
        ++m_nOutOfRangeStatusWrites;
    m_statusHistory[index] << status;
    m_rowProgress[index].push_back(-1);
    m_reasons[index] = reason;
    m_events << QStringLiteral("status %1 %2").arg(index).arg(status);
    if (m_onStatus)
        m_onStatus(index, status);
}

void FakeForm::MessageBox(const QString& text, MessageIcon)
{
    m_messages << text;
    m_events << QStringLiteral("message ") + text;
}

bool FakeForm::AskYesNo(const QString& text, MessageIcon icon)
{
    m_questions << text;
    m_questionIcons.push_back(icon);
    m_events << QStringLiteral("question ") + text;
    if (m_answers.empty())
        return m_bDefaultAnswer;
    const bool answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void FakeForm::ShutdownComputer()
{
    ++m_nShutdowns;
    m_events << QStringLiteral("shutdown");
}

void FakeForm::OpenFolder(const QString& path)
{
    m_openedFolders << path;
    m_events << QStringLiteral("open ") + path;
}
