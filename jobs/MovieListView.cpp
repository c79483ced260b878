#include "jobs/MovieListView.h"

#include <algorithm>

#include <QHeaderView>
#include <QItemSelectionModel>

CMovieListView::CMovieListView(QWidget* parent)
    : QTableView(parent)
{
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // A report list: no row numbers, compact rows, headings that do not move.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
}

void CMovieListView::SetJobList(CMovieJobList* list)
{
    m_pJobList = list;
    setModel(list);
    for (int column = 0; column < CMovieJobList::ColumnCount; ++column)
        setColumnWidth(column, CMovieJobList::ColumnWidths[column]);
}

QList<int> CMovieListView::SelectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CMovieListView::RemoveSelectedMovies()
{
    if (!m_pJobList)
        return;
    const QList<int> rows = SelectedRows();
    if (!rows.isEmpty())
        m_pJobList->RemoveSelectedMovies(rows);
}

void CMovieListView::ShowRow(int row)
{
    if (!model() || row < 0 || row >= model()->rowCount())
        return;
    const QModelIndex index = model()->index(row, 0);
    scrollTo(index, QAbstractItemView::EnsureVisible);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
}
