#pragma once
#include "data/Libpq.h"
#include "data/SqlConnection.h"

#include <QSqlQuery>
#include <QVariant>
#include <optional>

// The rows of one executed statement, read forward only. Opening runs the
// statement; the cursor stands on the first row, if there is one.
class RowCursor {
public:
    virtual ~RowCursor() = default;
    virtual bool hasRow() const = 0;
    virtual void next() = 0;
    // The column of that name, matched without regard to case; -1 when absent.
    virtual int column(const QString& name) const = 0;
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
    int column(const QString& name) const override;
    QVariant value(int column) const override { return query_.value(column); }

private:
    SqlConnection& connection_;
    QSqlQuery query_;
    bool hasRow_ = false;
};

// A cursor held by the PostgreSQL server, its values bound, fetched a rowset at
// a time. The program keeps several queries open at once (the debtor list, the
// exchanges, an address): server cursors let them stand side by side with
// memory bounded by the rowset.
class ServerCursor : public RowCursor {
public:
    ServerCursor(SqlConnection& connection, const DriverStatement& statement,
                 const QList<QVariant>& values, int rowsetSize);
    ~ServerCursor() override;
    bool hasRow() const override { return row_ < batch_->rows(); }
    void next() override;
    int column(const QString& name) const override { return batch_->column(name); }
    QVariant value(int column) const override { return batch_->value(row_, column); }

private:
    void fetchRowset(); // the next rowset; the cursor stands on its first row
    void giveUp() noexcept;

    SqlConnection& connection_;
    QString name_;
    int rowsetSize_;
    int generation_;
    std::optional<pq::Result> batch_;
    int row_ = 0;
};

// The whole result of a statement that the connection keeps prepared, fetched
// in one round trip and held in memory: for a small result, such as the
// addresses of one block of a report.
class WholeResult : public RowCursor {
public:
    explicit WholeResult(Rows rows) : rows_(std::move(rows)) {}
    bool hasRow() const override { return row_ < rows_.rows.size(); }
    void next() override;
    int column(const QString& name) const override;
    QVariant value(int column) const override { return rows_.rows[row_].value(column); }

private:
    Rows rows_;
    size_t row_ = 0;
};

// Whether a statement returns rows (it begins with select or with).
bool returnsRows(const QString& sql);
