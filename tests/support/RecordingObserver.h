#pragma once
#include "lists/RunObserver.h"

#include <QList>
#include <QStringList>

// Records what a generation run tells the window.
class RecordingObserver : public RunObserver {
public:
    QStringList notices;
    int busyCalls = 0;
    QList<int> progressValues; // maximum first (negated), then each position
    bool progressShown = false;

    void notice(const QString& text) override { notices << text; }
    void busy() override { ++busyCalls; }
    void progressStarted(int maximum) override {
        progressShown = true;
        progressValues << -maximum;
    }
    void progress(int rowsDone) override { progressValues << rowsDone; }
    void progressFinished() override { progressShown = false; }
};
