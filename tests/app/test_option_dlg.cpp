// The options dialog on the offscreen platform: its texts, what it loads from an
// empty store, what OK writes in each mode, Cancel, and the encoder choice on its
// way into the encoder's arguments.
#include "app/OptionDlg.h"
#include "engine/EncodeSetting.h"
#include "engine/StoredSettings.h"
#include "shell/SettingsStore.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <map>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

namespace {

using Values = std::map<QString, QString>;

class OptionDlg : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_home.IsValid()); }
    // The record a mencoder job of the next run is made with.
    static EncodeSetting Record()
    {
        const StoredSettings stored = StoredSettings::Load();
        return EncodeSetting::FromProfile(stored.Profile(), stored.bBurnSubtitle);
    }

    // Opens the dialog the way the form does, without entering its modal loop.
    void Open()
    {
        m_dlg.OnInitDialog();
        m_dlg.show();
    }
    void Click(int id) { QTest::mouseClick(m_dlg.Control(id), Qt::LeftButton, {}, QPoint(4, 4)); }
    QComboBox* List(int id) const { return qobject_cast<QComboBox*>(m_dlg.Control(id)); }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(m_dlg.Control(id)); }
    bool Checked(int id) const
    {
        return qobject_cast<QAbstractButton*>(m_dlg.Control(id))->isChecked();
    }

    // Every value in the settings file, as text.
    Values Stored() const
    {
        QSettings file(m_home.ConfigDir() + QStringLiteral("/Tolva/Clipvane.conf"),
                       QSettings::IniFormat);
        Values values;
        for (const QString& key : file.allKeys())
            values[key] = file.value(key).toString();
        return values;
    }

    ScopedTempHome m_home;
    COptionDlg m_dlg;
};

const int UserControls[] = {COptionDlg::IdEncoder, COptionDlg::IdBitRate, COptionDlg::IdFrameRate,
                            COptionDlg::IdRatio,   COptionDlg::IdWidth,   COptionDlg::IdHeight};

} // namespace

TEST_F(OptionDlg, ShowsEveryTextAsWrittenAndHidesTheAspectList)
{
    Open();
    EXPECT_EQ(m_dlg.windowTitle(), QStringLiteral("Encoding Options"));
    EXPECT_EQ(m_dlg.size(), QSize(480, 380));
    EXPECT_EQ(m_dlg.palette().color(QPalette::Window), QColor(250, 250, 250));

    QStringList shown, hidden;
    for (QWidget* child : m_dlg.findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(child))
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(child))
            text = button->text();
        else
            continue;
        (child->isVisible() ? shown : hidden).append(text);
    }
    shown.sort();
    EXPECT_EQ(shown,
              QStringList(
                  {" Even out loudness", " Mix subtitle to video file at encoding movie.",
                   " Preset", " Shutdown your windows after encoding finished.", " User Define ",
                   "Cancel", "Encodes at once:", "Encoding: ", "Encoding: MPEG-4(OpenDivx)",
                   "Frames per second: ", "Frames per second: 15.000", "OK",
                   "Screen Aspect Ratio: 16:9", "Screen Aspect Ratio: 4:3", "Screen Resultion: ",
                   "Screen Resultion: 320 * 240", "Video bit Rate: ", "Video bit Rate: 150", "X"}));
    EXPECT_EQ(hidden, QStringList({"Screen Aspect Ratio: "}));
    EXPECT_FALSE(List(COptionDlg::IdRatio)->isVisible());

    const std::pair<int, QStringList> lists[] = {
        {COptionDlg::IdPreset,
         {"Pocket PC Normal", "Phone and Tablet", "Full HD", "Small H.265", "Smallest AV1",
          "Share (25 MB)"}},
        {COptionDlg::IdEncoder, {"MPEG-4", "MS MPEG4v2", "WMV7", "WMV8", "H.264", "H.265", "AV1"}},
        {COptionDlg::IdBitRate,
         {"100", "150", "200", "250", "300", "400", "500", "800", "1200", "2000", "4000"}},
        {COptionDlg::IdFrameRate, {"15", "25", "30"}},
        {COptionDlg::IdRatio, {"4:3", "16:9"}},
    };
    for (const auto& [id, entries] : lists) {
        QStringList items;
        for (int i = 0; i < List(id)->count(); ++i)
            items.append(List(id)->itemText(i));
        EXPECT_EQ(items, entries) << id;
    }
}

