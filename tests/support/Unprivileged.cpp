#include "Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cantavel::testing {

int runUnprivileged(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        if (geteuid() == 0) {
            constexpr uid_t kNobody = 65534;
            if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
                setresuid(kNobody, kNobody, kNobody) != 0) {
                _exit(126);
            }
        }
        _exit(body());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

int runWithin(int seconds, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        ::alarm(static_cast<unsigned>(seconds)); // SIGALRM ends a child that waits for ever
        _exit(body());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    if (WIFSIGNALED(status)) {
        return WTERMSIG(status) == SIGALRM ? -2 : -1;
    }
    return WEXITSTATUS(status);
}

void makeTraversable(const QString& path) {
    QFileInfo info(path);
    QString dir = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    while (!dir.isEmpty() && dir != QLatin1String("/")) {
        const QByteArray native = QFile::encodeName(dir);
        struct stat st {};
        // chmod keeps the other mode bits (a sticky /tmp stays sticky).
        if (::stat(native.constData(), &st) == 0 && (st.st_mode & 05) != 05) {
            ::chmod(native.constData(), (st.st_mode & 07777) | 05);
        }
        dir = QFileInfo(dir).absolutePath();
    }
}

} // namespace cantavel::testing
