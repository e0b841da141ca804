#include "platform/InstanceLock.h"

#include <QByteArray>
#include <QDir>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QString InstanceLock::lockDirectory() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QString::fromLocal8Bit(runtime);
    const QString dir = QStringLiteral("/tmp/tulmina-%1").arg(getuid());
    ::mkdir(QFile::encodeName(dir).constData(), 0700);
    return dir;
}

InstanceLock::InstanceLock(const QString& name) {
    const QByteArray path = QFile::encodeName(lockDirectory() + u'/' + name);
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        acquired_ = true; // no lock to be had: run unguarded
        return;
    }
    acquired_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}
