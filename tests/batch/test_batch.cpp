// clipvane-batch as a terminal, a script or a service runs it: the real program
// with the real ffmpeg, its exit codes, its JSON events, what it does to outputs
// that exist, its quit signals, and the watch folder.
#include "jobs/JobListStore.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"
#include "tests/support/TestEnvironment.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

class BatchCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.IsValid());
        ASSERT_TRUE(MediaFactory::HaveFfmpeg());
        m_program = TestEnvironment::BinDir() + QStringLiteral("/clipvane-batch");
        ASSERT_TRUE(QFileInfo(m_program).isExecutable());
        m_out = m_home.FilePath(QStringLiteral("Out"));
    }

    QString MakeMovie(const QString& relativePath, MovieSpec spec = {})
    {
        const QString path = m_home.FilePath(relativePath);
        QDir().mkpath(QFileInfo(path).path());
        QString error;
        EXPECT_TRUE(MediaFactory::GenerateMovie(path, spec, &error)) << error.toStdString();
        return path;
    }

    void Start(QProcess& process, const QStringList& args)
    {
        process.setProgram(m_program);
        process.setArguments(args);
        process.start();
        ASSERT_TRUE(process.waitForStarted());
    }

    struct Result
    {
        int nExitCode = -1;
        QString strOut;
        QString strError;
    };
    Result Run(const QStringList& args, int timeoutMs = 120000)
    {
        QProcess process;
        Start(process, args);
        EXPECT_TRUE(process.waitForFinished(timeoutMs)) << args.join(' ').toStdString();
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // The --json events of a run: every line must be one JSON object.
    static std::vector<QJsonObject> Events(const QString& out)
    {
        std::vector<QJsonObject> events;
        for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
            EXPECT_TRUE(document.isObject()) << "not a JSON object: " << line.toStdString();
            events.push_back(document.object());
        }
        return events;
    }

    // The files under the output folder, relative to it, sorted.
    QStringList Outputs() const
    {
        QStringList files;
        QDirIterator it(m_out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(m_out).relativeFilePath(it.next());
        files.sort();
        return files;
    }

    void ExpectWhole(const QString& relativePath, double seconds)
    {
        const MovieInspector::Facts facts = MovieInspector::Inspect(m_out + '/' + relativePath);
        EXPECT_TRUE(facts.HasVideo()) << relativePath.toStdString();
        EXPECT_NEAR(facts.videoSeconds, seconds, 0.2) << relativePath.toStdString();
    }

    // The bytes of the hidden files the encoders write beside the outputs.
    qint64 PartBytes() const
    {
        qint64 bytes = 0;
        for (const QString& file : Outputs()) {
            if (QFileInfo(file).fileName().startsWith('.') && file.endsWith(".part"))
                bytes += QFileInfo(m_out + '/' + file).size();
        }
        return bytes;
    }

    ScopedTempHome m_home;
    QString m_program;
    QString m_out;
};

