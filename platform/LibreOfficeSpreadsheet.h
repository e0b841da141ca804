#pragma once
#include "platform/Spreadsheet.h"

#include <QList>
#include <QVariant>

#include <memory>

// The spreadsheet application as LibreOffice Calc, driven through UNO. It
// attaches to an office listening on its pipe, or starts one (headless when
// there is no display) and leaves it running when it lets go.
class LibreOfficeSpreadsheet : public Spreadsheet {
public:
    struct Options {
        QString pipeName = QStringLiteral("tulmina_office");
        QString profileDir;    // the office's user profile; empty: the program's own
        bool headless = false; // also when there is no display
    };
    LibreOfficeSpreadsheet();
    explicit LibreOfficeSpreadsheet(Options options);
    ~LibreOfficeSpreadsheet() override;

    void connect() override;
    void openWorkbook(const QString& path) override;
    void saveWorkbookAs(const QString& path) override;
    void setCellText(int row, int column, const QString& text) override;
    void setCellNumber(int row, int column, double value) override;
    void alignRight(int row, int firstColumn, int lastColumn) override;
    void setBold(int row, int firstColumn, int lastColumn) override;
    void hideColumn(int column) override;
    void saveWorkbook() override;
    void makeVisible() override;
    void disconnect() override;
    void flush() override;
    void checkConnection() override;

    // Writes a block of rows at once from column A (texts and numbers), the
    // fastest way into a sheet; the benchmark's floor.
    void writeBlock(int firstRow, const QList<QVariantList>& rows);

    // For reading a saved workbook back: opens it hidden and returns what a
    // cell holds, as text and as number, and its formats.
    struct CellReport {
        QString text;
        double value = 0;
        bool isNumber = false;
        bool bold = false;
        bool alignedRight = false;
    };
    struct SheetReport {
        std::vector<std::vector<CellReport>> rows; // [row-1][column-1]
        std::vector<bool> columnVisible;
    };
    SheetReport readBack(const QString& path, int rows, int columns);
    // Ends the office process (tests).
    void terminateOffice();

private:
    struct Uno;
    Options options_;
    std::unique_ptr<Uno> uno_;
};
