#pragma once

#include "engine/EncodeProfile.h"
#include "shell/SettingsStore.h"

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

// The settings of the options dialog as the store keeps them, read in one go:
// the dialog edits a copy and stores it on OK, the main form's summary shows
// the profile of one, and a run's plan is taken from one (RunPlan). The names
// and defaults of the values are those of RegValue (shell/SettingsStore.h); a
// record read from an empty store equals a new one.
// A stored value that no choice of the dialog can give (edited by hand, or
// written by another version) is repaired when read: the record holds the
// value's default instead, so that the summary, the dialog and the encode all
// use that; the store keeps what it holds until the dialog's OK.
struct StoredSettings
{
    // An entry of the encoder list: the dialog's text and the codec it makes
    // (mencoder's codecs first, then ffmpeg's).
    struct EncoderChoice
    {
        const char* dialogText;
        EncodeProfile::VideoCodec codec;
    };
    // An entry of the aspect list: its text and the aspect the record gets.
    struct RatioChoice
    {
        const char* text;
        const char* aspect;
    };

    // The lists of the options dialog, in the order their stored indexes count.
    // The bit rates (kbit/s) and frame rates are listed, and summarised, as the
    // numbers they are ("150", "15").
    static constexpr EncoderChoice Encoders[] = {
        {"MPEG-4", EncodeProfile::VideoCodec::Mpeg4},
        {"MS MPEG4v2", EncodeProfile::VideoCodec::MsMpeg4v2},
        {"WMV7", EncodeProfile::VideoCodec::Wmv7},
        {"WMV8", EncodeProfile::VideoCodec::Wmv8},
        {"H.264", EncodeProfile::VideoCodec::H264},
        {"H.265", EncodeProfile::VideoCodec::H265},
        {"AV1", EncodeProfile::VideoCodec::Av1},
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

    // "Option": 0 the "Pocket PC Normal" preset, 1 User Define; any other number
    // sets neither radio button of the dialog and counts as User Define.
    int nPreset = int(RegValue::Option.defaultValue);
    // "Encoder", "Bit", "Fps", "Ratio": indexes in the lists above. A stored
    // index outside its list is read as the value's default; set by hand, one
    // stands for the entry at the default index.
    DWORD nEncoder = RegValue::Encoder.defaultValue;
    DWORD nBitRate = RegValue::Bit.defaultValue;
    DWORD nFrameRate = RegValue::Fps.defaultValue;
    DWORD nRatio = RegValue::Ratio.defaultValue;
    // "Width", "Height": the picture size. Read as a whole number from
    // MinPictureSize to MaxPictureSize, an odd one taken one lower; any other
    // stored text is read as the default. The dialog's OK stores them as typed.
    QString strWidth = QString::fromLatin1(RegValue::Width.defaultValue);
    QString strHeight = QString::fromLatin1(RegValue::Height.defaultValue);
    // "UseSub", "Shutdown": burn subtitles in; shut the computer down after a run.
    bool bMixSubtitle = RegValue::UseSub.defaultValue != 0;
    bool bShutdown = RegValue::Shutdown.defaultValue != 0;
    // "Parallel": how many encodes a run keeps going at once (EncodesAtOnce);
    // a stored number above MaxParallel is read as the default.
    DWORD nParallel = RegValue::Parallel.defaultValue;
    // "Preset": the preset's name when "Option" is 0 (Presets::Find); an
    // unknown name stands for "Pocket PC Normal".
    QString strPreset = QString::fromLatin1(RegValue::Preset.defaultValue);
    // "Loudness": even out the loudness of the movies (the profiles that do).
    bool bEvenLoudness = RegValue::Loudness.defaultValue != 0;
    // The names of the stored values that were read as their defaults, in the
    // order above: values that are not numbers where numbers belong, and those
    // described above.
    QStringList arrRepaired;

    // The most encodes at once "Parallel" can ask for.
    static constexpr int MaxParallel = 16;
    // The picture sizes the store's width and height may give.
    static constexpr int MinPictureSize = 16;
    static constexpr int MaxPictureSize = 4096;
    // The machine's cores as a run counts them: at least 1.
    static int CoreCount();
    // What "Parallel" stands for: 0 one encode per core, any other value that
    // many, at most MaxParallel.
    int EncodesAtOnce() const;

    // The stored text of a value by its name; nothing when the store does not
    // hold it.
    using TextReader = std::function<std::optional<QString>(const QString& name)>;
    // Reads the settings, repairing what needs it (see above).
    static StoredSettings Read(const TextReader& stored);
    // Reads them from the store. When values were repaired, one line on
    // standard error names them, once for as long as the same ones are.
    static StoredSettings Load();

    // What the dialog's OK writes: "Option" (0 for the preset, 1 otherwise),
    // the three switches and "Parallel", for a preset its name, and for User
    // Define the list indexes and the size texts too; with the preset, the
    // repaired values among those. An index outside its list (a list without a
    // selection) is not written.
    void Store() const;

    // The encoder list's entry the preset encodes with.
    static const EncoderChoice& PresetEncoder();

    // The chosen entries (see the indexes above).
    const EncoderChoice& Encoder() const;
    int BitRate() const;
    int FrameRate() const;
    const RatioChoice& Ratio() const;

    // The profile the settings choose: the preset (Option 0), or User Define
    // made from the encoder, bit rate, frame rate, picture size and aspect;
    // with the loudness switch applied.
    EncodeProfile Profile() const;
};
