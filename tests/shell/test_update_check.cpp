#include "shell/AppInfo.h"
#include "shell/UpdateCheck.h"
#include "tests/shell/LocalHttpServer.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <QDir>
#include <QFileInfo>

namespace {

class UpdateCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.IsValid());
        BypassProxies(m_env);
        m_localPath = UpdateCheck::LocalVersionFilePath();

        m_server.Server().Get("/v_encoder.html",
                              [this](const httplib::Request& req, httplib::Response& res) {
                                  const std::lock_guard<std::mutex> guard(m_lock);
                                  ++m_nDownloads;
                                  m_agent = req.get_header_value("User-Agent");
                                  // The download goes into the cache folder, created anew.
                                  m_bFileExistedDuringDownload = QFileInfo::exists(m_localPath);
                                  res.status = m_nStatus;
                                  res.set_content(m_page, "text/html");
                              });
        ASSERT_TRUE(m_server.Start());
        SetVersionUrl(m_server.Url(QStringLiteral("/v_encoder.html")));
        m_env.Set(UpdateCheck::DownloadUrlVariable,
                  m_server.Url(QStringLiteral("/sw.html")).toUtf8());

        m_hooks.askYesNo = [this](const QString& text, const QString& caption) {
            m_questions.push_back(text);
            m_captions.push_back(caption);
            return m_bAnswerYes;
        };
        m_hooks.openUrl = [this](const QString& url) {
            m_opened.push_back(url);
            return m_bOpenWorks;
        };
    }

    void SetVersionUrl(const QString& url)
    {
        m_env.Set(UpdateCheck::VersionUrlVariable, url.toUtf8());
    }

    void Serve(const std::string& page, int status = 200)
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_page = page;
        m_nStatus = status;
    }

    int Downloads()
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        return m_nDownloads;
    }

    ScopedTempHome m_home;
    ScopedEnv m_env;
    LocalHttpServer m_server;
    QString m_localPath;
    UpdateCheckHooks m_hooks;
    bool m_bAnswerYes = false;
    bool m_bOpenWorks = true;
    std::vector<QString> m_questions, m_captions, m_opened;

    std::mutex m_lock;
    std::string m_page;
    int m_nStatus = 200;
    int m_nDownloads = 0;
    std::string m_agent;
    bool m_bFileExistedDuringDownload = false;
};

TEST(UpdateCheckFacts, OwnNumberAddressesAndLocalCopy)
{
    EXPECT_EQ(AppInfo::VersionText(), QStringLiteral("100314"));
    EXPECT_EQ(AppInfo::VersionText("."), QStringLiteral("1.0.0314"));

    ScopedEnv env;
    env.Unset(UpdateCheck::VersionUrlVariable);
    env.Set(UpdateCheck::DownloadUrlVariable, "   ");
    // The maker's host lies under a reserved name that belongs to nobody.
    EXPECT_EQ(UpdateCheck::VersionPageUrl(),
              QStringLiteral("http://www.tolva.example/v_encoder.html"));
    EXPECT_EQ(UpdateCheck::DownloadPageUrl(), QStringLiteral("http://www.tolva.example/sw.html"));
    env.Set(UpdateCheck::VersionUrlVariable, "https://mirror.test/clipvane/v_encoder.html");
    EXPECT_EQ(UpdateCheck::VersionPageUrl(),
              QStringLiteral("https://mirror.test/clipvane/v_encoder.html"));

    ScopedTempHome home;
    EXPECT_EQ(UpdateCheck::LocalVersionFilePath(),
              home.CacheDir() + QStringLiteral("/Tolva/Clipvane/version"));
}

TEST(UpdateCheckFacts, OnlyHttpAddressesOfUsableLengthAreFetched)
{
    // 1023 characters, the longest address that is fetched.
    const QString longest = QStringLiteral("http://a.test/") + QString(1009, QLatin1Char('p'));
    const std::pair<QString, QString> usable[] = {
        {" http://www.tolva.example/v_encoder.html", "http://www.tolva.example/v_encoder.html"},
        {"HTTPS://Mirror.Test/a b/v.html", "https://mirror.test/a%20b/v.html"},
        {longest, longest}};
    for (const auto& [url, wire] : usable)
        EXPECT_EQ(UpdateCheck::CanonicalizeUrl(url), wire);
    for (const QString& bad :
         {QString(), QStringLiteral("not an address"), QStringLiteral("ftp://mirror.test/v"),
          QStringLiteral("file:///etc/hostname"), QStringLiteral("http://"),
          QStringLiteral("/v_encoder.html"), longest + QLatin1Char('p')})
        EXPECT_TRUE(UpdateCheck::CanonicalizeUrl(bad).isEmpty()) << bad.left(40).toStdString();
}