// Bad usage ends with 2 before anything is encoded, naming the bad argument on
// standard error as Unix tools do; the questions of --help and its friends end
// with 0.
TEST_F(BatchCommand, UsageIsCheckedBeforeAnythingStarts)
{
    const QString movie = MakeMovie(QStringLiteral("In/a.mp4"));
    const struct
    {
        QStringList args;
        int nExitCode;
        const char* stdoutHas;
        const char* stderrHas;
    } rows[] = {
        {{"--bogus", movie}, 2, "", "'bogus'"},
        {{"--jobs", "0", movie}, 2, "", "0"},
        {{"--jobs", "x", movie}, 2, "", "'x'"},
        {{"--overwrite", "maybe", movie}, 2, "", "'maybe'"},
        {{"--preset", "Nope", movie}, 2, "", "'Nope'"},
        {{m_home.FilePath("In/gone.mp4")}, 2, "", "gone.mp4"},
        {{"--list-file", m_home.FilePath("no list")}, 2, "", "no list"},
        {{}, 2, "", "no FILE or FOLDER"},
        {{"--help"}, 0, "--watch", ""},
        {{"--version"}, 0, "clipvane-batch", ""},
        {{"--list-presets"}, 0, "Share (25 MB)", ""},
        {{"--list-movies", m_home.FilePath("In")}, 0, "a.mp4", ""},
        {{"--segments", "plan", movie}, 2, "", "--segments needs --work"},
        {{"--segments", "x", "--work", "W", movie}, 2, "", "'x'"},
        {{"--segments", "1", "--work", "W", movie, movie}, 2, "", "one MOVIE"},
        {{"--segments", "join", "--work", "W", "--sample", movie}, 2, "", "--sample"},
        {{"--work", "W", movie}, 2, "", "--work goes with --segments"},
        // A two-second movie is encoded whole: the plan says 0 and writes nothing.
        {{"--segments", "plan", "--work", m_home.FilePath("W"), movie}, 0, "0\n", "short"},
        {{"--segments", "1", "--work", m_home.FilePath("W"), movie}, 2, "", "without --segments"},
    };
    for (const auto& row : rows) {
        const Result result = Run(QStringList(row.args) << "--output" << m_out);
        const std::string what = row.args.join(' ').toStdString();
        EXPECT_EQ(result.nExitCode, row.nExitCode) << what << "\n" << result.strError.toStdString();
        EXPECT_TRUE(result.strOut.contains(row.stdoutHas)) << what << "\n"
                                                           << result.strOut.toStdString();
        EXPECT_TRUE(result.strError.contains(row.stderrHas)) << what << "\n"
                                                             << result.strError.toStdString();
    }
    EXPECT_EQ(Outputs(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(m_home.FilePath("W")));
}

// A folder with a damaged movie among good ones, two movies of one name in
// different folders and an odd name: every event is a JSON line, the good ones
// are whole with the tree kept, the damaged one fails with its reason, the exit
// code is 1, and the window's kept list is not touched. A second run treats the
// outputs that exist as --overwrite says.
TEST_F(BatchCommand, AFolderComesOutWholeAndOutputsThatExistAreTreatedAsAsked)
{
    MakeMovie(QStringLiteral("Trip/a.mov"));
    MakeMovie(QStringLiteral("Trip/Day 1/a.mov"));
    MakeMovie(QStringLiteral("Trip/it's 100% ü.mp4"));
    ASSERT_TRUE(
        MediaFactory::WriteFile(m_home.FilePath("Trip/damaged.mp4"),
                                MediaFactory::ReadFile(m_home.FilePath("Trip/a.mov")).left(3000)));
    const QStringList base{"--preset", "Phone and Tablet", "--output", m_out,
                           m_home.FilePath(QStringLiteral("Trip"))};

    const Result first = Run(QStringList(base) << "--json");
    EXPECT_EQ(first.nExitCode, 1) << first.strError.toStdString();
    std::map<QString, QString> ended; // input file name -> finished or the reason
    for (const QJsonObject& event : Events(first.strOut)) {
        const QString name = QFileInfo(event["input"].toString()).fileName();
        if (event["event"] == "finished") {
            ended[name] = QStringLiteral("finished");
        } else if (event["event"] == "failed") {
            ended[name] = event["reason"].toString();
        } else if (event["event"] == "summary") {
            EXPECT_EQ(event["exitCode"].toInt(), 1);
        }
    }
    EXPECT_EQ(ended["damaged.mp4"],
              QStringLiteral("The movie cannot be read: it is damaged or of an unknown kind."));
    EXPECT_EQ(ended["it's 100% ü.mp4"], QStringLiteral("finished"));
    const QStringList made{"Trip/Day 1/[Tolva]a.mp4", "Trip/[Tolva]a.mp4",
                           "Trip/[Tolva]it's 100% ü.mp4"};
    EXPECT_EQ(Outputs(), made);
    for (const QString& output : made)
        ExpectWhole(output, 2.0);
    EXPECT_FALSE(QFile::exists(CJobListStore::FilePath()));

    QFile::remove(m_home.FilePath("Trip/damaged.mp4"));
    const QString oneOutput = m_out + QStringLiteral("/Trip/[Tolva]a.mp4");
    // An output has its movie's file time; an older one tells a replaced output.
    EXPECT_EQ(QFileInfo(oneOutput).lastModified(),
              QFileInfo(m_home.FilePath("Trip/a.mov")).lastModified());
    const QDateTime before = QDateTime::fromSecsSinceEpoch(946684800);
    {
        QFile file(oneOutput);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(before, QFileDevice::FileModificationTime));
    }
    const struct
    {
        const char* mode;
        QStringList outputs;
        bool bReplaced;
    } rows[] = {
        {"skip", made, false},
        {"rename",
         made + QStringList{"Trip/Day 1/[Tolva]a (2).mp4", "Trip/[Tolva]a (2).mp4",
                            "Trip/[Tolva]it's 100% ü (2).mp4"},
         false},
        {"replace", {}, true},
    };
    for (const auto& row : rows) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Result again = Run(QStringList(base) << "--overwrite" << row.mode);
        EXPECT_EQ(again.nExitCode, 0) << row.mode << "\n"
                                      << (again.strOut + again.strError).toStdString();
        if (!row.outputs.isEmpty()) {
            QStringList outputs = row.outputs;
            outputs.sort();
            EXPECT_EQ(Outputs(), outputs) << row.mode;
        }
        EXPECT_EQ(QFileInfo(oneOutput).lastModified() != before, row.bReplaced) << row.mode;
    }
    ExpectWhole(QStringLiteral("Trip/[Tolva]a.mp4"), 2.0);
}

