// Segmented encodes with the real ffmpeg: movies of a few seconds cut into
// segments of about a second, each encoded alone, the sound whole, joined, and
// compared picture by picture with an encode of the whole movie; the work
// folder's resume decisions and the join's refusals; the plan on its own.
#include "engine/FfmpegCommand.h"
#include "engine/OutputCheck.h"
#include "engine/Presets.h"
#include "engine/SegmentCommand.h"
#include "engine/SegmentPlan.h"
#include "engine/SegmentWork.h"
#include "jobs/KeyFrames.h"
#include "jobs/MediaProbe.h"
#include "test_run_support.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MovieInspector.h"
#include "tests/support/TestEnvironment.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

using namespace MovieInspector;

// Segments of a second in movies of a few.
const SegmentLimits Tiny{1.0, 2.0};

// Runs ffmpeg with a command's arguments, without its progress records.
bool RunFfmpeg(QStringList args, QString* error)
{
    const qsizetype progress = args.indexOf(QStringLiteral("-progress"));
    if (progress >= 0)
        args.remove(progress, 2);
    return MediaFactory::Run(QStringLiteral("ffmpeg"), args, error);
}

FfmpegCommand::Request RequestFor(const QString& movie, const QString& output,
                                  const QString& preset = QStringLiteral("Phone and Tablet"))
{
    FfmpegCommand::Request request;
    request.profile = *Presets::Find(preset);
    request.strInput = movie;
    request.strOutput = output;
    request.source = ProbeMovieTiming(movie);
    return request;
}

SegmentPlan PlanFor(const FfmpegCommand::Request& request)
{
    return PlanMovieSegments(request, Tiny);
}

// What a run does with a segmented encode: the unfinished segments and the
// sound, each checked and kept, then the join. Empty, or what went wrong.
QString EncodeSegmented(const FfmpegCommand::Request& request, const SegmentPlan& plan,
                        CSegmentWork& work)
{
    QString error;
    for (const int i : work.Unfinished()) {
        if (!RunFfmpeg(SegmentCommand::SegmentArguments(request, plan, i, work.PartPath(i)),
                       &error))
            return error;
        if (const std::optional<QString> problem = work.Finish(i))
            return *problem;
    }
    if (request.source.nAudioStream >= 0 && !work.IsSoundFinished()) {
        if (!RunFfmpeg(SegmentCommand::SoundArguments(request, work.SoundPartPath()), &error))
            return error;
        if (const std::optional<QString> problem = work.FinishSound())
            return *problem;
    }
    SegmentCommand::JoinPieces pieces;
    if (const std::optional<QString> problem = work.CheckJoin(pieces))
        return *problem;
    return RunFfmpeg(SegmentCommand::JoinArguments(request, pieces), &error) ? QString() : error;
}

class SegmentsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!MediaFactory::HaveFfmpeg())
            GTEST_SKIP() << "ffmpeg is missing";
        ASSERT_TRUE(m_home.IsValid());
        // SVT-AV1's banner, as the run quiets it.
        m_env.Set("SVT_LOG", "1");
    }

    QString Movie(const QString& name, const MovieSpec& spec)
    {
        const QString path = m_home.FilePath(name);
        QString error;
        EXPECT_TRUE(MediaFactory::GenerateMovie(path, spec, &error)) << error.toStdString();
        return path;
    }

    QString Folder(const QString& name) const { return m_home.FilePath(name); }

    ScopedTempHome m_home;
    ScopedEnv m_env;
};

// Each picture's number, as the numbered source drew it.
std::vector<int> Numbers(const QString& path)
{
    std::vector<int> numbers;
    for (const Luma& luma : DecodeAllLuma(path))
        numbers.push_back(FrameNumber(luma));
    return numbers;
}

