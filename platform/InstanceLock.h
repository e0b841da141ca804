#pragma once
#include <QString>

// One lock per logon session, tried without waiting and held for the life of
// the process. The kernel frees it when the process ends, however it ends.
class InstanceLock {
public:
    explicit InstanceLock(const QString& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock. When the lock file cannot be
    // made at all, the program runs without the guard and this is true.
    bool acquired() const { return acquired_; }
    static QString lockDirectory();

private:
    int fd_ = -1;
    bool acquired_ = false;
};
