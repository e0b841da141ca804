#pragma once
#include <QString>
#include <stdexcept>

// A failure of one part of the program, carrying that part's own message: the
// server's, the office's, the file system's, or the program's own. The default
// error report names the part in a first line of its own.
class Failure : public std::runtime_error {
public:
    enum class Part { Database, Office, File, Program };
    Failure(Part part, const QString& message)
        : std::runtime_error(message.toStdString()), part_(part) {}
    Part part() const { return part_; }
    QString message() const { return QString::fromUtf8(what()); }

private:
    Part part_;
};

// A fault of the program itself (a released query, an unknown field, a line
// index out of range, a missing driver): never a failed sign-in, never the
// user's doing.
class ProgramError : public Failure {
public:
    explicit ProgramError(const QString& message) : Failure(Part::Program, message) {}
};

// A file of the working folder that could not be made or written.
class FileError : public Failure {
public:
    explicit FileError(const QString& message) : Failure(Part::File, message) {}
};

// The spreadsheet application failed or could not be reached.
class OfficeError : public Failure {
public:
    explicit OfficeError(const QString& message) : Failure(Part::Office, message) {}
};
