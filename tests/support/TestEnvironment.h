#pragma once

#include <map>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace TestEnvironment {

// Called once at the start of every test program, before Qt starts.
void PrepareProcess();

// Folder of the test programs (build/bin), where tools/ lies.
QString BinDir();

} // namespace TestEnvironment

// Sets environment variables for the lifetime of the object and restores the
// previous values (or their absence) afterwards.
class ScopedEnv
{
public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void Set(const char* name, const QByteArray& value);
    void Unset(const char* name);

private:
    void Remember(const char* name);
    std::map<QByteArray, std::pair<bool, QByteArray>> m_saved;
};

// A temporary folder that stands in for the user's home: XDG_CONFIG_HOME,
// XDG_CACHE_HOME, XDG_DATA_HOME, XDG_STATE_HOME and HOME point into it while the
// object lives.
class ScopedTempHome
{
public:
    ScopedTempHome();

    bool IsValid() const { return m_dir.isValid(); }
    QString Path() const { return m_dir.path(); }
    QString ConfigDir() const { return m_dir.path() + QLatin1String("/config"); }
    QString CacheDir() const { return m_dir.path() + QLatin1String("/cache"); }
    QString StateDir() const { return m_dir.path() + QLatin1String("/state"); }
    QString FilePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_env;
};
