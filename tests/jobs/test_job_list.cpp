// The job list: cell texts, the output-size estimate, adding and removing jobs
// with the byte total kept in step, and access from the encoding run's threads.
#include "jobs/MovieJobList.h"
#include "tests/support/MediaFactory.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

// The "Pocket PC Normal" rates: 15 fps, 150 + 64 kbit/s.
EncodingRates PresetRates()
{
    return EncodingRates{15.0, 150, 64};
}

StreamFile Job(const QString& path, std::uint64_t size, int duration = 0, int width = 0,
               int height = 0)
{
    StreamFile job;
    job.strFilePath = path;
    job.strFileName = path.section(QLatin1Char('/'), -1);
    job.dwFileSize = size;
    job.nDuration = duration;
    job.nWidth = width;
    job.nHeight = height;
    return job;
}

QStringList Paths(const CMovieJobList& list)
{
    QStringList paths;
    for (const StreamFile& job : list.Jobs())
        paths << job.strFilePath;
    return paths;
}

TEST(CellText, Dimensions)
{
    EXPECT_EQ(DimensionsText(0, 0), "unknown");
    EXPECT_EQ(DimensionsText(720, 576), "720x576");
    // Only both values 0 are unknown.
    EXPECT_EQ(DimensionsText(0, 480), "0x480");
    EXPECT_EQ(DimensionsText(640, 0), "640x0");
}

TEST(CellText, Duration)
{
    EXPECT_EQ(DurationText(3725), "01:02:05");
    EXPECT_EQ(DurationText(360000), "100:00:00");
    EXPECT_EQ(DurationText(59), "00:00:59");
    EXPECT_EQ(DurationText(0), "unknown");
}

