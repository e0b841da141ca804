#pragma once
#include <QString>
#include <stdexcept>

// A failure of one component of the program, carrying that component's own
// message: the server's, the office's, the file system's, or the program's
// own. The default error report names the component in a first line of its own.
class Failure : public std::runtime_error {
public:
    enum class Component { Database, Office, File, Program };
    Failure(Component component, const QString& message)
        : std::runtime_error(message.toStdString()), component_(component) {}
    Component component() const { return component_; }
    QString message() const { return QString::fromUtf8(what()); }

private:
    Component component_;
};

// A fault of the program itself (a released query, an unknown field, a line
// index out of range, a missing driver): never a failed sign-in, never the
// user's doing.
class ProgramError : public Failure {
public:
    explicit ProgramError(const QString& message) : Failure(Component::Program, message) {}
};

// A file of the working folder that could not be made or written.
class FileError : public Failure {
public:
    explicit FileError(const QString& message) : Failure(Component::File, message) {}
};

// The spreadsheet application failed or could not be reached.
class OfficeError : public Failure {
public:
    explicit OfficeError(const QString& message) : Failure(Component::Office, message) {}
};

// What a long wait waits for: the database server or the office.
enum class Awaited { Server, Office };

// The user stopped a wait that had gone on too long. No error: the window
// says in one line what was and was not made.
class Stopped : public std::runtime_error {
public:
    explicit Stopped(const QString& message, Awaited awaited = Awaited::Server)
        : std::runtime_error(message.toStdString()), awaited_(awaited) {}
    QString message() const { return QString::fromUtf8(what()); }
    Awaited awaited() const { return awaited_; }

private:
    Awaited awaited_;
};