// The line under User Define's size names the aspect it encodes at: the stored
// one (an aspect outside the list is read as 16:9).
TEST_F(OptionDlg, TheAspectLineShowsTheStoredAspect)
{
    const std::pair<int, const char*> cases[] = {
        {-1, "16:9"}, {0, "4:3"}, {1, "16:9"}, {2, "16:9"}};
    for (const auto& [stored, shown] : cases) {
        SCOPED_TRACE(stored);
        ScopedTempHome home;
        SetRegDWORD("Option", 1);
        // A preset whose description has no aspect line.
        SetRegString("Preset", QStringLiteral("Full HD"));
        if (stored >= 0)
            SetRegDWORD("Ratio", DWORD(stored));
        Open();
        QStringList lines;
        for (const QLabel* label : m_dlg.findChildren<QLabel*>()) {
            if (label->isVisible() && label->text().startsWith("Screen Aspect Ratio: "))
                lines << label->text();
        }
        EXPECT_EQ(lines, QStringList({QStringLiteral("Screen Aspect Ratio: ") + shown}));
        EXPECT_EQ(Record().m_strAspect, stored == 0 ? "1.33" : "1.77");
    }
}

TEST_F(OptionDlg, AnEmptyStoreOpensOnThePresetWithTheDefaults)
{
    Open();
    EXPECT_TRUE(Checked(COptionDlg::IdModePreset));
    EXPECT_FALSE(Checked(COptionDlg::IdModeUserDefine));
    EXPECT_EQ(List(COptionDlg::IdEncoder)->currentText(), QStringLiteral("MPEG-4"));
    EXPECT_EQ(List(COptionDlg::IdBitRate)->currentText(), QStringLiteral("150"));
    EXPECT_EQ(List(COptionDlg::IdFrameRate)->currentText(), QStringLiteral("15"));
    EXPECT_EQ(List(COptionDlg::IdRatio)->currentText(), QStringLiteral("16:9"));
    EXPECT_EQ(Edit(COptionDlg::IdWidth)->text(), QStringLiteral("320"));
    EXPECT_EQ(Edit(COptionDlg::IdHeight)->text(), QStringLiteral("240"));
    EXPECT_TRUE(Checked(COptionDlg::IdBurnSubtitle));
    EXPECT_FALSE(Checked(COptionDlg::IdShutdown));
    for (int id : UserControls)
        EXPECT_FALSE(m_dlg.Control(id)->isEnabled()) << id;

    // The radio buttons switch the user controls on and off; what they show stays.
    Click(COptionDlg::IdModeUserDefine);
    for (int id : UserControls)
        EXPECT_TRUE(m_dlg.Control(id)->isEnabled()) << id;
    Click(COptionDlg::IdModePreset);
    for (int id : UserControls)
        EXPECT_FALSE(m_dlg.Control(id)->isEnabled()) << id;
    EXPECT_EQ(List(COptionDlg::IdBitRate)->currentText(), QStringLiteral("150"));
    // Nothing is written until OK.
    EXPECT_TRUE(Stored().empty());
}

