// The saved job list: a round trip through the file, movies gone between two
// starts, damaged files, and a save killed in the middle.
#include "jobs/JobListStore.h"
#include "jobs/JobStatus.h"
#include "jobs/MovieJobList.h"
#include "tests/support/EventPump.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

namespace {

class JobListStore : public ::testing::Test
{
protected:
    // Every row's cells and reason.
    static QStringList Rows(const CMovieJobList& list)
    {
        QStringList rows;
        for (int row = 0; row < list.GetJobCount(); ++row) {
            for (int column = 0; column < CMovieJobList::ColumnCount; ++column)
                rows << list.CellText(row, column);
            rows << list.GetRowReason(row);
        }
        return rows;
    }

    // Lists a movie file of the temporary home with the given status; the
    // second one's size is unknown, the others' beyond 32 bits.
    void Add(CMovieJobList& list, const QString& name, JobState status = JobState::Ready,
             const QString& reason = {})
    {
        StreamFile job{m_home.FilePath(name), name, 640, 480, 3725, 5'000'000'000ull, true, {}};
        job.dwFileSize = list.GetJobCount() == 1 ? StreamFile::UnknownSize : job.dwFileSize;
        ASSERT_TRUE(MediaFactory::WriteFile(job.strFilePath, "movie") && list.AppendJob(job));
        list.SetRowStatus(list.GetJobCount() - 1, status, reason);
    }

    ScopedTempHome m_home;
    CMovieJobList m_list{[] { return EncodingRates{15.0, 150, 64}; }};
};

TEST_F(JobListStore, TheNextStartShowsTheSameRowsAndGoneMoviesAsMissing)
{
    {
        CJobListStore store(m_list);
        Add(m_list, "plain.avi");
        Add(m_list, "Über \"100%\" 'q' #1.mkv", JobState::Encoding);
        Add(m_list, "a\\b & c.vob", JobState::Finished);
        Add(m_list, "failed one.wmv", JobState::Failed, "The encoder ended with exit code 1.");
        Add(m_list, "gone.mpg", JobState::Stopped);
        Add(m_list, "removed.mpg");
        m_list.RemoveSelectedMovies({5});
        // Saved together a moment later, not at each change.
        EXPECT_FALSE(QFile::exists(CJobListStore::FilePath()));
        ASSERT_TRUE(PumpUntil([&] { return !store.IsSavePending(); }));
        EXPECT_TRUE(QFile::exists(CJobListStore::FilePath()));
        // The file keeps each status in the words the list shows.
        const QByteArray saved = MediaFactory::ReadFile(CJobListStore::FilePath());
        for (const char* words : {"\"status\":\"Encoding...\"", "\"status\":\"Failed\""})
            EXPECT_TRUE(saved.contains(words)) << words;
        // What is changed just before the end is saved at the end.
        m_list.SetRowStatus(2, JobState::Failed, "by the user");
    }
    ASSERT_TRUE(QFile::remove(m_home.FilePath("gone.mpg")));
    QStringList expected = Rows(m_list);
    expected[8] = "Ready";    // was "Encoding..." when it ended
    expected[32] = "Missing"; // was "Stopped"

    // Other rates now: the estimates stay those the rows were given.
    CMovieJobList restored{[] { return EncodingRates{30.0, 500, 128}; }};
    EXPECT_EQ(CJobListStore(restored).Load(), 5);
    EXPECT_EQ(Rows(restored), expected);
    EXPECT_EQ(restored.GetTotalBytes(), m_list.GetTotalBytes());
}

// Each row keeps the folder its output goes to; lists of older versions have
// none, and a folder that would lead out of the output folder is dropped. A
// list file saved elsewhere (Save List) reads back as its movies with their
// folders (Open List).
TEST_F(JobListStore, RowsKeepTheirOutputFoldersAndAListFileReadsBack)
{
    const QString kept = CJobListStore::FilePath();
    QDir().mkpath(QFileInfo(kept).absolutePath());
    const QString movie = m_home.FilePath("a.mov");
    ASSERT_TRUE(MediaFactory::WriteFile(movie, "movie"));
    const QByteArray row = "{\"path\": \"" + movie.toUtf8() + "\", \"status\": \"Ready\"";
    const std::pair<QByteArray, const char*> cases[] = {
        {row + ", \"folder\": \"Trip/Day 1\"}", "Trip/Day 1"},
        {row + "}", ""},
        {row + ", \"folder\": \"../../.config/autostart\"}", ""},
        {row + ", \"folder\": \"/etc\"}", ""},
    };
    for (const auto& [text, folder] : cases) {
        SCOPED_TRACE(text.constData());
        ASSERT_TRUE(MediaFactory::WriteFile(kept, "{\"jobs\": [" + text + "]}"));
        CMovieJobList list{{}};
        CJobListStore store(list);
        ASSERT_EQ(store.Load(), 1);
        EXPECT_EQ(list.Jobs()[0].strRelativeDir, QString::fromUtf8(folder));
        // Through a saved list file and back.
        const QString file = m_home.FilePath("my list.json");
        ASSERT_TRUE(CJobListStore::WriteListFile(list, file));
        const auto movies = CJobListStore::ReadListFile(file);
        ASSERT_TRUE(movies && movies->size() == 1);
        EXPECT_EQ(movies->front().strPath, movie);
        EXPECT_EQ(movies->front().strRelativeDir, QString::fromUtf8(folder));
    }

    // A list that cannot be written says why.
    QString error;
    EXPECT_FALSE(
        CJobListStore::WriteListFile(m_list, m_home.FilePath("no folder/list.json"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(JobListStore, ADamagedListStartsEmptyAndIsKeptAside)
{
    const QString file = CJobListStore::FilePath();
    QDir().mkpath(QFileInfo(file).absolutePath());
    const QByteArray cases[] = {
        "{\"jobs\": [{\"path\": \"/m/a.avi\"", // cut short
        "{\"jobs\": 3}",
        "{\"jobs\": [{\"path\": \"/m/a.avi\"}, {\"name\": \"no path\"}]}",
        {}, // unreadable: a folder
    };
    for (const QByteArray& text : cases) {
        SCOPED_TRACE(text.constData());
        QFile::remove(file);
        ASSERT_TRUE(text.isEmpty() ? QDir().mkpath(file) : MediaFactory::WriteFile(file, text));
        CMovieJobList list{{}};
        CJobListStore store(list);
        EXPECT_EQ(store.Load(), 0);
        EXPECT_EQ(list.GetJobCount(), 0);
        EXPECT_EQ(MediaFactory::ReadFile(file + ".damaged"), text);
        // The next save starts a good list again.
        Add(list, "new.avi");
        ASSERT_TRUE(store.SaveNow());
        CMovieJobList again{{}};
        EXPECT_EQ(CJobListStore(again).Load(), 1);
        QDir(file + ".damaged").removeRecursively();
    }
}

TEST_F(JobListStore, ASaveKilledHalfwayLeavesTheOldList)
{
    CJobListStore store(m_list);
    Add(m_list, "first.avi", JobState::Finished);
    ASSERT_TRUE(store.SaveNow());
    for (int i = 0; i < 1000; ++i)
        Add(m_list, QStringLiteral("movie %1.avi").arg(i));

    // A child whose files may not grow beyond 64 KiB is killed (SIGXFSZ) in the
    // middle of writing the long list.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(store.SaveNow() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;

    CMovieJobList restored{{}};
    EXPECT_EQ(CJobListStore(restored).Load(), 1);
    EXPECT_EQ(restored.GetRowStatus(0), JobState::Finished);
}

} // namespace
