#include "StoredSettings.h"

#include "engine/Presets.h"
#include "shell/Numbers.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <thread>

#include <QDebug>

namespace {

// The entry a stored index names; an index outside the list names the entry at
// the value's default index.
template <class Choice, std::size_t Count>
const Choice& Chosen(const Choice (&list)[Count], DWORD index, const RegDwordValue& value)
{
    return list[index < Count ? index : value.defaultValue];
}

// Writes a list index, unless it is outside the list.
template <class Choice, std::size_t Count>
void StoreIndex(const Choice (&)[Count], DWORD index, const RegDwordValue& value)
{
    if (index < Count)
        SetRegDWORD(value, index);
}

// The leading integer of a picture size as typed.
int LeadingInt(const QString& text)
{
    return LeadingNumber<int>(text.toLatin1().toStdString());
}

// Reads stored values, noting those read as their defaults.
struct RepairingReader
{
    const StoredSettings::TextReader& stored;
    QStringList& repaired;

    // A number up to most.
    DWORD Number(const RegDwordValue& value, DWORD most = std::numeric_limits<DWORD>::max())
    {
        const std::optional<QString> text = stored(QLatin1String(value.name));
        if (!text)
            return value.defaultValue;
        const std::optional<DWORD> number = DwordFromText(*text);
        if (number && *number <= most)
            return *number;
        repaired << QLatin1String(value.name);
        return value.defaultValue;
    }

    template <class Choice, std::size_t Count>
    DWORD Index(const Choice (&)[Count], const RegDwordValue& value)
    {
        return Number(value, Count - 1);
    }

    // Text as stored; any text is a value (an unknown preset name means the
    // first preset, see StoredSettings::strPreset).
    QString Text(const RegStringValue& value)
    {
        return stored(QLatin1String(value.name)).value_or(QString::fromUtf8(value.defaultValue));
    }

    QString PictureSize(const RegStringValue& value)
    {
        const std::optional<QString> text = stored(QLatin1String(value.name));
        if (!text)
            return QString::fromLatin1(value.defaultValue);
        bool ok = false;
        const int size = text->trimmed().toInt(&ok, 10);
        if (ok && size >= StoredSettings::MinPictureSize && size <= StoredSettings::MaxPictureSize)
            return QString::number(size / 2 * 2);
        repaired << QLatin1String(value.name);
        return QString::fromLatin1(value.defaultValue);
    }
};

// The line on standard error, once for each new set of repaired values: the
// settings are read again whenever the summary, the dialog or a run needs them.
void ReportRepairs(const QStringList& repaired)
{
    static std::mutex mutex;
    static QStringList reported;
    const std::lock_guard lock(mutex);
    if (repaired == reported)
        return;
    reported = repaired;
    if (!repaired.isEmpty())
        qWarning().noquote() << QStringLiteral("Clipvane: repaired damaged settings: %1 "
                                               "(defaults used)")
                                    .arg(repaired.join(QLatin1String(", ")));
}

} // namespace

QStringList StoredSettings::ListTexts(List list)
{
    QStringList texts;
    switch (list) {
    case List::Encoder:
        for (const EncoderChoice& choice : Encoders)
            texts << QString::fromLatin1(choice.dialogText);
        break;
    case List::BitRate:
        for (int rate : BitRates)
            texts << QString::number(rate);
        break;
    case List::FrameRate:
        for (int rate : FrameRates)
            texts << QString::number(rate);
        break;
    case List::Ratio:
        for (const RatioChoice& choice : Ratios)
            texts << QString::fromLatin1(choice.text);
        break;
    }
    return texts;
}

StoredSettings StoredSettings::Read(const TextReader& stored)
{
    StoredSettings settings;
    RepairingReader read{stored, settings.arrRepaired};
    settings.nPreset = static_cast<int>(read.Number(RegValue::Option));
    settings.nEncoder = read.Index(Encoders, RegValue::Encoder);
    settings.nBitRate = read.Index(BitRates, RegValue::Bit);
    settings.nFrameRate = read.Index(FrameRates, RegValue::Fps);
    settings.nRatio = read.Index(Ratios, RegValue::Ratio);
    settings.strWidth = read.PictureSize(RegValue::Width);
    settings.strHeight = read.PictureSize(RegValue::Height);
    settings.bMixSubtitle = read.Number(RegValue::UseSub) != 0;
    settings.bShutdown = read.Number(RegValue::Shutdown) != 0;
    settings.nParallel = read.Number(RegValue::Parallel, MaxParallel);
    settings.strPreset = read.Text(RegValue::Preset);
    settings.bEvenLoudness = read.Number(RegValue::Loudness) != 0;
    return settings;
}

