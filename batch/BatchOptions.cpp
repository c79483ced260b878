#include "BatchOptions.h"

#include "engine/Presets.h"
#include "engine/StartChecks.h"
#include "engine/StoredSettings.h"
#include "jobs/JobListStore.h"
#include "jobs/MediaProbe.h"
#include "shell/AppInfo.h"

#include <algorithm>

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

constexpr char ProgramName[] = "clipvane-batch";

// The longest settle time the hidden option takes, in seconds.
constexpr int MaxSettleSeconds = 3600;

const char* const OverwriteNames[] = {"ask", "rename", "skip", "replace"};

const QString ExitCodesText = QStringLiteral(
    "\nExit codes: 0 every movie finished (or was skipped on purpose), 1 some failed or\n"
    "were stopped, 2 bad usage, 130 and 143 after SIGINT and SIGTERM (unfinished\n"
    "outputs are removed). With --segments: 1 also when a piece is missing or damaged\n"
    "or the movie changed since its plan, 2 when the work folder holds no plan.\n");

QString Absolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The preset a name stands for: as the table spells it, else in any letter
// case.
const EncodeProfile* FindPreset(const QString& name)
{
    if (const EncodeProfile* preset = Presets::Find(name))
        return preset;
    for (const EncodeProfile& preset : Presets::All()) {
        if (preset.strName.compare(name, Qt::CaseInsensitive) == 0)
            return &preset;
    }
    return nullptr;
}

QString PresetList()
{
    qsizetype width = 0;
    for (const EncodeProfile& preset : Presets::All())
        width = std::max(width, preset.strName.size());
    QString text;
    for (const EncodeProfile& preset : Presets::All()) {
        QString line = preset.strName.leftJustified(width + 2) + preset.Extension();
        if (!preset.strPurpose.isEmpty())
            line = line.leftJustified(width + 9) + preset.strPurpose;
        text += line + QLatin1Char('\n');
    }
    return text;
}

BatchParsed Usage(const QString& text)
{
    BatchParsed parsed;
    parsed.nExitCode = 2;
    parsed.strError =
        BatchOptions::Complaint(text) +
        QStringLiteral("Try '%1 --help' for more information.\n").arg(QLatin1String(ProgramName));
    return parsed;
}

