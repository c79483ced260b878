// The main form on the offscreen platform, driven through its real buttons: the
// layout, the list buttons, the buttons during a run, the settings summary, the
// options, the about box, the web site, drops and adding many files.
#include "app/AboutDlg.h"
#include "controls/CQHyperLink.h"
#include "controls/GradientStaticCQ.h"
#include "controls/ResourceImages.h"
#include "controls/SkinButtonCQ.h"
#include "controls/StaticCQ.h"
#include "controls/TextProgressCtrl.h"
#include "engine/StoredSettings.h"
#include "jobs/JobListStore.h"
#include "jobs/ui/MovieListView.h"
#include "shell/AppInfo.h"
#include "shell/SettingsStore.h"
#include "tests/app/FormFixture.h"
#include "tests/support/EventPump.h"
#include "tests/support/MediaFactory.h"

#include <chrono>
#include <thread>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace {

class ClipvaneView : public FormFixture
{
protected:
    // The text a control shows, whatever its kind.
    QString TextOf(QWidget* control) const
    {
        if (auto* label = qobject_cast<CStaticCQ*>(control))
            return label->Text();
        if (auto* header = qobject_cast<CGradientStaticCQ*>(control))
            return header->WindowText();
        if (auto* button = qobject_cast<QAbstractButton*>(control))
            return button->text();
        return QString();
    }

    QStringList Summary() const
    {
        QStringList texts;
        for (int id = CClipvaneView::IdSettingsName; id <= CClipvaneView::IdAudioBitRate; ++id)
            texts << LabelText(id);
        return texts;
    }

