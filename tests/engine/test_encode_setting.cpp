#include "engine/CommandLine.h"
#include "engine/EncodeSetting.h"
#include "subtitles/EncoderSubtitle.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// The fixed head and tail of the argument strings for the Vga job below, and
// the preset's audio options.
const QString Head = QStringLiteral(" -noodml \"/movies/clip.avi\" -o \"/out/PPC_clip.avi\"");
const QString Tail = QStringLiteral(" -af volnorm -slang ko-KR,kr-KR");
const QString Mp3 = QStringLiteral(" -oac mp3lame -lameopts vbr=3  -lameopts br=64 -lameopts vol=0"
                                   " -lameopts mode=1 -lameopts aq=7 -lameopts padding=3");

StreamFile Job(const QString& path, int width, int height)
{
    StreamFile job;
    job.strFilePath = path;
    job.strFileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    job.nWidth = width;
    job.nHeight = height;
    return job;
}

const StreamFile Vga = Job(QStringLiteral("/movies/clip.avi"), 640, 480);

// The three filters of an argument string, empty when it has none.
QString FilterChain(const QString& args)
{
    const qsizetype from = args.indexOf(QStringLiteral(" -vf-add crop="));
    const qsizetype to = args.indexOf(QStringLiteral(" -srate"));
    return from < 0 || to < 0 ? QString() : args.mid(from, to - from);
}

QString Filters(const QString& crop, const QString& scale, int width, int height)
{
    return QStringLiteral(" -vf-add crop=%1:-1:-1  -vf-add scale=%2 -vf-add expand=%3:%4:-1:-1:1")
        .arg(crop, scale)
        .arg(width)
        .arg(height);
}

// What the Vga job's picture gets between its output and its sound: the
// preset's frame rate, its 1.77 crop of the 4:3 picture in the 320x240 frame,
// the sample rate and the MPEG-4 encoder.
const QString Picture =
    QStringLiteral(" -ofps 15.000") +
    Filters(QStringLiteral("640:361"), QStringLiteral("320:180"), 320, 240) +
    QStringLiteral(
        " -srate 44100 -ovc lavc -lavcopts vcodec=mpeg4   -lavcopts vbitrate=150  -ffourcc DIVX");

QString SubOption(const QString& path)
{
    return QStringLiteral(" -sub \"") + path + QLatin1Char('"');
}

class CommandLineBuilder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // The preset takes the font from the system language; tests fix it so
        // that the expected strings do not depend on the machine.
        m_setting.m_strPathFont = QStringLiteral("Gulim:lang=ko");
        m_smi = m_dir.filePath(QStringLiteral("clip.smi"));
        ASSERT_TRUE(MediaFactory::WriteFile(
            m_smi, QByteArray("<SAMI><BODY><SYNC Start=0><P>\xbe\xc8\xb3\xe7</BODY></SAMI>")));
        m_sub = m_dir.filePath(QStringLiteral("clip.sub"));
        ASSERT_TRUE(MediaFactory::WriteFile(m_sub, "{1}{50}hello\n"));
    }

    // The argument string with the subtitle as the run prepares it. The UTF-8
    // copy, each time a file of its own, is named "<copy>" in the result and
    // kept in m_prepared until the next call.
    QString Build(const QString& subtitle, bool sampling = false, const StreamFile& job = Vga)
    {
        m_prepared = m_setting.PrepareSubtitle(subtitle, job.strFilePath, m_nCodePage);
        QString args = m_setting.BuildCommandLine(m_prepared, QStringLiteral("/out/PPC_clip.avi"),
                                                  sampling, job);
        return m_prepared.pCopy ? args.replace(m_prepared.strPath, QStringLiteral("<copy>")) : args;
    }

    QTemporaryDir m_dir;
    EncodeSetting m_setting;
    int m_nCodePage = SubtitleCodePage;
    EncoderSubtitle m_prepared;
    QString m_smi;
    QString m_sub;
};