TEST(CellText, FileSizeInMillionsOfBytes)
{
    EXPECT_EQ(FileSizeText(1'999'999), "1");
    EXPECT_EQ(FileSizeText(999'999), "0");
    EXPECT_EQ(FileSizeText(2'000'000), "2");
    // Beyond 32 bits the size keeps its high part.
    EXPECT_EQ(FileSizeText(5'000'000'000ull), "5000");
    EXPECT_EQ(FileSizeText(0xFFFFFFFFull), "4294");
    EXPECT_EQ(FileSizeText(StreamFile::UnknownSize), "unknown");
}

TEST(EncodingSize, PresetExampleOf600Seconds)
{
    // 288,000 frame bytes + 16,435,200 stream bytes = 16,723,200 -> 15 MiB.
    EXPECT_EQ(EstimateEncodingSizeMB(600, PresetRates()), 15);
    EXPECT_EQ(EncodingSizeText(600, PresetRates()), "15");
    EXPECT_EQ(EncodingSizeText(0, PresetRates()), "");
}

TEST(EncodingSize, FrameBytesAreTruncatedBeforeTheSum)
{
    // 1 s at 0.99 fps: 31.68 frame bytes become 31; 1 kbit/s: 128 stream bytes.
    // A rounded sum of (31.68 + 128) would not show here, so check the exact
    // boundary: 32768 s at 1 fps gives 1,048,576 frame bytes alone = 1 MiB.
    EXPECT_EQ(EstimateEncodingSizeMB(32768, EncodingRates{1.0, 0, 0}), 1);
    EXPECT_EQ(EstimateEncodingSizeMB(32767, EncodingRates{1.0, 0, 0}), 0);
    EXPECT_EQ(EstimateEncodingSizeMB(32768, EncodingRates{0.99999, 0, 0}), 0);
}

TEST(EncodingSize, StreamBytesThatDoNotFitCountMinusOne)
{
    // 80,000 s at 214 kbit/s: 2,191,360,000 stream bytes do not fit 32 bits, so the
    // stream part is -1 and only the frame bytes remain: 38,400,000 -> 36.
    EXPECT_EQ(EstimateEncodingSizeMB(80000, PresetRates()), 36);
    // Garbage bit rates whose byte rate itself does not fit take the same way.
    EXPECT_EQ(EstimateEncodingSizeMB(10, EncodingRates{0.0, INT32_MAX, INT32_MAX}), 0);
    // Garbage frame rates saturate instead of being undefined.
    EXPECT_EQ(EstimateEncodingSizeMB(10, EncodingRates{1e300, 0, 0}), 2047);
    EXPECT_EQ(EstimateEncodingSizeMB(10, EncodingRates{-1e300, 0, 0}), -2048);
    EXPECT_EQ(EstimateEncodingSizeMB(10, EncodingRates{std::nan(""), 0, 0}), 0);
}

class JobList : public ::testing::Test
{
protected:
    CMovieJobList m_list{[this] { return m_rates; }};
    EncodingRates m_rates = PresetRates();
};

TEST_F(JobList, RowShowsTheJobsCells)
{
    StreamFile job = Job("/m/a movie.avi", 1'999'999, 3725, 720, 576);
    job.bHasSubtitle = true;
    ASSERT_TRUE(m_list.AppendJob(job));
    ASSERT_TRUE(m_list.AppendJob(Job("/m/b.mkv", 999'999)));

    const QStringList first = {"Ready", "a movie.avi", "Exist", "720x576", "01:02:05", "1", "99"};
    const QStringList second = {"Ready", "b.mkv", "None", "unknown", "unknown", "0", ""};
    for (int column = 0; column < CMovieJobList::ColumnCount; ++column) {
        EXPECT_EQ(m_list.data(m_list.index(0, column)).toString(), first[column]) << column;
        EXPECT_EQ(m_list.data(m_list.index(1, column)).toString(), second[column]) << column;
    }
    EXPECT_EQ(m_list.rowCount(), 2);
    EXPECT_EQ(m_list.columnCount(), 7);
}

TEST_F(JobList, HeadingsAndAlignments)
{
    const QStringList headings = {"Status",   "File Name",     "Subtitle",         "Dimensions",
                                  "Duration", "File Size(MB)", "Encoding Size(MB)"};
    const QList<Qt::Alignment> horizontal = {Qt::AlignHCenter, Qt::AlignLeft,    Qt::AlignHCenter,
                                             Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignRight,
                                             Qt::AlignRight};
    ASSERT_TRUE(m_list.AppendJob(Job("/m/a.avi", 1)));
    for (int column = 0; column < 7; ++column) {
        SCOPED_TRACE(column);
        EXPECT_EQ(m_list.headerData(column, Qt::Horizontal).toString(), headings[column]);
        const auto cell =
            Qt::Alignment(m_list.data(m_list.index(0, column), Qt::TextAlignmentRole).toInt());
        EXPECT_EQ(cell & Qt::AlignHorizontal_Mask, horizontal[column]);
        const auto head =
            Qt::Alignment(m_list.headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt());
        EXPECT_EQ(head & Qt::AlignHorizontal_Mask, horizontal[column]);
        EXPECT_FALSE(m_list.flags(m_list.index(0, column)) & Qt::ItemIsEditable);
    }
}

TEST_F(JobList, EstimateIsMadeWhenTheRowIsAddedAndKept)
{
    ASSERT_TRUE(m_list.AppendJob(Job("/m/a.avi", 1, 600)));
    m_rates = EncodingRates{30.0, 1500, 128};
    ASSERT_TRUE(m_list.AppendJob(Job("/m/b.avi", 1, 600)));
    EXPECT_EQ(m_list.CellText(0, CMovieJobList::ColEncodingSize), "15");
    EXPECT_EQ(m_list.CellText(1, CMovieJobList::ColEncodingSize), "119");
    // Asked for explicitly, a row takes the current rates.
    m_list.UpdateEncodingSize(0);
    EXPECT_EQ(m_list.CellText(0, CMovieJobList::ColEncodingSize), "119");
    m_list.UpdateEncodingSize(5); // outside the list: nothing happens
}

TEST_F(JobList, RemovingRowsOneAndThreeOfFive)
{
    const std::uint64_t sizes[] = {1000, 20'000, 300'000, 4'000'000, 50'000'000};
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(m_list.AppendJob(Job(QStringLiteral("/m/%1.avi").arg(i), sizes[i])));
    const std::uint64_t total = m_list.GetTotalBytes();
    ASSERT_EQ(total, 54'321'000u);
    ASSERT_TRUE(m_list.SetRowStatus(4, JobState::Finished));

    m_list.RemoveSelectedMovies({3, 1});
    EXPECT_EQ(Paths(m_list), QStringList({"/m/0.avi", "/m/2.avi", "/m/4.avi"}));
    EXPECT_EQ(m_list.GetTotalBytes(), total - sizes[1] - sizes[3]);
    EXPECT_EQ(m_list.rowCount(), 3);
    // Each row still shows its own job, status included.
    EXPECT_EQ(m_list.CellText(1, CMovieJobList::ColFileName), "2.avi");
    EXPECT_EQ(m_list.GetRowStatus(2), JobState::Finished);
    EXPECT_EQ(m_list.GetRowStatus(1), JobState::Ready);
}

TEST_F(JobList, RemovingNothingOrRowsOutsideTheListChangesNothing)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(m_list.AppendJob(Job(QStringLiteral("/m/%1.avi").arg(i), 10)));
    int removed = 0;
    QObject::connect(&m_list, &QAbstractItemModel::rowsRemoved, [&removed] { ++removed; });
    m_list.RemoveSelectedMovies({});
    m_list.RemoveSelectedMovies({-1, 3, 100});
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(m_list.GetJobCount(), 3);
    // Repeats remove a row once.
    m_list.RemoveSelectedMovies({0, 0, 2, 2});
    EXPECT_EQ(Paths(m_list), QStringList({"/m/1.avi"}));
    EXPECT_EQ(m_list.GetTotalBytes(), 10u);
}

TEST_F(JobList, UnknownSizeCountsZeroAndReadsUnknown)
{
    ASSERT_TRUE(m_list.AppendJob(Job("/m/gone.avi", StreamFile::UnknownSize)));
    ASSERT_TRUE(m_list.AppendJob(Job("/m/big.avi", 0xFFFFFFFFull)));
    EXPECT_EQ(m_list.GetTotalBytes(), 0xFFFFFFFFull);
    EXPECT_EQ(m_list.CellText(0, CMovieJobList::ColFileSize), "unknown");
    m_list.RemoveSelectedMovies({0});
    EXPECT_EQ(m_list.GetTotalBytes(), 0xFFFFFFFFull);
}

TEST_F(JobList, AddMovieFileProbesAndKeepsPathsExactly)
{
    QTemporaryDir dir;
    const QString lower = dir.filePath("movie.avi");
    const QString upper = dir.filePath("MOVIE.avi");
    const QString missing = dir.filePath("missing.avi");
    ASSERT_TRUE(MediaFactory::WriteFile(lower, QByteArray(1'500'000, 'x')));
    ASSERT_TRUE(MediaFactory::WriteFile(upper, QByteArray(2'500'000, 'x')));
    ASSERT_TRUE(MediaFactory::WriteFile(dir.filePath("movie.smi"), "x"));

    m_list.AddMovieFile(lower);
    m_list.AddMovieFile(lower);
    m_list.AddMovieFile(upper);
    m_list.AddMovieFile(missing);
    m_list.AddMovieFile(missing);
    EXPECT_EQ(Paths(m_list), QStringList({lower, upper, missing}));
    EXPECT_EQ(m_list.GetTotalBytes(), 4'000'000u);

    const QVector<StreamFile>& jobs = m_list.Jobs();
    EXPECT_EQ(jobs[0].strFileName, "movie.avi");
    EXPECT_TRUE(jobs[0].bHasSubtitle);
    EXPECT_FALSE(jobs[1].bHasSubtitle);
    // An unreadable file is still a job: its path, an unknown size, zeros elsewhere.
    EXPECT_EQ(jobs[2].strFileName, "missing.avi");
    EXPECT_EQ(jobs[2].dwFileSize, StreamFile::UnknownSize);
    EXPECT_EQ(jobs[2].nWidth + jobs[2].nHeight + jobs[2].nDuration, 0);
    const QStringList cells = {"Ready", "missing.avi", "None", "unknown", "unknown", "unknown", ""};
    for (int column = 0; column < 7; ++column)
        EXPECT_EQ(m_list.CellText(2, column), cells[column]) << column;
}

TEST_F(JobList, RemoveAllThenAdd)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("movie.mpg");
    ASSERT_TRUE(MediaFactory::WriteFile(path, QByteArray(123'456, 'x')));
    ASSERT_TRUE(m_list.AppendJob(Job("/m/a.avi", 5'000'000)));
    ASSERT_TRUE(m_list.AppendJob(Job(path, 99)));

    m_list.RemoveAllMovies();
    EXPECT_EQ(m_list.rowCount(), 0);
    EXPECT_EQ(m_list.GetTotalBytes(), 0u);
    m_list.AddMovieFile(path);
    EXPECT_EQ(m_list.GetJobCount(), 1);
    EXPECT_EQ(m_list.GetTotalBytes(), 123'456u);
    EXPECT_EQ(m_list.GetRowStatus(0), JobState::Ready);
}

TEST_F(JobList, CopiesOfJobsAreIndependent)
{
    // The record added and the list go their own ways: the caller's record
    // changed afterwards, and the list emptied after a copy was taken.
    StreamFile added = Job("/m/a.avi", 1);
    ASSERT_TRUE(m_list.AppendJob(added));
    added.strFilePath = "/elsewhere";
    added.strFileName.append("x");
    added.dwFileSize = 7;
    EXPECT_EQ(m_list.GetJob(0)->strFilePath, "/m/a.avi");
    EXPECT_EQ(m_list.CellText(0, CMovieJobList::ColFileName), "a.avi");
    EXPECT_EQ(m_list.GetTotalBytes(), 1u);
    const std::optional<StreamFile> copy = m_list.GetJob(0);
    m_list.RemoveAllMovies();
    ASSERT_TRUE(m_list.AppendJob(Job("/m/b.avi", 2)));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->strFilePath, "/m/a.avi");
    EXPECT_EQ(copy->strFileName, "a.avi");
    EXPECT_EQ(copy->dwFileSize, 1u);
    EXPECT_FALSE(m_list.GetJob(1));
    EXPECT_FALSE(m_list.GetJob(-1));
    EXPECT_FALSE(m_list.SetRowStatus(1, JobState::Encoding));
    EXPECT_EQ(m_list.GetRowStatus(7), std::nullopt);
}

TEST_F(JobList, StatusChangesNotifyTheView)
{
    ASSERT_TRUE(m_list.AppendJob(Job("/m/a.avi", 1)));
    QList<QModelIndex> changed;
    QObject::connect(&m_list, &QAbstractItemModel::dataChanged,
                     [&changed](const QModelIndex& topLeft) { changed.append(topLeft); });
    ASSERT_TRUE(m_list.SetRowStatus(0, JobState::Encoding));
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0], m_list.index(0, CMovieJobList::ColStatus));
    EXPECT_EQ(m_list.CellText(0, CMovieJobList::ColStatus), "Encoding...");
}

TEST_F(JobList, TheRunReadsAndMarksJobsFromItsOwnThreads)
{
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(m_list.AppendJob(Job(QStringLiteral("/m/%1.avi").arg(i), 100)));

    // While the UI thread removes jobs one by one, a worker reads jobs by index
    // and writes statuses: every read is in bounds, every job whole.
    std::atomic<bool> done{false};
    std::atomic<int> badReads{0};
    std::thread worker([&] {
        int n = 0;
        while (!done.load()) {
            const int count = m_list.GetJobCount();
            for (int i = 0; i < count + 2; ++i) {
                const std::optional<StreamFile> job = m_list.GetJob(i);
                if (job && (job->dwFileSize != 100 || !job->strFilePath.startsWith("/m/")))
                    ++badReads;
            }
            if (m_list.GetTotalBytes() % 100 != 0)
                ++badReads;
            m_list.SetRowStatus(n++ % 20, JobState::Encoding);
        }
    });
    while (m_list.GetJobCount() > 0) {
        m_list.RemoveSelectedMovies({0});
        QCoreApplication::processEvents();
    }
    done = true;
    worker.join();
    // Statuses queued for rows that are gone by now are dropped.
    QCoreApplication::processEvents();
    EXPECT_EQ(badReads.load(), 0);
    EXPECT_EQ(m_list.rowCount(), 0);
}

TEST_F(JobList, StatusFromAnotherThreadLandsOnTheListsThread)
{
    ASSERT_TRUE(m_list.AppendJob(Job("/m/a.avi", 1)));
    std::thread([this] { m_list.SetRowStatus(0, JobState::Finished); }).join();
    EXPECT_EQ(m_list.GetRowStatus(0), JobState::Ready);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_list.GetRowStatus(0), JobState::Finished);
}

TEST_F(JobList, AFailedRowsReasonIsItsStatusTooltipUntilTheNextStatus)
{
    ASSERT_TRUE(m_list.AppendJob(Job("/m/a.avi", 1)));
    ASSERT_TRUE(m_list.AppendJob(Job("/m/b.avi", 1)));
    const auto tip = [this](int row, int column) {
        return m_list.data(m_list.index(row, column), Qt::ToolTipRole);
    };
    const QString reason = "The encoder ended with exit code 1.\nCannot open demuxer.";
    std::thread([&] { m_list.SetRowStatus(1, JobState::Failed, reason); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(tip(1, CMovieJobList::ColStatus).toString(), reason);
    EXPECT_EQ(m_list.GetRowReason(1), reason);
    EXPECT_EQ(tip(1, CMovieJobList::ColFileName).toString(), "/m/b.avi");
    EXPECT_FALSE(tip(0, CMovieJobList::ColStatus).isValid()); // a "Ready" row has none

    // The reason moves with its row and goes with the next status.
    m_list.RemoveSelectedMovies({0});
    EXPECT_EQ(tip(0, CMovieJobList::ColStatus).toString(), reason);
    ASSERT_TRUE(m_list.SetRowStatus(0, JobState::Encoding));
    EXPECT_FALSE(tip(0, CMovieJobList::ColStatus).isValid());
}

// "Exist" names the subtitle file the encode takes in its tooltip.
TEST_F(JobList, TheSubtitleTooltipNamesTheFileTaken)
{
    QTemporaryDir dir;
    ASSERT_TRUE(MediaFactory::WriteFile(dir.filePath("My.Movie.EN.srt"), "x"));
    StreamFile with = Job(dir.filePath("My.Movie.mkv"), 1);
    with.bHasSubtitle = true;
    ASSERT_TRUE(m_list.AppendJob(with));
    ASSERT_TRUE(m_list.AppendJob(Job(dir.filePath("other.mkv"), 1)));
    const auto tip = [this](int row) {
        return m_list.data(m_list.index(row, CMovieJobList::ColSubtitle), Qt::ToolTipRole);
    };
    EXPECT_EQ(m_list.CellText(0, CMovieJobList::ColSubtitle), "Exist");
    EXPECT_EQ(tip(0).toString(), "My.Movie.EN.srt");
    EXPECT_EQ(m_list.CellText(1, CMovieJobList::ColSubtitle), "None");
    EXPECT_FALSE(tip(1).isValid());
}

} // namespace