    // Runs the next modal dialog the form opens: handle gets it once it is up.
    void OnNextModal(std::function<void(QWidget*)> handle)
    {
        QTimer::singleShot(0, [handle = std::move(handle)] {
            PumpUntil([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
            handle(QApplication::activeModalWidget());
        });
    }

    // Sends a drop of the given addresses to the list.
    bool Drop(const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        QWidget* target = m_form->m_listMovies->viewport();
        const QPoint point = target->rect().center();
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(point), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        return PumpUntil([this] { return !m_form->IsAddingMovies(); });
    }

    QStringList ListedNames() const
    {
        QStringList names;
        for (const StreamFile& job : m_form->m_jobList.Jobs())
            names << job.strFileName;
        return names;
    }
};

struct LayoutRow
{
    int id;
    const char* text;
    QRect geometry;
};

} // namespace

TEST_F(ClipvaneView, EveryControlHasItsTextAndPlace)
{
    // Dialog units converted with 6 x 13 base units, each edge rounded; the value
    // labels show the summary of an empty store.
    const LayoutRow layout[] = {
        {1000, "", {6, 31, 677, 149}},
        {1004, "Import or Remove Movies", {6, 11, 677, 18}},
        {1005, "Encoding Information", {9, 258, 276, 18}},
        {1006, "Current File", {293, 258, 390, 18}},
        {1024, "Progress", {293, 351, 390, 16}},
        {1007, "Settings : ", {9, 276, 108, 18}},
        {1008, "Encoder : ", {9, 294, 108, 18}},
        {1012, "Video Bit Rate : ", {9, 312, 108, 18}},
        {1013, "fps : ", {9, 328, 108, 18}},
        {1014, "Screen Resolution : ", {9, 346, 108, 18}},
        {1015, "Audio Mode : ", {9, 364, 108, 18}},
        {1016, "Audio Bit Rate : ", {9, 382, 108, 18}},
        {1017, "Pocket PC Normal", {120, 276, 108, 18}},
        {1018, "MPEG-4(OpenDivx)", {120, 294, 108, 18}},
        {1019, "150", {120, 312, 108, 18}},
        {1020, "15.000", {120, 328, 108, 18}},
        {1021, "320x240", {120, 346, 108, 18}},
        {1022, "stereo", {120, 364, 108, 18}},
        {1023, "64", {120, 382, 108, 18}},
        {1025, "Input : ", {293, 276, 108, 36}},
        {1026, "Output : ", {293, 309, 108, 42}},
        {1027, ".", {404, 276, 268, 34}},
        {1028, ".", {404, 309, 268, 42}},
        {1029, "Elapsed Time : ", {293, 367, 108, 18}},
        {1030, "Time Remaining : ", {293, 385, 108, 18}},
        {1031, "Current Progress : ", {293, 403, 108, 18}},
        {1032, "Total Progress : ", {293, 421, 108, 18}},
        {1033, ".", {401, 367, 184, 18}},
        {1034, ".", {401, 385, 123, 18}},
        {1041, "", {225, 187, 66, 62}},
        {1001, "", {291, 187, 66, 62}},
        {1002, "", {357, 187, 66, 62}},
        {1003, "", {423, 187, 66, 62}},
        {1037, "", {552, 187, 66, 62}},
        {1009, "", {617, 187, 66, 62}},
        {1040, "", {291, 442, 66, 62}},
        {1038, "", {357, 442, 66, 62}},
        {1039, "", {423, 442, 66, 62}},
        {1011, "", {552, 442, 66, 62}},
        {1010, "", {617, 442, 66, 62}},
        {1035, "", {410, 403, 273, 16}},
        {1036, "", {410, 423, 273, 16}},
    };
    int controls = 0;
    for (QWidget* child : m_form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        controls += child->objectName().toInt() >= 1000 ? 1 : 0;
    EXPECT_EQ(controls, int(std::size(layout)));
    for (const LayoutRow& row : layout) {
        QWidget* control = m_form->Control(row.id);
        ASSERT_NE(control, nullptr) << row.id;
        EXPECT_EQ(TextOf(control), QString::fromLatin1(row.text)) << row.id;
        EXPECT_EQ(control->geometry(), row.geometry) << row.id;
    }
    EXPECT_EQ(m_form->palette().color(QPalette::Window), QColor(36, 36, 36));
    EXPECT_EQ(m_form->m_progressCurrent->GetPos(), 0);
    EXPECT_EQ(m_form->m_progressTotal->GetPos(), 0);
}

TEST_F(ClipvaneView, LabelsAndButtonsWearTheFormsLook)
{
    const std::pair<int, bool> labels[] = {{1007, true},  {1016, true},  {1026, true},
                                           {1032, true},  {1017, false}, {1023, false},
                                           {1028, false}, {1034, false}};
    for (const auto& [id, caption] : labels) {
        auto* label = qobject_cast<CStaticCQ*>(m_form->Control(id));
        EXPECT_EQ(label->TextColor(), caption ? QColor(Qt::black) : QColor(Qt::white)) << id;
        EXPECT_EQ(label->BkColor(), caption ? QColor(167, 166, 170) : QColor(36, 36, 36)) << id;
        EXPECT_EQ(label->LogFont().family().toLower(), QStringLiteral("tahoma")) << id;
        EXPECT_EQ(QFontMetrics(label->LogFont()).height(), 13) << id;
    }
    // At rest each button shows its normal picture, disabled its pressed one.
    auto* add = qobject_cast<CSkinButtonCQ*>(m_form->Control(CClipvaneView::IdAddMovies));
    EXPECT_EQ(add->CurrentImage().toImage(), LoadResourceBitmap(148).toImage());
    add->setEnabled(false);
    EXPECT_EQ(add->CurrentImage().toImage(), LoadResourceBitmap(146).toImage());
}

TEST_F(ClipvaneView, AddRemoveAndRemoveAllChangeTheList)
{
    QStringList files;
    for (int i = 0; i < 5; ++i)
        files << File(QStringLiteral("movie %1.avi").arg(i), QByteArray(1000 * (i + 1), 'x'));

    AddThroughDialog({files[0], files[1]});
    EXPECT_EQ(
        m_dialogCalls,
        QStringList({"Add Movie Files|Movie Files (*.asf *.mpeg *.mpg *.avi *.wmv *.vob "
                     "*.ogm *.mkv *.ifo *.dat *.mp4 *.mov *.m4v *.3gp *.mts *.m2ts *.ts *.webm)"}));
    EXPECT_EQ(ListedNames(), QStringList({"movie 0.avi", "movie 1.avi"}));
    EXPECT_EQ(Status(0), QStringLiteral("Ready"));
    // The same file again, in one selection or another, stays one job.
    AddThroughDialog({files[1], files[1], files[0]});
    EXPECT_EQ(ListedNames(), QStringList({"movie 0.avi", "movie 1.avi"}));
    // A cancelled dialog adds nothing.
    AddThroughDialog({});
    EXPECT_EQ(m_form->JobCount(), 2);

    AddThroughDialog(files);
    ASSERT_EQ(m_form->JobCount(), 5);
    SelectRows({1, 3});
    Click(CClipvaneView::IdRemove);
    EXPECT_EQ(ListedNames(), QStringList({"movie 0.avi", "movie 2.avi", "movie 4.avi"}));
    EXPECT_EQ(m_form->m_jobList.GetTotalBytes(), 1000u + 3000u + 5000u);
    // Nothing selected: nothing happens.
    SelectRows({});
    Click(CClipvaneView::IdRemove);
    EXPECT_EQ(m_form->JobCount(), 3);

    Click(CClipvaneView::IdRemoveAll);
    EXPECT_EQ(m_form->JobCount(), 0);
    EXPECT_EQ(m_form->m_jobList.GetTotalBytes(), 0u);
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(ClipvaneView, PlayPreviewsTheLowestSelectedRow)
{
    const QString played = m_home.FilePath(QStringLiteral("played"));
    const QString player = File(QStringLiteral("player.sh"),
                                "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + played.toUtf8() + "\"\n");
    QFile::setPermissions(player, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_form->SetPlayerPath(player);

    Click(CClipvaneView::IdPlay);
    EXPECT_EQ(m_messages, QStringList({"Select movie file to play !!"}));
    EXPECT_FALSE(QFile::exists(played));

    QStringList files;
    for (int i = 0; i < 6; ++i)
        files << File(QStringLiteral("clip %1.mpg").arg(i));
    AddThroughDialog(files);
    SelectRows({2, 5});
    Click(CClipvaneView::IdPlay);
    ASSERT_TRUE(PumpUntil([&] { return MediaFactory::ReadFile(played).endsWith('\n'); }));
    EXPECT_EQ(MediaFactory::ReadFile(played), "-geometry\n325x265\n" + files[5].toUtf8() + "\n");
    // The player's end is not a job's: no status changes, nothing is reported.
    ASSERT_TRUE(PumpUntil([&] { return !m_form->m_preview.IsPlaying(); }));
    EXPECT_EQ(Status(5), QStringLiteral("Ready"));
    EXPECT_EQ(m_messages.size(), 1);

    // A player that plays on is ended by Make, before the run starts.
    const QString pidFile = m_home.FilePath(QStringLiteral("player.pid"));
    ASSERT_TRUE(m_form->m_preview.Start(
        m_encoder.CommandLine(m_encoder.Script("player", "pidfile " + pidFile + "\nhang\n"))));
    ASSERT_TRUE(PumpUntil([&] { return MediaFactory::ReadFile(pidFile).toInt() > 0; }));
    SetRegString("MovieDir", m_home.FilePath(QStringLiteral("out")));
    Click(CClipvaneView::IdMake);
    EXPECT_FALSE(ProcessProbe::ProcessExists(MediaFactory::ReadFile(pidFile).toInt()));
    EXPECT_FALSE(m_form->m_preview.IsPlaying());
    m_form->StopEncoding();
}

TEST_F(ClipvaneView, ListButtonsAreRefusedDuringARunAndComeBackAfterAndFailuresSayWhy)
{
    const int listButtons[] = {CClipvaneView::IdAddFolder, CClipvaneView::IdAddMovies,
                               CClipvaneView::IdRemove, CClipvaneView::IdRemoveAll,
                               CClipvaneView::IdPlay};
    struct Case
    {
        const char* name;
        QString script; // what the stand-in encoder does with the job
        bool pressStop;
        const char* message;
        const char* status;
        const char* tooltip; // of the row's status cell
    };
    const Case cases[] = {
        {"finished", "progress 0 100 2\n" + FakeEncoder::WriteWholeMovie(), false,
         "Encoding Finished !!", "Finished", ""},
        {"stopped", "onterm 2\nprogress 0 30 2\nhang\n", true, nullptr, "Stopped", ""},
        {"failed", "err Cannot open file/device.\\n\nexit 1\n", false,
         "Encoding Finished !!\n1 of 1 files failed.\nfailed.mpg failed: Cannot open file/device.",
         "Failed", "The encoder ended with exit code 1.\nCannot open file/device."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_messages.clear();
        Click(CClipvaneView::IdRemoveAll);
        const QString movie =
            File(QStringLiteral("%1.mpg").arg(QLatin1String(c.name)), c.script.toUtf8());
        AddThroughDialog({movie});
        SetRegString("MovieDir", m_home.FilePath(QStringLiteral("out")));

        Click(CClipvaneView::IdMake);
        ASSERT_TRUE(m_form->m_run.IsRunning());
        for (int id : listButtons)
            EXPECT_FALSE(m_form->Control(id)->isEnabled()) << id;
        EXPECT_TRUE(m_form->Control(CClipvaneView::IdStop)->isEnabled());
        // Clicks on them, and drops, change nothing.
        Click(CClipvaneView::IdRemoveAll);
        EXPECT_FALSE(Drop({QUrl::fromLocalFile(File(QStringLiteral("late.avi")))}));
        EXPECT_EQ(m_form->JobCount(), 1);

        if (c.pressStop) {
            ASSERT_TRUE(PumpUntil([&] {
                return m_form->m_progressCurrent->GetPos() > 0 ||
                       Status(0) == QStringLiteral("Encoding...");
            }));
            Click(CClipvaneView::IdStop);
        }
        ASSERT_TRUE(PumpUntil([&] { return !m_form->m_run.IsRunning(); }));
        for (int id : listButtons)
            EXPECT_TRUE(m_form->Control(id)->isEnabled()) << id;
        EXPECT_EQ(m_messages, c.message ? QStringList({c.message}) : QStringList());
        EXPECT_EQ(Status(0), QString::fromLatin1(c.status));
        const QModelIndex status = m_form->m_listMovies->model()->index(0, 0);
        EXPECT_EQ(status.data(Qt::ToolTipRole).toString(), c.tooltip);
    }
}

// Make and the end of a run in the window's words: the refusals before a run,
// the question about the finished files (no icon) and about a Stop's incomplete
// output (a question's icon); with one encoder every job's row is shown in turn,
// and a finished run shows its current bar whole, then shuts down, tells and
// opens the output folder, in that order.
TEST_F(ClipvaneView, MakeAndTheEndOfARunAreToldInTheWindowsWords)
{
    const QString out = m_home.FilePath("out");
    const QString badFolder = m_home.FilePath("file/sub");
    ASSERT_TRUE(MediaFactory::WriteFile(m_home.FilePath("file"), "x"));
    const struct
    {
        const char* name;
        int movies;
        // "old": the first movie's output is there already; "bad folder", "shut
        // down", "no encoder", "stop".
        QString how;
        QStringList events; // each one's start
        std::vector<MessageIcon> questions;
    } cases[] = {
        {"an empty list", 0, "", {"message Import movie file to the list !!"}, {}},
        {"a bad folder",
         1,
         "bad folder",
         {"message The output folder cannot be written: " + badFolder + "\n"},
         {}},
        {"finished",
         2,
         "shut down",
         {"shutdown", "message Encoding Finished !!", "open " + out},
         {}},
        {"kept", 1, "old", {}, {MessageIcon::None}},
        {"no encoder", 1, "no encoder", {"message Unable to start /nowhere/"}, {}},
        {"stopped", 1, "stop", {}, {MessageIcon::Question}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Click(CClipvaneView::IdRemoveAll);
        QStringList movies;
        for (int i = 0; i < c.movies; ++i)
            movies << File(QStringLiteral("%1 %2.mpg").arg(c.name).arg(i),
                           c.how == "stop" ? "onterm 2\ntouchout partial\nhang\n"
                                           : FakeEncoder::WriteWholeMovie().toUtf8());
        AddThroughDialog(movies);
        if (c.how == "old")
            ASSERT_TRUE(MediaFactory::WriteFile(out + "/kept 0.avi", "old"));
        SetRegString("MovieDir", c.how == "bad folder" ? badFolder : out);
        SetRegString("Prefix", QString());
        SetRegDWORD("Shutdown", c.how == "shut down" ? 1 : 0);
        SetRegDWORD("Parallel", 1);
        m_form->m_tools[EncodeProfile::Backend::Mencoder].strPath =
            c.how == "no encoder" ? "/nowhere/mencoder" : m_encoder.Path();
        m_events.clear();
        m_questionIcons.clear();
        m_answers = {false};
        Click(CClipvaneView::IdMake);
        if (c.how == "stop") {
            const QString part = QStringLiteral("%1/.stopped 0.avi.%2.part").arg(out).arg(getpid());
            ASSERT_TRUE(PumpUntil([&] { return QFileInfo(part).size() > 0; }));
            Click(CClipvaneView::IdStop);
        }
        ASSERT_TRUE(PumpUntil([&] { return !m_form->m_run.IsRunning(); }));
        ASSERT_EQ(m_events.size(), c.events.size()) << m_events.join('|').toStdString();
        for (int i = 0; i < m_events.size(); ++i)
            EXPECT_TRUE(m_events[i].startsWith(c.events[i])) << m_events[i].toStdString();
        EXPECT_EQ(m_questionIcons, c.questions);
        if (c.how == "shut down") {
            EXPECT_EQ(m_form->m_listMovies->SelectedRow(), 1);
            EXPECT_EQ(m_form->m_progressCurrent->GetPos(), 100);
        }
    }
    // No to both questions: the files they named stay as they were.
    EXPECT_EQ(MediaFactory::ReadFile(out + "/kept 0.avi"), "old");
    EXPECT_EQ(MediaFactory::ReadFile(out + "/stopped 0.avi"), "partial");
}

TEST_F(ClipvaneView, TwoRunningRowsShowTheirOwnBarsAndCurrentFileFollowsTheSelection)
{
    SetRegDWORD("Parallel", 2);
    SetRegString("MovieDir", m_home.FilePath(QStringLiteral("out")));
    const QStringList movies = {File("eighty.mpg", "onterm 2\nprogress 80 80 0\nhang\n"),
                                File("twenty.mpg", "onterm 2\nprogress 20 20 0\nhang\n"),
                                File("waiting.mpg", "exit 0\n")};
    AddThroughDialog(movies);
    Click(CClipvaneView::IdMake);
    CEncodingRun& run = m_form->m_run;
    ASSERT_TRUE(PumpUntil([&] {
        run.ReportProgress();
        return m_form->m_jobList.GetRowProgress(0) == 80 &&
               m_form->m_jobList.GetRowProgress(1) == 20;
    }));
    EXPECT_EQ(Status(0), QStringLiteral("Encoding..."));
    EXPECT_EQ(Status(1), QStringLiteral("Encoding..."));
    EXPECT_EQ(Status(2), QStringLiteral("Ready"));

    // Along the top line of each status cell, the share of pixels in the bar's
    // colour (the one at its left end).
    const QImage list = m_form->m_listMovies->viewport()->grab().toImage();
    const auto barShare = [&](int row) {
        const QRect cell = m_form->m_listMovies->visualRect(m_form->m_jobList.index(row, 0));
        const int y = cell.top() + 1;
        const QRgb bar = list.pixel(cell.left() + 2, y);
        int filled = 0;
        for (int x = cell.left() + 1; x < cell.right(); ++x)
            filled += list.pixel(x, y) == bar ? 1 : 0;
        return double(filled) / (cell.width() - 2);
    };
    EXPECT_NEAR(barShare(0), 0.8, 0.05);
    EXPECT_NEAR(barShare(1), 0.2, 0.05);
    EXPECT_EQ(barShare(2), 1.0); // no bar: one colour throughout

    // The panel shows a selected running row, else the job that started first.
    const std::pair<int, int> selections[] = {{1, 1}, {2, 0}, {1, 1}, {0, 0}};
    for (const auto& [selected, shown] : selections) {
        SelectRows({selected});
        EXPECT_EQ(LabelText(CClipvaneView::IdInput), movies[shown]) << selected;
        EXPECT_EQ(m_form->m_progressCurrent->GetPos(), shown == 0 ? 80 : 20) << selected;
    }

    m_answers = {false};
    Click(CClipvaneView::IdStop);
    EXPECT_EQ(Status(0), QStringLiteral("Stopped"));
    EXPECT_EQ(Status(1), QStringLiteral("Stopped"));
    EXPECT_EQ(m_form->m_jobList.GetRowProgress(0), -1);
    EXPECT_FALSE(run.IsRunning());
}

TEST_F(ClipvaneView, SummaryShowsThePresetOrTheStoredUserSettings)
{
    struct Case
    {
        const char* name;
        std::vector<std::pair<const char*, DWORD>> numbers;
        std::vector<std::pair<const char*, const char*>> texts;
        QStringList expected;
    };
    const Case cases[] = {
        {"preset",
         {},
         {},
         {"Pocket PC Normal", "MPEG-4(OpenDivx)", "150", "15.000", "320x240", "stereo", "64"}},
        {"an ffmpeg preset's real values",
         {},
         {{"Preset", "Smallest AV1"}},
         {"Smallest AV1", "AV1", "CRF 35", "source", "fits 1920x1080", "stereo", "Opus 96k"}},
        {"user define alone",
         {{"Option", 1}},
         {},
         {"User Define", "MPEG-4(OpenDivx)", "150", "15", "320x240", "stereo", "64"}},
        {"bit rate outside the list",
         {{"Option", 1}, {"Bit", 99}},
         {},
         {"User Define", "MPEG-4(OpenDivx)", "150", "15", "320x240", "stereo", "64"}},
        {"every user value",
         {{"Option", 1}, {"Encoder", 1}, {"Bit", 6}, {"Fps", 2}},
         {{"Width", "640"}, {"Height", "abc"}},
         {"User Define", "MS MPEGv2", "500", "30", "640x240", "stereo", "64"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempHome home;
        for (const auto& [value, number] : c.numbers)
            SetRegDWORD(value, number);
        for (const auto& [value, text] : c.texts)
            SetRegString(value, QString::fromLatin1(text));
        MakeForm();
        EXPECT_EQ(Summary(), c.expected);
    }
}

TEST_F(ClipvaneView, OptionsRefreshTheSummaryOnlyOnOk)
{
    // Changed behind the form's back: only OK makes the summary read it again.
    SetRegDWORD("Option", 1);
    OnNextModal([](QWidget* dialog) {
        auto* options = qobject_cast<COptionDlg*>(dialog);
        ASSERT_NE(options, nullptr);
        static_cast<QPushButton*>(options->Control(COptionDlg::IdCancel))->click();
    });
    Click(CClipvaneView::IdOptions);
    EXPECT_EQ(LabelText(CClipvaneView::IdSettingsName), QStringLiteral("Pocket PC Normal"));

    OnNextModal([](QWidget* dialog) {
        auto* options = qobject_cast<COptionDlg*>(dialog);
        ASSERT_NE(options, nullptr);
        options->m_cbFrameRate->setCurrentIndex(1);
        static_cast<QPushButton*>(options->Control(COptionDlg::IdOk))->click();
    });
    Click(CClipvaneView::IdOptions);
    EXPECT_EQ(LabelText(CClipvaneView::IdSettingsName), QStringLiteral("User Define"));
    EXPECT_EQ(LabelText(CClipvaneView::IdFrameRate), QStringLiteral("25"));
    EXPECT_EQ(StoredSettings::Load().Profile().dFps, 25.0);
}

TEST_F(ClipvaneView, AboutShowsTheVersionAndWebSiteOpensTheHomePage)
{
    QString version, web, mail, title;
    OnNextModal([&](QWidget* dialog) {
        auto* about = qobject_cast<CAboutDlg*>(dialog);
        ASSERT_NE(about, nullptr);
        title = about->windowTitle();
        version = about->findChild<QLabel*>(QStringLiteral("1012"))->text();
        web = about->m_linkWeb->GetURL();
        mail = about->m_linkMail->GetURL();
        about->accept();
    });
    Click(CClipvaneView::IdAbout);
    EXPECT_EQ(title, QStringLiteral("About Clipvane"));
    EXPECT_EQ(version, QStringLiteral("1.0.0314"));
    EXPECT_EQ(web, QStringLiteral("http://www.tolva.example/"));
    EXPECT_EQ(mail, QStringLiteral("mailto:support@tolva.example"));

    QStringList opened;
    CCQHyperLink::SetOpenerForTesting([&](const QString& url) {
        opened << url;
        return false;
    });
    Click(CClipvaneView::IdWebSite);
    CCQHyperLink::SetOpenerForTesting({});
    EXPECT_EQ(opened, QStringList({QString::fromLatin1(AppInfo::HomePageUrl)}));
    // Whatever the outcome, nothing is said.
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(ClipvaneView, DroppedMovieFilesAreAddedInAnyCase)
{
    const QString upper = File(QStringLiteral("SHOUT.MPG"));
    const QString odd = File(QStringLiteral("Über \"100%\" #1.Mkv"));
    const QString text = File(QStringLiteral("notes.txt"));
    EXPECT_FALSE(Drop({QUrl::fromLocalFile(text), QUrl(QStringLiteral("http://x.example/a.avi"))}));
    ASSERT_TRUE(Drop({QUrl::fromLocalFile(upper), QUrl::fromLocalFile(text),
                      QUrl::fromLocalFile(odd), QUrl::fromLocalFile(upper)}));
    EXPECT_EQ(ListedNames(), QStringList({"SHOUT.MPG", "Über \"100%\" #1.Mkv"}));
    EXPECT_EQ(m_form->m_jobList.Jobs()[1].strFilePath, odd);
}

// A folder tree, added by Add Folder, by a drop or from the command line: every
// movie under it in name order, hidden folders and files and files that are
// not movies left out, each with its folder relative to the tree. Make then
// writes the same tree into the output folder, names unique within each folder.
TEST_F(ClipvaneView, AFolderTreeIsAddedWholeAndComesOutMirrored)
{
    const QString trip = m_home.FilePath("Trip");
    const QByteArray movie = FakeEncoder::WriteWholeMovie().toUtf8();
    for (const char* file : {"Day 2/a.mov", "Day 2/a.mp4", "Day 1/a.mov", "b.webm", ".hidden/c.mov",
                             "Day 1/.d.mov", "Day 1/photo.jpg", "notes.txt"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(trip + "/" + file).path()));
        File(QStringLiteral("Trip/") + QLatin1String(file), movie);
    }
    const QStringList rows = {"Trip|b.webm", "Trip/Day 1|a.mov", "Trip/Day 2|a.mov",
                              "Trip/Day 2|a.mp4"};
    const auto listed = [this] {
        QStringList found;
        for (const StreamFile& job : m_form->m_jobList.Jobs())
            found << job.strRelativeDir + "|" + job.strFileName;
        return found;
    };
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"Add Folder",
         [&] {
             m_dialogFile = trip;
             Click(CClipvaneView::IdAddFolder);
         }},
        {"drop", [&] { ASSERT_TRUE(Drop({QUrl::fromLocalFile(trip)})); }},
        {"command line", [&] { m_form->OpenPaths({trip}); }},
    };
    for (const auto& [way, add] : ways) {
        SCOPED_TRACE(way);
        Click(CClipvaneView::IdRemoveAll);
        add();
        ASSERT_TRUE(PumpUntil([&] { return !m_form->IsAddingMovies(); }));
        EXPECT_EQ(listed(), rows);
    }
    EXPECT_EQ(m_dialogCalls.first(), "Add Movie Folder");

    const QString out = m_home.FilePath("out");
    SetRegString("MovieDir", out);
    SetRegString("Prefix", "[Tolva]");
    Click(CClipvaneView::IdMake);
    ASSERT_TRUE(PumpUntil([&] { return !m_form->m_run.IsRunning(); }, 60000));
    EXPECT_EQ(m_messages, QStringList({"Encoding Finished !!"}));
    for (const char* output : {"Trip/[Tolva]b.avi", "Trip/Day 1/[Tolva]a.avi",
                               "Trip/Day 2/[Tolva]a.avi", "Trip/Day 2/[Tolva]a (2).avi"})
        EXPECT_TRUE(QFileInfo(out + "/" + output).isFile()) << output;
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList({"Trip"}));
}

TEST_F(ClipvaneView, AddingManyFilesShowsProgressAndCancelKeepsWhatWasAdded)
{
    QStringList files;
    for (int i = 0; i < 40; ++i)
        files << QStringLiteral("/nowhere/movie %1.avi").arg(i);
    // A slow disk: each probe takes a while, off the UI thread.
    m_form->m_adder.ProbeBatch().SetProbe([](const QString& path) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        StreamFile job;
        job.strFilePath = path;
        job.strFileName = path.section(QLatin1Char('/'), -1);
        return job;
    });
    m_dialogFiles = files;
    Click(CClipvaneView::IdAddMovies);
    QProgressDialog* progress = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        progress = m_form->findChild<QProgressDialog*>();
        return progress && progress->isVisible();
    }));
    EXPECT_EQ(progress->windowTitle(), QStringLiteral("Tolva Clipvane"));
    EXPECT_EQ(progress->maximum(), 40);
    // The window keeps working while the files are probed: rows arrive in order.
    ASSERT_TRUE(PumpUntil([&] { return m_form->JobCount() >= 3; }));
    progress->findChild<QPushButton*>()->click();
    EXPECT_FALSE(m_form->IsAddingMovies());
    const int kept = m_form->JobCount();
    PumpFor(200);
    EXPECT_EQ(m_form->JobCount(), kept);
    EXPECT_LT(kept, 40);
    for (int row = 0; row < kept; ++row)
        EXPECT_EQ(m_form->m_jobList.Jobs()[row].strFilePath, files[row]);
    // The dialog goes away (deleted once control is back in an event loop).
    EXPECT_FALSE(progress->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(m_form->findChild<QProgressDialog*>(), nullptr);
}

// Files and folders handed over during a run (a later start, the command line)
// wait for its end, and the list's heading says how many; then they are added
// as Add Movies adds them: listed files skipped, a folder's movies with their
// relative folders, files that cannot be read named in one message. When
// Clipvane quits instead, they are added at once, so that the kept list has them.
TEST_F(ClipvaneView, FilesHandedOverDuringARunWaitForItsEnd)
{
    const QString heading = QStringLiteral("Import or Remove Movies");
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "quit" : "stop");
        Click(CClipvaneView::IdRemoveAll);
        const auto* header =
            qobject_cast<CGradientStaticCQ*>(m_form->Control(CClipvaneView::IdHeaderMovies));
        m_messages.clear();
        const QString running = File("running.mpg", "onterm 2\nprogress 0 30 2\nhang\n");
        AddThroughDialog({running});
        SetRegString("MovieDir", m_home.FilePath(QStringLiteral("out")));
        Click(CClipvaneView::IdMake);
        ASSERT_TRUE(m_form->m_run.IsRunning());

        const QString later = File("later.mkv");
        const QString trip = m_home.FilePath("Trip");
        ASSERT_TRUE(QDir().mkpath(trip + "/Day 1"));
        File("Trip/Day 1/a.mov");
        File("Trip/notes.txt");
        const QString gone = m_home.FilePath("gone.avi");
        m_form->OpenPaths({later, running, trip});
        m_form->OpenPaths({gone});
        EXPECT_EQ(m_form->JobCount(), 1);
        EXPECT_EQ(header->WindowText(), heading + "   (4 waiting for the end of the run)");

        if (quit) {
            m_form->StopForQuit();
        } else {
            Click(CClipvaneView::IdStop);
            ASSERT_TRUE(
                PumpUntil([&] { return m_form->JobCount() == 3 && !m_messages.isEmpty(); }));
        }
        EXPECT_EQ(header->WindowText(), heading);
        EXPECT_EQ(ListedNames(), QStringList({"running.mpg", "later.mkv", "a.mov"}));
        EXPECT_EQ(m_form->m_jobList.Jobs()[2].strRelativeDir, QStringLiteral("Trip/Day 1"));
        EXPECT_EQ(m_form->WaitingCount(), 0);
        EXPECT_EQ(
            m_messages,
            quit ? QStringList()
                 : QStringList({"These files could not be read and were not added:\n\n" + gone}));
    }
}

