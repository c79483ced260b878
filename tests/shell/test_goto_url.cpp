#include "shell/GotoURL.h"
#include "shell/UpdateCheck.h"
#include "tests/shell/LocalHttpServer.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <utility>
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
    const std::pair<const char*, const char*> cases[] = {
        {"https://www.tolva.example/sw.html", "https://www.tolva.example/sw.html"},
        {"mailto:support@tolva.example", "mailto:support@tolva.example"},
        // An address as a user would type it becomes a web address.
        {"  www.tolva.example/a b.html ", "http://www.tolva.example/a b.html"}};
    for (const auto& [typed, opened] : cases) {
        catcher.opened.clear();
        EXPECT_TRUE(GotoURL(QString::fromUtf8(typed))) << typed;
        ASSERT_EQ(catcher.opened.size(), 1u) << typed;
        EXPECT_EQ(catcher.opened[0], QUrl(QString::fromUtf8(opened)));
    }
}

TEST(GotoURL, ReportsFailureWhenNothingCanBeOpened)
{
    UrlCatcher catcher{"http", "https"};
    // This test program has no GUI application, so the desktop is never asked
    // for "clipvane-test:" and nothing opens: the failure must be reported as such.
    for (const QString& url :
         {QString(), QStringLiteral("   "), QStringLiteral("clipvane-test:nothing")})
        EXPECT_FALSE(GotoURL(url)) << url.toStdString();
    EXPECT_TRUE(catcher.opened.empty());
}

TEST(GotoURL, UpdateCheckOpensTheDownloadPageThroughIt)
{
    ScopedTempHome home;
    ScopedEnv env;
    BypassProxies(env);
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
