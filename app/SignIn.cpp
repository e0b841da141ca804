#include "app/SignIn.h"

#include "ConnectionConfig.h"
#include "app/FieldValue.h"
#include "app/fmPassword.h"
#include "data/DbError.h"
#include "data/Session.h"
#include "data/fmCommonDM.h"
#include "ui/MessageBoxes.h"

#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>

namespace {

void checkLink(TdmCommon& dm, const QString& user, const QString& upperUser) {
    SqlQuery& q = *dm.sqCreateDropChannel;
    q.clear();
    for (const QString& line : TdmCommon::linkCheckLines())
        q.addLine(line);
    q.setParamText(QStringLiteral("name_link"), upperUser);
    q.open();
    const QVariant existing = q.value(QStringLiteral("db_link"));
    if (!existing.isNull() && existing.toString() == upperUser)
        dm.SQLConnectionKvarn.executeDirect(QStringLiteral("drop database link ") + user);
    q.close();
}

QString linkCreation(const QString& user, const QString& password) {
    return QStringLiteral("create database link ") + user + QStringLiteral(" connect to ") + user +
           QStringLiteral(" identified by \"") + password + QStringLiteral("\" using '") +
           QString::fromUtf8(config::BillingAlias) + u'\'';
}

void lookUpOperator(TdmCommon& dm, const QString& user) {
    SqlQuery& q = *dm.sqCreateDropChannel;
    q.clear();
    q.addLine(QStringLiteral("select t.oper_id"));
    q.addLine(QStringLiteral(", t.name as operator_name"));
    q.addLine(QStringLiteral(", t.login_name"));
    q.addLine(QStringLiteral(", t.note"));
    q.addLine(QStringLiteral("from t_operators@") + user + QStringLiteral(" t"));
    q.addLine(QStringLiteral("where t.login_name = upper('") + user + QStringLiteral("')"));
    q.open();
    SessionValues& s = session();
    s.OperatorId = requireFixed4(q.value(QStringLiteral("OPER_ID")), QStringLiteral("OPER_ID"));
    s.OperatorLogin =
        requireText(q.value(QStringLiteral("LOGIN_NAME")), QStringLiteral("LOGIN_NAME"));
    s.OperatorName =
        requireText(q.value(QStringLiteral("OPERATOR_NAME")), QStringLiteral("OPERATOR_NAME"));
    q.close();
    dm.closeLinkCheck(user);
}

void countFailure(SignInState& state, const QString& why) {
    ++state.SignInAttempts;
    state.lastFailure = why;
}

// The name or the password did not do: counted, and the user asked again.
void tryAgain(TPasswordDlg& dialog, SignInState& state) {
    countFailure(state, QStringLiteral("имя или пароль не подошли"));
    dialog.setMessage(QStringLiteral("Попробуйте еще раз"));
}

void attempt(TPasswordDlg& dialog, TdmCommon& dm, SignInState& state) {
    const QString user = trimControl(dialog.UserName->text());
    const QString upperUser = QLocale(QLocale::Russian).toUpper(user);
    const QString password = trimControl(dialog.Password->text());
    // Nothing typed here may become SQL, and no user may take the name of a link
    // the program itself reads through: such an attempt fails before anything
    // is sent, and the user is told to try again.
    if (!isPlainIdentifier(user) || TdmCommon::isFixedLink(user) || password.contains(u'"') ||
        password.contains(QChar(0))) {
        tryAgain(dialog, state);
        return;
    }

    SqlConnection& connection = dm.SQLConnectionKvarn;
    if (!connection.connected()) {
        try {
            connection.open();
        } catch (const ConnectionFailure& failure) {
            countFailure(state, connectionProblemLine(failure).toLower());
            dialog.setMessage(connectionProblemLine(failure));
            return;
        }
    }
    checkLink(dm, user, upperUser);
    if (connection.executeDirect(linkCreation(user, password)) != 0)
        return;
    try {
        lookUpOperator(dm, user);
    } catch (const DbError&) {
        dm.sqCreateDropChannel->close();
        connection.executeDirect(QStringLiteral("drop database link ") + user);
        tryAgain(dialog, state);
        return;
    }
    state.SignInPending = false;
}

} // namespace

QString connectionProblemLine(const ConnectionFailure& failure) {
    switch (failure.cause()) {
    case ConnectionFailure::Cause::Unreachable:
        return QStringLiteral("Нет связи с сервером");
    case ConnectionFailure::Cause::Untrusted:
        return QStringLiteral("Сервер не опознан");
    case ConnectionFailure::Cause::Refused:
        break;
    }
    return QStringLiteral("Сервер отказал во входе");
}

SignInState& signInState() {
    static SignInState state;
    return state;
}

QString trimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

bool isPlainIdentifier(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z][A-Za-z0-9_$#]{0,29}$"));
    return plain.match(name).hasMatch();
}

void runSignInLoop(TPasswordDlg& dialog, TdmCommon& dm) {
    SignInState& state = signInState();
    state = {};
    while (state.SignInAttempts <= 2 && state.SignInPending) {
        if (dialog.exec() != QDialog::Accepted) {
            state.SignInAttempts = 3;
            return;
        }
        // A failure of the server counts, and nothing of its own words is shown.
        // A server the user stopped waiting for refused nothing: no count.
        try {
            attempt(dialog, dm, state);
        } catch (const DbError& e) {
            if (e.sqlState() == QLatin1String("08001")) { // the billing server's own state
                countFailure(state, QStringLiteral("сервер биллинга недоступен"));
                dialog.setMessage(QStringLiteral("Сервер биллинга недоступен"));
                continue;
            }
            countFailure(state, QStringLiteral("сервер базы данных не принял вход"));
        } catch (const Stopped&) {
            dialog.setMessage(QStringLiteral("Сервер не ответил"));
        }
    }
    if (state.SignInPending)
        msgbox::inform(QStringLiteral("Вход не выполнен: три попытки не удались (%1). "
                                      "Программа закрывается.")
                           .arg(state.lastFailure));
}
