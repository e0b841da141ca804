#pragma once
#include "platform/OfficeOptions.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

// Reads workbooks back through a real office, for the tests: a saved file, or
// the document the office still holds open; and ends the office.
class OfficeReader {
public:
    explicit OfficeReader(const office::Options& options);
    ~OfficeReader();

    struct Cell {
        QString text;
        double value = 0;
        bool isNumber = false;
        bool bold = false;
        bool alignedRight = false;
    };
    struct Sheet {
        std::vector<std::vector<Cell>> rows; // [row-1][column-1]
        std::vector<bool> columnVisible;
    };
    // Opens the saved file hidden and read-only, reads it and closes it again.
    Sheet readFile(const QString& path, int rows, int columns);
    // The document the office holds open under that file name.
    Sheet readOpenDocument(const QString& path, int rows, int columns);
    bool isOpen(const QString& path);
    int openDocuments();
    // Types a text into a cell of the open document, as the user would.
    void editOpenDocument(const QString& path, int row, int column, const QString& text);
    bool isModified(const QString& path);
    void closeOpenDocument(const QString& path); // without saving
    void terminate();

private:
    struct Uno;
    std::unique_ptr<Uno> uno_;
};

// The user ids of a report's debtor rows: column A from row 2 to the first empty.
QStringList userIdColumn(const OfficeReader::Sheet& sheet);

// A headless office of a test's own: its pipe named after the test and the
// process, its profile in the given folder.
office::Options privateOffice(const QString& name, const QString& profileDir);
// Ends the office listening on that pipe, however it is.
void killOffice(const office::Options& options);