TEST_F(SegmentsTest, AJoinHoldsTheWholeEncodesPicturesTimesSoundAndFactsOnEveryInputKindCut)
{
    struct Case
    {
        const char* name;
        QStringList args;
        int fps = 25;
        double seconds = 3;
        QString preset = QStringLiteral("Phone and Tablet");
        // A subtitle carried as a track of its own, added at the join.
        bool track = false;
        bool sound = true;
    };
    const QStringList keyEvery12{"-g", "12"};
    const std::vector<Case> cases = {
        {"h264.mp4", InputKindArgs("h264.mp4") + keyEvery12, 25, 3, "Phone and Tablet", true},
        // WebM: Opus holds back samples at the start, and the whole encode moves
        // the picture on for them when the sound starts with it.
        {"h264.mp4", InputKindArgs("h264.mp4") + keyEvery12, 25, 3, "Smallest AV1"},
        {"web vp9.webm", InputKindArgs("web vp9.webm") + keyEvery12, 25, 3, "Smallest AV1"},
        {"phone h264.mov",
         InputKindArgs("phone h264.mov") + keyEvery12 +
             QStringList{"-metadata", "creation_time=2024-05-01T10:20:30Z", "-metadata",
                         "location=+48.8577+002.2950/", "-movflags", "use_metadata_tags"}},
        {"matroska h264.mkv", InputKindArgs("matroska h264.mkv") + keyEvery12},
        {"silent.mkv", {"-c:v", "libx264", "-g", "12"}, 25, 3, "Phone and Tablet", false, false},
        // Its clock starts at 1.4 s, the sound before the picture.
        {"stream h264.ts", InputKindArgs("stream h264.ts") + keyEvery12},
        // Its sound starts 0.3 s after the picture: read alone, it would start
        // its own clock.
        {"late sound.ts",
         {"-c:v", "libx264", "-g", "12", "-c:a", "aac", "-af", "asetpts=PTS+0.3/TB"}},
        {"mpeg4 without b-frames.avi", InputKindArgs("mpeg4 without b-frames.avi") + keyEvery12},
        // Recorded in fields: deinterlaced (yadif doubles the time base).
        {"interlaced.ts",
         {"-c:v", "mpeg2video", "-flags", "+ilme+ildct", "-top", "1", "-g", "12", "-c:a", "mp2"}},
        // A phone's variable rate, made constant at 29.97 by repeated pictures.
        {"variable rate.mov",
         {"-c:v", "libx264", "-g", "12", "-c:a", "aac", "-vf",
          "setpts='(N/28+0.009*sin(N*1.7))/TB'", "-fps_mode", "passthrough",
          "-video_track_timescale", "90000"},
         28},
        // 100 pictures a second, made 50 by keeping every other one.
        {"fast.mkv", {"-c:v", "libx264", "-g", "37", "-c:a", "aac"}, 100, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 with %2").arg(c.name, c.preset).toStdString());
        MovieSpec spec;
        spec.numbered = true;
        spec.fps = c.fps;
        spec.seconds = c.seconds;
        spec.outputArgs = c.args;
        spec.audio = c.sound;
        const QString movie = Movie(c.name, spec);
        const QString extension = Presets::Find(c.preset)->Extension();
        const QString whole =
            Folder(QStringLiteral("whole %1 %2%3").arg(c.name, c.preset, extension));
        const QString joined =
            Folder(QStringLiteral("joined %1 %2%3").arg(c.name, c.preset, extension));

        FfmpegCommand::Request request = RequestFor(movie, joined, c.preset);
        EXPECT_EQ(request.source.bInterlaced, QLatin1String(c.name) == "interlaced.ts");
        if (c.track) {
            const QString srt = Folder(QStringLiteral("track.srt"));
            ASSERT_TRUE(MediaFactory::WriteFile(srt, "1\n00:00:00,500 --> 00:00:02,000\nTRACK\n"));
            request.subtitle =
                FfmpegCommand::Subtitle{srt, false, QString(), QStringLiteral("fra")};
        }
        const SegmentPlan plan = PlanFor(request);
        ASSERT_TRUE(plan.IsSegmented()) << DescribePlan(plan).toStdString();
        ASSERT_GE(plan.Count(), 2);
        CSegmentWork work(Folder(QStringLiteral("work %1 %2").arg(c.name, c.preset)), request,
                          plan);
        ASSERT_TRUE(work.Open());
        const QString failed = EncodeSegmented(request, plan, work);
        ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();
        FfmpegCommand::Request wholeRequest = request;
        wholeRequest.strOutput = whole;
        QString error;
        ASSERT_TRUE(RunFfmpeg(FfmpegCommand::Arguments(wholeRequest), &error))
            << error.toStdString();

        // Picture for picture: the same source picture on every frame, across
        // every cut.
        const std::vector<int> wholeNumbers = Numbers(whole);
        const std::vector<int> joinedNumbers = Numbers(joined);
        ASSERT_EQ(joinedNumbers.size(), wholeNumbers.size());
        for (int i = 1; i < plan.Count(); ++i) {
            const std::int64_t cut =
                plan.arrSegments[i].nFirstFrame - plan.arrSegments.front().nFirstFrame;
            ASSERT_LT(cut, std::int64_t(joinedNumbers.size()));
            EXPECT_EQ(joinedNumbers[cut - 1], wholeNumbers[cut - 1]) << "before cut " << i;
            EXPECT_EQ(joinedNumbers[cut], wholeNumbers[cut]) << "at cut " << i;
        }
        EXPECT_EQ(joinedNumbers, wholeNumbers);
        // The same timestamps, and sound.
        const Packets wholeVideo = PacketTimes(whole, AVMEDIA_TYPE_VIDEO);
        const Packets joinedVideo = PacketTimes(joined, AVMEDIA_TYPE_VIDEO);
        EXPECT_EQ(av_cmp_q(joinedVideo.timeBase, wholeVideo.timeBase), 0);
        EXPECT_EQ(joinedVideo.times, wholeVideo.times);
        const Packets joinedSound = PacketTimes(joined, AVMEDIA_TYPE_AUDIO);
        const Packets wholeSound = PacketTimes(whole, AVMEDIA_TYPE_AUDIO);
        EXPECT_EQ(joinedSound.times, wholeSound.times);
        // Sound and picture end as in the whole encode, within a frame.
        EXPECT_LE(std::abs((joinedSound.EndSeconds() - joinedVideo.EndSeconds()) -
                           (wholeSound.EndSeconds() - wholeVideo.EndSeconds())),
                  double(plan.nRateDen) / plan.nRateNum + 1e-6);
        // The recording's facts, the subtitle track, and the whole-movie check.
        const Facts joinedFacts = Inspect(joined);
        const Facts wholeFacts = Inspect(whole);
        EXPECT_EQ(joinedFacts.tags, wholeFacts.tags);
        EXPECT_EQ(joinedFacts.subtitleStreams, c.track ? 1 : 0);
        EXPECT_EQ(joinedFacts.HasAudio(), c.sound);
        EXPECT_EQ(joinedFacts.subtitleLanguage, wholeFacts.subtitleLanguage);
        EXPECT_EQ(COutputCheck::Problem(ProbeMovieContent(joined), request.source.dSeconds, false),
                  std::nullopt);
    }
}

TEST_F(SegmentsTest, ABurntCueCrossingACutShowsOnBothSidesAtItsTimes)
{
    MovieSpec spec;
    spec.seconds = 3;
    spec.outputArgs = InputKindArgs("h264.mp4") + QStringList{"-g", "12"};
    const QString movie = Movie(QStringLiteral("cue.mp4"), spec);
    const QString srt = Folder(QStringLiteral("cue.srt"));
    ASSERT_TRUE(MediaFactory::WriteFile(srt, "1\n00:00:00,700 --> 00:00:01,500\nACROSS THE CUT\n"));

    const auto encode = [&](const QString& name, bool burn) {
        FfmpegCommand::Request request = RequestFor(movie, Folder(name));
        if (burn)
            request.subtitle =
                FfmpegCommand::Subtitle{srt, true, QStringLiteral("Liberation Sans"), QString()};
        const SegmentPlan plan = PlanFor(request);
        CSegmentWork work(Folder(name + QStringLiteral(" work")), request, plan);
        EXPECT_TRUE(work.Open());
        const QString failed = EncodeSegmented(request, plan, work);
        EXPECT_TRUE(failed.isEmpty()) << failed.toStdString();
        return plan;
    };
    const SegmentPlan plan = encode(QStringLiteral("with cue.mp4"), true);
    encode(QStringLiteral("without cue.mp4"), false);
    // A cut inside the cue's time: 0.7 s to 1.5 s is frames 18 to 37 at 25 fps.
    ASSERT_TRUE(std::any_of(
        plan.arrSegments.begin() + 1, plan.arrSegments.end(),
        [](const SegmentPlan::Segment& s) { return s.nFirstFrame > 18 && s.nFirstFrame <= 37; }))
        << DescribePlan(plan).toStdString();

    const std::vector<Luma> with = DecodeAllLuma(Folder(QStringLiteral("with cue.mp4")));
    const std::vector<Luma> without = DecodeAllLuma(Folder(QStringLiteral("without cue.mp4")));
    ASSERT_EQ(with.size(), without.size());
    std::vector<int> shown;
    for (std::size_t i = 0; i < with.size(); ++i) {
        if (DifferingPixels(with[i], without[i], 0, with[i].height) > 20)
            shown.push_back(int(i));
    }
    std::vector<int> expected;
    for (int i = 18; i <= 37; ++i)
        expected.push_back(i);
    EXPECT_EQ(shown, expected);
}

TEST_F(SegmentsTest, TheKeyFrameProbeTellsWhichInputKindsCanBeCutExactly)
{
    struct Case
    {
        const char* name;
        QStringList args;
        bool fromIndex;
        bool steady;
    };
    const QStringList keyEvery12{"-g", "12"};
    const std::vector<Case> cases = {
        {"h264.mp4", InputKindArgs("h264.mp4") + keyEvery12, true, true},
        {"stream h264.ts", InputKindArgs("stream h264.ts") + keyEvery12, false, true},
        {"matroska h264.mkv", InputKindArgs("matroska h264.mkv") + keyEvery12, false, true},
        // Pictures without presentation times: ffmpeg guesses them while it
        // reads the whole movie, and a piece read from the middle cannot.
        {"mpeg4 with b-frames.avi", InputKindArgs("mpeg4 with b-frames.avi") + keyEvery12, false,
         false},
        {"program stream.mpg", InputKindArgs("program stream.mpg") + keyEvery12, false, false},
        // A transport stream whose clock starts at 0 with the sound, the picture
        // later: ffmpeg moves the clock of a piece's run to its picture.
        {"clock at zero.ts",
         {"-c:v", "libx264", "-g", "12", "-vf", "setpts=PTS+0.2/TB", "-c:a", "aac", "-muxdelay",
          "0", "-muxpreload", "0"},
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MovieSpec spec;
        spec.seconds = 3;
        spec.numbered = true;
        spec.outputArgs = c.args;
        const QString movie = Movie(QLatin1String(c.name), spec);
        const MovieTiming timing = ProbeMovieTiming(movie);
        const KeyFrames keys = ProbeKeyFrames(movie, timing.nVideoStream, timing.nAudioStream);
        ASSERT_TRUE(keys.bRead);
        EXPECT_EQ(keys.bFromIndex, c.fromIndex);
        EXPECT_EQ(keys.bSteady, c.steady);
        if (c.steady) {
            EXPECT_EQ(keys.nFrames, 75);
            // A key frame at least every 12 pictures, in order.
            EXPECT_GE(keys.arrKeyPts.size(), 7u);
            EXPECT_TRUE(std::is_sorted(keys.arrKeyPts.begin(), keys.arrKeyPts.end()));
        }
        EXPECT_EQ(PlanFor(RequestFor(movie, QString())).whole,
                  c.steady ? SegmentPlan::Whole::No : SegmentPlan::Whole::UnsteadyTimes);
    }
}

// One movie's finished pieces, made once and copied for each case.
class SegmentWorkTest : public SegmentsTest
{
protected:
    static void SetUpTestSuite()
    {
        if (!MediaFactory::HaveFfmpeg())
            return;
        s_made = new QTemporaryDir;
        MovieSpec spec;
        spec.seconds = 3;
        spec.outputArgs = InputKindArgs("h264.mp4") + QStringList{"-g", "25"};
        const QString movie = s_made->filePath(QStringLiteral("movie.mp4"));
        ASSERT_TRUE(MediaFactory::GenerateMovie(movie, spec));
        s_time = QFileInfo(movie).lastModified();
        const FfmpegCommand::Request request =
            RequestFor(movie, s_made->filePath(QStringLiteral("out.mp4")));
        const SegmentPlan plan = PlanFor(request);
        ASSERT_EQ(plan.Count(), 3) << DescribePlan(plan).toStdString();
        CSegmentWork work(s_made->filePath(QStringLiteral("work")), request, plan);
        ASSERT_TRUE(work.Open());
        ASSERT_EQ(EncodeSegmented(request, plan, work), QString());
    }
    static void TearDownTestSuite()
    {
        delete s_made;
        s_made = nullptr;
    }

    void SetUp() override
    {
        SegmentsTest::SetUp();
        ASSERT_TRUE(s_made && QFileInfo::exists(s_made->filePath(QStringLiteral("out.mp4"))));
    }

    // A fresh copy of the finished pieces for a case, the movie as it was
    // when they were made.
    void Prepare()
    {
        m_movie = s_made->filePath(QStringLiteral("movie.mp4"));
        QFile movie(m_movie);
        ASSERT_TRUE(movie.open(QIODevice::ReadWrite));
        ASSERT_TRUE(movie.setFileTime(s_time, QFileDevice::FileModificationTime));
        movie.close();
        m_work = Folder(QStringLiteral("work"));
        QDir(m_work).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(m_work));
        const QDir made(s_made->filePath(QStringLiteral("work")));
        for (const QString& name : made.entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(made.filePath(name), m_work + QLatin1Char('/') + name));
        // Not the work's: never removed.
        ASSERT_TRUE(MediaFactory::WriteFile(m_work + QStringLiteral("/notes.txt"), "mine"));
        m_request = RequestFor(m_movie, Folder(QStringLiteral("out.mp4")));
        QFile::remove(m_request.strOutput);
        m_plan = PlanFor(m_request);
        ASSERT_EQ(m_plan.Count(), 3);
    }

    QString Piece(const QString& name) const { return m_work + QLatin1Char('/') + name; }

    static QTemporaryDir* s_made;
    static QDateTime s_time;
    QString m_movie;
    QString m_work;
    FfmpegCommand::Request m_request;
    SegmentPlan m_plan;
};

QTemporaryDir* SegmentWorkTest::s_made = nullptr;
QDateTime SegmentWorkTest::s_time;

TEST_F(SegmentWorkTest, TheJoinRefusesAMissingOrDamagedPieceAndNamesIt)
{
    struct Case
    {
        const char* what;
        std::function<void(const QString& work)> harm;
        QString message;
    };
    const auto damage = [](const QString& path, qint64 at) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(at));
        const QByteArray byte = file.read(1);
        ASSERT_TRUE(file.seek(at));
        file.write(QByteArray(1, char(byte.at(0) ^ 0x55)));
    };
    const std::vector<Case> cases = {
        {"a segment removed", [](const QString& work) { QFile::remove(work + "/video-0002.mp4"); },
         "Segment 2 of 3 (video-0002.mp4) is missing."},
        {"a segment without its record",
         [](const QString& work) { QFile::remove(work + "/video-0003.json"); },
         "Segment 3 of 3 (video-0003.mp4) is missing."},
        {"a byte changed in the middle of a segment",
         [&](const QString& work) {
             damage(work + "/video-0002.mp4", QFileInfo(work + "/video-0002.mp4").size() / 2);
         },
         "Segment 2 of 3 (video-0002.mp4) is damaged."},
        {"a segment cut short",
         [](const QString& work) { QFile::resize(work + "/video-0001.mp4", 1000); },
         "Segment 1 of 3 (video-0001.mp4) is damaged."},
        {"the sound removed", [](const QString& work) { QFile::remove(work + "/sound.m4a"); },
         "The sound (sound.m4a) is missing."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Prepare();
        CSegmentWork work(m_work, m_request, m_plan);
        ASSERT_TRUE(work.Open());
        c.harm(m_work);
        SegmentCommand::JoinPieces pieces;
        EXPECT_EQ(work.CheckJoin(pieces), std::optional<QString>(c.message));
        // A damaged piece is made again by the next run.
        CSegmentWork again(m_work, m_request, m_plan);
        ASSERT_TRUE(again.Open());
        EXPECT_LT(again.ReusedCount() + (again.IsSoundFinished() ? 1 : 0), 4);
    }
}