StoredSettings StoredSettings::Load()
{
    StoredSettings settings = Read(GetRegText);
    ReportRepairs(settings.arrRepaired);
    return settings;
}

void StoredSettings::Store() const
{
    // Repaired values are written in either mode, so that the store then holds
    // what the dialog showed.
    const bool userDefine = nPreset != 0;
    const auto writes = [&](const auto& value) {
        return userDefine || arrRepaired.contains(QLatin1String(value.name));
    };
    SetRegDWORD(RegValue::Option, userDefine ? 1 : 0);
    if (!userDefine)
        SetRegString(RegValue::Preset, strPreset);
    if (writes(RegValue::Encoder))
        StoreIndex(Encoders, nEncoder, RegValue::Encoder);
    if (writes(RegValue::Bit))
        StoreIndex(BitRates, nBitRate, RegValue::Bit);
    if (writes(RegValue::Fps))
        StoreIndex(FrameRates, nFrameRate, RegValue::Fps);
    if (writes(RegValue::Width))
        SetRegString(RegValue::Width, strWidth);
    if (writes(RegValue::Height))
        SetRegString(RegValue::Height, strHeight);
    if (writes(RegValue::Ratio))
        StoreIndex(Ratios, nRatio, RegValue::Ratio);
    SetRegDWORD(RegValue::UseSub, bMixSubtitle ? 1 : 0);
    SetRegDWORD(RegValue::Shutdown, bShutdown ? 1 : 0);
    SetRegDWORD(RegValue::Parallel, nParallel);
    SetRegDWORD(RegValue::Loudness, bEvenLoudness ? 1 : 0);
}

int StoredSettings::CoreCount()
{
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int StoredSettings::EncodesAtOnce() const
{
    if (nParallel == 0)
        return std::min(CoreCount(), MaxParallel);
    return static_cast<int>(std::min<DWORD>(nParallel, MaxParallel));
}

const StoredSettings::EncoderChoice& StoredSettings::PresetEncoder()
{
    return *std::find_if(std::begin(Encoders), std::end(Encoders), [](const EncoderChoice& choice) {
        return choice.codec == Presets::PocketPcNormal().videoCodec;
    });
}

const StoredSettings::EncoderChoice& StoredSettings::Encoder() const
{
    return Chosen(Encoders, nEncoder, RegValue::Encoder);
}

int StoredSettings::BitRate() const
{
    return Chosen(BitRates, nBitRate, RegValue::Bit);
}

int StoredSettings::FrameRate() const
{
    return Chosen(FrameRates, nFrameRate, RegValue::Fps);
}

const StoredSettings::RatioChoice& StoredSettings::Ratio() const
{
    return Chosen(Ratios, nRatio, RegValue::Ratio);
}

EncodeProfile StoredSettings::Profile() const
{
    EncodeProfile profile;
    if (nPreset == 0) {
        const EncodeProfile* preset = Presets::Find(strPreset);
        profile = preset ? *preset : Presets::PocketPcNormal();
    } else {
        const EncodeProfile::VideoCodec codec = Encoder().codec;
        // The picture, the rate and the sound of the chosen encoder's kind:
        // mencoder's as the handhelds' preset has them, ffmpeg's as the preset
        // of the same codec.
        const EncodeProfile* base = &Presets::PocketPcNormal();
        for (const EncodeProfile& preset : Presets::All()) {
            if (preset.videoCodec == codec && preset.ullSizeBudget == 0) {
                base = &preset;
                break;
            }
        }
        profile = *base;
        profile.strName = QStringLiteral("User Define");
        profile.strPurpose.clear();
        profile.videoCodec = codec;
        profile.nVideoKbps = BitRate();
        profile.dFps = FrameRate();
        profile.sizeRule = EncodeProfile::SizeRule::Frame;
        profile.nWidth = LeadingInt(strWidth);
        profile.nHeight = LeadingInt(strHeight);
        profile.strAspect = QString::fromLatin1(Ratio().aspect);
    }
    profile.bEvenLoudness = profile.bEvenLoudness && bEvenLoudness;
    return profile;
}
