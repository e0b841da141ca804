#include "tests/support/SmallDisk.h"

#include <QByteArray>
#include <QFile>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
QByteArray fillerPath(const QString& folder) {
    return QFile::encodeName(folder + QStringLiteral("/.filler"));
}
} // namespace

SmallDisk::SmallDisk(const QString& folder, int kilobytes) : folder_(folder) {
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
    mounted_ = ::mount("tulmina-test", QFile::encodeName(folder).constData(), "tmpfs", 0,
                       options.constData()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_)
        ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
}

void SmallDisk::fill() {
    const int fd = ::open(fillerPath(folder_).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0)
        return;
    static const char block[4096] = {};
    for (size_t size = sizeof block; size > 0; size /= 2)
        while (::write(fd, block, size) == ssize_t(size)) {
        }
    ::close(fd);
}

void SmallDisk::free() {
    ::unlink(fillerPath(folder_).constData());
}
