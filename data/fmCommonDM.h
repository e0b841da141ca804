#pragma once
#include "data/SqlConnection.h"
#include "data/SqlQuery.h"

#include <QHash>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// A query member of the data module. Releasing it destroys the query object;
// using it afterwards is an error, never a dangling access.
class OwnedQuery {
public:
    OwnedQuery(SqlConnection& connection, const QString& name, QStringList lines);
    SqlQuery* operator->() const;
    SqlQuery& operator*() const { return *operator->(); }
    void release() { query_.reset(); }
    bool released() const { return !query_; }

private:
    QString name_;
    std::unique_ptr<SqlQuery> query_;
};

// A settlement of the list: the name and the town of one row of the
// settlement query. Two towns may share a name, and a name may be null.
struct SettlementItem {
    QVariant name;
    QVariant townId;
};

// What the billing database knows of one subscriber.
struct SubscriberAddress {
    QString account;
    QString name;
    QString address; // ClientInfoWithoutName
};

// One run as the audit trail keeps it.
struct RunRecord {
    RunRecord(QString kind, QString settlementName, QString town, int count = 0)
        : listKind(std::move(kind)), settlement(std::move(settlementName)), townId(std::move(town)),
          rows(count) {}
    QString listKind;
    QString settlement;
    QString townId;
    int rows;            // the debtors read, or the snapshot rows recorded
    QString reportId;    // a report's, recorded with its snapshot rows
    bool failed = false; // a report that was not made
};

// The two snapshot tables.
inline const QString SnapshotTableMain = QStringLiteral("PAYS_DEBS_TMP");
inline const QString SnapshotTableRegional = QStringLiteral("PAYS_DEBS_TMP_R");

// The sign-ins a connection made through database links, kept so that a
// connection opened again signs in again without asking the user. On a
// PostgreSQL reporting database a link's creation that signed the connection
// in gives a token for it; the link's drop ends the sign-in. The tokens are
// secrets as the passwords are.
class SignInResumption {
public:
    explicit SignInResumption(SqlConnection& connection);
    // After a reopening. A sign-in the server refuses to resume (its link
    // dropped meanwhile) is let go: the server then refuses subscriber data in
    // words of its own. Any other failure keeps the token and fails the
    // reopening, so that the next use tries again.
    void resume();

private:
    void linkAnswered(const DriverStatement& statement, const QVariant& firstValue);

    SqlConnection& connection_;
    std::map<QString, QString> tokens_; // link name -> token
};

// The data module dmCommon: the connection to the reporting database and every
// statement of the program as a named query.
class TdmCommon {
    std::unique_ptr<SqlConnection> connection_;

public:
    // Loads the stored settings and texts; the connection stays closed. The
    // driver setting is the stored one unless given.
    TdmCommon();
    explicit TdmCommon(const QString& sqlDriver);
    ~TdmCommon();

    SqlConnection& SQLConnectionKvarn;
    OwnedQuery sqCreateDropChannel;
    OwnedQuery sqSettlement;
    OwnedQuery sqTownId;
    OwnedQuery sqPhoneInd;
    OwnedQuery sqListPhone;
    OwnedQuery sqLstPhonDelTab;
    OwnedQuery sqPayDeb;

    // Statements with bound values for the window and the generation run.
    // The exchanges of one settlement of the list (its own town and name) into
    // sqPhoneInd, which stays open on them: by code, or, for the first
    // settlement shown, in the order the database gives them.
    void showExchangesOf(const SettlementItem& settlement, bool byCode);
    // The address query for a block of subscribers at once: the user id is added
    // to its columns and its last line restricted to the block. Subscribers the
    // billing database does not know are missing from the result.
    QHash<qint64, SubscriberAddress> addressesOf(const std::vector<qint64>& userIds);
    // The same in two halves: the lookup is sent, the billing side works on it
    // while the program does something else, and the addresses are received.
    void sendAddressesOf(const std::vector<qint64>& userIds);
    QHash<qint64, SubscriberAddress> receiveAddresses();
    // A lookup sent and no longer wanted: its answer is read and dropped.
    void discardAddresses() noexcept;
    // One snapshot row per user id, dated with the server's date: on
    // PostgreSQL in one statement, on Oracle in one per thousand.
    void insertSnapshotRows(const QString& table, const std::vector<qint64>& userIds);

    // The audit trail of a PostgreSQL reporting database: one run, under the
    // operator signed in on the connection. A report's run goes with its id
    // in the transaction of its snapshot rows; whether a report of that id
    // was recorded is asked after a commit whose answer was lost. An Oracle
    // server keeps no trail, and cannot tell (CommitInDoubt).
    void recordRun(const RunRecord& run);
    bool reportRecorded(const QString& reportId);

    // The sign-in's connection through the link to the billing server is let
    // go once the operator has been looked up (PostgreSQL; a failure is no
    // sign-in's concern).
    void closeLinkCheck(const QString& link) noexcept;

    // Whether the reporting database lists a database link of that name.
    bool hasDatabaseLink(const QString& name);
    // Links the program itself reads through; no user may be named after one.
    static bool isFixedLink(const QString& name);

    // Stored settings of the connection.
    static const char* const ConnectionName;
    static const char* const DriverName;
    static const char* const GetDriverFunc;
    static const char* const LibraryName;
    static const char* const VendorLib;
    static QStringList connectionParams();

    // Stored texts.
    static QStringList linkCheckLines();
    static QStringList settlementLines();
    static QStringList townIdLines();
    static QStringList phoneIndLines();
    static QStringList listPhoneLines();
    static QStringList debtorTemplateLines();

private:
    SignInResumption resumption_;
};