// SIGINT and SIGTERM stop the run as the window's Stop does: the encoder ends,
// the unfinished output is removed, and the exit code tells the signal. After
// SIGKILL no movie lies under the output's name, only the claim on it beside the
// hidden half movie; the next run removes both and writes the output under its
// own name.
TEST_F(BatchCommand, QuitSignalsStopTheRunAndLeaveNoUnfinishedOutput)
{
    MovieSpec spec;
    spec.width = 640;
    spec.height = 360;
    spec.seconds = 30;
    const QString movie = MakeMovie(QStringLiteral("long.mkv"), spec);
    const QString output = m_out + QStringLiteral("/[Tolva]long.mp4");
    for (const auto& [signal, exitCode] :
         {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGKILL, -1}}) {
        SCOPED_TRACE(::testing::Message() << "signal " << signal);
        QProcess process;
        Start(process, {"--json", "--preset", "Small H.265", "--output", m_out, movie});
        while (!process.canReadLine() && process.waitForReadyRead(30000)) {
        }
        const QByteArray started = process.readLine();
        ASSERT_TRUE(started.contains("\"started\"")) << started.constData();
        // Until ffmpeg has written the start of the movie.
        for (int i = 0; i < 200 && PartBytes() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_GT(PartBytes(), 0);
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(30000));
        if (signal != SIGKILL) {
            EXPECT_EQ(process.exitCode(), exitCode) << process.readAllStandardError().constData();
            EXPECT_TRUE(process.readAllStandardOutput().contains("\"stopped\""));
            EXPECT_EQ(Outputs(), QStringList());
            continue;
        }
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
        EXPECT_FALSE(MovieInspector::Inspect(output).opened);
        EXPECT_GT(PartBytes(), 0);
        EXPECT_EQ(Outputs().size(), 2) << Outputs().join(' ').toStdString();
        // A small movie of the same name: the leftovers are removed before it
        // is named.
        const Result next = Run({"--preset", "Phone and Tablet", "--output", m_out,
                                 MakeMovie(QStringLiteral("Next/long.mp4"))});
        EXPECT_EQ(next.nExitCode, 0) << next.strError.toStdString();
        EXPECT_EQ(Outputs(), QStringList{"[Tolva]long.mp4"});
        ExpectWhole(QStringLiteral("[Tolva]long.mp4"), 2.0);
    }
}

