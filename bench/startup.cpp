#include "startup.h"

#include "main_window.h"
#include "probes.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdio>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Notes the first expose of the window, then the end of the paint that the expose starts.
class ExposeWatcher : public QObject
{
public:
    explicit ExposeWatcher(int fd) : m_fd(fd) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = qobject_cast<QWindow*>(watched);
        if (m_exposed == 0 && event->type() == QEvent::Expose && window && window->isExposed()) {
            m_exposed = MonotonicSeconds();
            // Qt paints the widgets and flushes them to the screen while it handles the expose;
            // the next pass of the event loop comes after that.
            QTimer::singleShot(0, this, [this] {
                char line[64];
                const int n =
                    std::snprintf(line, sizeof line, "%.9f %.9f\n", m_exposed, MonotonicSeconds());
                if (::write(m_fd, line, static_cast<size_t>(n)) != n)
                    std::perror("vek-bench: startup pipe");
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    int m_fd;
    double m_exposed = 0;
};

} // namespace

int RunStartupChild(int argc, char** argv, int fd)
{
    QApplication app(argc, argv);
    MainWindow window;
    ExposeWatcher watcher(fd);
    window.show();
    window.windowHandle()->installEventFilter(&watcher);
    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(1); });
    return app.exec();
}

std::optional<StartupTimes> MeasureStartup(const std::string& self, std::string& error)
{
    int out[2];
    if (pipe(out) != 0) {
        error = "pipe failed";
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string fd = std::to_string(out[1]);
    std::string exe = self;
    std::string mode = "--startup-child";
    char* argv[] = {exe.data(), mode.data(), fd.data(), nullptr};

    pid_t pid = -1;
    const double spawned = MonotonicSeconds();
    const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        error = "cannot start " + self;
        return std::nullopt;
    }

    std::string line;
    char c = 0;
    pollfd pfd{out[0], POLLIN, 0};
    while (poll(&pfd, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    int status = 0;
    if (c != '\n') {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        error = "the start-up child reported no window within ten seconds";
        return std::nullopt;
    }
    waitpid(pid, &status, 0);

    double exposed = 0, painted = 0;
    if (std::sscanf(line.c_str(), "%lf %lf", &exposed, &painted) != 2) {
        error = "the start-up child reported \"" + line + "\"";
        return std::nullopt;
    }
    return StartupTimes{exposed - spawned, painted - spawned};
}
