#pragma once
#include "platform/Spreadsheet.h"

#include <QFile>
#include <QMap>
#include <QPair>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <stdexcept>

// A spreadsheet that records what the report asks of it, for tests of the
// report's logic; every operation is recorded and may be made to fail. The
// real office is tested in the workbook tests.
class RecordingSpreadsheet : public Spreadsheet {
public:
    QStringList calls;                               // one entry per operation, in order
    QMap<QPair<int, int>, QVariant> cells;           // (row, column) -> text or number
    std::function<void(const QString& call)> onCall; // may throw to simulate a failure

    void connect() override { record("connect"); }
    void openWorkbook(const QString& path) override { record("open " + path); }
    void openWorkbook(const QString& templatePath, const QString& placeAt) override {
        record("open " + templatePath + " as " + placeAt);
    }
    void writeRows(int firstRow, int firstColumn, const std::vector<Row>& rows) override {
        record(QStringLiteral("rows %1,%2 x%3").arg(firstRow).arg(firstColumn).arg(rows.size()));
        for (size_t r = 0; r < rows.size(); ++r)
            for (size_t c = 0; c < rows[r].size(); ++c)
                cells[{firstRow + int(r), firstColumn + int(c)}] =
                    std::visit([](const auto& v) { return QVariant(v); }, rows[r][c]);
    }
    void alignRight(int row, int first, int last) override {
        record(QStringLiteral("alignRight %1:%2-%3").arg(row).arg(first).arg(last));
    }
    void setBold(int row, int first, int last) override {
        record(QStringLiteral("bold %1:%2-%3").arg(row).arg(first).arg(last));
    }
    void hideColumn(int column) override { record(QStringLiteral("hide %1").arg(column)); }
    // A save writes these bytes, so that what becomes of the file can be seen.
    static inline const QByteArray SavedBytes = "recorded workbook";
    void saveWorkbookAside(const QString& path) override {
        record("save " + path);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(SavedBytes) != SavedBytes.size())
            throw std::runtime_error("the recorded workbook could not be written");
    }
    void markSaved() override { record("saved"); }
    void makeVisible() override { record("visible"); }
    void disconnect() override { record("disconnect"); }
    void closeWorkbook() override { record("close"); }

    // The debtor rows the sheet holds: user id cells of rows 2 onwards, up to
    // the first row without one.
    QStringList userIdColumn() const {
        QStringList ids;
        for (int row = 2; cells.contains({row, 1}); ++row)
            ids << cells.value({row, 1}).toString();
        return ids;
    }

private:
    void record(const QString& call) {
        calls << call;
        if (onCall)
            onCall(call);
    }
};
