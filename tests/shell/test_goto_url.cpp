#include "shell/GotoURL.h"
#include "shell/UpdateCheck.h"
#include "tests/shell/LocalHttpServer.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <vector>

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

namespace {

// Takes the place of the browser and the mail program: while it lives, the
// desktop hands it every address of its schemes instead of opening anything.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    explicit UrlCatcher(std::initializer_list<const char*> schemes)
    {
        for (const char* scheme : schemes) {
            m_schemes.push_back(QString::fromLatin1(scheme));
            QDesktopServices::setUrlHandler(m_schemes.back(), this, "Open");
        }
    }
    ~UrlCatcher() override
    {
        for (const QString& scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    std::vector<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened.push_back(url); }

private:
    std::vector<QString> m_schemes;
};

TEST(GotoURL, HandsWebAndMailAddressesToTheDesktop)
{
    UrlCatcher catcher{"http", "https", "mailto"};
    EXPECT_TRUE(GotoURL(QStringLiteral("https://www.tolva.example/sw.html")));
    EXPECT_TRUE(GotoURL(QStringLiteral("mailto:support@tolva.example")));
    // An address as a user would type it becomes a web address.
    EXPECT_TRUE(GotoURL(QStringLiteral("  www.tolva.example/a b.html ")));
    ASSERT_EQ(catcher.opened.size(), 3u);
    EXPECT_EQ(catcher.opened[0], QUrl(QStringLiteral("https://www.tolva.example/sw.html")));
    EXPECT_EQ(catcher.opened[1].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(catcher.opened[1].path(), QStringLiteral("support@tolva.example"));
    EXPECT_EQ(catcher.opened[2].scheme(), QStringLiteral("http"));
    EXPECT_EQ(catcher.opened[2].host(), QStringLiteral("www.tolva.example"));
    EXPECT_EQ(catcher.opened[2].path(), QStringLiteral("/a b.html"));
}

TEST(GotoURL, ReportsFailureWhenNothingCanBeOpened)
{
    UrlCatcher catcher{"http", "https"};
    EXPECT_FALSE(GotoURL(QString()));
    EXPECT_FALSE(GotoURL(QStringLiteral("   ")));
    // This test program has no GUI application, so the desktop is never asked
    // and nothing opens: the failure must be reported as such.
    EXPECT_FALSE(GotoURL(QStringLiteral("clipvane-test:nothing")));
    EXPECT_TRUE(catcher.opened.empty());
}

TEST(GotoURL, UpdateCheckOpensTheDownloadPageThroughIt)
{
    ScopedTempHome home;
    ScopedEnv env;
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        env.Unset(name);
    LocalHttpServer server;
    server.Server().Get("/v_encoder.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("Clipvane\n100315\n", "text/html");
    });
    ASSERT_TRUE(server.Start());
    env.Set(UpdateCheck::VersionUrlVariable,
            server.Url(QStringLiteral("/v_encoder.html")).toUtf8());
    env.Set(UpdateCheck::DownloadUrlVariable, "http://www.tolva.example/sw.html");

    UrlCatcher catcher{"http", "https"};
    UpdateCheckHooks hooks;
    hooks.askYesNo = [](const QString&, const QString&) { return true; };
    EXPECT_FALSE(CheckForUpdate(hooks));
    ASSERT_EQ(catcher.opened.size(), 1u);
    EXPECT_EQ(catcher.opened[0], QUrl(QStringLiteral("http://www.tolva.example/sw.html")));
}

} // namespace

#include "test_goto_url.moc"
