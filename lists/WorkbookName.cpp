#include "lists/WorkbookName.h"

namespace {
// A file name takes 255 bytes; the office's lock file beside a workbook it
// holds open adds ".~lock." and "#" to the workbook's name.
constexpr qsizetype MaxFileNameBytes = 255 - 8;
const QString Extension = QStringLiteral(".xls");

bool isControl(QChar c) {
    return c.unicode() < 32 || c.unicode() == 0x7f;
}
} // namespace

QString workbookFileName(const QString& settlement, const QString& townId) {
    QString name = settlement;
    for (QChar& c : name)
        if (isControl(c) || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    if (name.trimmed().isEmpty())
        name = (QStringLiteral("Без названия ") + townId).trimmed();
    if (name.startsWith(u'.'))
        name[0] = u'_';
    while (name.toUtf8().size() + Extension.size() > MaxFileNameBytes)
        name.chop(name.size() > 1 && name.back().isLowSurrogate() ? 2 : 1);
    return name + Extension;
}
