#pragma once
#include <QString>

class SqlQuery;
class TextFile;

// The phone list of a run: one number per line, in the debtor query's order,
// in one forward pass from the query's current row to its end.
void WritePhoneList(SqlQuery& debtors, TextFile& file, const QString& path);
