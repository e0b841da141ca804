// The program's launcher on a workstation (installed as /usr/bin/tulmina). The
// program works in its current directory; the launcher makes the user's working
// folder with the three folders a run writes into, puts the report template
// there when it is missing (a template the user changed is kept), and starts the
// program in that folder. The folder is ~/Тулмина, or the one TULMINA_WORKDIR
// names. A folder that cannot be made is reported in a message box: the
// launcher is started from a menu, where nobody reads a terminal.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

// The installed files, found from where the launcher itself lies.
QString installedFile(const char* relative) {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    const QString prefix = QFileInfo(QString::fromStdString(self.string())).dir().absolutePath();
    return QDir::cleanPath(prefix + QStringLiteral("/../") + QLatin1String(relative));
}

QString workingFolder() {
    const QString named = qEnvironmentVariable("TULMINA_WORKDIR");
    return named.isEmpty() ? QDir::homePath() + QStringLiteral("/Тулмина") : named;
}

// Empty when the folder is ready; else what went wrong.
QString prepare(const QString& folder) {
    for (const char* sub : {"Tulmin/Station", "Tulmin/LogParam", "Tulmin/DudoVezir"}) {
        const QString path = folder + u'/' + QLatin1String(sub);
        if (!QDir().mkpath(path) || !QFileInfo(path).isWritable())
            return QStringLiteral("папку «%1» нельзя создать или в неё нельзя писать").arg(path);
    }
    const QString target = folder + QStringLiteral("/Tulmin/DudoVezir/DudoVezir.xls");
    if (QFileInfo::exists(target))
        return {};
    QFile source(installedFile(TULMINA_TEMPLATE_DIR "/DudoVezir.xls"));
    if (!source.copy(target))
        return QStringLiteral("шаблон отчёта не скопирован в «%1»: %2")
            .arg(target, source.errorString());
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                      QFile::ReadOther);
    return {};
}

int refuse(int& argc, char** argv, const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    QApplication app(argc, argv);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Тулмина"), text);
    box.exec();
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const QString folder = workingFolder();
    const QString problem = prepare(folder);
    if (!problem.isEmpty())
        return refuse(argc, argv,
                      QStringLiteral("Рабочая папка Тулмины не готова: %1. Программа не запущена.")
                          .arg(problem));
    if (::chdir(QFile::encodeName(folder).constData()) != 0)
        return refuse(argc, argv,
                      QStringLiteral("Не удалось перейти в рабочую папку «%1»: %2.")
                          .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    const QByteArray program = QFile::encodeName(installedFile(TULMINA_PROGRAM_DIR "/tulmina"));
    argv[0] = const_cast<char*>(program.constData());
    ::execv(program.constData(), argv);
    return refuse(
        argc, argv,
        QStringLiteral("Программа «%1» не запустилась: %2.")
            .arg(QString::fromLocal8Bit(program), QString::fromLocal8Bit(std::strerror(errno))));
}
