#include "EncoderSubtitle.h"

#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"
#include "shell/AppInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

EncoderSubtitle PrepareSubtitleCopy(const QString& subtitlePath, const SubtitleCopyOptions& options)
{
    EncoderSubtitle subtitle;
    subtitle.strPath = subtitlePath;
    subtitle.bExists = !subtitlePath.isEmpty() && QFileInfo(subtitlePath).isFile();
    const SubtitleFormat format = SubtitleFormatOf(subtitlePath);
    if (!subtitle.bExists || format == SubtitleFormat::Other)
        return subtitle;

    subtitle.strPath.clear();
    const QString folder = SubtitleWorkDir();
    if (folder.isEmpty())
        return subtitle;
    QFile source(subtitlePath);
    std::optional<SubtitleCopy> copy;
    if (source.open(QIODevice::ReadOnly)) {
        const QByteArray raw = source.readAll();
        if (source.error() == QFileDevice::NoError)
            copy = MakeSubtitleCopy(raw, format, options);
    }
    auto file = std::make_shared<QTemporaryFile>(
        folder + QStringLiteral("/subtitle-XXXXXX") +
        QLatin1String(SubtitleExtensions[std::size_t(copy ? copy->format : format)]));
    if (!file->open())
        return subtitle;
    subtitle.strPath = file->fileName();
    // A failed copy's file goes with file on return: the encoder finds no
    // subtitle there and draws none.
    if (!copy || file->write(copy->utf8) != copy->utf8.size() || !file->flush())
        return subtitle;
    file->close();
    subtitle.pCopy = std::move(file);
    subtitle.language = copy->text.language;
    subtitle.script = copy->text.script;
    return subtitle;
}

QString SubtitleWorkDir()
{
    // One folder per process, so two running copies never share a subtitle
    // copy; QTemporaryDir makes it 0700 and removes it at exit.
    static const QTemporaryDir dir(QDir::tempPath() + QLatin1Char('/') +
                                   QLatin1String(AppInfo::DesktopId) + QLatin1String("-XXXXXX"));
    return dir.isValid() ? dir.path() : QString();
}
