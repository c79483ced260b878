// The list view on the offscreen platform: columns, grid, selection of whole rows,
// several at a time, and removing what is selected.
#include "jobs/ui/MovieListView.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QItemSelectionModel>

namespace {

class MovieListView : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_view.SetJobList(&m_list);
        m_view.resize(700, 200);
        m_view.show();
        for (int i = 0; i < 5; ++i) {
            StreamFile job;
            job.strFilePath = QStringLiteral("/m/%1.avi").arg(i);
            job.strFileName = QStringLiteral("%1.avi").arg(i);
            job.dwFileSize = std::uint64_t(i + 1) * 1000;
            ASSERT_TRUE(m_list.AppendJob(job));
        }
    }

    void Select(int row, QItemSelectionModel::SelectionFlags how)
    {
        m_view.selectionModel()->select(m_list.index(row, 0), how | QItemSelectionModel::Rows);
    }

    CMovieJobList m_list{[] { return EncodingRates{15.0, 150, 64}; }};
    CMovieListView m_view;
};

TEST_F(MovieListView, SevenColumnsAtTheirWidthsWithGridAndNoRowNumbers)
{
    const int widths[] = {95, 175, 60, 70, 80, 75, 110};
    ASSERT_EQ(m_view.horizontalHeader()->count(), 7);
    for (int column = 0; column < 7; ++column)
        EXPECT_EQ(m_view.columnWidth(column), widths[column]) << column;
    EXPECT_TRUE(m_view.showGrid());
    EXPECT_FALSE(m_view.verticalHeader()->isVisible());
    EXPECT_EQ(m_view.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(m_view.selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(m_view.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(m_view.isSortingEnabled());
}

TEST_F(MovieListView, RemoveTakesTheSelectedRows)
{
    Select(1, QItemSelectionModel::ClearAndSelect);
    Select(3, QItemSelectionModel::Select);
    EXPECT_EQ(m_view.SelectedRows(), QList<int>({1, 3}));

    m_view.RemoveSelectedMovies();
    ASSERT_EQ(m_list.GetJobCount(), 3);
    EXPECT_EQ(m_list.Jobs()[0].strFileName, "0.avi");
    EXPECT_EQ(m_list.Jobs()[1].strFileName, "2.avi");
    EXPECT_EQ(m_list.Jobs()[2].strFileName, "4.avi");
    EXPECT_EQ(m_list.GetTotalBytes(), 1000u + 3000u + 5000u);
    EXPECT_EQ(m_view.model()->rowCount(), 3);
}

TEST_F(MovieListView, RemoveWithNothingSelectedDoesNothing)
{
    m_view.clearSelection();
    m_view.RemoveSelectedMovies();
    EXPECT_EQ(m_list.GetJobCount(), 5);
}

TEST_F(MovieListView, ShowRowSelectsOnlyThatRow)
{
    Select(0, QItemSelectionModel::ClearAndSelect);
    m_view.ShowRow(4);
    EXPECT_EQ(m_view.SelectedRows(), QList<int>({4}));
    EXPECT_EQ(m_view.currentIndex().row(), 4);
    m_view.ShowRow(9); // outside the list: ignored
    EXPECT_EQ(m_view.SelectedRows(), QList<int>({4}));
}

TEST_F(MovieListView, CellsShowTheListsTexts)
{
    m_list.SetRowStatus(2, JobState::Encoding);
    const QModelIndex status = m_view.model()->index(2, 0);
    EXPECT_EQ(status.data().toString(), "Encoding...");
    // A cell of a shown row has a place on screen.
    EXPECT_TRUE(m_view.visualRect(status).isValid());
    m_list.RemoveAllMovies();
    EXPECT_EQ(m_view.model()->rowCount(), 0);
    EXPECT_TRUE(m_view.SelectedRows().isEmpty());
}

} // namespace
