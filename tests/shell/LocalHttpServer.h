#pragma once

#include <httplib.h>
#include <memory>
#include <thread>
#include <vector>

#include <QString>

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
    // "http://127.0.0.1:<port><path>"
    QString Url(const QString& path) const;

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
    SilentListener();
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
class FullListener
{
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    int Port() const { return m_nPort; }

private:
    int m_fd = -1;
    int m_nPort = -1;
    std::vector<int> m_fillers;
};

} // namespace DeadEnds
