#pragma once
#include <QString>
#include <cstdio>

// A text file of the program: created anew (an existing file is emptied),
// single-byte Windows-1251, every line ending with CR LF. A character that
// Windows-1251 cannot hold is written as "?"; a line break or other control
// character inside a line as a blank, so that each line written stays one line.
// A file written whole or not at all goes to a hidden file beside its place and
// is renamed into it once closed: a failure leaves no file under its name.
class TextFile {
public:
    enum class Placing { AsWritten, WhenWhole };
    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // Throws when the file cannot be created.
    void create(const QString& path, Placing placing = Placing::AsWritten);
    void writeLine(const QString& line);
    void close(); // throws when the written text cannot be stored
    // Closes after a failure, keeping what was written, or nothing when the file
    // was to be whole.
    void abandon() noexcept;
    bool isOpen() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    QString path_;
    QString writtenPath_; // where the bytes go: the path, or the hidden file beside it
};

class FileError;
// A file the disk had no room for: `what` names it (%1) and its folder (%2).
FileError noSpaceOnDisk(const QString& what, const QString& path);

// The Windows-1251 bytes of a text; "?" for a character outside the code page.
QByteArray toWindows1251(const QString& text);
