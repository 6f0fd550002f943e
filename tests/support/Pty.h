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
    // Takes what arrives off the master, to be returned by the next read() or
    // drain(), until `total` bytes have arrived since the start or the time is up.
    // False when they did not all come.
    bool catchUp(qint64 total, std::chrono::milliseconds timeout = std::chrono::seconds(2));
    // Bytes taken off the master so far.
    qint64 total() const { return total_; }
    // How the line the program under test set up differs from the unit's (9600
    // baud, 8N1, no flow control of any kind): empty when it does not. The master
    // reads the settings of the program's end.
    QString unitLineMismatch() const;
    // Closes the master: the line is gone, as when a USB adapter is pulled out.
    void closeMaster();

private:
    // Reads once what is there within `timeout` (up to `limit` bytes): 1 when
    // something came, 0 when nothing did, -1 when the master is gone or failed.
    int readSome(QByteArray& into, int limit, int timeoutMs);

    int master_ = -1;
    QString slavePath_;
    QByteArray held_; // taken off the master by catchUp, not yet read
    qint64 total_ = 0;
};

} // namespace cantavel::testing
