#pragma once
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

class SqlConnection;

// Set-up and inspection of the stand-in databases behind the program's back,
// as the cluster's superuser.
namespace testdb {

// A connection, not yet opened, with the service account the program holds,
// as anyone who reads it out of the program can make one; TLS as sslmode says.
QSqlDatabase serviceAccount(const QString& connectionName, const QString& database,
                            const QString& sslmode);

// Runs statements in database "report" or "kvarn"; fails the test on error.
void exec(const QString& database, const QString& sql);
// First column of every row.
QStringList column(const QString& database, const QString& sql);
QVariant scalar(const QString& database, const QString& sql);

// A billing login role with a password and an operator row (null name allowed).
void createOperator(const QString& login, const QString& password, const QVariant& operatorName,
                    int operId);
void dropOperator(const QString& login);
// The operator with that password: made when the billing database lacks it.
void ensureOperator(const QString& login, const QString& password);

// The reporting database forgets the failed password checks it counts for its
// limits: tests sign in from one address, many times a minute.
void forgetFailedSignIns();

// Snapshot rows of today in one of the two tables whose user ids lie in a
// test's own range, as sorted user ids.
QStringList snapshotUsers(const QString& table, qint64 first, qint64 last);
void removeSnapshots(qint64 first, qint64 last);

// The cursors the server holds for the program's connection, counted on it.
int serverCursors(SqlConnection& connection);

// Drops a per-user link left behind by a test, whatever its state, with the
// record of the connections signed in through it.
void dropLinkIfAny(const QString& linkName);
bool linkExists(const QString& linkName);

// While it lives, another session holds a table of the reporting database
// locked against every reader, as a night job or maintenance may.
class HeldLock {
public:
    explicit HeldLock(const QString& table);
    ~HeldLock();
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    QString name_;
};

// While it lives, the reporting database refuses to insert a snapshot row of
// this user into pays_debs_tmp_r.
class RefusedSnapshot {
public:
    explicit RefusedSnapshot(qint64 userId);
    ~RefusedSnapshot();
    RefusedSnapshot(const RefusedSnapshot&) = delete;
    RefusedSnapshot& operator=(const RefusedSnapshot&) = delete;
};

} // namespace testdb
