#pragma once
#include "lists/RunObserver.h"

#include <QList>

// Records what a generation run shows on the window.
class RecordingObserver : public RunObserver {
public:
    int busyCalls = 0;
    QList<int> progressValues; // maximum first (negated), then each position
    bool progressShown = false;

    void busy() override { ++busyCalls; }
    void progressStarted(int maximum) override {
        progressShown = true;
        progressValues << -maximum;
    }
    void progress(int rowsDone) override { progressValues << rowsDone; }
    void progressFinished() override { progressShown = false; }
};
