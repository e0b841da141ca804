#include "platform/LibreOfficeConnection.h"

#include "platform/EventWait.h"
#include "platform/Failure.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <cppuhelper/bootstrap.hxx>

#include <csignal>
#include <unistd.h>

namespace office {

rtl::OUString ou(const QString& s) {
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), sal_Int32(s.size()));
}

QString qs(const rtl::OUString& s) {
    return QString(reinterpret_cast<const QChar*>(s.getStr()), s.getLength());
}

rtl::OUString fileUrl(const QString& path) {
    return ou(QUrl::fromLocalFile(QDir::cleanPath(path)).toString(QUrl::FullyEncoded));
}

css::uno::Sequence<css::beans::PropertyValue>
properties(std::initializer_list<std::pair<const char*, css::uno::Any>> list) {
    css::uno::Sequence<css::beans::PropertyValue> result(sal_Int32(list.size()));
    auto* out = result.getArray();
    for (const auto& [name, value] : list) {
        out->Name = rtl::OUString::createFromAscii(name);
        out->Value = value;
        ++out;
    }
    return result;
}

void failed(const css::uno::Exception& e, const char* what) {
    const QString message = qs(e.Message).trimmed();
    throw OfficeError(
        message.isEmpty()
            ? QStringLiteral("LibreOffice не выполнил действие «%1»").arg(QString::fromUtf8(what))
            : message);
}

namespace {

Reference<css::uno::XComponentContext> localContext() {
    // The bootstrap reads its type libraries and services through the office's
    // fundamentalrc; without it the bootstrap fails.
    static const Reference<css::uno::XComponentContext> context = [] {
        if (qEnvironmentVariableIsEmpty("URE_BOOTSTRAP"))
            qputenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" OFFICE_PROGRAM_DIR "/fundamentalrc");
        try {
            return cppu::defaultBootstrap_InitialComponentContext();
        } catch (const cppu::BootstrapException& e) {
            throw OfficeError(QStringLiteral("Связь с LibreOffice не налажена: ") +
                              qs(e.getMessage()));
        }
    }();
    return context;
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

Connection::Connection(Options options) : options_(std::move(options)) {
    // A write to an office that has gone (killed, or given up) must fail as a
    // call, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    if (options_.profileDir.isEmpty())
        options_.profileDir =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/tulmina/office-profile");
    if (options_.program.isEmpty())
        options_.program = QStringLiteral(OFFICE_PROGRAM_DIR "/soffice");
}

void Connection::connect() {
    const auto alive = [this] {
        try {
            desktop_->getComponents();
            return true;
        } catch (const css::uno::Exception&) {
            return false;
        }
    };
    if (desktop_.is()) {
        if (call("подключение", alive))
            return;   // still alive: the connection is kept
        disconnect(); // the office has gone away: attach or start anew
    }
    if (!call("подключение", [this] { return attach(); }))
        startOffice();
    desktop_ = call("подключение", [this] { return css::frame::Desktop::create(office_); });
}

void Connection::disconnect() noexcept {
    desktop_.clear();
    office_.clear();
}

// The processes of the office that listens on the program's pipe: the office
// and the launcher that waits for it.
void Connection::endOffice() noexcept {
    const QByteArray mark = "pipe,name=" + options_.pipeName.toUtf8() + ';';
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isProcess = false;
        const pid_t pid = pid_t(entry.toInt(&isProcess));
        QFile commandLine(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (isProcess && pid != ::getpid() && commandLine.open(QIODevice::ReadOnly) &&
            commandLine.readAll().contains(mark))
            ::kill(pid, SIGKILL);
    }
}

bool Connection::attach() {
    const rtl::OUString url = ou(
        QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(options_.pipeName));
    try {
        Reference<css::bridge::XUnoUrlResolver> resolver =
            css::bridge::UnoUrlResolver::create(localContext());
        office_.set(resolver->resolve(url), css::uno::UNO_QUERY_THROW);
        return true;
    } catch (const css::connection::NoConnectException&) {
        return false;
    }
}

void Connection::startOffice() {
    QStringList args{QStringLiteral("--accept=pipe,name=%1;urp;StarOffice.ComponentContext")
                         .arg(options_.pipeName),
                     QStringLiteral("--norestore"),
                     QStringLiteral("--nologo"),
                     QStringLiteral("--nodefault"),
                     QStringLiteral("--nolockcheck"),
                     QStringLiteral("-env:UserInstallation=") +
                         QUrl::fromLocalFile(options_.profileDir).toString(QUrl::FullyEncoded)};
    if (options_.headless || !hasDisplay())
        args << QStringLiteral("--headless");
    // The office outlives the program: it must not hold the program's output.
    QProcess office;
    office.setProgram(options_.program);
    office.setArguments(args);
    office.setStandardInputFile(QProcess::nullDevice());
    office.setStandardOutputFile(QProcess::nullDevice());
    office.setStandardErrorFile(QProcess::nullDevice());
    if (!office.startDetached())
        throw OfficeError(
            QStringLiteral("Не удалось запустить LibreOffice (%1)").arg(options_.program));
    // A new profile takes the office a few seconds to make. The window goes on
    // painting meanwhile; the user's input waits.
    const QDeadlineTimer deadline(options_.startTimeoutMs);
    EventWait pause;
    while (!call("подключение", [this] { return attach(); })) {
        if (deadline.hasExpired())
            throw OfficeError(QStringLiteral("LibreOffice не ответил за %1 с после запуска")
                                  .arg(options_.startTimeoutMs / 1000.0));
        pause.untilWoken(50);
    }
}

} // namespace office
