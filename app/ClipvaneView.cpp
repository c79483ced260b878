#include "ClipvaneView.h"

#include "app/AboutDlg.h"
#include "app/AppMessageBox.h"
#include "controls/AppFonts.h"
#include "controls/CQHyperLink.h"
#include "controls/FormColours.h"
#include "controls/GradientStaticCQ.h"
#include "controls/ResourceImages.h"
#include "controls/SkinButtonCQ.h"
#include "controls/StaticCQ.h"
#include "controls/TextProgressCtrl.h"
#include "engine/ExternalTools.h"
#include "engine/OutputNamer.h"
#include "engine/Presets.h"
#include "engine/StoredSettings.h"
#include "jobs/JobStatus.h"
#include "jobs/MovieFileTypes.h"
#include "jobs/ui/MovieListView.h"
#include "shell/AppFolder.h"
#include "shell/AppInfo.h"
#include "shell/DialogUnits.h"
#include "shell/GotoURL.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMenu>
#include <QShortcut>
#include <QStandardPaths>

namespace {

enum class Kind
{
    Header,
    Caption,
    Value,
    Button,
    List,
    Progress
};

// Template 101: every control with its initial text and its place in dialog
// units (x, y, width, height), in the order the form declares them.
struct ControlSpec
{
    int id;
    Kind kind;
    const char* text;
    int x, y, w, h;
};

const ControlSpec Layout[] = {
    {CClipvaneView::IdListMovies, Kind::List, "", 4, 19, 451, 92},
    {CClipvaneView::IdHeaderMovies, Kind::Header, "Import or Remove Movies", 4, 7, 451, 11},
    {CClipvaneView::IdHeaderSettings, Kind::Header, "Encoding Information", 6, 159, 184, 11},
    {CClipvaneView::IdHeaderCurrentFile, Kind::Header, "Current File", 195, 159, 260, 11},
    {CClipvaneView::IdHeaderProgress, Kind::Header, "Progress", 195, 216, 260, 10},
    {CClipvaneView::IdCaptionSettings, Kind::Caption, "Settings : ", 6, 170, 72, 11},
    {CClipvaneView::IdCaptionEncoder, Kind::Caption, "Encoder : ", 6, 181, 72, 11},
    {CClipvaneView::IdCaptionVideoBitRate, Kind::Caption, "Video Bit Rate : ", 6, 192, 72, 11},
    {CClipvaneView::IdCaptionFrameRate, Kind::Caption, "fps : ", 6, 202, 72, 11},
    {CClipvaneView::IdCaptionPictureSize, Kind::Caption, "Screen Resolution : ", 6, 213, 72, 11},
    {CClipvaneView::IdCaptionAudioMode, Kind::Caption, "Audio Mode : ", 6, 224, 72, 11},
    {CClipvaneView::IdCaptionAudioBitRate, Kind::Caption, "Audio Bit Rate : ", 6, 235, 72, 11},
    {CClipvaneView::IdSettingsName, Kind::Value, Presets::PocketPcNormalName, 80, 170, 72, 11},
    {CClipvaneView::IdEncoder, Kind::Value, ".", 80, 181, 72, 11},
    {CClipvaneView::IdVideoBitRate, Kind::Value, ".", 80, 192, 72, 11},
    {CClipvaneView::IdFrameRate, Kind::Value, ".", 80, 202, 72, 11},
    {CClipvaneView::IdPictureSize, Kind::Value, ".", 80, 213, 72, 11},
    {CClipvaneView::IdAudioMode, Kind::Value, ".", 80, 224, 72, 11},
    {CClipvaneView::IdAudioBitRate, Kind::Value, ".", 80, 235, 72, 11},
    {CClipvaneView::IdCaptionInput, Kind::Caption, "Input : ", 195, 170, 72, 22},
    {CClipvaneView::IdCaptionOutput, Kind::Caption, "Output : ", 195, 190, 72, 26},
    {CClipvaneView::IdInput, Kind::Value, ".", 269, 170, 179, 21},
    {CClipvaneView::IdOutput, Kind::Value, ".", 269, 190, 179, 26},
    {CClipvaneView::IdCaptionElapsed, Kind::Caption, "Elapsed Time : ", 195, 226, 72, 11},
    {CClipvaneView::IdCaptionRemaining, Kind::Caption, "Time Remaining : ", 195, 237, 72, 11},
    {CClipvaneView::IdCaptionProgressCurrent, Kind::Caption, "Current Progress : ", 195, 248, 72,
     11},
    {CClipvaneView::IdCaptionProgressTotal, Kind::Caption, "Total Progress : ", 195, 259, 72, 11},
    {CClipvaneView::IdElapsed, Kind::Value, ".", 267, 226, 123, 11},
    {CClipvaneView::IdRemaining, Kind::Value, ".", 267, 237, 82, 11},
    // Add Folder, left of Add Movies: the list's four buttons in one group.
    {CClipvaneView::IdAddFolder, Kind::Button, "", 150, 115, 44, 38},
    {CClipvaneView::IdAddMovies, Kind::Button, "", 194, 115, 44, 38},
    {CClipvaneView::IdRemove, Kind::Button, "", 238, 115, 44, 38},
    {CClipvaneView::IdRemoveAll, Kind::Button, "", 282, 115, 44, 38},
    {CClipvaneView::IdPlay, Kind::Button, "", 368, 115, 44, 38},
    {CClipvaneView::IdSampling, Kind::Button, "", 411, 115, 44, 38},
    {CClipvaneView::IdOptions, Kind::Button, "", 194, 272, 44, 38},
    {CClipvaneView::IdAbout, Kind::Button, "", 238, 272, 44, 38},
    {CClipvaneView::IdWebSite, Kind::Button, "", 282, 272, 44, 38},
    {CClipvaneView::IdMake, Kind::Button, "", 368, 272, 44, 38},
    {CClipvaneView::IdStop, Kind::Button, "", 411, 272, 44, 38},
    {CClipvaneView::IdProgressCurrent, Kind::Progress, "", 273, 248, 182, 10},
    {CClipvaneView::IdProgressTotal, Kind::Progress, "", 273, 260, 182, 10},
};

// Each button's control, its pictures (normal, also the focused look; pressed,
// also the disabled look; hover) and action's name, and its handler.
struct ButtonSpec
{
    int id;
    const FormButton& button;
    void (CClipvaneView::*handler)();
};

const ButtonSpec Buttons[] = {
    {CClipvaneView::IdAddFolder, FormButtons::AddFolder, &CClipvaneView::OnAddFolder},
    {CClipvaneView::IdAddMovies, FormButtons::AddMovies, &CClipvaneView::OnAddMovies},
    {CClipvaneView::IdRemove, FormButtons::Remove, &CClipvaneView::OnRemove},
    {CClipvaneView::IdRemoveAll, FormButtons::RemoveAll, &CClipvaneView::OnRemoveAll},
    {CClipvaneView::IdSampling, FormButtons::Sampling, &CClipvaneView::StartSampling},
    {CClipvaneView::IdStop, FormButtons::Stop, &CClipvaneView::StopEncoding},
    {CClipvaneView::IdMake, FormButtons::Make, &CClipvaneView::StartEncoding},
    {CClipvaneView::IdPlay, FormButtons::Play, &CClipvaneView::OnPlay},
    {CClipvaneView::IdAbout, FormButtons::About, &CClipvaneView::OnAbout},
    {CClipvaneView::IdWebSite, FormButtons::WebSite, &CClipvaneView::OnWebSite},
    {CClipvaneView::IdOptions, FormButtons::Options, &CClipvaneView::OnOptions},
};

// The keys of the window and what they do; each action refuses what it refuses
// when its button is clicked.
struct KeySpec
{
    QKeyCombination key;
    void (CClipvaneView::*action)();
};

const KeySpec Keys[] = {
    {Qt::CTRL | Qt::Key_O, &CClipvaneView::OnAddMovies},
    {Qt::CTRL | Qt::SHIFT | Qt::Key_O, &CClipvaneView::OnAddFolder},
    {Qt::CTRL | Qt::Key_Return, &CClipvaneView::StartEncoding},
    {Qt::CTRL | Qt::Key_Enter, &CClipvaneView::StartEncoding},
    {QKeyCombination(Qt::Key_Escape), &CClipvaneView::OnEscape},
    {QKeyCombination(Qt::Key_F1), &CClipvaneView::OnAbout},
    {Qt::CTRL | Qt::Key_Q, &CClipvaneView::OnQuit},
    {QKeyCombination(Qt::Key_Delete), &CClipvaneView::OnRemove},
};

// The list's heading, and the note after it while files wait for a run to end.
const QString MoviesHeading = QStringLiteral("Import or Remove Movies");
const QString WaitingNote = QStringLiteral("   (%1 waiting for the end of the run)");

// The files of a list file, as its dialogs offer them.
const QString ListFileFilter = QStringLiteral("Clipvane Lists (*.json)");

QMessageBox::Icon BoxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

CClipvaneView::CClipvaneView(QWidget* parent)
    : QWidget(parent)
    , m_dlgOptions(this)
    , m_jobList([] {
        const EncodeProfile profile = StoredSettings::Load().Profile();
        return EncodingRates{profile.EstimatedFps(), profile.EstimatedVideoKbps(),
                             profile.nAudioKbps};
    })
    , m_adder(
          m_jobList, this, [this] { return m_run.IsRunning(); },
          [this](const QString& text, MessageIcon icon) { MessageBox(text, icon); })
    , m_strPlayerPath(ExternalTools::PlayerPath())
{
    m_hooks.messageBox = [](const QString& text, MessageIcon icon) {
        ShowAppMessage(text, BoxIcon(icon));
    };
    m_hooks.askYesNo = [](const QString& text, MessageIcon icon) {
        return AskAppYesNo(text, BoxIcon(icon));
    };
    m_hooks.openFileNames = [](QWidget* owner, const QString& title, const QString& folder,
                               const QString& filter) {
        return QFileDialog::getOpenFileNames(owner, title, folder, filter);
    };
    m_hooks.openFileName = [](QWidget* owner, const QString& title, const QString& path,
                              const QString& filter) {
        return QFileDialog::getOpenFileName(owner, title, path, filter);
    };
    m_hooks.saveFileName = [](QWidget* owner, const QString& title, const QString& path,
                              const QString& filter) {
        return QFileDialog::getSaveFileName(owner, title, path, filter);
    };
    m_hooks.chooseFolder = [](QWidget* owner, const QString& title, const QString& folder) {
        return QFileDialog::getExistingDirectory(owner, title, folder);
    };
    m_hooks.openFolder = [](const QString& folder) { GotoURL(folder); };
    m_hooks.shutdown = [](const ShutdownMessageBox& showMessage) { ShutdownWindows(showMessage); };

    CreateControls();
    OnInitialUpdate();
    m_jobStore.Load();

    // In the order the end of a run reaches them: the desktop hears of it
    // before the finish message or the Stop question, and the list is free
    // again after them.
    m_desktop.Observe(m_run);
    m_desktop.SetWindowActive([this] { return window()->isActiveWindow(); });
    m_pRunPanel = std::make_unique<CRunPanel>(
        m_run, m_jobList,
        CRunPanel::Controls{m_listMovies, Label(IdInput), Label(IdOutput), Label(IdElapsed),
                            Label(IdRemaining), m_progressCurrent, m_progressTotal},
        m_hooks);
    connect(&m_run, &CEncodingRun::RunStarted, this, &CClipvaneView::UpdateWaitingNote);
    connect(&m_run, &CEncodingRun::RunEnded, this, [this] {
        UpdateListButtons();
        UpdateWaitingNote();
        m_adder.AddWaiting();
    });
    connect(&m_adder, &CMovieAdder::WaitingChanged, this, &CClipvaneView::UpdateWaitingNote);
    connect(m_listMovies, &CMovieListView::MovieFilesDropped, this, &CClipvaneView::AddMovieFiles);
    // The Current File panel follows the selected row while its job runs.
    const QItemSelectionModel* selection = m_listMovies->selectionModel();
    connect(selection, &QItemSelectionModel::selectionChanged, m_pRunPanel.get(),
            &CRunPanel::FollowSelection);
    connect(selection, &QItemSelectionModel::currentChanged, m_pRunPanel.get(),
            &CRunPanel::FollowSelection);
    FindKeptResumes();
}

void CClipvaneView::FindKeptResumes()
{
    if (m_run.IsRunning())
        return;
    RunPlan plan = RunPlan::FromSettings(StoredSettings::Load(), false);
    plan.tools = m_tools;
    plan.segmentLimits = m_segmentLimits;
    std::vector<StreamFile> movies;
    std::vector<bool> skipped;
    for (int i = 0; i < m_jobList.GetJobCount(); ++i) {
        m_jobList.SetRowResume(i, 0);
        movies.push_back(m_jobList.GetJob(i).value_or(StreamFile()));
        skipped.push_back(m_jobList.GetRowStatus(i) == JobState::Missing);
    }
    plan.NameJobs(movies, skipped);
    m_run.FindResumes(plan);
}

CClipvaneView::~CClipvaneView()
{
    m_adder.KeepWaiting();
    // The list and the run go before the widgets that show them.
    m_adder.Cancel();
    m_listMovies->setModel(nullptr);
}

void CClipvaneView::CreateControls()
{
    setFont(DialogFont());
    // The layout's size; the main frame then fits the form into its client area.
    resize(DialogUnitsToPixels(0, 0, 464, 331).size());

    for (const ControlSpec& spec : Layout) {
        const QString text = QString::fromLatin1(spec.text);
        QWidget* control = nullptr;
        switch (spec.kind) {
        case Kind::List:
            m_listMovies = new CMovieListView(this);
            control = m_listMovies;
            break;
        case Kind::Header:
            control = new CGradientStaticCQ(text, this);
            break;
        case Kind::Caption:
        case Kind::Value:
            // Paths may take two lines; every other label holds one.
            control = new CStaticCQ(text, Qt::AlignLeft, spec.h < 20, this);
            break;
        case Kind::Button: {
            auto* button = new CSkinButtonCQ(this);
            for (const ButtonSpec& handled : Buttons) {
                if (handled.id != spec.id)
                    continue;
                connect(button, &CSkinButtonCQ::clicked, this, handled.handler);
                button->setAccessibleName(QString::fromLatin1(handled.button.name));
            }
            control = button;
            break;
        }
        case Kind::Progress:
            control = new CTextProgressCtrl(this);
            (spec.id == IdProgressCurrent ? m_progressCurrent : m_progressTotal) =
                static_cast<CTextProgressCtrl*>(control);
            break;
        }
        control->setGeometry(DialogUnitsToPixels(spec.x, spec.y, spec.w, spec.h));
        control->setObjectName(QString::number(spec.id));
        m_controls[spec.id] = control;
    }
    for (const KeySpec& key : Keys)
        connect(new QShortcut(QKeySequence(key.key), this), &QShortcut::activated, this,
                key.action);

    m_pListMenu = new QMenu(m_listMovies);
    m_pSaveListAction =
        m_pListMenu->addAction(QStringLiteral("Save List..."), this, &CClipvaneView::OnSaveList);
    m_pOpenListAction =
        m_pListMenu->addAction(QStringLiteral("Open List..."), this, &CClipvaneView::OnOpenList);
    m_listMovies->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listMovies, &QWidget::customContextMenuRequested, this, &CClipvaneView::ShowListMenu);
}

