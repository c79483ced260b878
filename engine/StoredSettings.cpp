#include "StoredSettings.h"

#include "engine/Presets.h"
#include "engine/SettingDeclaration.h"
#include "shell/AppInfo.h"
#include "shell/Numbers.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include <QDebug>
#include <QDir>
#include <QStandardPaths>

namespace {

using S = StoredSettings;
using OkWrites = SettingDeclaration::OkWrites;
using FirstStart = SettingDeclaration::FirstStart;
using TextRule = SettingDeclaration::TextRule;
using NumberRule = SettingDeclaration::NumberRule;

constexpr TextRule AnyText = TextRule::AnyText;
constexpr TextRule PictureSize = TextRule::PictureSize;
constexpr NumberRule AnyNumber{};
constexpr SettingDeclaration::SwitchRule Switch{};

template <class Entry, std::size_t Count>
constexpr NumberRule IndexIn(const Entry (&)[Count])
{
    return {Count - 1};
}

// The index of the first entry of a list that matches.
template <class Entry, std::size_t Count, class Matches>
DWORD IndexWhere(const Entry (&list)[Count], Matches matches)
{
    const Entry* found = std::find_if(std::begin(list), std::end(list), matches);
    if (found == std::end(list))
        qFatal("The options dialog's lists lack a value of \"Pocket PC Normal\"");
    return static_cast<DWORD>(found - std::begin(list));
}

// The output folder a fresh installation starts with: "Tolva/Encoded Movies" in
// the user's documents folder (looked up on every call, as the store's folder is).
QString DefaultOutputDir()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return AppInfo::MakerFolderIn(documents) + QStringLiteral("/Encoded Movies");
}

// Every setting, in the order the repaired ones are named. User Define's
// defaults are the entries of "Pocket PC Normal", so that User Define left alone
// makes what the preset makes.
std::vector<SettingDeclaration> Declarations()
{
    const EncodeProfile& handhelds = Presets::PocketPcNormal();
    const DWORD encoder = IndexWhere(S::Encoders, [&](EncodeProfile::VideoCodec codec) {
        return codec == handhelds.videoCodec;
    });
    const DWORD bitRate =
        IndexWhere(S::BitRates, [&](int rate) { return rate == handhelds.nVideoKbps; });
    const DWORD frameRate =
        IndexWhere(S::FrameRates, [&](int rate) { return rate == handhelds.dFps; });
    const DWORD ratio = IndexWhere(S::Ratios, [&](const S::RatioChoice& choice) {
        return QLatin1String(choice.aspect) == handhelds.strAspect;
    });
    const QString prefix = QStringLiteral("[%1]").arg(QLatin1String(AppInfo::MakerName));

    using enum OkWrites;
    using enum FirstStart;
    return {
        {"Option", &S::nMode, S::ModePreset, AnyNumber, Always, TheDefault},
        {"Encoder", &S::nEncoder, encoder, IndexIn(S::Encoders), ForUserDefine},
        {"Bit", &S::nBitRate, bitRate, IndexIn(S::BitRates), ForUserDefine},
        {"Fps", &S::nFrameRate, frameRate, IndexIn(S::FrameRates), ForUserDefine},
        {"Ratio", &S::nRatio, ratio, IndexIn(S::Ratios), ForUserDefine},
        {"Width", &S::strWidth, QString::number(handhelds.nWidth), PictureSize, ForUserDefine},
        {"Height", &S::strHeight, QString::number(handhelds.nHeight), PictureSize, ForUserDefine},
        {"UseSub", &S::bBurnSubtitle, true, Switch, Always},
        {"Shutdown", &S::bShutdown, false, Switch, Always},
        {"Parallel", &S::nParallel, 0, NumberRule{S::MaxParallel}, Always},
        {"Preset", &S::strPreset, Presets::PocketPcNormalName, AnyText, ForPreset,
         ValueUnlessStored, Presets::PhoneAndTabletName},
        {"Loudness", &S::bEvenLoudness, true, Switch, Always},
        {"MovieDir", &S::strOutputDir, DefaultOutputDir(), AnyText, Never, TheDefault},
        {"Prefix", &S::strPrefix, prefix, AnyText, Never, TheDefault},
        {"LastFolder", &S::strLastFolder, QString(), AnyText, Never},
        {"Major Version", AppInfo::MajorVersion},
        {"Minior Version", AppInfo::MinorVersion}, // spelled so on disk
        {"Build Version", AppInfo::BuildVersion},
        // Written last by a first start: a second process starting meanwhile
        // (the batch jobs of a cluster recipe on one host, the window beside a
        // batch) sees it only once the values above are there, and until then
        // writes the same values itself.
        {"Started", &S::strStarted, QString(), AnyText, Never, Value, QStringLiteral("Yes")},
    };
}