// A whole number from low to high, or nothing.
std::optional<int> NumberIn(const QString& text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

QString BatchOptions::Complaint(const QString& text)
{
    return QStringLiteral("%1: %2\n").arg(QLatin1String(ProgramName), text);
}

BatchParsed BatchOptions::Parse(const QStringList& arguments, bool stdinIsTerminal)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Encodes movies with Clipvane's presets, checks and naming, without a "
                       "window.\nDefaults come from Clipvane's stored settings. A folder adds "
                       "every movie under it; the output keeps its tree."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption preset({QStringLiteral("p"), QStringLiteral("preset")},
                                    QStringLiteral("Encode with the preset NAME."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the outputs into DIR."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption jobs(
        {QStringLiteral("j"), QStringLiteral("jobs")},
        QStringLiteral("Encode N movies at once (1 to %1).").arg(StoredSettings::MaxParallel),
        QStringLiteral("N"));
    const QCommandLineOption sample(
        QStringLiteral("sample"),
        QStringLiteral("Encode only the first %1 seconds of each.").arg(SampleSeconds));
    const QCommandLineOption overwrite(
        QStringLiteral("overwrite"),
        QStringLiteral("What happens to outputs that exist: ask, rename (the default: the next "
                       "free \" (2)\" name), skip or replace."),
        QStringLiteral("MODE"));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Print one JSON object per line for each event, and nothing else."));
    const QCommandLineOption listPresets(QStringLiteral("list-presets"),
                                         QStringLiteral("List the presets and exit."));
    const QCommandLineOption listFile(
        QStringLiteral("list-file"),
        QStringLiteral("Encode the movies of a list saved from Clipvane's window."),
        QStringLiteral("FILE"));
    const QCommandLineOption watch(
        QStringLiteral("watch"),
        QStringLiteral("Keep running and encode every movie that appears under DIR, once."),
        QStringLiteral("DIR"));
    const QCommandLineOption listMovies(
        QStringLiteral("list-movies"),
        QStringLiteral("Print the movies the arguments stand for, one per line, and exit."));
    const QCommandLineOption nul(QStringLiteral("null"),
                                 QStringLiteral("With --list-movies, end each with a NUL."));
    const QCommandLineOption segments(
        QStringLiteral("segments"),
        QStringLiteral("Encode one long MOVIE in segments, one STEP per command, on this or other "
                       "machines: 'plan' prints the number of segments (0: the movie is encoded "
                       "whole, without --segments), N encodes segment N (1 to that number), "
                       "'sound' encodes the sound, 'join' checks every piece, joins them and "
                       "writes the output. Needs --work."),
        QStringLiteral("STEP"));
    const QCommandLineOption work(
        QStringLiteral("work"),
        QStringLiteral("With --segments: the folder of the pieces, on a disk every machine "
                       "shares; removed once the output is finished."),
        QStringLiteral("DIR"));
    QCommandLineOption settle(QStringLiteral("settle-seconds"), QString(),
                              QStringLiteral("SECONDS"));
    settle.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption limits(QStringLiteral("segment-limits"), QString(),
                              QStringLiteral("SECONDS,MIN"));
    limits.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({help, version, preset, output, jobs, sample, overwrite, json, listPresets,
                       listFile, watch, listMovies, nul, segments, work, settle, limits});
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"),
                                 QStringLiteral("Movies, and folders of movies, to encode."),
                                 QStringLiteral("FILE|FOLDER..."));

    if (!parser.parse(arguments))
        return Usage(parser.errorText());
    BatchParsed parsed;
    if (parser.isSet(help)) {
        // Qt's first line names the program by the path it was started with.
        const QString help = parser.helpText();
        parsed.strOut = QStringLiteral("Usage: %1 [options] FILE|FOLDER...\n       %1 [options] "
                                       "--watch DIR\n       %1 [options] --segments "
                                       "plan|N|sound|join --work DIR MOVIE\n")
                            .arg(QLatin1String(ProgramName)) +
                        help.mid(help.indexOf(QLatin1Char('\n')) + 1) + ExitCodesText;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.strOut =
            QStringLiteral("%1 %2\n").arg(QLatin1String(ProgramName), AppInfo::VersionText("."));
        return parsed;
    }
    if (parser.isSet(listPresets)) {
        parsed.strOut = PresetList();
        return parsed;
    }

    BatchOptions options;
    if (parser.isSet(preset)) {
        const EncodeProfile* found = FindPreset(parser.value(preset));
        if (!found)
            return Usage(QStringLiteral("unknown preset '%1' (try --list-presets)")
                             .arg(parser.value(preset)));
        options.strPreset = found->strName;
    }
    if (parser.isSet(output)) {
        if (parser.value(output).isEmpty())
            return Usage(QStringLiteral("empty --output folder"));
        options.strOutputDir = Absolute(parser.value(output));
    }
    if (parser.isSet(jobs)) {
        const std::optional<int> n = NumberIn(parser.value(jobs), 1, StoredSettings::MaxParallel);
        if (!n)
            return Usage(QStringLiteral("invalid --jobs '%1' (a number from 1 to %2)")
                             .arg(parser.value(jobs))
                             .arg(StoredSettings::MaxParallel));
        options.nJobs = *n;
    }
    if (parser.isSet(overwrite)) {
        const QString mode = parser.value(overwrite);
        const auto* found = std::find_if(std::begin(OverwriteNames), std::end(OverwriteNames),
                                         [&](const char* name) { return mode == name; });
        if (found == std::end(OverwriteNames))
            return Usage(QStringLiteral("invalid --overwrite '%1' (ask, rename, skip or replace)")
                             .arg(mode));
        options.overwrite = Overwrite(found - std::begin(OverwriteNames));
    }
    if (parser.isSet(settle)) {
        const std::optional<int> n = NumberIn(parser.value(settle), 0, MaxSettleSeconds);
        if (!n)
            return Usage(QStringLiteral("invalid --settle-seconds '%1'").arg(parser.value(settle)));
        options.nSettleSeconds = *n;
    }
    options.bSampling = parser.isSet(sample);
    options.bJson = parser.isSet(json);
    options.bListMovies = parser.isSet(listMovies);
    options.bNull = parser.isSet(nul);
    options.arrListFiles = parser.values(listFile);
    options.arrPaths = parser.positionalArguments();

    if (parser.isSet(limits)) {
        const QStringList parts = parser.value(limits).split(QLatin1Char(','));
        bool okSegment = false;
        bool okMin = false;
        const double segment = parts.value(0).toDouble(&okSegment);
        const double min = parts.value(1).toDouble(&okMin);
        if (parts.size() != 2 || !okSegment || !okMin || !(segment > 0) || !(min > 0))
            return Usage(QStringLiteral("invalid --segment-limits '%1'").arg(parser.value(limits)));
        options.segmentLimits = {segment, min};
    }
    if (parser.isSet(segments)) {
        using Step = SegmentStep;
        const QString step = parser.value(segments);
        if (step == QLatin1String("plan")) {
            options.segmentStep = Step::Plan;
        } else if (step == QLatin1String("sound")) {
            options.segmentStep = Step::Sound;
        } else if (step == QLatin1String("join")) {
            options.segmentStep = Step::Join;
        } else if (const std::optional<int> n = NumberIn(step, 1, 1 << 30)) {
            options.segmentStep = Step::Segment;
            options.nSegment = *n;
        } else {
            return Usage(
                QStringLiteral("invalid --segments '%1' (plan, a segment's number from 1, sound "
                               "or join)")
                    .arg(step));
        }
        if (parser.value(work).isEmpty())
            return Usage(QStringLiteral("--segments needs --work DIR"));
        if (parser.isSet(watch) || !options.arrListFiles.isEmpty() || options.bListMovies ||
            options.bSampling || options.bJson)
            return Usage(QStringLiteral("--segments takes no --watch, --list-file, --list-movies, "
                                        "--sample or --json"));
        if (options.arrPaths.size() != 1)
            return Usage(QStringLiteral("--segments takes one MOVIE"));
        // Each step is a command of its own, often on a machine without a
        // terminal: none of them asks.
        if (options.overwrite == Overwrite::Ask)
            return Usage(QStringLiteral("--segments cannot ask (use --overwrite rename, skip or "
                                        "replace)"));
        options.strWorkDir = Absolute(parser.value(work));
        parsed.options = options;
        return parsed;
    }
    if (parser.isSet(work))
        return Usage(QStringLiteral("--work goes with --segments"));

    if (parser.isSet(watch)) {
        const QStringList folders = parser.values(watch);
        if (folders.size() > 1)
            return Usage(QStringLiteral("--watch takes one folder"));
        if (!options.arrPaths.isEmpty() || !options.arrListFiles.isEmpty() || options.bListMovies)
            return Usage(QStringLiteral("--watch takes no FILE|FOLDER, --list-file or "
                                        "--list-movies"));
        const QFileInfo folder(folders.front());
        if (!folder.isDir() || !folder.isReadable())
            return Usage(QStringLiteral("cannot watch '%1': not a folder that can be read")
                             .arg(folders.front()));
        // An unattended command has no one to ask.
        if (options.overwrite == Overwrite::Ask)
            return Usage(QStringLiteral("--watch cannot ask (use --overwrite rename, skip or "
                                        "replace)"));
        options.strWatchDir = Absolute(folders.front());
    } else if (options.arrPaths.isEmpty() && options.arrListFiles.isEmpty()) {
        return Usage(QStringLiteral("no FILE or FOLDER given"));
    }
    if (options.overwrite == Overwrite::Ask && !stdinIsTerminal && !options.bListMovies)
        return Usage(QStringLiteral("--overwrite ask needs a terminal on standard input"));
    parsed.options = options;
    return parsed;
}