// The list's context menu saves the list into a file (the kept list's format)
// and opens such a file: its movies are added as Add Movies adds them, with
// their relative folders, listed ones skipped. A file that is not a list says
// so; during a run only Save List is offered.
TEST_F(ClipvaneView, TheListMenuSavesAndOpensListFiles)
{
    const QString single = File("single.mpg");
    ASSERT_TRUE(QDir().mkpath(m_home.FilePath("Trip")));
    File("Trip/a.mov");
    File("Trip/b.mp4");
    m_form->OpenPaths({single, m_home.FilePath("Trip")});
    ASSERT_TRUE(PumpUntil([&] { return m_form->JobCount() == 3; }));

    const QPoint point(20, 20);
    QContextMenuEvent click(QContextMenuEvent::Mouse, point,
                            m_form->m_listMovies->viewport()->mapToGlobal(point));
    QApplication::sendEvent(m_form->m_listMovies->viewport(), &click);
    ASSERT_TRUE(PumpUntil([&] { return m_form->m_pListMenu->isVisible(); }));
    QStringList items;
    for (const QAction* action : m_form->m_pListMenu->actions())
        items << action->text() + (action->isEnabled() ? "" : " (off)");
    EXPECT_EQ(items, QStringList({"Save List...", "Open List..."}));
    m_form->m_pListMenu->hide();

    m_dialogFile = m_home.FilePath("holiday list.json");
    m_form->m_pSaveListAction->trigger();
    EXPECT_EQ(m_dialogCalls.back(), "Save List|Clipvane Lists (*.json)");
    const auto saved = CJobListStore::ReadListFile(m_dialogFile);
    ASSERT_TRUE(saved.has_value());
    ASSERT_EQ(saved->size(), 3);
    EXPECT_EQ((*saved)[2].strRelativeDir, QStringLiteral("Trip"));

    // Back into an emptied list, and once more into the full one: no row twice.
    Click(CClipvaneView::IdRemoveAll);
    for (int round = 0; round < 2; ++round) {
        m_form->m_pOpenListAction->trigger();
        ASSERT_TRUE(PumpUntil([&] { return !m_form->IsAddingMovies(); }));
        EXPECT_EQ(ListedNames(), QStringList({"single.mpg", "a.mov", "b.mp4"}));
        EXPECT_EQ(m_form->m_jobList.Jobs()[1].strRelativeDir, QStringLiteral("Trip"));
        EXPECT_EQ(Status(1), QStringLiteral("Ready"));
    }
    EXPECT_EQ(m_dialogCalls.back(), "Open List|Clipvane Lists (*.json)");
    EXPECT_TRUE(m_messages.isEmpty());
    m_dialogFile = File("notes.json", "shopping: milk");
    m_form->m_pOpenListAction->trigger();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].startsWith(m_dialogFile + " is not a list of movies"))
        << m_messages[0].toStdString();

    Click(CClipvaneView::IdRemoveAll);
    AddThroughDialog({File("running.mpg", "onterm 2\nprogress 0 30 2\nhang\n")});
    SetRegString("MovieDir", m_home.FilePath(QStringLiteral("out")));
    Click(CClipvaneView::IdMake);
    ASSERT_TRUE(m_form->m_run.IsRunning());
    QApplication::sendEvent(m_form->m_listMovies->viewport(), &click);
    EXPECT_TRUE(m_form->m_pSaveListAction->isEnabled());
    EXPECT_FALSE(m_form->m_pOpenListAction->isEnabled());
    m_form->m_pListMenu->hide();
    m_dialogFile = m_home.FilePath("holiday list.json");
    m_form->OnOpenList();
    EXPECT_EQ(m_form->JobCount(), 1);
    Click(CClipvaneView::IdStop);
}

