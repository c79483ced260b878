#pragma once

#include "shell/AppInfo.h"

#include <cstdint>
#include <optional>

#include <QString>

// The per-user settings of Clipvane. On this platform the key "Software\Tolva\Clipvane"
// is the INI file $XDG_CONFIG_HOME/Tolva/Clipvane.conf (~/.config/... by default); the
// program's values sit at its top level. Reads fall back to the caller's default and
// writes fail quietly: nothing here is ever shown to the user.

using DWORD = std::uint32_t;

inline const QString SettingsKey =
    QStringLiteral("Software\\%1\\%2")
        .arg(QLatin1String(AppInfo::MakerName), QLatin1String(AppInfo::ProgramName));

// Every stored value, with its name and the default its readers use.
struct RegStringValue
{
    const char* name;
    const char* defaultValue;
};

struct RegDwordValue
{
    const char* name;
    DWORD defaultValue;
};

namespace RegValue {
inline constexpr RegStringValue Started{"Started", ""};
inline constexpr RegDwordValue MajorVersion{"Major Version", 0};
inline constexpr RegDwordValue MinorVersion{"Minior Version", 0}; // spelled so on disk
inline constexpr RegDwordValue BuildVersion{"Build Version", 0};
inline constexpr RegStringValue MovieDir{"MovieDir", "./"};
inline constexpr RegStringValue Prefix{"Prefix", "./"};
inline constexpr RegDwordValue Option{"Option", 0};   // 0 Pocket PC preset, 1 User Define
inline constexpr RegDwordValue Encoder{"Encoder", 0}; // index in the encoder list
inline constexpr RegDwordValue Bit{"Bit", 1};         // index in the video bit-rate list
inline constexpr RegDwordValue Fps{"Fps", 0};         // index in the frame-rate list
inline constexpr RegStringValue Width{"Width", "320"};
inline constexpr RegStringValue Height{"Height", "240"};
inline constexpr RegDwordValue Ratio{"Ratio", 1}; // 0 "4:3", 1 "16:9"
inline constexpr RegDwordValue UseSub{"UseSub", 1};
inline constexpr RegDwordValue Shutdown{"Shutdown", 0};
// The folder of the last movie added: where the open dialog starts.
inline constexpr RegStringValue LastFolder{"LastFolder", ""};
inline constexpr RegDwordValue Parallel{"Parallel", 0}; // encodes at once; 0 one per core
// The preset's name with "Option" 0; absent, empty or unknown: the first
// preset ("Pocket PC Normal"), as stores from before the presets mean it.
inline constexpr RegStringValue Preset{"Preset", ""};
// The preset a first start stores: today's phones' and tablets' movie.
inline constexpr char FirstStartPreset[] = "Phone and Tablet";
inline constexpr RegDwordValue Loudness{"Loudness", 1}; // even out the sound's loudness
} // namespace RegValue

QString GetRegString(const QString& subKey, const QString& valueName, const QString& defaultValue);
DWORD GetRegDWORD(const QString& subKey, const QString& valueName, DWORD defaultValue);
void SetRegString(const QString& subKey, const QString& valueName, const QString& text);
void SetRegDWORD(const QString& subKey, const QString& valueName, DWORD value);

// The text a value of SettingsKey holds; nothing when the store does not hold it.
std::optional<QString> GetRegText(const QString& valueName);
// A DWORD as the store keeps it: its decimal text, spaces round it allowed;
// nothing for any text that is not an unsigned 32-bit number.
std::optional<DWORD> DwordFromText(const QString& text);

// The same operations on SettingsKey with the value's own name and default.
QString GetRegString(const RegStringValue& value);
DWORD GetRegDWORD(const RegDwordValue& value);
void SetRegString(const RegStringValue& value, const QString& text);
void SetRegDWORD(const RegDwordValue& value, DWORD data);

// Folder that receives the encoded files, and the text put in front of their names.
QString GetMovieDir();
QString GetPrefix();

// Developer diagnostic for a failed settings operation: a debug-log line, never
// shown to the user. A code of 0 means there is nothing to report.
void ReportUtilityError(const QString& operationName, int code);