// Two clipvane-batch started at the same moment on two movies both named
// clip.mp4 (1 and 2 s long, so that each output tells whose it is) into one
// folder, five rounds for each --overwrite choice: no two ever write one
// output, and what lies under an output's name is a whole movie. rename gives
// each movie its own name; skip gives one, the other skipped; replace gives
// one, the other skipped while the first is being written, or replacing it once
// it is finished.
TEST_F(BatchCommand, TwoProcessesNeverWriteOneOutput)
{
    MovieSpec shorter;
    shorter.seconds = 1;
    const QStringList movies{MakeMovie(QStringLiteral("One/clip.mp4"), shorter),
                             MakeMovie(QStringLiteral("Two/clip.mp4"))};
    const QString name = QStringLiteral("[Tolva]clip.mp4");
    for (const char* mode : {"rename", "skip", "replace"}) {
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE(::testing::Message() << mode << ", round " << round + 1);
            QDir(m_out).removeRecursively();
            QProcess processes[2];
            for (int i = 0; i < 2; ++i)
                Start(processes[i], {"--json", "--preset", "Phone and Tablet", "--overwrite", mode,
                                     "--output", m_out, movies[i]});
            // How each movie ended, and the output it reported.
            QString ended[2];
            QString reported[2];
            for (int i = 0; i < 2; ++i) {
                ASSERT_TRUE(processes[i].waitForFinished(120000));
                EXPECT_EQ(processes[i].exitCode(), 0)
                    << processes[i].readAllStandardError().constData();
                for (const QJsonObject& event :
                     Events(QString::fromUtf8(processes[i].readAllStandardOutput()))) {
                    if (event["event"] == "finished" || event["event"] == "skipped") {
                        ended[i] = event["event"].toString();
                        reported[i] = QFileInfo(event["output"].toString()).fileName();
                    }
                }
            }
            const QStringList outputs = Outputs();
            if (QLatin1String(mode) == QLatin1String("rename")) {
                EXPECT_EQ(outputs, (QStringList{"[Tolva]clip (2).mp4", name}));
                for (int i = 0; i < 2; ++i) {
                    EXPECT_EQ(ended[i], "finished");
                    ExpectWhole(reported[i], i + 1.0);
                }
                continue;
            }
            EXPECT_EQ(outputs, QStringList{name});
            const QStringList ends{ended[0], ended[1]};
            EXPECT_TRUE(ends.contains("finished")) << ends.join(' ').toStdString();
            if (QLatin1String(mode) == QLatin1String("skip")) {
                EXPECT_TRUE(ends.contains("skipped")) << ends.join(' ').toStdString();
            }
            // The movie under the name is one that finished.
            const double seconds = MovieInspector::Inspect(m_out + '/' + name).videoSeconds;
            const int whose = seconds < 1.5 ? 0 : 1;
            EXPECT_EQ(ended[whose], "finished") << seconds;
            ExpectWhole(name, whose + 1.0);
        }
    }
}

