// The settings as the store holds them: damaged values repaired when read, the
// line that names them, what OK writes back, what a store without a preset
// means, and the first start.
#include "batch/BatchOptions.h"
#include "engine/EncodeSetting.h"
#include "engine/Presets.h"
#include "engine/RunPlan.h"
#include "engine/StoredSettings.h"
#include "shell/SettingsStore.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <map>

#include <QDir>

namespace {

// The store's texts, "Name=value" entries parted by ";".
StoredSettings ReadTexts(const QString& stored)
{
    std::map<QString, QString> texts;
    for (const QString& entry : stored.split(';', Qt::SkipEmptyParts))
        texts[entry.section('=', 0, 0)] = entry.section('=', 1);
    return StoredSettings::Read([&texts](const QString& name) -> std::optional<QString> {
        const auto it = texts.find(name);
        return it == texts.end() ? std::nullopt : std::optional<QString>(it->second);
    });
}

// What an encode takes from the settings: the record's picture size, encoder,
// bit rate, frame rate and aspect, and the encodes at once.
QString Used(const StoredSettings& settings)
{
    const EncodeSetting record =
        EncodeSetting::FromProfile(settings.Profile(), settings.bBurnSubtitle);
    return QStringLiteral("%1x%2 encoder %3 %4 kbit/s %5 fps %6 parallel %7")
        .arg(record.m_nVidW)
        .arg(record.m_nVidH)
        .arg(record.m_nEncoder)
        .arg(record.m_nVidBitrate)
        .arg(record.m_dVidFps)
        .arg(record.m_strAspect)
        .arg(settings.nParallel);
}

} // namespace

TEST(StoredSettingsTest, DamagedValuesAreReadAsTheirDefaultsAndNamed)
{
    const QString defaults = "320x240 encoder 0 150 kbit/s 15 fps 1.77 parallel 0";
    // The file of the report: values no choice of the dialog gives.
    const QString damaged = "Option=1;Width=0;Height=99999;Bit=-4;Fps=abc;Encoder=99;Parallel=-3";
    const struct
    {
        const char* what;
        QString stored;
        QString used;
        const char* repaired;
    } cases[] = {
        {"nothing stored", "Option=1", defaults, ""},
        {"the damaged file", damaged, defaults, "Encoder, Bit, Fps, Width, Height, Parallel"},
        {"the ends of every range",
         "Option=1;Width=16;Height=4096;Encoder=3;Bit=10;Fps=2;Ratio=0;Parallel=16",
         "16x4096 encoder 4 4000 kbit/s 30 fps 1.33 parallel 16", ""},
        {"one past every range",
         "Option=1;Width=15;Height=4097;Encoder=7;Bit=11;Fps=3;Ratio=2;Parallel=17", defaults,
         "Encoder, Bit, Fps, Ratio, Width, Height, Parallel"},
        {"odd sizes go one lower, spaces round numbers are fine",
         "Option=1;Width= 641 ;Height=4095;Bit= 2",
         "640x4094 encoder 0 200 kbit/s 15 fps 1.77 parallel 0", ""},
        {"sizes that are not whole numbers", "Option=1;Width=640px;Height=;Ratio=1.0", defaults,
         "Ratio, Width, Height"},
        {"switches that are not numbers, under the preset", "Option=abc;UseSub=yes;Width=-320",
         defaults, "Option, Width, UseSub"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StoredSettings settings = ReadTexts(c.stored);
        EXPECT_EQ(Used(settings), c.used);
        EXPECT_EQ(settings.arrRepaired.join(", "), c.repaired);
    }

    // A whole job from the damaged file: the preset's argument string, byte for
    // byte.
    const StoredSettings repaired = ReadTexts(damaged);
    EncodeSetting record = EncodeSetting::FromProfile(repaired.Profile(), repaired.bBurnSubtitle);
    record.m_strPathFont = QStringLiteral("Arial");
    StreamFile job;
    job.strFilePath = QStringLiteral("/m/clip.mpg");
    job.strFileName = QStringLiteral("clip.mpg");
    job.nWidth = 640;
    job.nHeight = 480;
    EXPECT_EQ(record.BuildCommandLine({}, QStringLiteral("/o/clip.avi"), false, job),
              " -noodml \"/m/clip.mpg\" -o \"/o/clip.avi\" -ofps 15.000"
              " -vf-add crop=640:361:-1:-1  -vf-add scale=320:180"
              " -vf-add expand=320:240:-1:-1:1 -srate 44100"
              " -ovc lavc -lavcopts vcodec=mpeg4   -lavcopts vbitrate=150  -ffourcc DIVX"
              " -oac mp3lame -lameopts vbr=3  -lameopts br=64 -lameopts vol=0"
              " -lameopts mode=1 -lameopts aq=7 -lameopts padding=3"
              " -af volnorm -slang ko-KR,kr-KR");
}

// The preset a store names: none or an unknown name means the handhelds' one,
// as stores from before the presets do; User Define has it without a name.
TEST(StoredSettingsTest, AStoreWithoutAKnownPresetMeansTheHandheldsPreset)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "Pocket PC Normal"},
        {"Preset=", "Pocket PC Normal"},
        {"Preset=Full HD ", "Pocket PC Normal"},
        {"Preset=full hd", "Pocket PC Normal"},
        {"Preset=Full HD", "Full HD"},
        {"Preset=Full HD;Option=1", "User Define"},
    };
    for (const auto& [stored, profile] : cases)
        EXPECT_EQ(ReadTexts(stored).Profile().strName, profile) << stored;
}

