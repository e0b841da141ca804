#pragma once
#include <QString>
#include <QtGlobal>

// Values of the signed-in operator, process-wide; set once by a successful
// sign-in. Only the login is read afterwards: it names the database link that
// is dropped when the main window closes.
struct SessionValues {
    QString OperatorLogin;
    qint64 OperatorId = 0; // ten-thousandths
    QString OperatorName;
};

inline SessionValues& session() {
    static SessionValues values;
    return values;
}
