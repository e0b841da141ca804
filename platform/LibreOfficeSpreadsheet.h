#pragma once
#include "platform/OfficeOptions.h"
#include "platform/Spreadsheet.h"

#include <memory>

// The spreadsheet application as LibreOffice Calc, driven through UNO. It
// attaches to an office listening on its pipe, or starts one (headless when
// there is no display) and leaves it running when it lets go.
class LibreOfficeSpreadsheet : public Spreadsheet {
public:
    LibreOfficeSpreadsheet();
    explicit LibreOfficeSpreadsheet(const office::Options& options);
    ~LibreOfficeSpreadsheet() override;

    void connect() override;
    void openWorkbook(const QString& path) override;
    void openWorkbook(const QString& templatePath, const QString& placeAt) override;
    void writeRows(int firstRow, int firstColumn, const std::vector<Row>& rows) override;
    void alignRight(int row, int firstColumn, int lastColumn) override;
    void setBold(int row, int firstColumn, int lastColumn) override;
    void hideColumn(int column) override;
    void saveWorkbookAside(const QString& path) override;
    void markSaved() override;
    void makeVisible() override;
    void disconnect() override;
    void closeWorkbook() override;

private:
    struct Uno;
    std::unique_ptr<Uno> uno_;
};
