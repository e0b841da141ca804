#pragma once
#include "data/DriverStatement.h"

#include <QString>
#include <QVariant>
#include <algorithm>

// The rows of one executed statement, read forward only. The cursor stands on
// the first row, if there is one.
class RowCursor {
public:
    virtual ~RowCursor() = default;
    virtual bool hasRow() const = 0;
    virtual void next() = 0;
    // The column of that name, matched without regard to case; -1 when absent.
    virtual int column(const QString& name) const = 0;
    virtual QVariant value(int column) const = 0;
};

// Rows already read into memory.
class WholeResult : public RowCursor {
public:
    explicit WholeResult(Rows rows) : rows_(std::move(rows)) {}
    bool hasRow() const override { return row_ < rows_.rows.size(); }
    void next() override { row_ += hasRow() ? 1 : 0; }
    int column(const QString& name) const override {
        const auto at = std::find_if(rows_.columns.begin(), rows_.columns.end(), [&](auto& c) {
            return c.compare(name, Qt::CaseInsensitive) == 0;
        });
        return at == rows_.columns.end() ? -1 : int(at - rows_.columns.begin());
    }
    QVariant value(int column) const override { return rows_.rows[row_].value(column); }

private:
    Rows rows_;
    size_t row_ = 0;
};
