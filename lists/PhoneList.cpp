#include "lists/PhoneList.h"

#include "data/SqlQuery.h"
#include "platform/TextFile.h"

DebtorPass WritePhoneList(SqlQuery& debtors, TextFile* file, const QString& path, int keep) {
    if (file)
        file->create(path, TextFile::Placing::WhenWhole);
    DebtorPass pass;
    for (; !debtors.eof(); debtors.next()) {
        const QString phone = debtors.asString(QStringLiteral("phone"));
        if (file)
            file->writeLine(phone);
        if (++pass.count <= keep)
            pass.rows.push_back({debtors.asString(QStringLiteral("user_id")), phone,
                                 debtors.asFloat(QStringLiteral("cur_deb"))});
        else if (!pass.rows.empty())
            std::vector<DebtorRow>().swap(pass.rows); // too many for a report: none kept
    }
    if (file)
        file->close();
    return pass;
}
