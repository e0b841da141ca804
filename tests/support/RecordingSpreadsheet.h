#pragma once
#include "platform/Spreadsheet.h"

#include <QMap>
#include <QPair>
#include <QStringList>
#include <QVariant>
#include <functional>

// A spreadsheet that records what the report asks of it, for tests of the
// report's logic. The real office is tested in the workbook tests.
class RecordingSpreadsheet : public Spreadsheet {
public:
    QStringList calls;                               // one entry per operation, in order
    QMap<QPair<int, int>, QVariant> cells;           // (row, column) -> text or number
    std::function<void(const QString& call)> onCall; // may throw to simulate a failure

    void connect() override { record("connect"); }
    void openWorkbook(const QString& path) override { record("open " + path); }
    void saveWorkbookAs(const QString& path) override { record("saveAs " + path); }
    void setCellText(int row, int column, const QString& text) override {
        record(QStringLiteral("text %1,%2").arg(row).arg(column));
        cells[{row, column}] = text;
    }
    void setCellNumber(int row, int column, double value) override {
        record(QStringLiteral("number %1,%2").arg(row).arg(column));
        cells[{row, column}] = value;
    }
    void alignRight(int row, int first, int last) override {
        record(QStringLiteral("alignRight %1:%2-%3").arg(row).arg(first).arg(last));
    }
    void setBold(int row, int first, int last) override {
        record(QStringLiteral("bold %1:%2-%3").arg(row).arg(first).arg(last));
    }
    void hideColumn(int column) override { record(QStringLiteral("hide %1").arg(column)); }
    void saveWorkbook() override { record("save"); }
    void makeVisible() override { record("visible"); }
    void disconnect() override { record("disconnect"); }
    void checkConnection() override { record("check"); }

private:
    void record(const QString& call) {
        calls << call;
        if (onCall)
            onCall(call);
    }
};