TEST_F(ClipvaneView, TheListComesBackAtTheNextStartAndMakeSkipsMissingMovies)
{
    // The dialog starts in the videos folder, then where the last movie came from.
    ASSERT_TRUE(QDir().mkpath(QDir::homePath() + "/Videos"));
    const QByteArray whole = FakeEncoder::WriteWholeMovie().toUtf8();
    const QString gone = File("gone.mpg", whole);
    ASSERT_TRUE(QDir().mkpath(m_home.FilePath("more")));
    AddThroughDialog({File("kept 1.mpg", whole), gone});
    AddThroughDialog({File("more/ünïcode 100%.mkv", whole)});
    EXPECT_EQ(m_dialogFolders, QStringList({QDir::homePath() + "/Videos", m_home.Path()}));

    ASSERT_TRUE(QFile::remove(gone));
    MakeForm();
    EXPECT_EQ(ListedNames(), QStringList({"kept 1.mpg", "gone.mpg", "ünïcode 100%.mkv"}));
    SetRegString("MovieDir", m_home.FilePath("out"));
    Click(CClipvaneView::IdMake);
    ASSERT_TRUE(PumpUntil([&] { return !m_form->m_run.IsRunning(); }));
    EXPECT_EQ(QStringList({Status(0), Status(1), Status(2)}),
              QStringList({"Finished", "Missing", "Finished"}));
    EXPECT_EQ(m_messages, QStringList({"Encoding Finished !!"}));
    EXPECT_EQ(m_form->m_progressTotal->GetPos(), 100);
}