TEST_F(OptionDlg, OkWritesExactlyTheValuesOfItsMode)
{
    struct Case
    {
        const char* name;
        bool userDefine;
        Values expected;
        double fps;
        int bitrate, width, height;
        const char* aspect;
    };
    const Case cases[] = {
        // The preset leaves the user settings alone; the record gets the preset back.
        {"preset",
         false,
         {{"Option", "0"},
          {"Preset", "Pocket PC Normal"},
          {"UseSub", "0"},
          {"Shutdown", "1"},
          {"Parallel", "0"},
          {"Loudness", "1"}},
         15.0,
         150,
         320,
         240,
         "1.77"},
        {"user define",
         true,
         {{"Option", "1"},
          {"Encoder", "3"},
          {"Bit", "6"},
          {"Fps", "2"},
          {"Width", " 640px"},
          {"Height", "abc"},
          {"Ratio", "0"},
          {"UseSub", "0"},
          {"Shutdown", "1"},
          {"Parallel", "0"},
          {"Loudness", "1"}},
         // The sizes are stored as typed, and read as the defaults.
         30.0,
         500,
         320,
         240,
         "1.33"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempHome home;
        Open();
        if (c.userDefine) {
            Click(COptionDlg::IdModeUserDefine);
            List(COptionDlg::IdEncoder)->setCurrentIndex(3);
            List(COptionDlg::IdBitRate)->setCurrentIndex(6);
            List(COptionDlg::IdFrameRate)->setCurrentIndex(2);
            List(COptionDlg::IdRatio)->setCurrentIndex(0);
            Edit(COptionDlg::IdWidth)->setText(QStringLiteral(" 640px"));
            Edit(COptionDlg::IdHeight)->setText(QStringLiteral("abc"));
        }
        Click(COptionDlg::IdBurnSubtitle);
        Click(COptionDlg::IdShutdown);
        Click(COptionDlg::IdOk);

        EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
        QSettings file(home.ConfigDir() + QStringLiteral("/Tolva/Clipvane.conf"),
                       QSettings::IniFormat);
        Values stored;
        for (const QString& key : file.allKeys())
            stored[key] = file.value(key).toString();
        EXPECT_EQ(stored, c.expected);
        EXPECT_EQ(Record().m_dVidFps, c.fps);
        EXPECT_EQ(Record().m_nVidBitrate, c.bitrate);
        EXPECT_EQ(Record().m_nVidW, c.width);
        EXPECT_EQ(Record().m_nVidH, c.height);
        EXPECT_EQ(Record().m_strAspect, QString::fromLatin1(c.aspect));
        EXPECT_FALSE(Record().m_bBurnSubtitle);
        EXPECT_TRUE(m_dlg.m_settings.bShutdown);
    }
}

TEST_F(OptionDlg, CancelWritesNothingButTheShutdownSwitchFollowsTheStore)
{
    SetRegDWORD("Shutdown", 1);
    const Values before = Stored();
    Open();
    Click(COptionDlg::IdModeUserDefine);
    List(COptionDlg::IdBitRate)->setCurrentIndex(0);
    Click(COptionDlg::IdCancel);

    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(Record().m_nVidBitrate, 150);
    // The switch the run reads holds the stored value once the dialog was opened.
    EXPECT_TRUE(m_dlg.m_settings.bShutdown);
}

TEST_F(OptionDlg, TheChosenEncoderReachesTheArgumentString)
{
    const std::pair<int, const char*> cases[] = {
        {0, " -ovc lavc -lavcopts vcodec=mpeg4 "},
        {1, " -ovc lavc -lavcopts vcodec=msmpeg4 "},
        {2, " -ovc lavc -lavcopts vcodec=wmv1 "},
        {3, " -ovc lavc -lavcopts vcodec=wmv2 "},
    };
    StreamFile job;
    job.strFilePath = QStringLiteral("/m/a.mpg");
    job.strFileName = QStringLiteral("a.mpg");
    for (const auto& [entry, video] : cases) {
        Open();
        Click(COptionDlg::IdModeUserDefine);
        List(COptionDlg::IdEncoder)->setCurrentIndex(entry);
        Click(COptionDlg::IdOk);
        const QString arguments =
            Record().BuildCommandLine({}, QStringLiteral("/o/a.avi"), false, job);
        EXPECT_TRUE(arguments.contains(QLatin1String(video)))
            << entry << " " << qPrintable(arguments);
        EXPECT_EQ(arguments.count(QLatin1String("vcodec=")), 1) << entry;
    }
}

TEST_F(OptionDlg, DamagedValuesOpenAsTheDefaultsAndOkStoresThemUnderEitherPreset)
{
    for (const DWORD preset : {1u, 0u}) {
        SCOPED_TRACE(preset);
        ScopedTempHome home;
        SetRegDWORD("Option", preset);
        SetRegDWORD("Bit", 99);
        SetRegDWORD("Encoder", 4294967295u);
        SetRegString("Width", QStringLiteral("99999"));
        SetRegString("Height", QStringLiteral("481"));
        Open();
        EXPECT_EQ(List(COptionDlg::IdBitRate)->currentText(), "150");
        EXPECT_EQ(List(COptionDlg::IdEncoder)->currentText(), "MPEG-4");
        EXPECT_EQ(Edit(COptionDlg::IdWidth)->text(), "320");
        EXPECT_EQ(Edit(COptionDlg::IdHeight)->text(), "480");
        EXPECT_EQ(Checked(COptionDlg::IdModeUserDefine), preset == 1);
        // Until OK the store keeps what it holds.
        EXPECT_EQ(GetRegText("Bit"), "99");
        Click(COptionDlg::IdOk);

        // The record encodes what the dialog showed, and the store holds it.
        EXPECT_EQ(Record().m_nVidBitrate, 150);
        EXPECT_EQ(Record().m_nEncoder, 0);
        EXPECT_EQ(Record().m_nVidW, 320);
        const QSettings file(home.ConfigDir() + QStringLiteral("/Tolva/Clipvane.conf"),
                             QSettings::IniFormat);
        EXPECT_EQ(file.value("Bit").toString(), "1");
        EXPECT_EQ(file.value("Encoder").toString(), "0");
        EXPECT_EQ(file.value("Width").toString(), "320");
        // An odd height is no damage: it stays as stored under the preset.
        EXPECT_EQ(file.value("Height").toString(), preset == 1 ? "480" : "481");
    }
}

TEST_F(OptionDlg, EncodesAtOnceListsAutomaticAndEachCoreAndOnlyOkStoresIt)
{
    const int cores = StoredSettings::CoreCount();
    const struct
    {
        const char* name;
        int stored; // -1: nothing stored
        const char* shown;
        int choose;        // entry chosen before the button
        bool ok;           // OK, else Cancel
        const char* after; // stored afterwards; null: nothing
        int encodes;       // what a run then uses
    } cases[] = {
        {"empty store", -1, "Automatic", 1, false, nullptr, std::min(cores, 16)},
        {"one at a time", -1, "Automatic", 1, true, "1", 1},
        {"back to automatic", 1, "1", 0, true, "0", std::min(cores, 16)},
        {"more than the cores", 12, "12", 12, true, "12", 12},
        {"the most", 16, "16", 16, true, "16", 16},
        {"beyond the most: read as automatic", 40, "Automatic", 0, true, "0", std::min(cores, 16)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempHome home;
        if (c.stored >= 0)
            SetRegDWORD("Parallel", DWORD(c.stored));
        Open();
        QComboBox* list = List(COptionDlg::IdParallel);
        EXPECT_EQ(list->currentText(), QLatin1String(c.shown));
        EXPECT_EQ(list->itemText(0), QStringLiteral("Automatic"));
        EXPECT_EQ(list->count(), std::min(16, std::max(cores, c.stored > 16 ? 0 : c.stored)) + 1);
        list->setCurrentIndex(c.choose);
        Click(c.ok ? COptionDlg::IdOk : COptionDlg::IdCancel);
        const QSettings file(home.ConfigDir() + QStringLiteral("/Tolva/Clipvane.conf"),
                             QSettings::IniFormat);
        EXPECT_EQ(file.value("Parallel").toString(), QLatin1String(c.after ? c.after : ""));
        EXPECT_EQ(StoredSettings::Load().EncodesAtOnce(), c.encodes);
    }
}
