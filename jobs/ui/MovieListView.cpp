#include "jobs/ui/MovieListView.h"

#include "jobs/MovieFileTypes.h"

#include <algorithm>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>

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
    // Tab goes on to the form's buttons instead of from cell to cell.
    setTabKeyNavigation(false);
    // A report list: no row numbers, compact rows, headings that do not move.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    SetDropEnabled(true);
}

void CMovieListView::SetDropEnabled(bool enabled)
{
    setAcceptDrops(enabled);
    viewport()->setAcceptDrops(enabled);
}

QStringList CMovieListView::MovieFilesIn(const QList<QUrl>& urls)
{
    QStringList paths;
    for (const QUrl& url : urls) {
        // Files only, as the open dialog takes them: a folder named like a movie
        // is not one.
        const QString path = url.toLocalFile();
        if (url.isLocalFile() && MovieFileTypes::IsMovieFile(path) && QFileInfo(path).isFile())
            paths.append(path);
    }
    return paths;
}

bool CMovieListView::AcceptMovieDrag(QDropEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (!acceptDrops() || !data || MovieFilesIn(data->urls()).isEmpty()) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void CMovieListView::dragEnterEvent(QDragEnterEvent* event)
{
    AcceptMovieDrag(event);
}

void CMovieListView::dragMoveEvent(QDragMoveEvent* event)
{
    AcceptMovieDrag(event);
}

void CMovieListView::dropEvent(QDropEvent* event)
{
    if (AcceptMovieDrag(event))
        emit MovieFilesDropped(MovieFilesIn(event->mimeData()->urls()));
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
