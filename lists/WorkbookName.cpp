#include "lists/WorkbookName.h"

QString workbookFileName(const QString& settlement) {
    QString name = settlement;
    for (QChar& c : name)
        if (c.unicode() < 32 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    return name + QStringLiteral(".xls");
}