TEST_F(UpdateCheckTest, AsksOnlyWhenTheSecondLineNamesANewerBuild)
{
    struct Case
    {
        std::string page;
        bool asks;
    };
    const std::vector<Case> cases = {
        {"Clipvane\n100314\n", false},
        {"Clipvane\n100313\n", false},
        {"Clipvane\n100315abc\n", true},
        {"Clipvane\r\n100315\r\n", true},
        {"Clipvane\n  +100400 build\nmore\n", true},
        {"Clipvane\n-100400\n", false},
        {"Clipvane\n99999999999999999999999\n", true},
        {"100315", false},
        {"100315\n", false},
        {"Clipvane\n\n100315\n", false},
        {"garbage\nnonsense\n", false},
        {"", false},
        {std::string(100000, '#') + "\n100315\n", true},
        {std::string("v\n1003") + std::string(1, '\0') + "15\n", false},
    };
    for (const Case& c : cases) {
        Serve(c.page);
        m_questions.clear();
        EXPECT_TRUE(CheckForUpdate(m_hooks)) << c.page.substr(0, 40);
        EXPECT_EQ(m_questions.size(), c.asks ? 1u : 0u) << c.page.substr(0, 40);
        EXPECT_FALSE(QFileInfo::exists(m_localPath)) << c.page.substr(0, 40);
    }
    EXPECT_EQ(Downloads(), int(cases.size()));
    EXPECT_TRUE(m_opened.empty());
    const std::lock_guard<std::mutex> guard(m_lock);
    EXPECT_TRUE(m_bFileExistedDuringDownload);
    EXPECT_EQ(m_agent, "HttpGetFile");
}

TEST_F(UpdateCheckTest, YesOpensTheDownloadPageAndEndsStartUpUnlessItCannot)
{
    struct Case
    {
        bool answerYes;
        bool openWorks;
        bool startUpGoesOn;
    };
    Serve("Clipvane\n100315\n");
    for (const Case c :
         {Case{true, true, false}, Case{false, true, true}, Case{true, false, true}}) {
        SCOPED_TRACE(::testing::Message()
                     << "yes " << c.answerYes << ", open works " << c.openWorks);
        m_questions.clear();
        m_captions.clear();
        m_opened.clear();
        m_bAnswerYes = c.answerYes;
        m_bOpenWorks = c.openWorks;
        EXPECT_EQ(CheckForUpdate(m_hooks), c.startUpGoesOn);
        ASSERT_EQ(m_questions.size(), 1u);
        EXPECT_EQ(m_questions[0],
                  QStringLiteral("New version found!\nDo you wish to update at this time"));
        EXPECT_EQ(m_captions[0], QStringLiteral("Tolva Clipvane"));
        ASSERT_EQ(m_opened.size(), c.answerYes ? 1u : 0u);
        for (const QString& url : m_opened)
            EXPECT_EQ(url, m_server.Url(QStringLiteral("/sw.html")));
        EXPECT_FALSE(QFileInfo::exists(m_localPath));
    }

    // Nobody can ask: start-up goes on and nothing is opened.
    UpdateCheckHooks silent;
    silent.openUrl = m_hooks.openUrl;
    m_opened.clear();
    EXPECT_TRUE(CheckForUpdate(silent));
    EXPECT_TRUE(m_opened.empty());
    EXPECT_FALSE(QFileInfo::exists(m_localPath));
}

TEST_F(UpdateCheckTest, FailedDownloadsAskNothingAndLeaveNoFile)
{
    // An error page is not a version file, whatever it holds.
    Serve("Clipvane\n999999\n", 404);
    EXPECT_TRUE(CheckForUpdate(m_hooks));
    EXPECT_EQ(Downloads(), 1);

    SetVersionUrl(LoopbackUrl(DeadEnds::ClosedPort(), QStringLiteral("/v_encoder.html")));
    EXPECT_TRUE(CheckForUpdate(m_hooks));

    DeadEnds::SilentListener silent;
    SetVersionUrl(LoopbackUrl(silent.Port(), QStringLiteral("/v_encoder.html")));
    UpdateCheckHooks hooks = m_hooks;
    hooks.limits.totalTimeoutMs = 800;
    EXPECT_TRUE(CheckForUpdate(hooks));

    EXPECT_TRUE(m_questions.empty());
    EXPECT_TRUE(m_opened.empty());
    EXPECT_FALSE(QFileInfo::exists(m_localPath));
}

TEST_F(UpdateCheckTest, ALeftOverCopyIsReplacedOrReadAndDeleted)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(m_localPath).absolutePath()));
    ASSERT_TRUE(MediaFactory::WriteFile(m_localPath, "old\n999999\n"));
    Serve("Clipvane\n100314\n");
    EXPECT_TRUE(CheckForUpdate(m_hooks));
    EXPECT_TRUE(m_questions.empty());
    EXPECT_FALSE(QFileInfo::exists(m_localPath));

    // Without a usable address nothing is downloaded; a copy an interrupted
    // start left behind is still read once and removed.
    ASSERT_TRUE(MediaFactory::WriteFile(m_localPath, "old\n100315\n"));
    SetVersionUrl(QStringLiteral("ftp://mirror.test/v_encoder.html"));
    EXPECT_TRUE(CheckForUpdate(m_hooks));
    EXPECT_EQ(m_questions.size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(m_localPath));
    EXPECT_EQ(Downloads(), 1);
}

TEST_F(UpdateCheckTest, AnUnwritableCacheFolderLetsStartUpGoOn)
{
    // A folder where the copy should go: nothing can be created, read or deleted.
    ASSERT_TRUE(QDir().mkpath(m_localPath));
    Serve("Clipvane\n100315\n");
    EXPECT_TRUE(CheckForUpdate(m_hooks));
    EXPECT_TRUE(m_questions.empty());
    EXPECT_TRUE(QFileInfo(m_localPath).isDir());
}

} // namespace