// A movie copied slowly into a watched folder is taken once it has stopped
// changing, and encoded whole, once; a second watch of the folder finds it
// done and encodes nothing; a movie that appears in a new subfolder is found
// too, its folder kept.
TEST_F(BatchCommand, AWatchedFolderEncodesEachMovieOnceWhenItIsComplete)
{
    MovieSpec spec;
    spec.seconds = 3;
    const QByteArray movie = MediaFactory::ReadFile(MakeMovie(QStringLiteral("source.mp4"), spec));
    const QString watched = m_home.FilePath(QStringLiteral("Watched"));
    ASSERT_TRUE(QDir().mkpath(watched));
    const QStringList args{"--watch", watched,    "--output",         m_out,
                           "--json",  "--preset", "Phone and Tablet", "--settle-seconds",
                           "2"};
    QProcess watch;
    Start(watch, args);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // Written in four pieces, half a second apart: each pause is shorter than
    // the settle time, so no piece is taken for the movie.
    QFile slow(watched + QStringLiteral("/slow copy.mp4"));
    ASSERT_TRUE(slow.open(QIODevice::WriteOnly));
    for (int i = 0; i < 4; ++i) {
        slow.write(
            movie.mid(i * movie.size() / 4, (i + 1) * movie.size() / 4 - i * movie.size() / 4));
        slow.flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    slow.close();
    ASSERT_TRUE(QDir().mkpath(watched + QStringLiteral("/New")));
    ASSERT_TRUE(QFile::copy(m_home.FilePath("source.mp4"), watched + QStringLiteral("/New/b.mp4")));

    QString out;
    for (int i = 0; i < 600 && out.count(QStringLiteral("\"event\":\"finished\"")) < 2; ++i) {
        watch.waitForReadyRead(100);
        out += QString::fromUtf8(watch.readAllStandardOutput());
    }
    ::kill(pid_t(watch.processId()), SIGTERM);
    ASSERT_TRUE(watch.waitForFinished(30000));
    out += QString::fromUtf8(watch.readAllStandardOutput());
    EXPECT_EQ(out.count(QStringLiteral("\"event\":\"started\"")), 2) << out.toStdString();
    EXPECT_EQ(Outputs(), (QStringList{"New/[Tolva]b.mp4", "[Tolva]slow copy.mp4"}));
    ExpectWhole(QStringLiteral("[Tolva]slow copy.mp4"), 3.0);

    QProcess again;
    Start(again, args);
    EXPECT_FALSE(again.waitForFinished(5000));
    ::kill(pid_t(again.processId()), SIGTERM);
    ASSERT_TRUE(again.waitForFinished(30000));
    EXPECT_EQ(again.exitCode(), 143);
    EXPECT_FALSE(again.readAllStandardOutput().contains("\"started\""));
    EXPECT_EQ(Outputs().size(), 2);

    // A watch that would take its own outputs, or whose record is damaged,
    // does not start: the record is not guessed, and nothing is encoded again.
    QDirIterator records(m_home.StateDir(), {"*.json"}, QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(records.hasNext());
    ASSERT_TRUE(MediaFactory::WriteFile(records.next(), "{\"movies\": "));
    for (const QString& output : {m_out, watched + QStringLiteral("/Encoded")}) {
        QStringList refused = args;
        refused[3] = output;
        const Result result = Run(refused);
        EXPECT_EQ(result.nExitCode, 2) << result.strError.toStdString();
        EXPECT_TRUE(result.strError.contains(output == m_out ? "cannot be read" : "lies inside"))
            << result.strError.toStdString();
    }
    EXPECT_EQ(Outputs().size(), 2);
}

} // namespace

// One movie spread over separate commands, as cluster tasks run them: the plan,
// each segment and the sound in any order, then the join, give an output with
// the very pictures of a whole encode and the movie's file time, and the work
// folder goes. Before that the join refuses a missing or damaged piece, naming
// it and writing no output; making that piece again lets it through. A step
// without a plan, out of the plan's range or on a movie changed since is refused.
TEST_F(BatchCommand, SegmentStepsOnSeparateCommandsJoinIntoTheWholeEncodesMovie)
{
    MovieSpec spec;
    spec.width = 320;
    spec.height = 240;
    spec.seconds = 4;
    spec.numbered = true;
    spec.outputArgs = {"-c:v", "libx264", "-g", "12", "-c:a", "aac"};
    const QString movie = MakeMovie(QStringLiteral("In/it's 100% ü.mp4"), spec);
    const QString work = m_home.FilePath(QStringLiteral("Work"));
    const QStringList options{"--preset", "Phone and Tablet", "--output", m_out, "--work",
                              work,       "--segment-limits", "1,2"};
    const auto step = [&](const QString& which, const QString& of = QString()) {
        return Run(QStringList(options) << "--segments" << which << (of.isEmpty() ? movie : of));
    };

    const Result noPlan = step("1");
    EXPECT_EQ(noPlan.nExitCode, 2);
    EXPECT_TRUE(noPlan.strError.contains("no plan")) << noPlan.strError.toStdString();
    const Result plan = step("plan");
    ASSERT_EQ(plan.nExitCode, 0) << plan.strError.toStdString();
    const int count = plan.strOut.trimmed().toInt();
    ASSERT_GE(count, 3) << plan.strOut.toStdString();
    EXPECT_EQ(step(QString::number(count + 1)).nExitCode, 2);
    // Backwards, with the sound between: the order does not matter.
    for (int n = count; n >= 1; --n) {
        const Result made = step(n == 2 ? QStringLiteral("sound") : QString::number(n));
        ASSERT_EQ(made.nExitCode, 0) << made.strError.toStdString();
        if (n == 2) {
            ASSERT_EQ(step("2").nExitCode, 0);
        }
    }

    const struct
    {
        const char* piece;
        const char* named;
        std::function<void(const QString& path)> spoil;
        const char* remake;
    } refusals[] = {
        {"video-0002.mp4", "Segment 2 of ", [](const QString& p) { QFile::remove(p); }, "2"},
        {"video-0003.mp4", "is damaged",
         [](const QString& p) { MediaFactory::WriteFile(p, MediaFactory::ReadFile(p).left(900)); },
         "3"},
        {"sound.m4a", "The sound (sound.m4a) is missing.",
         [](const QString& p) { QFile::remove(p); }, "sound"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.piece);
        refusal.spoil(work + '/' + refusal.piece);
        const Result join = step("join");
        EXPECT_EQ(join.nExitCode, 1);
        EXPECT_TRUE(join.strError.contains(refusal.piece) && join.strError.contains(refusal.named))
            << join.strError.toStdString();
        EXPECT_EQ(Outputs(), QStringList());
        ASSERT_EQ(step(refusal.remake).nExitCode, 0);
    }
    const Result join = step("join");
    ASSERT_EQ(join.nExitCode, 0) << join.strError.toStdString();
    const QString joined = m_out + QStringLiteral("/[Tolva]it's 100% ü.mp4");
    EXPECT_EQ(Outputs(), QStringList{"[Tolva]it's 100% ü.mp4"});
    EXPECT_FALSE(QFileInfo::exists(work));
    EXPECT_EQ(QFileInfo(joined).lastModified(), QFileInfo(movie).lastModified());

    // The whole encode of the same movie by the batch: the same picture on
    // every frame.
    const QString wholeDir = m_home.FilePath(QStringLiteral("Whole"));
    ASSERT_EQ(Run({"--preset", "Phone and Tablet", "--output", wholeDir, movie}).nExitCode, 0);
    const auto numbers = [](const QString& path) {
        std::vector<int> found;
        for (const MovieInspector::Luma& luma : MovieInspector::DecodeAllLuma(path))
            found.push_back(MovieInspector::FrameNumber(luma));
        return found;
    };
    const std::vector<int> whole = numbers(wholeDir + QStringLiteral("/[Tolva]it's 100% ü.mp4"));
    EXPECT_EQ(whole.size(), 100u);
    EXPECT_EQ(numbers(joined), whole);
    EXPECT_TRUE(MovieInspector::Inspect(joined).HasAudio());

    // A movie that changed after its plan: its pieces would not fit together.
    ASSERT_EQ(step("plan").nExitCode, 0);
    QFile file(movie);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                 QFileDevice::FileModificationTime));
    file.close();
    const Result changed = step("1");
    EXPECT_EQ(changed.nExitCode, 1);
    EXPECT_TRUE(changed.strError.contains("has changed since")) << changed.strError.toStdString();
}
