#pragma once

#include "jobs/MovieJobList.h"

#include <QList>
#include <QStringList>
#include <QTableView>
#include <QUrl>

// The report view of the job list (the form's m_listMovies): the seven columns at
// their widths, grid lines, whole rows selected, several rows at a time, and a
// row's percentage drawn as a bar behind its status text while its job is being
// encoded. It shows a CMovieJobList and works on its own, without the main form.
// Movie files and folders dropped on it (see MovieFileTypes) are announced with
// MovieFilesDropped.
class CMovieListView final : public QTableView
{
    Q_OBJECT

public:
    explicit CMovieListView(QWidget* parent = nullptr);

    // Shows the list and sets the column widths.
    void SetJobList(CMovieJobList* list);

    // The selected rows, lowest first.
    QList<int> SelectedRows() const;
    // The selected row the user follows: the focused one if it is selected,
    // else the first; -1 when none is.
    int SelectedRow() const;

    // Removes the jobs of the selected rows; nothing happens when none is selected.
    void RemoveSelectedMovies();

    // Scrolls a row into view and makes it the only selected row and the current
    // one (the encoding run shows the job it works on this way).
    void ShowRow(int row);

    // Whether drops are taken (on by default).
    void SetDropEnabled(bool enabled);

    // The existing local movie files and folders among dropped addresses, in
    // their order.
    static QStringList MovieFilesIn(const QList<QUrl>& urls);

signals:
    // Movie files or folders were dropped on the list.
    void MovieFilesDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Accepts a drag that carries at least one movie file or folder.
    bool AcceptMovieDrag(QDropEvent* event);

    CMovieJobList* m_pJobList = nullptr;
};