TEST_F(SegmentWorkTest, ResumeReusesOnlyWholeSegmentsOfTheSameMovieAndProfile)
{
    struct Case
    {
        const char* what;
        std::function<void()> change;
        std::vector<bool> reused;
        bool sound;
    };
    const std::vector<Case> cases = {
        {"nothing changed", [] {}, {true, true, true}, true},
        {"the movie changed",
         [this] {
             QFile movie(m_movie);
             ASSERT_TRUE(movie.open(QIODevice::ReadWrite));
             ASSERT_TRUE(movie.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                           QFileDevice::FileModificationTime));
         },
         {false, false, false},
         false},
        {"the profile changed",
         [this] { m_request.profile.dQuality = 23; },
         {false, false, false},
         false},
        // Killed while segment 2 was written: its part holds a whole file, still
        // never taken.
        {"a half-written segment",
         [this] {
             ASSERT_TRUE(QFile::rename(Piece("video-0002.mp4"), Piece("video-0002.part")));
             QFile::remove(Piece("video-0002.json"));
         },
         {true, false, true},
         true},
        {"a segment whose size is not its record's",
         [this] { QFile::resize(Piece("video-0003.mp4"), 4096); },
         {true, true, false},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Prepare();
        c.change();
        CSegmentWork work(m_work, m_request, m_plan);
        ASSERT_TRUE(work.Open());
        std::vector<bool> reused;
        for (int i = 0; i < m_plan.Count(); ++i)
            reused.push_back(work.IsFinished(i));
        EXPECT_EQ(reused, c.reused);
        EXPECT_EQ(work.IsSoundFinished(), c.sound);
        double kept = 0;
        double all = 0;
        for (int i = 0; i < m_plan.Count(); ++i) {
            all += m_plan.arrSegments[i].dSeconds;
            kept += c.reused[i] ? m_plan.arrSegments[i].dSeconds : 0;
        }
        EXPECT_EQ(work.ResumePercent(), int(std::floor(kept * 100 / all + 1e-9)));
        if (std::count(c.reused.begin(), c.reused.end(), true) == 0) {
            EXPECT_EQ(QDir(m_work).entryList(QDir::Files),
                      (QStringList{"manifest.json", "notes.txt"}));
        }
        // What is left is made again, and joined whole.
        EXPECT_EQ(EncodeSegmented(m_request, m_plan, work), QString());
        EXPECT_EQ(COutputCheck::Problem(ProbeMovieContent(m_request.strOutput), 3.0, false),
                  std::nullopt);
        EXPECT_TRUE(work.Remove());
        EXPECT_EQ(QDir(m_work).entryList(QDir::Files), QStringList{"notes.txt"});
    }
}

