#include "platform/TextFile.h"

#include "platform/Failure.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <stdexcept>

namespace {

FileError fileError(const QString& what, const QString& path) {
    return FileError(QStringLiteral("%1 «%2»: %3")
                         .arg(what, path, QString::fromLocal8Bit(std::strerror(errno))));
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

TextFile::~TextFile() {
    if (file_)
        std::fclose(file_);
}

void TextFile::create(const QString& path) {
    if (file_)
        close();
    path_ = path;
    file_ = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file_)
        throw fileError(QStringLiteral("Не удалось создать файл"), path);
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
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0)
        throw fileError(QStringLiteral("Не удалось записать в файл"), path_);
}

void TextFile::abandon() noexcept {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}
