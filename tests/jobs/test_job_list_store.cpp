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
    // The cells of every row, row after row, and each row's reason.
    static QStringList Rows(const CMovieJobList& list)
    {
        QStringList rows;
        for (int row = 0; row < list.GetJobCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < CMovieJobList::ColumnCount; ++column)
                cells << list.CellText(row, column);
            rows << cells.join('|') + '|' + list.GetRowReason(row);
        }
        return rows;
    }

    // A movie file in the temporary home, listed with the given status.
    void Add(CMovieJobList& list, const QString& name, const QString& status,
             const QString& reason = {})
    {
        const QString path = m_home.FilePath(name);
        ASSERT_TRUE(MediaFactory::WriteFile(path, "movie"));
        StreamFile job;
        job.strFilePath = path;
        job.strFileName = name;
        job.nWidth = 640;
        job.nHeight = 480;
        job.nDuration = 3725;
        job.dwFileSize = list.GetJobCount() == 1 ? StreamFile::UnknownSize : 5'000'000'000ull;
        job.bHasSubtitle = list.GetJobCount() % 2 == 0;
        ASSERT_TRUE(list.AppendJob(job));
        list.SetRowStatus(list.GetJobCount() - 1, status, reason);
    }

    ScopedTempHome m_home;
    CMovieJobList m_list{[] { return EncodingRates{15.0, 150, 64}; }};
};

TEST_F(JobListStore, TheNextStartShowsTheSameRowsAndGoneMoviesAsMissing)
{
    {
        CJobListStore store(m_list);
        Add(m_list, "plain.avi", JobStatus::Ready);
        Add(m_list, "Über \"100%\" 'q' #1.mkv", JobStatus::Encoding);
        Add(m_list, "a\\b & c.vob", JobStatus::Finished);
        Add(m_list, "failed one.wmv", JobStatus::Failed, "The encoder ended with exit code 1.");
        Add(m_list, "stopped.mp4", JobStatus::Stopped);
        Add(m_list, "gone.mpg", JobStatus::Finished);
        Add(m_list, "removed.mpg", JobStatus::Ready);
        m_list.RemoveSelectedMovies({6});
        // Saved together a moment later, not at each change.
        EXPECT_TRUE(store.IsSavePending());
        EXPECT_FALSE(QFile::exists(CJobListStore::FilePath()));
        ASSERT_TRUE(PumpUntil([&] { return !store.IsSavePending(); }));
        EXPECT_TRUE(QFile::exists(CJobListStore::FilePath()));
        // What is changed just before the end is saved at the end.
        m_list.SetRowStatus(4, JobStatus::Stopped, "by the user");
    }
    ASSERT_TRUE(QFile::remove(m_home.FilePath("gone.mpg")));
    QStringList expected = Rows(m_list);
    expected[1].replace("Encoding...|", "Ready|");
    expected[5].replace("Finished|", "Missing|");

    CMovieJobList restored{[] { return EncodingRates{30.0, 500, 128}; }};
    CJobListStore store(restored);
    EXPECT_EQ(store.Load(), 6);
    EXPECT_EQ(Rows(restored), expected);
    EXPECT_EQ(restored.GetTotalBytes(), m_list.GetTotalBytes());
    EXPECT_EQ(restored.Jobs()[2].strFilePath, m_home.FilePath("a\\b & c.vob"));
    EXPECT_FALSE(store.IsSavePending());
}

TEST_F(JobListStore, ADamagedListStartsEmptyAndIsKeptAside)
{
    const QString file = CJobListStore::FilePath();
    const struct
    {
        const char* name;
        QByteArray text; // empty: a folder where the file should be
    } cases[] = {
        {"not JSON", "{\"jobs\": [{\"path\": \"/m/a.avi\""},
        {"not a list", "{\"jobs\": 3}"},
        {"a job without a path", "{\"jobs\": [{\"path\": \"/m/a.avi\"}, {\"name\": \"b\"}]}"},
        {"unreadable", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(file);
        QDir().mkpath(QFileInfo(file).absolutePath());
        ASSERT_TRUE(c.text.isEmpty() ? QDir().mkpath(file) : MediaFactory::WriteFile(file, c.text));
        CMovieJobList list{{}};
        CJobListStore store(list);
        EXPECT_EQ(store.Load(), 0);
        EXPECT_EQ(list.GetJobCount(), 0);
        EXPECT_FALSE(QFileInfo::exists(file));
        if (!c.text.isEmpty()) {
            EXPECT_EQ(MediaFactory::ReadFile(file + ".damaged"), c.text);
        }
        // The next save starts a good list again.
        Add(list, "new.avi", JobStatus::Ready);
        ASSERT_TRUE(store.SaveNow());
        CMovieJobList again{{}};
        EXPECT_EQ(CJobListStore(again).Load(), 1);
        QDir(file + ".damaged").removeRecursively();
    }
}

TEST_F(JobListStore, ASaveKilledHalfwayLeavesTheOldList)
{
    CJobListStore store(m_list);
    Add(m_list, "first.avi", JobStatus::Finished);
    ASSERT_TRUE(store.SaveNow());
    for (int i = 0; i < 1000; ++i)
        Add(m_list, QStringLiteral("movie %1.avi").arg(i), JobStatus::Ready);

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
    EXPECT_EQ(restored.GetRowStatus(0), JobStatus::Finished);
}

} // namespace