void CClipvaneView::OnInitialUpdate()
{
    // The dark form; the list keeps the ordinary colours of a list.
    QPalette dark = palette();
    dark.setColor(QPalette::Window, FormColours::Background);
    setPalette(dark);
    setAutoFillBackground(true);
    m_listMovies->setPalette(QApplication::palette(m_listMovies));

    // Labels: Tahoma with a 13-pixel cell, captions black on grey, values white
    // on the form's colour.
    const QFont labelFont = CellHeightFont(QStringLiteral("tahoma"), 13);
    for (const ControlSpec& spec : Layout) {
        if (spec.kind != Kind::Caption && spec.kind != Kind::Value)
            continue;
        CStaticCQ* label = Label(spec.id);
        const bool caption = spec.kind == Kind::Caption;
        label->SetLogFont(&labelFont);
        label->SetOffsets(10, 2);
        label->SetTextColor(caption ? Qt::black : Qt::white);
        label->SetBkColor(caption ? FormColours::CaptionBackground : FormColours::Background);
        label->update();
    }
    for (const ButtonSpec& button : Buttons)
        static_cast<CSkinButtonCQ*>(Control(button.id))->SetSkin(button.button.pictures);

    m_listMovies->SetJobList(&m_jobList);
    UpdateSettingsSummary();
    m_progressCurrent->SetPos(0);
    m_progressTotal->SetPos(0);
}