// The values ApplyPreset gives every field it owns.
void ExpectPreset(const EncodeSetting& s)
{
    EXPECT_EQ(s.m_strPathFont, EncodeSetting::FontPatternFor(QLocale::system().language()));
    EXPECT_TRUE(s.m_bBurnSubtitle);
    EXPECT_EQ(s.m_dVidFps, 15.0);
    EXPECT_EQ(s.m_nVidW, 320);
    EXPECT_EQ(s.m_nVidH, 240);
    EXPECT_EQ(s.m_nVidBitrate, 150);
    EXPECT_EQ(s.m_strAspect, QStringLiteral("1.77"));
    EXPECT_EQ(s.m_nEncoder, 0);
    EXPECT_EQ(s.m_nAudBitrate, 64);
    EXPECT_EQ(s.m_nAudSrate, 44100);
}

} // namespace

TEST(EncodeSettingPreset, HoldsThePocketPcNormalValues)
{
    ExpectPreset(EncodeSetting());
}

TEST(EncodeSettingPreset, ReapplyingRestoresTheUserDefinedFields)
{
    EncodeSetting s;
    s.m_nVidW = 640;
    s.m_nVidH = 480;
    s.m_dVidFps = 30;
    s.m_nVidBitrate = 500;
    s.m_strAspect = QStringLiteral("1.33");
    s.m_nEncoder = 3;
    s.m_bBurnSubtitle = false;
    s.m_strPathFont.clear();
    s.ApplyPreset();
    ExpectPreset(s);
}

TEST(EncodeSettingPreset, FontPatternFollowsTheLanguage)
{
    EXPECT_EQ(EncodeSetting::FontPatternFor(QLocale::Korean), QStringLiteral("Gulim:lang=ko"));
    EXPECT_EQ(EncodeSetting::FontPatternFor(QLocale::Japanese),
              QStringLiteral("MS Mincho:lang=ja"));
    EXPECT_EQ(EncodeSetting::FontPatternFor(QLocale::English), QStringLiteral("Arial"));
    EXPECT_EQ(EncodeSetting::FontPatternFor(QLocale::Chinese), QStringLiteral("SimSun:lang=zh-cn"));
    EXPECT_EQ(EncodeSetting::FontPatternFor(QLocale(QLocale::Chinese, QLocale::Taiwan)),
              QStringLiteral("MingLiU:lang=zh-tw"));
}

TEST_F(CommandLineBuilder, WorkedExampleWithSmiSubtitle)
{
    const QString args = Build(m_smi);
    EXPECT_EQ(args, QStringLiteral(
                        " -noodml \"/movies/clip.avi\" -o \"/out/PPC_clip.avi\" -ofps 15.000"
                        " -vf-add crop=640:361:-1:-1  -vf-add scale=320:180"
                        " -vf-add expand=320:240:-1:-1:1 -srate 44100"
                        " -ovc lavc -lavcopts vcodec=mpeg4   -lavcopts vbitrate=150  -ffourcc DIVX"
                        " -oac mp3lame -lameopts vbr=3  -lameopts br=64 -lameopts vol=0"
                        " -lameopts mode=1 -lameopts aq=7 -lameopts padding=3"
                        " -font \"Gulim:lang=ko\" -sub \"<copy>\" -utf8 -subpos 85"
                        " -subfont-text-scale 5 -subfont-blur 2"
                        " -subfont-outline 2 -af volnorm -slang ko-KR,kr-KR"));
    // The UTF-8 copy was written for the encoder into the per-process folder,
    // its cue at 0 ms moved to where the encoder draws it.
    EXPECT_TRUE(m_prepared.strPath.startsWith(SubtitleWorkDir() + QLatin1Char('/')));
    EXPECT_TRUE(m_prepared.strPath.endsWith(QStringLiteral(".smi")));
    m_nCodePage = 949;
    Build(m_smi);
    EXPECT_EQ(MediaFactory::ReadFile(m_prepared.strPath),
              QByteArray("<SAMI><BODY><SYNC Start=300><P>\xec\x95\x88\xeb\x85\x95</BODY></SAMI>"));
}

