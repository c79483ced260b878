#include "FormFixture.h"

#include "controls/StaticCQ.h"
#include "engine/EncodeSetting.h"
#include "jobs/ui/MovieListView.h"
#include "tests/support/EventPump.h"
#include "tests/support/MediaFactory.h"

#include <QItemSelectionModel>
#include <QTest>

void FormFixture::SetUp()
{
    ASSERT_TRUE(m_home.IsValid());
    ASSERT_TRUE(m_encoder.IsValid());
    MakeForm();
}

void FormFixture::TearDown()
{
    m_form.reset();
}

void FormFixture::MakeForm()
{
    m_form.reset();
    m_form = std::make_unique<CClipvaneView>();
    // Before anything can end the run: the sweep then spares every other
    // encoder on the machine.
    m_form->m_run.SetEncoderImageName(m_encoder.ImageName());
    for (auto& [backend, tool] : m_form->m_tools)
        tool = {m_encoder.Path(), m_encoder.ImageName()};
    CClipvaneView::Hooks& hooks = m_form->m_hooks;
    hooks.messageBox = [this](const QString& text, MessageIcon) {
        m_messages << text;
        m_events << "message " + text;
    };
    hooks.askYesNo = [this](const QString& text, MessageIcon icon) {
        m_questions << text;
        m_questionIcons.push_back(icon);
        if (m_answers.empty())
            return true;
        const bool answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    };
    hooks.openFileNames = [this](QWidget*, const QString& title, const QString& folder,
                                 const QString& filter) {
        m_dialogCalls << title + QLatin1Char('|') + filter;
        m_dialogFolders << folder;
        return m_dialogFiles;
    };
    const auto oneFile = [this](QWidget*, const QString& title, const QString& path,
                                const QString& filter) {
        m_dialogCalls << title + QLatin1Char('|') + filter;
        m_dialogFolders << path;
        return m_dialogFile;
    };
    hooks.openFileName = oneFile;
    hooks.saveFileName = oneFile;
    hooks.chooseFolder = [this](QWidget*, const QString& title, const QString& folder) {
        m_dialogCalls << title;
        m_dialogFolders << folder;
        return m_dialogFile;
    };
    hooks.openFolder = [this](const QString& folder) {
        m_openedFolders << folder;
        m_events << "open " + folder;
    };
    hooks.shutdown = [this](const ShutdownMessageBox&) { m_events << "shutdown"; };
    m_form->show();
}

void FormFixture::Click(int id)
{
    QWidget* control = m_form->Control(id);
    ASSERT_NE(control, nullptr) << id;
    QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
}

void FormFixture::AddThroughDialog(const QStringList& paths)
{
    m_dialogFiles = paths;
    Click(CClipvaneView::IdAddMovies);
    ASSERT_TRUE(PumpUntil([this] { return !m_form->IsAddingMovies(); }));
}

void FormFixture::SelectRows(const QList<int>& rows)
{
    QItemSelectionModel* selection = m_form->m_listMovies->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(m_form->m_jobList.index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QString FormFixture::LabelText(int id) const
{
    return qobject_cast<CStaticCQ*>(m_form->Control(id))->Text();
}

QString FormFixture::File(const QString& name, const QByteArray& bytes) const
{
    const QString path = m_home.FilePath(name);
    MediaFactory::WriteFile(path, bytes);
    return path;
}
