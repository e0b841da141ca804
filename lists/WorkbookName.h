#pragma once
#include <QString>

// The file name of a settlement's workbook in the current directory: folder
// separators and characters a file name cannot hold become "_", a leading
// point too (the file would be hidden); an empty name becomes a visible name
// made from the town id, and so does a name that several towns of the list
// share, so that their reports never replace each other; a long name is cut on
// a whole character so that the file name, and the office's lock file beside
// it, fit the 255 bytes a name may take.
QString workbookFileName(const QString& settlement, const QString& townId = {},
                         bool nameShared = false);
