#include "lists/WorkbookName.h"

namespace {
// A file name takes 255 bytes; the office's lock file beside a workbook it
// holds open adds ".~lock." and "#" to the workbook's name.
constexpr qsizetype MaxFileNameBytes = 255 - 8;
const QString Extension = QStringLiteral(".xls");

bool isControl(QChar c) {
    return c.unicode() < 32 || c.unicode() == 0x7f;
}

QString fileNameCharacters(QString name) {
    for (QChar& c : name)
        if (isControl(c) || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    return name;
}
} // namespace

QString workbookFileName(const QString& settlement, const QString& townId, bool nameShared) {
    QString name = fileNameCharacters(settlement);
    QString suffix = nameShared ? u' ' + fileNameCharacters(townId) : QString();
    if (name.trimmed().isEmpty()) {
        name = QStringLiteral("Без названия");
        suffix = u' ' + fileNameCharacters(townId);
    }
    suffix = suffix.trimmed().isEmpty() ? QString() : suffix;
    if (name.startsWith(u'.'))
        name[0] = u'_';
    const qsizetype room = MaxFileNameBytes - suffix.toUtf8().size() - Extension.size();
    while (name.toUtf8().size() > room)
        name.chop(name.size() > 1 && name.back().isLowSurrogate() ? 2 : 1);
    return name + suffix + Extension;
}
