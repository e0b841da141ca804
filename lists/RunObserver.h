#pragma once

// How a generation run shows its state on the window while it holds it: the
// busy state while the outputs are at work, and the progress of the report.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void busy() = 0;                       // shown at once: the run holds the window
    virtual void progressStarted(int maximum) = 0; // the bar shown, its position kept
    virtual void progress(int rowsDone) = 0;
    virtual void progressFinished() = 0; // the bar hidden
};
