#include "platform/InstanceLock.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder under /tmp is the user's own only when no one else made it first.
bool isOwnPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

QString InstanceLock::lockDirectory() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QString::fromLocal8Bit(runtime);
    return QStringLiteral("/tmp/tulmina-%1").arg(getuid());
}

InstanceLock::InstanceLock(const QString& name) {
    const QString dir = lockDirectory();
    const QString path = dir + u'/' + name;
    const auto unavailable = [&](const QString& why) {
        state_ = State::Unavailable;
        problem_ = QStringLiteral("Не удалось создать файл блокировки «%1»: %2. Второй экземпляр "
                                  "программы не исключён, поэтому она не запущена.")
                       .arg(path, why);
    };
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray folder = QFile::encodeName(dir);
        if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
            unavailable(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        if (!isOwnPrivateFolder(folder)) {
            unavailable(QStringLiteral("папка принадлежит не этому пользователю"));
            return;
        }
    }
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                 0600);
    if (fd_ < 0) {
        unavailable(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
        state_ = State::Acquired;
    else if (errno == EWOULDBLOCK)
        state_ = State::HeldElsewhere;
    else
        unavailable(QString::fromLocal8Bit(std::strerror(errno)));
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}
