#pragma once

#include "app/ClipvaneView.h"
#include "tests/engine/test_runner_support.h"
#include "tests/support/TestEnvironment.h"

#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include <QStringList>

// A main form in a temporary home with everything that would reach the user or
// the desktop replaced: message boxes and questions are recorded (questions
// answered from a queue, Yes by default), the file dialog returns m_dialogFiles,
// folders are recorded instead of opened, the shut-down is recorded. The
// stand-in encoder is every back end's, and the run's stray-process sweep only
// ever looks for this process's own encoder names.
class FormFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the form (or another one, replacing it) and installs the fakes.
    void MakeForm();
    // Clicks a control of the form with the left mouse button.
    void Click(int id);
    // Adds files through the Add Movies button and waits until they are listed.
    void AddThroughDialog(const QStringList& paths);
    // Selects exactly the given rows.
    void SelectRows(const QList<int>& rows);
    QString LabelText(int id) const;
    // The row's status cell as shown.
    QString Status(int row) const
    {
        return m_form->m_jobList.CellText(row, CMovieJobList::ColStatus);
    }
    // A file with the given bytes in the temporary folder.
    QString File(const QString& name, const QByteArray& bytes = "x") const;

    ScopedTempHome m_home;
    FakeEncoder m_encoder;
    std::unique_ptr<CClipvaneView> m_form;
    QStringList m_messages;
    QStringList m_questions;
    std::vector<MessageIcon> m_questionIcons;
    std::deque<bool> m_answers;
    QStringList m_dialogFiles;
    // What the dialogs that open or save one file (a list file) or choose a
    // folder return.
    QString m_dialogFile;
    QStringList m_dialogCalls;
    // The folder each dialog opened in.
    QStringList m_dialogFolders;
    QStringList m_openedFolders;
    // The messages, the shut-down and the folders opened, in order ("message
    // ...", "shutdown", "open ...").
    QStringList m_events;
};
