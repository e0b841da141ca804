#include "app/fmPassword.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace {

QFont dialogFont(bool bold) {
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("DejaVu Sans")});
    f.setPixelSize(11);
    f.setBold(bold);
    return f;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QPoint at,
              const QColor& color) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(dialogFont(true));
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    l->move(at);
    l->adjustSize();
    l->resize(l->width(), 13);
    return l;
}

template <class W> W* control(QWidget* parent, const char* name, QRect geometry) {
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

} // namespace

TPasswordDlg::TPasswordDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("PasswordDlg"));
    setWindowTitle(QStringLiteral("Авторизация"));
    setFont(dialogFont(false));
    setFixedSize(179, 144);
    // The button-face colour as the dialog's own background, so that the labels
    // draw in their palette's window-text colour.
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    setPalette(p);

    const QColor windowText = palette().color(QPalette::WindowText);
    Label2 = label(this, "Label2", QStringLiteral("Имя (в АСР \"Кварн\")"), {8, 3}, windowText);
    UserName = control<QLineEdit>(this, "UserName", {8, 19, 121, 21});
    Label1 = label(this, "Label1", QStringLiteral("Пароль"), {8, 43}, windowText);
    Password = control<QLineEdit>(this, "Password", {8, 59, 161, 21});
    Password->setEchoMode(QLineEdit::Password);
    Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    OKBtn = control<QPushButton>(this, "OKBtn", {15, 88, 75, 25});
    OKBtn->setText(QStringLiteral("OK"));
    OKBtn->setDefault(true);
    CancelBtn = control<QPushButton>(this, "CancelBtn", {95, 88, 75, 25});
    CancelBtn->setText(QStringLiteral("Cancel"));
    Label3 = label(this, "Label3", QString(), {8, 120}, QColor(Qt::red));

    setTabOrder(UserName, Password);
    setTabOrder(Password, OKBtn);
    setTabOrder(OKBtn, CancelBtn);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TPasswordDlg::setMessage(const QString& text) {
    Label3->setText(text);
    Label3->adjustSize();
}

void TPasswordDlg::showEvent(QShowEvent* event) {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    UserName->setFocus();
    QDialog::showEvent(event);
}
