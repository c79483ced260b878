#pragma once

#include "jobs/StreamFile.h"

#include <cstdint>
#include <optional>

#include <QString>

// What the encoding run needs of the main form: the job list, the four display
// operations, the message boxes, the shut-down and the folder opener.
// The run calls all of it on the UI thread. The main form implements it with the
// real job list and widgets; tests and benchmarks implement it without a window.
class RunForm
{
public:
    // The "Input", "Output", elapsed and remaining value labels.
    enum class ValueLabel
    {
        Input,
        Output,
        Elapsed,
        Remaining
    };
    // The current-file and whole-run progress bars (0 to 100).
    enum class ProgressBar
    {
        Current,
        Total
    };
    enum class MessageIcon
    {
        None,
        Information,
        Question
    };

    virtual ~RunForm() = default;

    // --- The job list ---
    virtual int JobCount() const = 0;
    // A copy of the job at index, or nothing when the index is outside the list.
    virtual std::optional<StreamFile> JobAt(int index) const = 0;
    // Sum of the counted sizes (StreamFile::CountedSize) of all jobs.
    virtual std::uint64_t TotalBytes() const = 0;
    // Whether the run leaves the job out (its movie is missing); the run counts
    // its bytes as done. No job is left out unless the form says so.
    virtual bool SkipsJob(int index)
    {
        (void)index;
        return false;
    }

    // --- Display ---
    // Scrolls the row fully into view and makes it the selected and focused row.
    virtual void ShowRow(int index) = 0;
    // The row the user follows: the selected row (of several, the focused one,
    // else the first); -1 when none is selected.
    virtual int SelectedRow() const = 0;
    // Writes the row's status cell (column 0) and its reason: why the job
    // failed, shown as the cell's tooltip; empty for every other status. The
    // new status has no bar behind it.
    virtual void SetRowStatus(int index, const QString& status, const QString& reason) = 0;
    // Draws a bar of percent (0 to 100) behind the row's status text.
    virtual void SetRowProgress(int index, int percent) = 0;
    virtual void SetValueLabel(ValueLabel label, const QString& text) = 0;
    virtual void SetProgress(ProgressBar bar, int percent) = 0;

    // --- Talking to the user ---
    // A notice: caption "Tolva Clipvane", no owner window.
    virtual void MessageBox(const QString& text, MessageIcon icon) = 0;
    // Yes and No; true for Yes.
    virtual bool AskYesNo(const QString& text, MessageIcon icon) = 0;

    // --- The end of a run ---
    // Shuts the computer down (ShutdownWindows with the form's message box).
    virtual void ShutdownComputer() = 0;
    // Opens a folder with the desktop's default action.
    virtual void OpenFolder(const QString& path) = 0;
};
