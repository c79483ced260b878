#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals that ask a desktop program to end (SIGTERM when the session
// or the system ends, SIGINT from a terminal's Ctrl+C, SIGHUP when the terminal
// goes away) into QuitRequested on the thread that made the object, so that the
// program can end its work in order and then quit. The first of them is caught;
// any later one ends the program at once, as without this object. One object at
// a time; its destruction restores the default handling.
class CQuitSignals final : public QObject
{
    Q_OBJECT

public:
    explicit CQuitSignals(QObject* parent = nullptr);
    ~CQuitSignals() override;
    CQuitSignals(const CQuitSignals&) = delete;
    CQuitSignals& operator=(const CQuitSignals&) = delete;

signals:
    void QuitRequested(int signalNumber);

private:
    void OnSignalled();

    int m_readFd = -1;
    int m_writeFd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
