#pragma once

// A raw pseudo-terminal for the benchmarks: the master is the unit's end of the
// line, the slave's name the port to open. Exits the program when none can be had.

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

struct PtyPair {
    int master = -1;
    int slave = -1;
    std::array<char, 128> name{};
    PtyPair() {
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, name.data(), &raw, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
    }
    ~PtyPair() {
        if (slave >= 0) {
            ::close(slave);
        }
        ::close(master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    void closeSlave() {
        ::close(slave);
        slave = -1;
    }
};
