#pragma once

#include "engine/Redirect.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include <QObject>
#include <QString>

// The preview player of the Play button: one player at a time, at normal
// priority, on a runner of its own. Lives on the UI thread; the runner's waiter
// thread hands the player's end over through a queued call.
class CPreviewPlayer final : public QObject, private CRedirect
{
    Q_OBJECT

public:
    explicit CPreviewPlayer(QObject* parent = nullptr);
    ~CPreviewPlayer() override;

    // Starts the player with a complete command line (the quoted program,
    // then the arguments), ending one that still plays; false when it could
    // not be started.
    bool Start(const QString& commandLine);
    // Ends a player that still plays (SIGTERM, SIGKILL after the runner's
    // grace); its end is then not reported.
    void Stop();
    // The player was started and its end has not come yet.
    bool IsPlaying() const { return m_bPlaying; }

signals:
    // The player ended on its own.
    void Ended();

private:
    // On the waiter thread.
    void OnTerminated(const ChildExit& exit) override;
    // On the UI thread: the ends the waiter handed over. Invoked by name
    // through a queued call, so that no data travels inside Qt's event queue.
    Q_INVOKABLE void TakeEnds();

    bool m_bPlaying = false;
    // The start whose end is awaited; 0 for none.
    std::uint64_t m_nSerial = 0;
    std::mutex m_mutex;
    std::vector<std::uint64_t> m_ends;
};
