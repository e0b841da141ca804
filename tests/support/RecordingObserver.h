#pragma once
#include "lists/RunObserver.h"

#include <QList>
#include <QStringList>
#include <functional>

// Records what a generation run tells the window.
class RecordingObserver : public RunObserver {
public:
    QStringList notices;
    int busyCalls = 0;
    QList<int> progressValues; // maximum first (negated), then each position
    bool progressShown = false;
    std::function<void()> onProgress; // may throw to simulate a failure between blocks

    void notice(const QString& text) override { notices << text; }
    void busy() override { ++busyCalls; }
    void progressStarted(int maximum) override {
        progressShown = true;
        progressValues << -maximum;
    }
    void progress(int rowsDone) override {
        progressValues << rowsDone;
        if (onProgress)
            onProgress();
    }
    void progressFinished() override { progressShown = false; }
};
