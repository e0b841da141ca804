#pragma once
#include <QString>
#include <variant>
#include <vector>

// The spreadsheet application, driven through automation: the operations the
// debtor workbook report needs, and no more. Rows and columns count from 1.
// Every failure is an exception carrying the application's message.
class Spreadsheet {
public:
    // A cell value: a text goes in as a text (a phone "01234" keeps its zero),
    // a number as a number.
    using Cell = std::variant<QString, double>;
    using Row = std::vector<Cell>;

    virtual ~Spreadsheet() = default;

    // Attaches to a running instance of the application, else launches one.
    // A connection that is still alive is kept.
    virtual void connect() = 0;
    // Opens a workbook read-write, hidden; it becomes the current workbook,
    // its place on the disk that of its file.
    virtual void openWorkbook(const QString& path) = 0;
    // Opens a template the same way as a new workbook whose place is another
    // file, which stays as it is until the workbook is put there. A workbook
    // of that name that the application holds open unchanged is closed first;
    // one with changes of the user's stops the opening.
    virtual void openWorkbook(const QString& templatePath, const QString& placeAt) = 0;
    // Cells of the first worksheet of the current workbook: a block of rows,
    // each row from the given column on, in one call.
    virtual void writeRows(int firstRow, int firstColumn, const std::vector<Row>& rows) = 0;
    virtual void alignRight(int row, int firstColumn, int lastColumn) = 0;
    virtual void setBold(int row, int firstColumn, int lastColumn) = 0;
    virtual void hideColumn(int column) = 0;
    // Writes the current workbook whole to a file of its own (.xls); the
    // workbook's place stays where it was.
    virtual void saveWorkbookAside(const QString& path) = 0;
    // The current workbook counts as saved: its file has been put in its place.
    virtual void markSaved() = 0;
    // Shows the application with the current workbook in front.
    virtual void makeVisible() = 0;
    // Lets go of the application without asking it to quit.
    virtual void disconnect() = 0;
    // Closes the current workbook without saving it.
    virtual void closeWorkbook() = 0;

    void setCellText(int row, int column, const QString& text) { writeRows(row, column, {{text}}); }
    void setCellNumber(int row, int column, double value) { writeRows(row, column, {{value}}); }
};
