#include "platform/TextFile.h"

#include "platform/Failure.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <stdexcept>
#include <unistd.h>

namespace {

FileError fileError(const QString& what, const QString& path) {
    if (errno == ENOSPC || errno == EDQUOT)
        return noSpaceOnDisk(QStringLiteral("файл «%1» в папке «%2» не записан"), path);
    return FileError(QStringLiteral("%1 «%2»: %3")
                         .arg(what, path, QString::fromLocal8Bit(std::strerror(errno))));
}

// A hidden name beside the file's own, for a file that is renamed in when whole.
QString besidePath(const QString& path) {
    const QFileInfo file(path);
    return file.path() + QStringLiteral("/.") + file.fileName() +
           QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid());
}

class Converter {
public:
    Converter() : cd_(iconv_open("WINDOWS-1251", "UTF-8")) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw ProgramError(QStringLiteral("Кодировка Windows-1251 недоступна: файлы "
                                              "программы не могут быть записаны"));
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    QByteArray convert(const QString& text) {
        QByteArray out;
        // One character at a time, so that one that does not convert becomes "?".
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            QByteArray in = text.mid(i, len).toUtf8();
            i += len - 1;
            char buffer[8];
            char* src = in.data();
            size_t srcLeft = size_t(in.size());
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == size_t(-1))
                out += '?';
            else
                out.append(buffer, qsizetype(dst - buffer));
        }
        return out;
    }

private:
    iconv_t cd_;
};

} // namespace

QByteArray toWindows1251(const QString& text) {
    // Plain ASCII (the phone numbers of a list) is the same in Windows-1251.
    const bool ascii =
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return text.toLatin1();
    static thread_local Converter converter;
    return converter.convert(text);
}

FileError noSpaceOnDisk(const QString& what, const QString& path) {
    const QFileInfo file(path);
    return FileError(QStringLiteral("На диске нет места: ") +
                     what.arg(file.fileName(), file.absolutePath()));
}

TextFile::~TextFile() {
    abandon();
}

void TextFile::create(const QString& path, Placing placing) {
    if (file_)
        close();
    path_ = path;
    writtenPath_ = placing == Placing::WhenWhole ? besidePath(path) : path;
    // Made as the system makes any new file of the user's: read and write for
    // all, less the user's mask.
    const int fd = ::open(QFile::encodeName(writtenPath_).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    file_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (!file_) {
        if (fd >= 0)
            ::close(fd);
        throw fileError(QStringLiteral("Не удалось создать файл"), path);
    }
}

void TextFile::writeLine(const QString& line) {
    if (!file_)
        throw ProgramError(QStringLiteral("Файл для записи не открыт"));
    QString text = line;
    for (QChar& c : text)
        if (c.unicode() < 32 || c.unicode() == 0x7f)
            c = u' ';
    const QByteArray bytes = toWindows1251(text) + "\r\n";
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file_) != size_t(bytes.size()))
        throw fileError(QStringLiteral("Не удалось записать в файл"), path_);
}

void TextFile::close() {
    if (!file_)
        return;
    const bool beside = writtenPath_ != path_;
    std::FILE* f = std::exchange(file_, nullptr);
    // A file renamed into place is on the disk before it takes the name.
    bool stored = std::fflush(f) == 0 && (!beside || ::fdatasync(::fileno(f)) == 0);
    int error = errno;
    if (std::fclose(f) != 0 && stored) {
        stored = false;
        error = errno;
    }
    if (stored && beside &&
        std::rename(QFile::encodeName(writtenPath_).constData(),
                    QFile::encodeName(path_).constData()) != 0) {
        stored = false;
        error = errno;
    }
    if (!stored) {
        errno = error;
        const FileError failure = fileError(QStringLiteral("Не удалось записать в файл"), path_);
        abandon();
        throw failure;
    }
    writtenPath_.clear();
}

void TextFile::abandon() noexcept {
    if (file_)
        std::fclose(std::exchange(file_, nullptr));
    if (!writtenPath_.isEmpty() && writtenPath_ != path_)
        std::remove(QFile::encodeName(writtenPath_).constData());
    writtenPath_.clear();
}
