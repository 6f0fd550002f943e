#pragma once

// Permission failures cannot be provoked as root, and CI runs as root. These helpers
// run a piece of a test in a child process that has dropped to an unprivileged user,
// so that a read-only folder really refuses writes.

#include <QString>

#include <functional>

namespace cantavel::testing {

// Runs body in a forked child as user "nobody" (when started as root) and returns
// its exit status, or -1 when the child could not be run.
int runUnprivileged(const std::function<int()>& body);

// Runs body in a forked child that is killed when it has not ended after `seconds`:
// its exit status, -2 when it was killed (it blocked), -1 when it could not be run.
int runWithin(int seconds, const std::function<int()>& body);

// Makes path and every folder above it up to / traversable by other users.
void makeTraversable(const QString& path);

} // namespace cantavel::testing