// The template of each number TemplateIndexFor gives, and none for another.
TEST_F(CommandLineBuilder, EveryVideoEncoderTemplate)
{
    const std::pair<int, const char*> cases[] = {
        {0, " -ovc lavc -lavcopts vcodec=mpeg4   -lavcopts vbitrate=150  -ffourcc DIVX"},
        {2, " -ovc lavc -lavcopts vcodec=msmpeg4 -lavcopts vbitrate=150"},
        {3, " -ovc lavc -lavcopts vcodec=wmv1    -lavcopts vbitrate=150"},
        {4, " -ovc lavc -lavcopts vcodec=wmv2    -lavcopts vbitrate=150"},
        {1, ""},
        {-1, ""},
    };
    const QString mpeg4 = Picture.mid(Picture.indexOf(QStringLiteral(" -ovc")));
    for (const auto& [encoder, video] : cases) {
        m_setting.m_nEncoder = encoder;
        EXPECT_EQ(Build(QString()),
                  Head + QString(Picture).replace(mpeg4, QLatin1String(video)) + Mp3 + Tail)
            << "encoder " << encoder;
    }
}

TEST_F(CommandLineBuilder, EncoderOutOfRangeLeavesTheRestUnchanged)
{
    m_setting.m_nEncoder = 8;
    // A 16:9 movie: cropped to its height, 480 x 1.77 = 849.6.
    EXPECT_EQ(Build(m_sub, true, Job(QStringLiteral("/movies/clip.avi"), 854, 480)),
              Head +
                  QStringLiteral(" -ofps 15.000 -vf-add crop=849:480:-1:-1  -vf-add scale=320:180"
                                 " -vf-add expand=320:240:-1:-1:1 -srate 44100") +
                  Mp3 + QStringLiteral(" -endpos 60 -font \"Gulim:lang=ko\"") +
                  SubOption(QStringLiteral("<copy>")) +
                  QStringLiteral(" -utf8 -subpos 85 -subfont-text-scale 5 -subfont-blur 2"
                                 " -subfont-outline 2") +
                  Tail);
}

// Only the filter chain changes with the geometry; the rest is checked above.
TEST_F(CommandLineBuilder, FilterChainFollowsTheGeometry)
{
    const struct
    {
        const char* aspect;
        int width;
        int height;
        const char* crop;
        const char* scale;
    } cases[] = {
        // Truncated towards zero: 480 x 1.33 = 638.4, 320 / 1.33 = 240.6.
        {"1.33", 640, 480, "638:480", "320:240"},
        // Wider than 1.77: cropped to 800 x 1.77 = 1416.
        {"1.77", 1920, 800, "1416:800", "320:180"},
        // An unknown picture size is not cropped.
        {"1.77", 0, 0, "0:0", "320:240"},
        {"1.77", 640, 0, "0:0", "320:240"},
        // Aspect text is read up to the first character that ends a number; text
        // that gives no positive number crops to a 999:1 band: 640 / 999 and
        // 320 / 999 lines, but never 0 ("all" to the encoder).
        {"1.77:1", 640, 480, "640:361", "320:180"},
        {"", 640, 480, "640:1", "320:2"},
        {"abc", 640, 480, "640:1", "320:2"},
        {"0", 640, 480, "640:1", "320:2"},
        {"-1.77", 640, 480, "640:1", "320:2"},
        {"1e400", 640, 480, "640:1", "320:2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "aspect \"" << c.aspect << "\" " << c.width << "x" << c.height);
        m_setting.m_strAspect = QString::fromLatin1(c.aspect);
        EXPECT_EQ(FilterChain(
                      Build(QString(), false, Job(QStringLiteral("/m/x.avi"), c.width, c.height))),
                  Filters(QLatin1String(c.crop), QLatin1String(c.scale), 320, 240));
    }
}