TEST_F(ClipvaneView, KeysReachTheirActionsAndNoneActsDuringARunWhereItMustNot)
{
    const struct
    {
        const char* name;
        QKeyCombination key;
        bool duringRun;
        QStringList effects;
    } cases[] = {
        {"Ctrl+O", Qt::CTRL | Qt::Key_O, false, {"dialog"}},
        {"Ctrl+O during a run", Qt::CTRL | Qt::Key_O, true, {}},
        {"Ctrl+Shift+O", Qt::CTRL | Qt::SHIFT | Qt::Key_O, false, {"dialog"}},
        {"Ctrl+Shift+O during a run", Qt::CTRL | Qt::SHIFT | Qt::Key_O, true, {}},
        {"Delete", QKeyCombination(Qt::Key_Delete), false, {"removed"}},
        {"Delete during a run", QKeyCombination(Qt::Key_Delete), true, {}},
        {"Ctrl+Return", Qt::CTRL | Qt::Key_Return, false, {"started"}},
        {"Ctrl+Return during a run", Qt::CTRL | Qt::Key_Return, true, {}},
        {"Escape during a run", QKeyCombination(Qt::Key_Escape), true, {"stopped"}},
        {"Escape", QKeyCombination(Qt::Key_Escape), false, {}},
        {"F1", QKeyCombination(Qt::Key_F1), false, {"about"}},
        {"Ctrl+Q", Qt::CTRL | Qt::Key_Q, false, {"closed"}},
    };
    SetRegString("MovieDir", m_home.FilePath("out"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Click(CClipvaneView::IdRemoveAll);
        AddThroughDialog({File("a.mpg", "onterm 2\nhang\n"), File("b.mpg", "onterm 2\nhang\n")});
        if (c.duringRun)
            Click(CClipvaneView::IdMake);
        SelectRows({0});
        m_form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
        const qsizetype dialogs = m_dialogCalls.size();
        // A dialog the key opens is up when the timer fires in its event loop.
        bool about = false;
        QTimer::singleShot(20, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            about = qobject_cast<CAboutDlg*>(dialog) != nullptr;
            if (dialog)
                dialog->reject();
        });
        QTest::keyClick(m_form->m_listMovies, c.key.key(), c.key.keyboardModifiers());
        PumpFor(50);

        const bool running = m_form->m_run.IsRunning();
        const std::pair<const char*, bool> seen[] = {{"dialog", m_dialogCalls.size() > dialogs},
                                                     {"removed", m_form->JobCount() < 2},
                                                     {"started", !c.duringRun && running},
                                                     {"stopped", c.duringRun && !running},
                                                     {"about", about},
                                                     {"closed", !m_form->isVisible()}};
        QStringList effects;
        for (const auto& [effect, happened] : seen) {
            if (happened)
                effects << effect;
        }
        EXPECT_EQ(effects, c.effects);
        m_form->StopEncoding();
        QApplication::closeAllWindows();
        m_form->show();
    }
}