// The plan on its own: key frames as a probe would give them.
KeyFrames EveryKeyFrame(double every, double seconds, int den = 12800)
{
    KeyFrames keys;
    keys.bRead = keys.bSteady = keys.bFromIndex = true;
    keys.nTimeBaseNum = 1;
    keys.nTimeBaseDen = den;
    for (double t = 0; t < seconds; t += every)
        keys.arrKeyPts.push_back(std::llround(t * den));
    keys.nFrames = std::llround(seconds * 25);
    return keys;
}

FfmpegCommand::Request LongMovie(double seconds, const QString& preset = "Small H.265")
{
    FfmpegCommand::Request request;
    request.profile = *Presets::Find(preset);
    request.strInput = QStringLiteral("/movies/long.mp4");
    request.source.dSeconds = seconds;
    request.source.dFrameRate = 25;
    request.source.nFrameRateNum = 25;
    request.source.nFrameRateDen = 1;
    request.source.nWidth = 1920;
    request.source.nHeight = 1080;
    request.source.nVideoStream = 0;
    request.source.nAudioStream = 1;
    return request;
}

TEST(SegmentPlanTest, CutsAtTheKeyFrameNearestEachMinuteAndLeavesNoShortTail)
{
    struct Case
    {
        const char* what;
        double keyEvery;
        double seconds;
        std::vector<double> starts;
    };
    const std::vector<Case> cases = {
        {"a key frame every 2 s", 2, 300, {0, 60, 120, 180, 240}},
        {"every 7 s: the nearest", 7, 300, {0, 63, 126, 189, 252}},
        // 240 would leave 10 s: the last segment takes them.
        {"a tail under half a minute", 1, 250, {0, 60, 120, 180}},
        {"every 50 s", 50, 400, {0, 50, 100, 150, 200, 250, 300, 350}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SegmentPlan plan =
            PlanSegments(LongMovie(c.seconds), EveryKeyFrame(c.keyEvery, c.seconds));
        std::vector<double> starts;
        for (const SegmentPlan::Segment& segment : plan.arrSegments)
            starts.push_back(segment.dStartSeconds);
        EXPECT_EQ(starts, c.starts);
        ASSERT_FALSE(plan.arrSegments.empty());
        EXPECT_EQ(plan.arrSegments.back().dStartSeconds + plan.arrSegments.back().dSeconds,
                  c.seconds);
        for (std::size_t i = 0; i + 1 < plan.arrSegments.size(); ++i)
            EXPECT_EQ(plan.arrSegments[i].nEndFrame, plan.arrSegments[i + 1].nFirstFrame);
    }
}

TEST(SegmentPlanTest, TellsWhichMoviesStayWhole)
{
    using Whole = SegmentPlan::Whole;
    struct Case
    {
        const char* what;
        FfmpegCommand::Request request;
        KeyFrames keys;
        Whole whole;
    };
    const auto changed = [](FfmpegCommand::Request request, auto change) {
        change(request);
        return request;
    };
    KeyFrames unsteady = EveryKeyFrame(2, 600);
    unsteady.bSteady = false;
    const std::vector<Case> cases = {
        {"Small H.265, 10 minutes", LongMovie(600), EveryKeyFrame(2, 600), Whole::No},
        {"Smallest AV1", LongMovie(600, "Smallest AV1"), EveryKeyFrame(2, 600), Whole::No},
        {"the mencoder preset", LongMovie(600, QString::fromLatin1(Presets::PocketPcNormalName)),
         EveryKeyFrame(2, 600), Whole::Encoder},
        {"Share (25 MB): two passes", LongMovie(600, "Share (25 MB)"), EveryKeyFrame(2, 600),
         Whole::TwoPasses},
        {"a sample run", changed(LongMovie(600), [](auto& r) { r.bSampling = true; }),
         EveryKeyFrame(2, 600), Whole::Sample},
        {"under four minutes", LongMovie(239), EveryKeyFrame(2, 239), Whole::Short},
        {"an unknown frame rate",
         changed(LongMovie(600), [](auto& r) { r.source.nFrameRateNum = 0; }),
         EveryKeyFrame(2, 600), Whole::UnknownRate},
        {"pictures without presentation times", LongMovie(600), unsteady, Whole::UnsteadyTimes},
        {"one key frame", LongMovie(600), EveryKeyFrame(600, 600), Whole::FewKeyFrames},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SegmentPlan plan = PlanSegments(c.request, c.keys);
        EXPECT_EQ(plan.whole, c.whole) << DescribePlan(plan).toStdString();
        EXPECT_EQ(plan.IsSegmented(), c.whole == Whole::No);
    }
}

// What ffmpeg did with a transport stream whose clock starts at 1.456778 s (its
// sound's start) and whose picture starts 23.2 ms later (tests/engine above:
// the same frames as the whole encode).
TEST(SegmentPlanTest, CountsFramesAndSeeksAsFfmpegDoesOnAClockThatStartsLate)
{
    FfmpegCommand::Request request = LongMovie(600, "Phone and Tablet");
    KeyFrames keys;
    keys.bRead = keys.bSteady = true;
    keys.nTimeBaseNum = 1;
    keys.nTimeBaseDen = 90000;
    keys.nStartUs = keys.nWholeStartUs = 1456778;
    keys.arrKeyPts = {133200, 248400, 363600, 478800};
    const SegmentPlan plan = PlanSegments(request, keys, SegmentLimits{1.0, 2.0});
    ASSERT_EQ(plan.Count(), 4);
    EXPECT_EQ(plan.nVideoShift, 131110);
    const std::vector<std::int64_t> firsts = {
        plan.arrSegments[0].nFirstFrame, plan.arrSegments[1].nFirstFrame,
        plan.arrSegments[2].nFirstFrame, plan.arrSegments[3].nFirstFrame};
    EXPECT_EQ(firsts, (std::vector<std::int64_t>{1, 33, 65, 97}));
    EXPECT_EQ(plan.SeekText(0), QString());
    EXPECT_EQ(plan.SeekText(1), QStringLiteral("1.303222"));
    EXPECT_EQ(plan.SeekText(2), QStringLiteral("2.583222"));
}

} // namespace