// Every kind of source against every kind of frame, as "crop scale". The
// crop is the largest centred rectangle of the 1.77 shape inside the source;
// the scaled picture keeps its shape and fits the frame in even sizes, so the
// movie has exactly the frame's size. The wide sources give
// the preset the values it always had.
TEST_F(CommandLineBuilder, EverySourceKeepsItsShapeInTheFrameAsked)
{
    const struct
    {
        const char* name;
        int width;
        int height;
    } settings[] = {
        {"preset", 320, 240},
        {"User Define 640x360", 640, 360},
        // Wider than 1.77: fitted to the height, 272 x 640 / 361 = 482.2.
        {"User Define 640x272", 640, 272},
    };
    // Per source, "crop scale" for each setting in the order above.
    const struct
    {
        int width;
        int height;
        const char* filters;
    } sources[] = {
        // 4:3: as wide as the source, 640 / 1.77 = 361.6 high.
        {640, 480, "640:361 320:180 / 640:361 640:360 / 640:361 482:272"},
        {320, 240, "320:180 320:180 / 320:180 640:360 / 320:180 482:272"},
        // 16:9 and 2.35:1: as high as the source, 480 x 1.77 = 849.6.
        {854, 480, "849:480 320:180 / 849:480 640:360 / 849:480 482:272"},
        {1280, 544, "962:544 320:180 / 962:544 640:360 / 962:544 482:272"},
        {480, 480, "480:271 320:180 / 480:271 640:360 / 480:271 482:272"},
        // A portrait phone video.
        {360, 640, "360:203 320:180 / 360:203 640:360 / 360:203 482:272"},
        {720, 576, "720:406 320:180 / 720:406 640:360 / 720:406 482:272"},
        {853, 480, "849:480 320:180 / 849:480 640:360 / 849:480 482:272"},
    };
    for (const auto& source : sources) {
        for (size_t i = 0; i < std::size(settings); ++i) {
            SCOPED_TRACE(::testing::Message()
                         << source.width << "x" << source.height << " " << settings[i].name);
            m_setting.m_nVidW = settings[i].width;
            m_setting.m_nVidH = settings[i].height;
            const QStringList values = QString::fromLatin1(source.filters)
                                           .split(QStringLiteral(" / "))
                                           .value(int(i))
                                           .split(QLatin1Char(' '));
            ASSERT_EQ(values.size(), 2);
            EXPECT_EQ(
                FilterChain(Build(QString(), false,
                                  Job(QStringLiteral("/m/x.avi"), source.width, source.height))),
                Filters(values[0], values[1], settings[i].width, settings[i].height));
        }
    }
}

TEST_F(CommandLineBuilder, SamplingComesBeforeTheSubtitle)
{
    EXPECT_TRUE(
        Build(m_sub, true).contains(QStringLiteral(" -lameopts padding=3 -endpos 60 -font ")));
}

TEST_F(CommandLineBuilder, SubtitleSelection)
{
    const QString noSubtitle = Build(QString());
    EXPECT_FALSE(noSubtitle.contains(QStringLiteral("-sub")));

    // A missing file, a folder: no subtitle options and no leftover placeholder.
    for (const QString& path : {m_dir.filePath(QStringLiteral("gone.smi")), m_dir.path()}) {
        const QString args = Build(path);
        EXPECT_EQ(args, noSubtitle);
        EXPECT_FALSE(args.contains(QLatin1Char('$')));
    }

    // ".smi", ".sub" and ".srt" in any case are copied as UTF-8, each job into a
    // file of its own; any other file is given in place. All are drawn by the
    // encoder itself alone, with the same options.
    const QString micro = Build(m_sub);
    const QString microCopy = m_prepared.strPath;
    const QString mixed = m_dir.filePath(QStringLiteral("Clip.SmI"));
    ASSERT_TRUE(QFile::copy(m_smi, mixed));
    EXPECT_EQ(Build(mixed), micro);
    EXPECT_NE(m_prepared.strPath, microCopy);
    const QString srt = m_dir.filePath(QStringLiteral("clip.srt"));
    ASSERT_TRUE(MediaFactory::WriteFile(srt, "1\r\n00:00:01,000 --> 00:00:02,000\r\nhello\r\n"));
    EXPECT_EQ(Build(srt), micro);
    const QString other = m_dir.filePath(QStringLiteral("clip.txt"));
    ASSERT_TRUE(QFile::copy(m_sub, other));
    EXPECT_EQ(Build(other), QString(micro).replace(QStringLiteral("<copy>"), other));
    EXPECT_FALSE(micro.contains(QStringLiteral("-ass")));

    // Subtitles switched off.
    m_setting.m_bBurnSubtitle = false;
    EXPECT_EQ(Build(m_smi), noSubtitle);
}

