#pragma once

// A small file system of the test's own, mounted on a scratch folder, that can be
// filled to the last block: writes there fail with ENOSPC exactly as on a full disk.
// Mounting needs root; elsewhere valid() is false and the test skips.

#include <QString>
#include <QTemporaryDir>

namespace cantavel::testing {

class FullDisk {
public:
    // `size` as tmpfs takes it: "64k", "2m".
    explicit FullDisk(const char* size = "64k");
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    bool valid() const { return mounted_; }
    // Why there is no file system to fill (for the skip message).
    QString whyNot() const { return whyNot_; }
    QString path(const QString& name) const;
    // Takes every free block; afterwards no byte more can be written.
    bool fill();

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString whyNot_;
};

// Makes a character device node with these numbers (a copy of /dev/full is 1, 7;
// of /dev/null 1, 3) in a scratch folder. Needs root; false elsewhere.
bool makeCharDevice(const QString& path, unsigned major, unsigned minor);

} // namespace cantavel::testing
