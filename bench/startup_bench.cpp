// One start of a window, for bench/startup.sh: with --app the real start-up of
// Clipvane (update check, main window, first-run setup), with --empty a bare Qt
// Widgets window of the same size as the baseline. Prints, once the window's
// first paint has been handled, the wall clock in nanoseconds since the epoch,
// then, after the window has settled, the resident memory:
//   painted_ns=<n>
//   rss_kb=<n>
// and quits.
#include "app/ClipvaneApp.h"
#include "app/ClipvaneView.h"
#include "app/MainFrame.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {

long long WallNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// Reports the first paint of a window, then the memory, then quits.
class FirstPaintProbe final : public QObject
{
public:
    explicit FirstPaintProbe(QWidget* window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_bSeen) {
            m_bSeen = true;
            // After the paint has been handled and flushed to the window.
            QTimer::singleShot(0, [] {
                std::printf("painted_ns=%lld\n", WallNs());
                std::fflush(stdout);
                QTimer::singleShot(500, [] {
                    std::printf("rss_kb=%ld\n", ResidentKb());
                    std::fflush(stdout);
                    QApplication::quit();
                });
            });
        }
        return false;
    }

private:
    bool m_bSeen = false;
};

} // namespace

int main(int argc, char* argv[])
{
    const bool app = argc > 1 && std::strcmp(argv[1], "--app") == 0;
    QApplication application(argc, argv);
    std::unique_ptr<FirstPaintProbe> probe;
    std::unique_ptr<QWidget> empty;
    CClipvaneApp clipvane({[](const QString&, const QString&) { return false; },
                           [](const QString&) { return false; }});
    if (app) {
        if (!clipvane.InitInstance())
            return 1;
        // When the window closes, the run's stray-process sweep looks for this
        // name only, never for another program's encoder.
        clipvane.View()->m_run.SetEncoderImageName(QStringLiteral("cvbench%1").arg(::getpid()));
        probe = std::make_unique<FirstPaintProbe>(clipvane.MainFrame());
    } else {
        empty = std::make_unique<QWidget>();
        empty->resize(700, 550);
        empty->setWindowTitle(QStringLiteral("Baseline"));
        probe = std::make_unique<FirstPaintProbe>(empty.get());
        empty->show();
    }
    return QApplication::exec();
}
