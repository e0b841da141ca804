#include "data/ServerProbe.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

using Cause = ConnectionFailure::Cause;

Cause probeServer(const QString& host, int port, const QString& caFile, int timeoutMs) {
    QSslSocket socket;
    socket.connectToHost(host, quint16(port));
    if (!socket.waitForConnected(timeoutMs))
        return Cause::Unreachable;
    // PostgreSQL's SSLRequest: length 8, then the code 1234 5679. The server
    // answers one byte: 'S' to go on with TLS, 'N' without.
    static const char sslRequest[] = {0, 0, 0, 8, 0x04, char(0xd2), 0x16, 0x2f};
    socket.write(sslRequest, sizeof sslRequest);
    if (!socket.waitForReadyRead(timeoutMs))
        return Cause::Unreachable;
    char answer = 0;
    if (socket.read(&answer, 1) != 1 || answer != 'S')
        return Cause::Untrusted;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(caFile));
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket.setSslConfiguration(tls);
    socket.setPeerVerifyName(host);
    socket.startClientEncryption();
    if (!socket.waitForEncrypted(timeoutMs))
        return Cause::Untrusted;
    return Cause::Refused;
}
