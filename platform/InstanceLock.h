#pragma once
#include <QString>

// One lock per logon session, tried without waiting and held for the life of
// the process. The kernel frees it when the process ends, however it ends.
class InstanceLock {
public:
    enum class State {
        Acquired,      // this process holds the lock
        HeldElsewhere, // another instance runs
        Unavailable,   // no lock could be made: the program must not run unguarded
    };

    explicit InstanceLock(const QString& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State state() const { return state_; }
    // Why no lock could be made, in Russian, naming the file.
    const QString& problem() const { return problem_; }

private:
    // The user's runtime folder, else a folder of the user's own under /tmp.
    static QString lockDirectory();

    int fd_ = -1;
    State state_ = State::Unavailable;
    QString problem_;
};
