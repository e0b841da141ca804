#include "lists/RunStamp.h"

#include "platform/RegionalForms.h"

QString RemoveAll(QString text, const QString& pattern) {
    if (pattern.isEmpty())
        return text;
    for (qsizetype at = text.indexOf(pattern); at >= 0; at = text.indexOf(pattern))
        text.remove(at, pattern.size());
    return text;
}

QString makeRunStamp(const QDateTime& moment) {
    QString s = regional::dateTime(moment);
    s = RemoveAll(s, QStringLiteral(" "));
    s = RemoveAll(s, QStringLiteral(":"));
    s = RemoveAll(s, QStringLiteral("."));
    return s.left(4) + s.mid(6);
}
