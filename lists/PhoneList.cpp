#include "lists/PhoneList.h"

#include "data/SqlQuery.h"
#include "platform/TextFile.h"

void WritePhoneList(SqlQuery& debtors, TextFile& file, const QString& path) {
    file.create(path);
    for (; !debtors.eof(); debtors.next())
        file.writeLine(debtors.asString(QStringLiteral("phone")));
    file.close();
}