QWidget* CClipvaneView::Control(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

CStaticCQ* CClipvaneView::Label(int id) const
{
    return qobject_cast<CStaticCQ*>(Control(id));
}

void CClipvaneView::UpdateSettingsSummary()
{
    const StoredSettings stored = StoredSettings::Load();
    const EncodeProfile profile = stored.Profile();
    QString bitRate = profile.VideoRateText();
    QString fps = profile.FrameRateText();
    QString size = profile.PictureSizeText();
    if (stored.UserDefine()) {
        // User Define shows the entries as the dialog lists them, the size as
        // typed.
        bitRate = QString::number(stored.BitRate());
        fps = QString::number(stored.FrameRate());
        size = stored.strWidth + QLatin1Char('x') + stored.strHeight;
    }
    Label(IdSettingsName)->SetText(profile.strName);
    Label(IdEncoder)->SetText(profile.EncoderText());
    Label(IdVideoBitRate)->SetText(bitRate);
    Label(IdFrameRate)->SetText(fps);
    Label(IdPictureSize)->SetText(size);
    Label(IdAudioMode)->SetText(profile.AudioModeText());
    Label(IdAudioBitRate)->SetText(profile.AudioRateText());
}

// --- Buttons ---

void CClipvaneView::OnAddMovies()
{
    if (m_run.IsRunning() || IsAddingMovies())
        return;
    const QStringList paths = m_hooks.openFileNames(this, QStringLiteral("Add Movie Files"),
                                                    MovieFolder(), MovieFileTypes::DialogFilter());
    m_adder.AddFiles(paths);
}

void CClipvaneView::OnAddFolder()
{
    if (m_run.IsRunning() || IsAddingMovies())
        return;
    const QString folder =
        m_hooks.chooseFolder(this, QStringLiteral("Add Movie Folder"), MovieFolder());
    if (!folder.isEmpty())
        m_adder.AddFiles({folder});
}

QString CClipvaneView::MovieFolder()
{
    for (const QString& folder :
         {StoredSettings::Load().strLastFolder,
          QStandardPaths::writableLocation(QStandardPaths::MoviesLocation)}) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

void CClipvaneView::UpdateWaitingNote()
{
    const bool waits = m_run.IsRunning() && m_adder.WaitingCount() > 0;
    static_cast<CGradientStaticCQ*>(Control(IdHeaderMovies))
        ->SetWindowText(MoviesHeading +
                        (waits ? WaitingNote.arg(m_adder.WaitingCount()) : QString()));
}

void CClipvaneView::ShowListMenu(const QPoint& point)
{
    // The list cannot change during a run; it can always be saved.
    m_pOpenListAction->setEnabled(!m_run.IsRunning() && !IsAddingMovies());
    m_pListMenu->popup(m_listMovies->viewport()->mapToGlobal(point));
}

QString CClipvaneView::ListFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

void CClipvaneView::OnSaveList()
{
    const QString path =
        m_hooks.saveFileName(this, QStringLiteral("Save List"),
                             ListFolder() + QStringLiteral("/Clipvane list.json"), ListFileFilter);
    if (path.isEmpty())
        return;
    QString error;
    if (!CJobListStore::WriteListFile(m_jobList, path, &error))
        MessageBox(QStringLiteral("The list could not be saved to %1:\n%2").arg(path, error),
                   MessageIcon::Information);
}

void CClipvaneView::OnOpenList()
{
    if (m_run.IsRunning() || IsAddingMovies())
        return;
    const QString path =
        m_hooks.openFileName(this, QStringLiteral("Open List"), ListFolder(), ListFileFilter);
    if (path.isEmpty())
        return;
    QString error;
    const std::optional<QVector<MovieSource>> movies = CJobListStore::ReadListFile(path, &error);
    if (!movies) {
        MessageBox(QStringLiteral("%1 is not a list of movies that Clipvane can open:\n%2")
                       .arg(path, error),
                   MessageIcon::Information);
        return;
    }
    m_adder.AddSources(*movies);
}

void CClipvaneView::OnRemove()
{
    if (!m_run.IsRunning())
        m_listMovies->RemoveSelectedMovies();
}

void CClipvaneView::OnRemoveAll()
{
    if (m_run.IsRunning())
        return;
    // Files still being added would otherwise arrive in the emptied list.
    m_adder.Cancel();
    m_jobList.RemoveAllMovies();
}

void CClipvaneView::OnPlay()
{
    if (m_run.IsRunning())
        return;
    // With several rows selected, the lowest on screen is played.
    const QList<int> rows = m_listMovies->SelectedRows();
    const std::optional<StreamFile> job =
        rows.isEmpty() ? std::nullopt : m_jobList.GetJob(rows.last());
    if (!job) {
        MessageBox(QStringLiteral("Select movie file to play !!"), MessageIcon::Information);
        return;
    }
    m_preview.Start(ExternalTools::PlayerCommandLine(job->strFilePath, m_strPlayerPath));
}

void CClipvaneView::StartRun(bool sampling)
{
    if (IsAddingMovies() || m_run.IsRunning())
        return;
    const int count = m_jobList.GetJobCount();
    if (count <= 0) {
        MessageBox(QStringLiteral("Import movie file to the list !!"), MessageIcon::Information);
        return;
    }
    RunPlan plan = RunPlan::FromSettings(StoredSettings::Load(), sampling);
    plan.tools = m_tools;
    plan.segmentLimits = m_segmentLimits;
    // Before anything starts or is asked: a folder that cannot be written
    // would fail every job of the batch.
    if (const std::optional<QString> problem = plan.OutputFolderProblem()) {
        MessageBox(*problem, MessageIcon::Information);
        return;
    }
    std::vector<StreamFile> movies;
    std::vector<bool> skipped;
    for (int i = 0; i < count; ++i) {
        const std::optional<StreamFile> job = m_jobList.GetJob(i);
        movies.push_back(job.value_or(StreamFile()));
        bool missing = m_jobList.GetRowStatus(i) == JobState::Missing;
        if (missing && job && QFileInfo::exists(job->strFilePath)) {
            m_jobList.SetRowStatus(i, JobState::Ready);
            missing = false;
        }
        skipped.push_back(missing);
    }
    plan.SetJobs(movies, skipped);
    // One question for all the finished files the run would replace.
    const QStringList existing = plan.ExistingOutputs();
    if (!existing.isEmpty()) {
        if (!AskYesNo(OutputNamer::ExistingOutputsQuestion(existing), MessageIcon::None))
            return;
        plan.ReplaceExisting(existing);
    }
    // The player does not play on during a run.
    m_preview.Stop();
    m_run.Start(std::move(plan));
    UpdateListButtons();
}

void CClipvaneView::StopEncoding()
{
    m_preview.Stop();
    m_run.Stop();
    UpdateListButtons();
}

bool CClipvaneView::QueryClose()
{
    if (!m_run.IsRunning())
        return true;
    if (!AskYesNo(QStringLiteral("Encoding is in progress. Stop it and quit Clipvane?"),
                  MessageIcon::Question))
        return false;
    // The files that wait are added as Clipvane quits, not started now.
    m_adder.HoldWaiting();
    StopEncoding();
    return true;
}

void CClipvaneView::StopForQuit()
{
    m_adder.HoldWaiting();
    m_adder.Cancel();
    m_preview.Stop();
    m_run.StopForQuit();
    UpdateListButtons();
    m_adder.KeepWaiting();
}

void CClipvaneView::OnEscape()
{
    if (m_run.IsRunning())
        StopEncoding();
}

void CClipvaneView::OnQuit()
{
    // Through the window's close, which asks first during a run.
    window()->close();
}

void CClipvaneView::OnOptions()
{
    if (m_dlgOptions.DoModal() != QDialog::Accepted)
        return;
    UpdateSettingsSummary();
    // Other settings make other segments.
    FindKeptResumes();
}

void CClipvaneView::OnAbout()
{
    ShowAboutBox(window());
}

void CClipvaneView::OnWebSite()
{
    // A link without a window needs nothing but the address.
    CCQHyperLink link;
    link.GotoURL(QString::fromLatin1(AppInfo::HomePageUrl));
}

void CClipvaneView::UpdateListButtons()
{
    const bool listFree = !m_run.IsRunning();
    for (int id : {IdAddFolder, IdAddMovies, IdRemove, IdRemoveAll, IdPlay})
        Control(id)->setEnabled(listFree);
    m_listMovies->SetDropEnabled(listFree);
}

void CClipvaneView::MessageBox(const QString& text, MessageIcon icon)
{
    m_hooks.messageBox(text, icon);
}

bool CClipvaneView::AskYesNo(const QString& text, MessageIcon icon)
{
    return m_hooks.askYesNo(text, icon);
}
