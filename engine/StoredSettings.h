#pragma once

#include "engine/EncodeSetting.h"
#include "shell/SettingsStore.h"

#include <QString>
#include <QStringList>

// The settings of the options dialog as the store keeps them, read in one go:
// the dialog edits a copy and stores it on OK, the main form's summary shows
// one, the start-up and the dialog's OK make the encoding record from one
// (ApplyTo), and the run's shut-down switch is read from one. The names and
// defaults of the values are those of RegValue (shell/SettingsStore.h); a
// record read from an empty store equals a new one.
struct StoredSettings
{
    // An entry of the encoder list: the dialog's text, the summary's text, and
    // the video encoder template it encodes with (EncodeSetting::m_nEncoder).
    struct EncoderChoice
    {
        const char* dialogText;
        const char* summaryText;
        int templateIndex;
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
        {"MPEG-4", "MPEG-4(OpenDivx)", 0},
        {"MS MPEG4v2", "MS MPEGv2", 2},
        {"WMV7", "WMV7", 3},
        {"WMV8", "WMV8", 4},
    };
    static constexpr int BitRates[] = {100, 150, 200, 250, 300, 400, 500};
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
    // "Encoder", "Bit", "Fps", "Ratio": indexes in the lists above. An index
    // outside its list leaves the dialog's list without a selection and stands
    // for the entry at the value's default index everywhere else.
    DWORD nEncoder = RegValue::Encoder.defaultValue;
    DWORD nBitRate = RegValue::Bit.defaultValue;
    DWORD nFrameRate = RegValue::Fps.defaultValue;
    DWORD nRatio = RegValue::Ratio.defaultValue;
    // "Width", "Height": the picture size as typed.
    QString strWidth = QString::fromLatin1(RegValue::Width.defaultValue);
    QString strHeight = QString::fromLatin1(RegValue::Height.defaultValue);
    // "UseSub", "Shutdown": burn subtitles in; shut the computer down after a run.
    bool bMixSubtitle = RegValue::UseSub.defaultValue != 0;
    bool bShutdown = RegValue::Shutdown.defaultValue != 0;
    // "Parallel": how many encodes a run keeps going at once (EncodesAtOnce).
    DWORD nParallel = RegValue::Parallel.defaultValue;

    // The most encodes at once "Parallel" can ask for.
    static constexpr int MaxParallel = 16;
    // The machine's cores as a run counts them: at least 1.
    static int CoreCount();
    // What "Parallel" stands for: 0 one encode per core, any other value that
    // many, at most MaxParallel.
    int EncodesAtOnce() const;

    static StoredSettings Load();

    // What the dialog's OK writes: "Option" (0 for the preset, 1 otherwise), the
    // two switches and "Parallel", and for User Define the list indexes and the size texts
    // too. An index outside its list (a list without a selection) is not written.
    void Store() const;

    // The chosen entries (see the indexes above).
    const EncoderChoice& Encoder() const;
    int BitRate() const;
    int FrameRate() const;
    const RatioChoice& Ratio() const;

    // Puts the settings into the record: the "Pocket PC Normal" preset, or the
    // User Define encoder, bit rate, frame rate, picture size and aspect on top
    // of what the record holds; in both cases the subtitle switch.
    void ApplyTo(EncodeSetting& setting) const;
};
