#pragma once

#include "tests/support/TestEnvironment.h"

#include <httplib.h>
#include <memory>
#include <thread>
#include <vector>

#include <QString>

// "http://127.0.0.1:<port><path>"
QString LoopbackUrl(int port, const QString& path);

// Clears the proxy variables in env, so that requests to 127.0.0.1 go there
// directly, never through a proxy the machine may have configured.
inline void BypassProxies(ScopedEnv& env)
{
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        env.Unset(name);
}

// A real HTTP server on 127.0.0.1 with a port the kernel picks, serving from its
// own threads. Register the handlers on Server() before Start().
class LocalHttpServer
{
public:
    LocalHttpServer() = default;
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    httplib::Server& Server() { return m_server; }

    // Binds and starts serving; false when no port could be bound.
    bool Start();
    void Stop();

    int Port() const { return m_nPort; }
    QString Url(const QString& path) const { return LoopbackUrl(m_nPort, path); }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_nPort = -1;
};

// Sockets on 127.0.0.1 that never give an HTTP answer.
namespace DeadEnds {

// A port on which nothing listens: connections are refused at once.
int ClosedPort();

// Accepts connections in the kernel but never reads or answers; the port is
// valid while the object lives.
class SilentListener
{
public:
    // backlog: the length of the accept queue.
    explicit SilentListener(int backlog = 16);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int Port() const { return m_nPort; }

private:
    int m_fd = -1;
    int m_nPort = -1;
};

// A listener whose accept queue is full, so that the kernel drops new
// connection attempts and a client's connect hangs until its time-out.
class FullListener : public SilentListener
{
public:
    FullListener();
    ~FullListener();

private:
    std::vector<int> m_fillers;
};

} // namespace DeadEnds
