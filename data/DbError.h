#pragma once
#include <QString>
#include <stdexcept>

// An error of the database or of the connection, carrying the server's message.
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};
