#include "data/ServerProbe.h"

#include "platform/EventWait.h"

#include <QDeadlineTimer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

using Cause = ConnectionFailure::Cause;

namespace {

// Waits in the event loop until the socket reaches the state asked for, fails,
// or the time is up.
bool waitFor(QSslSocket& socket, EventWait& wait, const QDeadlineTimer& deadline,
             const std::function<bool()>& reached) {
    const auto wake = [&] { wait.wake(); };
    const QMetaObject::Connection watching[] = {
        QObject::connect(&socket, &QAbstractSocket::connected, wake),
        QObject::connect(&socket, &QAbstractSocket::readyRead, wake),
        QObject::connect(&socket, &QSslSocket::encrypted, wake),
        QObject::connect(&socket, &QAbstractSocket::errorOccurred, wake),
    };
    bool ok = reached();
    while (!ok && socket.error() == QAbstractSocket::UnknownSocketError && !deadline.hasExpired()) {
        wait.untilWoken(int(deadline.remainingTime()));
        ok = reached();
    }
    for (const auto& c : watching)
        QObject::disconnect(c);
    return ok;
}

QString timedOut(const QString& what) {
    return QStringLiteral("%1: нет ответа").arg(what);
}

} // namespace

ServerProbe probeServer(const QString& host, int port, const QString& caFile, int timeoutMs) {
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    QSslSocket socket;
    EventWait wait;
    const QDeadlineTimer deadline(timeoutMs);
    socket.connectToHost(host, quint16(port));
    if (!waitFor(socket, wait, deadline,
                 [&] { return socket.state() == QAbstractSocket::ConnectedState; }))
        return {Cause::Unreachable, socket.error() == QAbstractSocket::UnknownSocketError
                                        ? timedOut(where)
                                        : where + QStringLiteral(": ") + socket.errorString()};
    // PostgreSQL's SSLRequest: length 8, then the code 1234 5679. The server
    // answers one byte: 'S' to go on with TLS, 'N' without.
    static const char sslRequest[] = {0, 0, 0, 8, 0x04, char(0xd2), 0x16, 0x2f};
    socket.write(sslRequest, sizeof sslRequest);
    if (!waitFor(socket, wait, deadline, [&] { return socket.bytesAvailable() > 0; }))
        return {Cause::Unreachable, timedOut(where)};
    char answer = 0;
    if (socket.read(&answer, 1) != 1 || answer != 'S')
        return {Cause::Untrusted, where + QStringLiteral(": сервер не предлагает TLS")};
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(caFile));
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket.setSslConfiguration(tls);
    socket.setPeerVerifyName(host);
    socket.startClientEncryption();
    if (!waitFor(socket, wait, deadline, [&] { return socket.isEncrypted(); }))
        return {Cause::Untrusted, where + QStringLiteral(": сертификат сервера не подтверждён")};
    return {Cause::Refused, {}};
}
