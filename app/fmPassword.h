#pragma once
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The sign-in dialog PasswordDlg: the billing user name and password. It is
// made once and kept until the sign-in loop ends, so its fields keep their
// contents from one showing to the next.
class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordDlg(QWidget* parent = nullptr);

    QLabel* Label2;
    QLineEdit* UserName;
    QLabel* Label1;
    QLineEdit* Password;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QLabel* Label3; // message line

    void setMessage(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
};
