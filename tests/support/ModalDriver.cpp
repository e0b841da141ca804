#include "tests/support/ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>

ModalDriver::ModalDriver() {
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::poll);
    timer_.start(5);
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::then(Action action) {
    actions_.push_back(std::move(action));
}

namespace {
void recordBox(ModalDriver& d, QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
        d.boxTexts << box->text();
        d.boxCaptions << box->windowTitle();
    }
}
} // namespace

void ModalDriver::press(const QString& buttonText) {
    then([this, buttonText](QWidget* w) {
        recordBox(*this, w);
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            if (b->text() == buttonText) {
                b->click();
                return;
            }
        qWarning("ModalDriver: no button %s", qPrintable(buttonText));
        if (auto* d = qobject_cast<QDialog*>(w))
            d->reject();
    });
}

void ModalDriver::pressEscape() {
    then([this](QWidget* w) {
        recordBox(*this, w);
        QTest::keyClick(w, Qt::Key_Escape);
    });
}

void ModalDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) {
        current_ = nullptr;
        return;
    }
    if (modal == current_)
        return; // still closing after the last action
    current_ = modal;
    modal->installEventFilter(this);
    if (actions_.empty()) {
        ++unexpected;
        recordBox(*this, modal);
        if (auto* d = qobject_cast<QDialog*>(modal))
            d->reject();
        return;
    }
    Action action = std::move(actions_.front());
    actions_.pop_front();
    action(modal);
}

// A dialog shown again without a pause in between is a new showing.
bool ModalDriver::eventFilter(QObject* watched, QEvent* event) {
    if (watched == current_ && event->type() == QEvent::Hide)
        current_ = nullptr;
    return QObject::eventFilter(watched, event);
}