// The entry a stored index names; an index outside the list names the entry at
// the value's default index.
template <class Entry, std::size_t Count>
const Entry& Chosen(const Entry (&list)[Count], DWORD index, DWORD S::*member)
{
    return list[index < Count ? index : StoredSettings().*member];
}

// The leading integer of a picture size as typed.
int LeadingInt(const QString& text)
{
    return LeadingNumber<int>(text.toLatin1().toStdString());
}

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

StoredSettings::StoredSettings()
{
    for (const SettingDeclaration& declaration : Declarations())
        declaration.SetDefault(*this);
}

QStringList StoredSettings::ListTexts(List list)
{
    QStringList texts;
    switch (list) {
    case List::Encoder:
        for (EncodeProfile::VideoCodec codec : Encoders)
            texts << EncodeProfile::CodecListText(codec);
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
    for (const SettingDeclaration& declaration : Declarations()) {
        if (!declaration.IsRead())
            continue;
        const std::optional<QString> text = stored(declaration.Key());
        if (text && !declaration.Take(*text, settings))
            settings.arrRepaired << declaration.Key();
    }
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
    // "Option" is one of the two modes: one the dialog does not know counts as
    // User Define.
    StoredSettings written = *this;
    written.nMode = UserDefine() ? ModeUserDefine : ModePreset;
    for (const SettingDeclaration& declaration : Declarations()) {
        const bool repaired = arrRepaired.contains(declaration.Key());
        switch (declaration.WrittenByOk()) {
        case OkWrites::Always:
            break;
        case OkWrites::ForUserDefine:
            if (!UserDefine() && !repaired)
                continue;
            break;
        case OkWrites::ForPreset:
            if (UserDefine() && !repaired)
                continue;
            break;
        case OkWrites::Never:
            continue;
        }
        declaration.Write(written);
    }
}

template <class T>
void StoredSettings::StoreValue(T StoredSettings::*member, const T& value)
{
    StoredSettings settings;
    settings.*member = value;
    for (const SettingDeclaration& declaration : Declarations()) {
        if (declaration.Holds(member))
            declaration.Write(settings);
    }
}

template void StoredSettings::StoreValue<QString>(QString StoredSettings::*, const QString&);
template void StoredSettings::StoreValue<DWORD>(DWORD StoredSettings::*, const DWORD&);
template void StoredSettings::StoreValue<bool>(bool StoredSettings::*, const bool&);

bool StoredSettings::FirstRunSetup()
{
    if (!Read(GetRegText).strStarted.isEmpty())
        return false;
    // A folder that cannot be made is left to the first run to report.
    QDir().mkpath(StoredSettings().strOutputDir);
    for (const SettingDeclaration& declaration : Declarations())
        declaration.WriteAtFirstStart();
    return true;
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

EncodeProfile::VideoCodec StoredSettings::Encoder() const
{
    return Chosen(Encoders, nEncoder, &StoredSettings::nEncoder);
}

int StoredSettings::BitRate() const
{
    return Chosen(BitRates, nBitRate, &StoredSettings::nBitRate);
}

int StoredSettings::FrameRate() const
{
    return Chosen(FrameRates, nFrameRate, &StoredSettings::nFrameRate);
}

const StoredSettings::RatioChoice& StoredSettings::Ratio() const
{
    return Chosen(Ratios, nRatio, &StoredSettings::nRatio);
}

EncodeProfile StoredSettings::Profile() const
{
    EncodeProfile profile;
    if (!UserDefine()) {
        const EncodeProfile* preset = Presets::Find(strPreset);
        profile = preset ? *preset : Presets::PocketPcNormal();
    } else {
        const EncodeProfile::VideoCodec codec = Encoder();
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
