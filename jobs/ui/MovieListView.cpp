#include "jobs/ui/MovieListView.h"

#include "jobs/MovieFileTypes.h"

#include <algorithm>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// The status cell of a job being encoded: its percentage as a bar behind the
// status text: a light tint of the selection colour on the list's ground, and a
// darker shade of it on a selected row, so that the text stays readable over
// both parts of the cell.
class StatusCellDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        const QVariant progress = index.data(CMovieJobList::ProgressRole);
        if (!progress.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        const QString text = cell.text;
        cell.text.clear();
        const QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);

        const bool selected = cell.state & QStyle::State_Selected;
        const QColor highlight = cell.palette.color(QPalette::Highlight);
        const QColor base = cell.palette.color(QPalette::Base);
        const auto mix = [](const QColor& a, const QColor& b, float share) {
            QColor c;
            c.setRgbF(a.redF() + (b.redF() - a.redF()) * share,
                      a.greenF() + (b.greenF() - a.greenF()) * share,
                      a.blueF() + (b.blueF() - a.blueF()) * share);
            return c;
        };
        const QColor bar = selected ? highlight.darker(140) : mix(base, highlight, 0.5f);
        QRect filled = cell.rect.adjusted(1, 1, -1, -1);
        filled.setWidth(filled.width() * std::clamp(progress.toInt(), 0, 100) / 100);
        painter->fillRect(filled, bar);

        painter->setPen(cell.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(cell.rect.adjusted(2, 0, -2, 0), int(cell.displayAlignment), text);
    }
};

} // namespace

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
    setItemDelegateForColumn(CMovieJobList::ColStatus, new StatusCellDelegate(this));
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
        // A folder stands for the movies under it, whatever its name.
        const QString path = url.toLocalFile();
        const QFileInfo info(path);
        if (url.isLocalFile() &&
            (info.isDir() || (MovieFileTypes::IsMovieFile(path) && info.isFile())))
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

int CMovieListView::SelectedRow() const
{
    if (!selectionModel())
        return -1;
    const QModelIndex current = selectionModel()->currentIndex();
    if (current.isValid() && selectionModel()->isRowSelected(current.row()))
        return current.row();
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.front();
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
