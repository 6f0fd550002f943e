#pragma once

// A pseudo-terminal for tests: the test holds the master side and sees exactly the
// bytes the program under test puts on the line (and can send bytes back).

#include <QByteArray>
#include <QString>

#include <chrono>

namespace cantavel::testing {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool valid() const { return master_ >= 0; }
    QString slavePath() const { return slavePath_; }
    int master() const { return master_; }

    // Reads until count bytes have arrived or the time is up; returns what arrived.
    QByteArray read(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Reads whatever arrives until nothing more comes for quiet.
    QByteArray drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(200));
    bool write(const QByteArray& data);
    // Closes the master: the line is gone, as when a USB adapter is pulled out.
    void closeMaster();

private:
    int master_ = -1;
    QString slavePath_;
};

} // namespace cantavel::testing
