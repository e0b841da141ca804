// Every text the program itself shows is Russian: a check over the sources.
// A message is the first string literal given to an error type, a message box
// or the sign-in dialog's message line; one with Latin letters must hold
// Cyrillic ones too (names such as LibreOffice or Tulmin stand inside Russian).
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

class TestMessages : public QObject {
    Q_OBJECT
private slots:
    void theProgramSpeaksRussian() {
        static const QRegularExpression message(
            QStringLiteral("\\b(DbError|ProgramError|FileError|OfficeError|ConnectionFailure|"
                           "SaveFailed|fileError|runtime_error|inform|askOkCancel|setMessage|"
                           "countFailure|refuse|reportError)\\s*\\(\\s*(?:QStringLiteral\\s*\\(\\s*"
                           ")?\"((?:[^\"\\\\]|\\\\.)*)\""));
        static const QRegularExpression latin(QStringLiteral("[A-Za-z]{2,}"));
        static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
        QStringList english;
        int messages = 0;
        for (const char* folder : {"app", "data", "lists", "platform", "ui"}) {
            QDirIterator files(QStringLiteral(TULMINA_SOURCE "/") + QLatin1String(folder),
                               {"*.cpp", "*.h"}, QDir::Files);
            while (files.hasNext()) {
                QFile file(files.next());
                QVERIFY(file.open(QIODevice::ReadOnly));
                const QString source = QString::fromUtf8(file.readAll());
                for (auto m = message.globalMatch(source); m.hasNext();) {
                    const QString text = m.next().captured(2);
                    ++messages;
                    if (text.contains(latin) && !text.contains(cyrillic))
                        english << file.fileName().section('/', -2) + ": " + text;
                }
            }
        }
        QVERIFY2(messages >= 30, qPrintable(QString::number(messages))); // the check finds them
        QVERIFY2(english.isEmpty(), qPrintable(english.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "test_messages.moc"
