#pragma once
#include <QString>

// How a generation run reaches the window: a notice for the user, the busy
// state while the outputs are at work, and the progress of the report.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void notice(const QString& text) = 0;  // a message with one "OK"
    virtual void busy() = 0;                       // shown at once: the run holds the window
    virtual void progressStarted(int maximum) = 0; // the bar shown, its position kept
    virtual void progress(int rowsDone) = 0;
    virtual void progressFinished() = 0; // the bar hidden
};
