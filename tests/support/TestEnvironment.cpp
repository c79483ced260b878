#include "TestEnvironment.h"

#include "engine/Redirect.h"

#include <cstdlib>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace TestEnvironment {

namespace {

// The test program's folder and the process that made it: a forked child that
// ends through exit() must not remove its parent's folder.
char g_root[] = "/tmp/clipvane-test-XXXXXX";
pid_t g_owner = 0;

void RemoveRoot()
{
    if (::getpid() == g_owner)
        QDir(QString::fromLocal8Bit(g_root)).removeRecursively();
}

} // namespace

void PrepareProcess()
{
    // The folder lives for the whole test program and goes with it (a test
    // killed before its end leaves it to the system's temp cleaner).
    const char* root = ::mkdtemp(g_root);
    if (!root)
        std::abort();
    g_owner = ::getpid();
    std::atexit(RemoveRoot);
    const QByteArray base(root);
    for (const char* sub : {"/runtime", "/config", "/cache", "/data", "/state", "/home"})
        QDir().mkpath(QString::fromLocal8Bit(base + sub));
    QFile::setPermissions(QString::fromLocal8Bit(base + "/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ::setenv("XDG_RUNTIME_DIR", base + "/runtime", 1);
    ::setenv("XDG_CONFIG_HOME", base + "/config", 1);
    ::setenv("XDG_CACHE_HOME", base + "/cache", 1);
    ::setenv("XDG_DATA_HOME", base + "/data", 1);
    ::setenv("XDG_STATE_HOME", base + "/state", 1);
    ::setenv("HOME", base + "/home", 1);
    // gtest_discover_tests lists tests without the tests' environment, and Qt
    // aborts without a display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The update check must never look up the maker's host from a test: a closed
    // local port answers at once.
    ::setenv("CLIPVANE_VERSION_URL", "http://127.0.0.1:1/v_encoder.html", 0);
    ::setenv("CLIPVANE_DOWNLOAD_URL", "http://127.0.0.1:1/sw.html", 0);
    // A test's own processes carry no mark of a Clipvane (see CRedirect).
    ::unsetenv(CRedirect::OwnerMarkName);
    // Never reach a real session or system bus from a test.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + base + "/no-session-bus", 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + base + "/no-system-bus", 1);
}

QString BinDir()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFile::decodeName(QByteArray(buffer, n))).absolutePath();
}

} // namespace TestEnvironment

ScopedEnv::~ScopedEnv()
{
    for (const auto& [name, saved] : m_saved) {
        if (saved.first)
            ::setenv(name.constData(), saved.second.constData(), 1);
        else
            ::unsetenv(name.constData());
    }
}

void ScopedEnv::Remember(const char* name)
{
    if (m_saved.count(name))
        return;
    const char* old = ::getenv(name);
    m_saved[name] = {old != nullptr, old ? QByteArray(old) : QByteArray()};
}

void ScopedEnv::Set(const char* name, const QByteArray& value)
{
    Remember(name);
    ::setenv(name, value.constData(), 1);
}

void ScopedEnv::Unset(const char* name)
{
    Remember(name);
    ::unsetenv(name);
}

ScopedTempHome::ScopedTempHome()
{
    for (const char* sub : {"config", "cache", "data", "state", "home"})
        QDir(m_dir.path()).mkpath(QLatin1String(sub));
    m_env.Set("XDG_CONFIG_HOME", QFile::encodeName(ConfigDir()));
    m_env.Set("XDG_CACHE_HOME", QFile::encodeName(CacheDir()));
    m_env.Set("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + QLatin1String("/data")));
    m_env.Set("XDG_STATE_HOME", QFile::encodeName(StateDir()));
    m_env.Set("HOME", QFile::encodeName(m_dir.path() + QLatin1String("/home")));
}
