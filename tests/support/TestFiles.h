#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>

// The bytes of a file as a run left it, or "<missing>".
inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
