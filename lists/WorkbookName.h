#pragma once
#include <QString>

// A settlement name made fit for a file name in the current directory: folder
// separators and characters a file name cannot hold become "_".
QString workbookFileName(const QString& settlement);