TEST_F(ClipvaneView, PictureButtonsTakeTheFocusWithTabShowItAndPressWithSpaceAndReturn)
{
    // The buttons in Tab order (their ids) and their accessible names.
    const int order[] = {1041, 1001, 1002, 1003, 1037, 1009, 1040, 1038, 1039, 1011, 1010};
    const QStringList names = {"Add Folder", "Add Movies", "Remove",  "Remove All",
                               "Play",       "Sampling",   "Options", "About",
                               "Web Site",   "Make",       "Stop"};
    // Tab leaves the list for the buttons also when it has rows.
    AddThroughDialog({File("a.mpg")});
    SelectRows({0});
    m_form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
    m_form->m_listMovies->setFocus();
    auto* first = static_cast<CSkinButtonCQ*>(m_form->Control(order[0]));
    const QImage unfocused = first->grab().toImage();
    for (int i = 0; i < int(std::size(order)); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), m_form->Control(order[i])) << order[i];
        EXPECT_EQ(m_form->Control(order[i])->accessibleName(), names[i]);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_form->m_listMovies);

    // Focused from the keyboard: a ring in the highlight colour inside the frame.
    QTest::keyClick(m_form->m_listMovies, Qt::Key_Tab);
    const QImage focused = first->grab().toImage();
    EXPECT_EQ(focused.pixelColor(4, 31), first->palette().color(QPalette::Highlight));
    EXPECT_EQ(unfocused.pixelColor(4, 31), LoadResourceBitmap(177).toImage().pixelColor(4, 31));

    auto* add = m_form->Control(CClipvaneView::IdAddMovies);
    add->setFocus(Qt::TabFocusReason);
    m_dialogFiles = {File("b.mpg")};
    QTest::keyClick(add, Qt::Key_Space);
    ASSERT_TRUE(PumpUntil([&] { return m_form->JobCount() == 2; }));
    auto* removeAll = m_form->Control(CClipvaneView::IdRemoveAll);
    removeAll->setFocus(Qt::TabFocusReason);
    QTest::keyClick(removeAll, Qt::Key_Return);
    EXPECT_TRUE(PumpUntil([&] { return m_form->JobCount() == 0; }));
}
