#pragma once
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

// Plays the user at modal windows: each queued action is applied to the next
// modal window that comes up (a real dialog or message box, shown offscreen).
class ModalDriver : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void(QWidget*)>;
    ModalDriver();
    ~ModalDriver() override;

    void then(Action action);
    // Message boxes: records the box's text and presses the button with that text.
    void press(const QString& buttonText);
    void pressEscape();

    QStringList boxTexts;    // text of every message box handled, in order
    QStringList boxCaptions; // and its caption
    int pending() const { return int(actions_.size()); }
    int unexpected = 0; // modal windows that came with no action queued (they are rejected)

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void poll();
    std::deque<Action> actions_;
    QPointer<QWidget> current_;
    QTimer timer_;
};