TEST_F(CommandLineBuilder, AviAsfAndTransportStreamContentIsReadThroughLibavformat)
{
    const QByteArray avi = QByteArray("RIFF\x04\0\0\0AVI LIST", 16);
    const QByteArray asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
    const QByteArray mpeg = QByteArray("\0\0\x01\xba", 4) + QByteArray(12, '\0');
    const QByteArray ts = (QByteArray(1, '\x47') + QByteArray(187, '\0')).repeated(5);
    const QString lavf = QStringLiteral(" -demuxer lavf -lavfdopts o=fflags=+genpts");
    const QString lavfTs = lavf + QStringLiteral(" -afm ffmpeg");
    const struct
    {
        const char* name;
        QByteArray bytes;
        const QString& reader; // empty: the encoder's own
    } cases[] = {
        {"movie.avi", avi, lavf},    {"renamed.mpg", avi, lavf},   {"mpeg.avi", mpeg, QString()},
        {"movie.wmv", asf, lavf},    {"renamed.mpg", asf, lavf},   {"camera.mts", ts, lavfTs},
        {"renamed.mpg", ts, lavfTs}, {"mpeg.ts", mpeg, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = m_dir.filePath(QLatin1String(c.name));
        ASSERT_TRUE(MediaFactory::WriteFile(path, c.bytes));
        const QString args = Build(m_sub, true, Job(path, 640, 480));
        // The reader options come first; the rest is what a file of another kind
        // at the same path gets, byte for byte.
        ASSERT_TRUE(MediaFactory::WriteFile(path, "other"));
        EXPECT_EQ(args, c.reader + Build(m_sub, true, Job(path, 640, 480)));
    }
}

TEST_F(CommandLineBuilder, EachCopyLastsAsLongAsItsJobAndAFailedOneIsGone)
{
    Build(m_smi);
    const QString first = m_prepared.strPath;
    ASSERT_TRUE(QFileInfo::exists(first));
    // Another job's copy is a file of its own; the first goes with its job.
    const EncoderSubtitle second = m_setting.PrepareSubtitle(m_smi, Vga.strFilePath, m_nCodePage);
    EXPECT_NE(second.strPath, first);
    EXPECT_TRUE(QFileInfo::exists(second.strPath));
    m_prepared = {};
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_TRUE(QFileInfo::exists(second.strPath));
    // A subtitle that cannot be converted (unknown code page) leaves no file
    // behind for the encoder to draw.
    m_nCodePage = 12345;
    EXPECT_TRUE(Build(m_smi).contains(SubOption(m_prepared.strPath)));
    EXPECT_FALSE(QFileInfo::exists(m_prepared.strPath));
}

// What the prepared subtitle says reaches the subtitle options: the font for the
// language of its text, and the delay for a movie whose timestamps start late.
TEST_F(CommandLineBuilder, SubtitleLanguageAndDelayReachTheOptions)
{
    // Two syllables are too few for the detector: the code page is given.
    m_nCodePage = 949;
    Build(m_smi);
    EXPECT_EQ(m_prepared.strFont, QStringLiteral("Gulim:lang=ko"));
    Build(m_sub);
    EXPECT_EQ(m_prepared.strFont, QString());

    // A delay the encoder sees, and one below its millisecond.
    EncoderSubtitle subtitle;
    subtitle.strPath = m_sub;
    subtitle.bExists = true;
    subtitle.strFont = QStringLiteral("SimSun:lang=zh-cn");
    for (const double delay : {0.529089, 0.0004}) {
        subtitle.dDelaySeconds = delay;
        const QString args =
            m_setting.BuildCommandLine(subtitle, QStringLiteral("/o.avi"), false, Vga);
        EXPECT_TRUE(
            args.contains(QStringLiteral(" -font \"SimSun:lang=zh-cn\"") + SubOption(m_sub)));
        EXPECT_TRUE(args.endsWith(QStringLiteral(" -subfont-outline 2") +
                                  (delay > 0.001 ? QStringLiteral(" -subdelay 0.529") : QString()) +
                                  Tail))
            << args.toStdString();
    }
}

TEST_F(CommandLineBuilder, PlaceholderTextInPathsStaysIntact)
{
    const StreamFile job = Job(QStringLiteral("/m/a$VID_W$ $AUD_SRATE$.avi"), 640, 480);
    EXPECT_EQ(
        m_setting.BuildCommandLine({}, QStringLiteral("/o/$PATH_VIDEO$$VID_H$.avi"), false, job),
        QStringLiteral(" -noodml \"/m/a$VID_W$ $AUD_SRATE$.avi\""
                       " -o \"/o/$PATH_VIDEO$$VID_H$.avi\"") +
            Picture + Mp3 + Tail);
    // A subtitle kind that is given in place.
    const QString sub = m_dir.filePath(QStringLiteral("$SUB_POS$.txt"));
    ASSERT_TRUE(QFile::copy(m_sub, sub));
    const QString args = Build(sub, false, job);
    EXPECT_TRUE(args.startsWith(QStringLiteral(" -noodml \"/m/a$VID_W$ $AUD_SRATE$.avi\"")));
    EXPECT_TRUE(args.contains(SubOption(sub) + QStringLiteral(" -utf8")));
}

TEST_F(CommandLineBuilder, PercentAndBackslashesAreNotDoubled)
{
    const StreamFile job = Job(QStringLiteral("/m/100% a\\b.avi"), 640, 480);
    EXPECT_EQ(m_setting.BuildCommandLine({}, QStringLiteral("/o/%s %d.avi"), false, job),
              QStringLiteral(" -noodml \"/m/100% a\\b.avi\" -o \"/o/%s %d.avi\"") + Picture + Mp3 +
                  Tail);
}

TEST_F(CommandLineBuilder, HostilePathsReachTheEncoderWhole)
{
    const QString dir = m_dir.filePath(QStringLiteral("영화 \"폴더\" 100%"));
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString input = dir + QStringLiteral("/\" -o /tmp/evil.avi \"\\.avi");
    const QString output = dir + QStringLiteral("/-out \"quoted\"\\");
    // A subtitle kind that is given in place.
    const QString sub = dir + QStringLiteral("/sub\\\" -vf-add x.txt");
    ASSERT_TRUE(QFile::copy(m_sub, sub));
    m_setting.m_strPathFont = QStringLiteral("Odd \"Font\"\\");

    const QString line = MakeProcessCommandLine(
        QStringLiteral("/opt/clip vane/tools/mencoder"),
        m_setting.BuildCommandLine(m_setting.PrepareSubtitle(sub, input, m_nCodePage), output, true,
                                   Job(input, 640, 480)));
    const QStringList argv = SplitCommandLine(line);
    ASSERT_GE(argv.size(), 5);
    EXPECT_EQ(argv.mid(0, 5),
              QStringList({QStringLiteral("/opt/clip vane/tools/mencoder"),
                           QStringLiteral("-noodml"), input, QStringLiteral("-o"), output}));
    const qsizetype font = argv.indexOf(QStringLiteral("-font"));
    ASSERT_GT(font, 0);
    EXPECT_EQ(argv.mid(font + 1, 3),
              QStringList({m_setting.m_strPathFont, QStringLiteral("-sub"), sub}));
    EXPECT_EQ(argv.count(QStringLiteral("-o")), 1);
    EXPECT_EQ(argv.last(), QStringLiteral("ko-KR,kr-KR"));
}