RunPlan BatchOptions::Plan(const StoredSettings& settings) const
{
    StoredSettings chosen = settings;
    if (!strPreset.isEmpty()) {
        chosen.nMode = StoredSettings::ModePreset;
        chosen.strPreset = strPreset;
    }
    // --jobs stands for the stored number, so that the encoders' threads follow.
    if (nJobs > 0)
        chosen.nParallel = DWORD(nJobs);
    RunPlan plan = RunPlan::FromSettings(chosen, bSampling);
    if (!strOutputDir.isEmpty())
        plan.strOutputDir = strOutputDir;
    // No one asked for it, and the machine may be someone else's.
    plan.bShutdown = false;
    plan.overwrite = overwrite;
    plan.segmentLimits = segmentLimits;
    return plan;
}

BatchSources CollectSources(const BatchOptions& options)
{
    BatchSources sources;
    QSet<QString> seen;
    // Each file once, however it was named.
    auto add = [&](const MovieSource& movie) {
        const QFileInfo info(movie.strPath);
        const QString key =
            info.canonicalFilePath().isEmpty() ? movie.strPath : info.canonicalFilePath();
        if (seen.contains(key))
            return;
        seen.insert(key);
        sources.movies.append(movie);
    };
    // A movie that cannot be opened, named as given and where it came from.
    auto unreadable = [&](const QString& path, const QString& given, const QString& from) {
        const std::optional<QString> problem = StartChecks::MovieProblem(path);
        if (!problem)
            return false;
        sources.strError = QStringLiteral("cannot encode '%1'%2: %3").arg(given, from, *problem);
        return true;
    };

    for (const QString& file : options.arrListFiles) {
        QString error;
        const std::optional<QVector<MovieSource>> list =
            CJobListStore::ReadListFile(Absolute(file), &error);
        if (!list) {
            sources.strError =
                QStringLiteral("cannot read the list file '%1': %2").arg(file, error);
            return sources;
        }
        const QString from = QStringLiteral(" (in the list file '%1')").arg(file);
        for (MovieSource movie : *list) {
            const QString given = movie.strPath;
            movie.strPath = Absolute(given);
            if (unreadable(movie.strPath, given, from))
                return sources;
            add(movie);
        }
    }
    for (const QString& given : options.arrPaths) {
        const QString path = Absolute(given);
        const QFileInfo info(path);
        if (!info.isDir()) {
            if (unreadable(path, given, QString()))
                return sources;
            add({path, QString()});
            continue;
        }
        if (!info.isReadable() || !info.isExecutable()) {
            sources.strError = QStringLiteral("cannot read the folder '%1'").arg(given);
            return sources;
        }
        const QVector<MovieSource> movies = MovieFolder::CollectMovies(path);
        if (movies.isEmpty())
            sources.arrNotes << QStringLiteral("no movies in '%1'").arg(given);
        // Not arguments: one that cannot be read fails in the run, which says
        // why, and the others are encoded.
        for (const MovieSource& movie : movies)
            add(movie);
    }
    return sources;
}

std::vector<StreamFile> ProbeSources(const QVector<MovieSource>& movies)
{
    std::vector<StreamFile> jobs;
    jobs.reserve(movies.size());
    for (const MovieSource& movie : movies) {
        StreamFile job = ProbeMovieJob(movie.strPath);
        job.strRelativeDir = movie.strRelativeDir;
        jobs.push_back(std::move(job));
    }
    return jobs;
}
