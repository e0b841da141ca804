#pragma once
#include "platform/Failure.h"

// An error of the database server or of the connection, carrying the server's
// message and, where the server gave one, its SQLSTATE code.
class DbError : public Failure {
public:
    explicit DbError(const QString& message, QString sqlState = {})
        : Failure(Component::Database, message), sqlState_(std::move(sqlState)) {}
    const QString& sqlState() const { return sqlState_; }

private:
    QString sqlState_;
};

// The connection to the reporting database could not be opened; why, as far
// as the program can tell without reading the driver's (translated) message.
class ConnectionFailure : public DbError {
public:
    enum class Cause {
        Unreachable, // nothing answers at the server's address
        Untrusted,   // the server could not prove its identity (no TLS, a foreign certificate)
        Refused,     // the server answered and refused the service account or the database
    };
    ConnectionFailure(Cause cause, const QString& message) : DbError(message), cause_(cause) {}
    Cause cause() const { return cause_; }

private:
    Cause cause_;
};

// The connection was lost while a commit was under way: whether the
// transaction took effect is not known until it is checked on a new one.
class CommitInDoubt : public DbError {
public:
    using DbError::DbError;
};
