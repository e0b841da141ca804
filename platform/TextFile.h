#pragma once
#include <QString>
#include <cstdio>

// A text file of the program: created anew (an existing file is emptied),
// single-byte Windows-1251, every line ending with CR LF. A character that
// Windows-1251 cannot hold is written as "?"; a line break or other control
// character inside a line as a blank, so that each line written stays one line.
class TextFile {
public:
    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    void create(const QString& path); // throws when the file cannot be created
    void writeLine(const QString& line);
    void close();            // throws when the written text cannot be stored
    void abandon() noexcept; // closes after a failure, keeping what was written
    bool isOpen() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    QString path_;
};

// The Windows-1251 bytes of a text; "?" for a character outside the code page.
QByteArray toWindows1251(const QString& text);
