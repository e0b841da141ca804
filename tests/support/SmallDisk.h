#pragma once
#include <QString>

// A small file system of its own (tmpfs) mounted over a folder while it lives,
// for a disk that fills up under the program. Mounting takes root; where it
// cannot be had, mounted() is false and the folder is left as it is.
class SmallDisk {
public:
    SmallDisk(const QString& folder, int kilobytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    // Takes every byte left with a file of its own; free() gives them back.
    void fill();
    void free();

private:
    QString folder_;
    bool mounted_ = false;
};
