#pragma once
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <vector>

class SqlConnection;
struct DriverStatement;

// The rows of one executed statement, read forward only. Opening runs the
// statement; the cursor stands on the first row, if there is one.
class RowCursor {
public:
    virtual ~RowCursor() = default;
    virtual bool hasRow() const = 0;
    virtual void next() = 0;
    virtual QSqlRecord record() const = 0;
    virtual QVariant value(int column) const = 0;
};

// A forward-only result of the driver itself (Oracle's driver keeps any number
// of open cursors on one connection).
class DriverCursor : public RowCursor {
public:
    DriverCursor(SqlConnection& connection, const DriverStatement& statement,
                 const QList<QVariant>& values);
    bool hasRow() const override { return hasRow_; }
    void next() override;
    QSqlRecord record() const override { return query_.record(); }
    QVariant value(int column) const override { return query_.value(column); }

private:
    SqlConnection& connection_;
    QSqlQuery query_;
    bool hasRow_ = false;
};

// A cursor held by the PostgreSQL server, fetched a rowset at a time. The
// driver streams only one result per connection, and the program keeps several
// queries open at once (the debtor list, the exchanges, an address): a server
// cursor lets them stand side by side with memory bounded by the rowset.
class ServerCursor : public RowCursor {
public:
    ServerCursor(SqlConnection& connection, const DriverStatement& statement,
                 const QList<QVariant>& values);
    ~ServerCursor() override;
    bool hasRow() const override { return hasRow_; }
    void next() override;
    QSqlRecord record() const override { return batch_.record(); }
    QVariant value(int column) const override { return batch_.value(column); }

private:
    void fetchRowset(); // the next rowset; the cursor stands on its first row
    void giveUp() noexcept;

    SqlConnection& connection_;
    QString name_;
    int rowsetSize_;
    int generation_;
    QSqlQuery batch_;
    int batchRows_ = 0;
    bool hasRow_ = false;
};

// The whole result of a statement that the connection keeps prepared, fetched
// in one round trip and held in memory: for a small result, such as the
// addresses of one block of a report.
class WholeResult : public RowCursor {
public:
    WholeResult(SqlConnection& connection, const DriverStatement& statement,
                const QList<QVariant>& values);
    bool hasRow() const override { return row_ < rows_.size(); }
    void next() override;
    QSqlRecord record() const override { return record_; }
    QVariant value(int column) const override { return rows_[row_].value(column); }

private:
    QSqlRecord record_;
    std::vector<QVariantList> rows_;
    size_t row_ = 0;
};

// Whether a statement returns rows (it begins with select or with).
bool returnsRows(const QString& sql);
