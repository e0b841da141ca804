#pragma once
#include <QString>

// The spreadsheet application, driven through automation: the operations the
// debtor workbook report needs, and no more. Rows and columns count from 1.
// Every failure is an exception carrying the application's message.
class Spreadsheet {
public:
    virtual ~Spreadsheet() = default;

    // Attaches to a running instance of the application, else launches one.
    // A connection that is still alive is kept.
    virtual void connect() = 0;
    // Opens a workbook read-write, hidden; it becomes the current workbook.
    virtual void openWorkbook(const QString& path) = 0;
    // Saves the current workbook under a new name; the open workbook is then that file.
    virtual void saveWorkbookAs(const QString& path) = 0;
    // Cells of the first worksheet of the current workbook.
    virtual void setCellText(int row, int column, const QString& text) = 0;
    virtual void setCellNumber(int row, int column, double value) = 0;
    virtual void alignRight(int row, int firstColumn, int lastColumn) = 0;
    virtual void setBold(int row, int firstColumn, int lastColumn) = 0;
    virtual void hideColumn(int column) = 0;
    virtual void saveWorkbook() = 0;
    // Shows the application with the current workbook in front.
    virtual void makeVisible() = 0;
    // Lets go of the application without asking it to quit.
    virtual void disconnect() = 0;
    // Writes cell values that the implementation has held back to send them
    // together; every other operation does so first.
    virtual void flush() {}
    // Fails, as a cell write would, when the application can no longer take
    // writes. Held-back cells stay held back.
    virtual void checkConnection() {}
};
