#pragma once

#include "engine/EncodeProfile.h"
#include "shell/SettingsStore.h"

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

// The program's settings, read from the settings file in one go: the options
// dialog edits a copy and stores it on OK, the main form's summary shows the
// profile of one, and a run's plan is taken from one (RunPlan). Each setting is
// declared once, in the table of StoredSettings.cpp: its key in the file, its
// type there (a string or a DWORD), its default, its repair rule, whether the
// dialog's OK writes it and what a first start writes. The members below are
// the settings' names in the code, which the dialog's controls and the run's
// plan share.
//
// A stored value that no choice of the dialog can give (edited by hand, or
// written by another version) is repaired when read: the record holds the
// value's default instead, so that the summary, the dialog and the encode all
// use that; the store keeps what it holds until the dialog's OK. A new record
// holds the defaults: a record read from an empty store equals a new one.
struct StoredSettings
{
    // An entry of the aspect list: its text and the aspect the profile gets.
    struct RatioChoice
    {
        const char* text;
        const char* aspect;
    };

    // The lists of the options dialog, in the order their stored indexes count:
    // the encoders' codecs (mencoder's first, then ffmpeg's; their names are
    // EncodeProfile::CodecListText), the bit rates (kbit/s) and frame rates,
    // listed and summarised as the numbers they are ("150", "15"), and the
    // aspects.
    static constexpr EncodeProfile::VideoCodec Encoders[] = {
        EncodeProfile::VideoCodec::Mpeg4, EncodeProfile::VideoCodec::MsMpeg4v2,
        EncodeProfile::VideoCodec::Wmv7,  EncodeProfile::VideoCodec::Wmv8,
        EncodeProfile::VideoCodec::H264,  EncodeProfile::VideoCodec::H265,
        EncodeProfile::VideoCodec::Av1,
    };
    static constexpr int BitRates[] = {100, 150, 200, 250, 300, 400, 500, 800, 1200, 2000, 4000};
    static constexpr int FrameRates[] = {15, 25, 30};
    static constexpr RatioChoice Ratios[] = {{"4:3", "1.33"}, {"16:9", "1.77"}};

    enum class List
    {
        Encoder,
        BitRate,
        FrameRate,
        Ratio
    };
    // The texts the options dialog lists.
    static QStringList ListTexts(List list);

    // The values of nMode.
    enum Mode : DWORD
    {
        ModePreset = 0,
        ModeUserDefine = 1
    };

    // The most encodes at once nParallel can ask for.
    static constexpr int MaxParallel = 16;
    // The picture sizes strWidth and strHeight may give.
    static constexpr int MinPictureSize = 16;
    static constexpr int MaxPictureSize = 4096;

    // Every setting at its default.
    StoredSettings();

    // ModePreset (strPreset) or ModeUserDefine; any other number sets neither
    // radio button of the dialog and counts as User Define.
    DWORD nMode = {};
    // The preset's name (Presets::Find) for ModePreset; an unknown name stands
    // for "Pocket PC Normal".
    QString strPreset;
    // User Define's indexes in the lists above, its picture size (as typed
    // when the dialog's OK stores it).
    DWORD nEncoder = {};
    DWORD nBitRate = {};
    DWORD nFrameRate = {};
    DWORD nRatio = {};
    QString strWidth;
    QString strHeight;
    // Burn the subtitle beside a movie into its picture.
    bool bBurnSubtitle = {};
    // Shut the computer down after a run.
    bool bShutdown = {};
    // How many encodes a run keeps going at once (EncodesAtOnce).
    DWORD nParallel = {};
    // Even out the loudness of the movies (the profiles that do).
    bool bEvenLoudness = {};
    // The folder that receives the encoded files, and the text put in front of
    // their names.
    QString strOutputDir;
    QString strPrefix;
    // The folder of the last movie added, where the open dialogs start.
    QString strLastFolder;
    // Not empty once a first start has written its values.
    QString strStarted;
    // The keys of the stored values that were read as their defaults, in the
    // order of the declarations.
    QStringList arrRepaired;

    bool UserDefine() const { return nMode != ModePreset; }

    // The machine's cores as a run counts them: at least 1.
    static int CoreCount();
    // What nParallel stands for: 0 one encode per core, any other value that
    // many, at most MaxParallel.
    int EncodesAtOnce() const;

    // The stored text of a value by its key; nothing when the store does not
    // hold it.
    using TextReader = std::function<std::optional<QString>(const QString& key)>;
    // Reads the settings, repairing what needs it (see above).
    static StoredSettings Read(const TextReader& stored);
    // Reads them from the store. When values were repaired, one line on
    // standard error names them, once for as long as the same ones are.
    static StoredSettings Load();

    // What the dialog's OK writes: the mode (ModePreset or ModeUserDefine),
    // the three switches and nParallel; for a preset its name, for User Define
    // the list indexes and the size texts; with the preset, the repaired values
    // among those. An index outside its list is not written.
    void Store() const;
    // Writes one setting (the window's last folder, a benchmark's output
    // folder), as its declaration stores it.
    template <class T>
    static void StoreValue(T StoredSettings::*member, const T& value);

    // Runs once per installation, after the main window is shown (and before a
    // batch). When strStarted is empty it writes what the declarations give a
    // first start: the build version, the output folder (created with its
    // parents) and the prefix as their defaults, the preset mode and, unless a
    // preset is stored, today's phones' preset; then strStarted, and returns
    // true. Otherwise it writes nothing and returns false, so that a user's own
    // folder and prefix survive.
    static bool FirstRunSetup();

    // The chosen entries (see the indexes above).
    EncodeProfile::VideoCodec Encoder() const;
    int BitRate() const;
    int FrameRate() const;
    const RatioChoice& Ratio() const;

    // The profile the settings choose: the preset (ModePreset), or User Define
    // made from the encoder, bit rate, frame rate, picture size and aspect;
    // with the loudness switch applied.
    EncodeProfile Profile() const;
};