// A first start stores today's preset, and the output folder and prefix that a
// store without them reads as; a store from before the presets (its first start
// done, no "Preset") keeps the handhelds' preset, and a preset in a store handed
// out before the first start is kept.
TEST(StoredSettingsTest, AFirstStartTakesThePhonePresetUnlessTheStoreHoldsOne)
{
    const struct
    {
        const char* stored;
        bool firstStart;
        const char* preset;
    } cases[] = {
        {"", true, "Phone and Tablet"},
        {"Started=Yes\nMovieDir=/home/me/Movies\nOption=0\n", false, "Pocket PC Normal"},
        {"Option=1\nPreset=Full HD\n", true, "Full HD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        ScopedTempHome home;
        QDir().mkpath(home.ConfigDir() + "/Tolva");
        MediaFactory::WriteFile(home.ConfigDir() + "/Tolva/Clipvane.conf",
                                QByteArray("[General]\n") + c.stored);
        const StoredSettings before = StoredSettings::Load();
        EXPECT_EQ(StoredSettings::FirstRunSetup(), c.firstStart);
        const StoredSettings after = StoredSettings::Load();
        EXPECT_EQ(after.Profile().strName, c.preset);
        EXPECT_EQ(after.strOutputDir, before.strOutputDir);
        EXPECT_EQ(after.strPrefix, before.strPrefix);
        EXPECT_EQ(after.strStarted, "Yes");
    }
}

TEST(StoredSettingsTest, EncodesAtOnceShareTheCoresAndAutomaticTakesTheMeasuredArrangement)
{
    // "encodes/threads": how many encodes a run keeps going and the -threads
    // each ffmpeg gets (0: its own count, as for mencoder).
    const char* phone = "Option=0;Preset=Phone and Tablet;";
    const struct
    {
        const char* what;
        QString stored;
        int cores;
        int jobs;
        const char* used;
    } cases[] = {
        {"mencoder takes no thread count", "Parallel=2", 2, 4, "2/0"},
        {"mencoder, Automatic: one per core", "Parallel=0", 8, 9, "8/0"},
        {"one at a time keeps ffmpeg's own count", phone + QStringLiteral("Parallel=1"), 2, 4,
         "1/0"},
        {"two on two cores", phone + QStringLiteral("Parallel=2"), 2, 4, "2/1"},
        {"more encodes than cores: one thread each", phone + QStringLiteral("Parallel=4"), 2, 4,
         "4/1"},
        {"the cores divided", phone + QStringLiteral("Parallel=2"), 8, 4, "2/4"},
        {"fewer jobs than encodes share the cores", phone + QStringLiteral("Parallel=4"), 8, 3,
         "4/2"},
        {"a movie alone keeps ffmpeg's own count", phone + QStringLiteral("Parallel=2"), 2, 1,
         "2/0"},
        {"Automatic on two cores: as measured", phone + QStringLiteral("Parallel=0"), 2, 4, "2/0"},
        {"Automatic, one movie", phone + QStringLiteral("Parallel=0"), 2, 1, "2/0"},
        {"Automatic, unmeasured: one per core", phone + QStringLiteral("Parallel=0"), 8, 8, "8/1"},
        {"Automatic, at most 16 at once", phone + QStringLiteral("Parallel=0"), 64, 20, "16/4"},
        {"User Define's H.264 is ffmpeg", "Option=1;Encoder=4;Parallel=2", 4, 2, "2/2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const StoredSettings settings = ReadTexts(c.stored);
        RunPlan plan;
        plan.profile = settings.Profile();
        const RunPlan::Arrangement arrangement = RunPlan::Arrange(plan.profile, settings, c.cores);
        plan.nEncodesAtOnce = arrangement.nEncodesAtOnce;
        plan.nThreadsPerEncoder = arrangement.nThreadsPerEncoder;
        plan.nCores = c.cores;
        plan.jobs.resize(static_cast<std::size_t>(c.jobs));
        EXPECT_EQ(QStringLiteral("%1/%2").arg(plan.nEncodesAtOnce).arg(plan.ThreadsPerEncoder()),
                  QString::fromLatin1(c.used));
    }
    // clipvane-batch's --jobs stands for the stored number, threads and all.
    ScopedTempHome home;
    ASSERT_TRUE(home.IsValid());
    BatchOptions batch;
    batch.strPreset = QStringLiteral("Phone and Tablet");
    batch.nJobs = 4;
    const RunPlan plan = batch.Plan(StoredSettings());
    EXPECT_EQ(plan.nEncodesAtOnce, 4);
    EXPECT_EQ(plan.nThreadsPerEncoder, std::max(1, StoredSettings::CoreCount() / 4));
}

TEST(StoredSettingsTest, RepairsAreNamedOnceAndStoredOnlyByOk)
{
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg)
                warnings << text;
        });
    ScopedTempHome home;
    ASSERT_TRUE(home.IsValid());
    StoredSettings::Load(); // nothing to repair: forgets what was named before
    SetRegString("Width", QStringLiteral("0"));
    SetRegDWORD("Parallel", 40);
    // The summary, the dialog and each run read the settings again.
    for (int i = 0; i < 3; ++i)
        StoredSettings::Load();
    SetRegString("Height", QStringLiteral("abc"));
    StoredSettings::Load();
    EXPECT_EQ(GetRegText("Width"), "0");

    // OK under the preset writes the repaired values and no others.
    StoredSettings::Load().Store();
    EXPECT_EQ(GetRegText("Width"), "320");
    EXPECT_EQ(GetRegText("Height"), "240");
    EXPECT_EQ(GetRegText("Parallel"), "0");
    EXPECT_FALSE(GetRegText("Encoder").has_value());
    EXPECT_TRUE(StoredSettings::Load().arrRepaired.isEmpty());
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings,
              QStringList({"Clipvane: repaired damaged settings: Width, Parallel (defaults used)",
                           "Clipvane: repaired damaged settings: Width, Height, Parallel "
                           "(defaults used)"}));
}
