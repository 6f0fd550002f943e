// cantavel-unit: a virtual Digital Cantavel Processor on a pseudo-terminal. It prints
// the device path to give the editor as its port, then one decoded line per frame the
// editor sends. It only listens: the link is one-way.

#include "UnitDecoder.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

void usage(FILE* to) {
    std::fputs("Usage: cantavel-unit [--link PATH] [--quiet]\n"
               "\n"
               "Starts a virtual unit on a pseudo-terminal and prints its device path as\n"
               "  port: /dev/pts/N\n"
               "then one line for each frame received, for example\n"
               "  live 0 echoDelay = 100\n"
               "  preset upload slot 2 (index 1): 55 00 05 ...\n"
               "  mode upload Default (index 6): 55 04 20 ...\n"
               "\n"
               "  --link PATH   also make PATH a symbolic link to the device (replacing an\n"
               "                existing link there), removed again at exit\n"
               "  --quiet       print only the port line and the frames\n"
               "\n"
               "Type 'state' and Enter to print the seven slots the unit holds, 'image FILE'\n"
               "to write them as a 294-byte configuration image, 'quit' to end.\n",
               to);
}

void print(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::string linkPath;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--link" && i + 1 < argc) {
            linkPath = argv[++i];
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "cantavel-unit: unknown argument '%s'\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::fprintf(stderr, "cantavel-unit: cannot create a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    const std::string device = ::ptsname(master);
    // Holding the slave side open keeps the line up while the editor closes and
    // reopens the port between uploads (otherwise the master reports a hang-up).
    const int holder = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (holder < 0 || ::tcgetattr(holder, &raw) != 0) {
        std::fprintf(stderr, "cantavel-unit: cannot open %s: %s\n", device.c_str(),
                     std::strerror(errno));
        return 1;
    }
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600); // 9600 baud, 8 data bits, no parity, 1 stop bit
    ::tcsetattr(holder, TCSANOW, &raw);

    if (!linkPath.empty()) {
        struct stat st {};
        if (::lstat(linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            ::unlink(linkPath.c_str());
        }
        if (::symlink(device.c_str(), linkPath.c_str()) != 0) {
            std::fprintf(stderr, "cantavel-unit: cannot link %s to %s: %s\n", linkPath.c_str(),
                         device.c_str(), std::strerror(errno));
            return 1;
        }
    }

    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);

    std::printf("port: %s\n", device.c_str());
    if (!linkPath.empty()) {
        std::printf("link: %s -> %s\n", linkPath.c_str(), device.c_str());
    }
    if (!quiet) {
        std::printf("listening at 9600 8N1%s\n",
                    ::isatty(0) == 1 ? "; type 'state' for the unit's slots, 'quit' to end" : "");
    }
    std::fflush(stdout);

    cantavel::UnitDecoder decoder;
    std::array<std::uint8_t, 4096> buffer{};
    std::string input;
    bool stdinOpen = true;
    while (stopRequested == 0) {
        int timeout = -1;
        if (const auto due = decoder.deadline()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                *due - cantavel::UnitDecoder::Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        }
        std::array<pollfd, 2> fds{{{master, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}}};
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        const auto now = cantavel::UnitDecoder::Clock::now();
        if (fds[0].revents & POLLIN) {
            const ssize_t got = ::read(master, buffer.data(), buffer.size());
            if (got > 0) {
                print(decoder.feed(std::span(buffer.data(), static_cast<std::size_t>(got)), now));
            }
        }
        print(decoder.expire(now));
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char chunk[256];
            const ssize_t got = ::read(0, chunk, sizeof chunk);
            if (got <= 0) {
                stdinOpen = false; // no terminal: keep listening
                continue;
            }
            input.append(chunk, static_cast<std::size_t>(got));
            for (std::size_t nl; (nl = input.find('\n')) != std::string::npos;) {
                const std::string command = input.substr(0, nl);
                input.erase(0, nl + 1);
                if (command == "state") {
                    print(decoder.describeState());
                } else if (command.rfind("image ", 0) == 0) {
                    const std::string file = command.substr(6);
                    FILE* out = std::fopen(file.c_str(), "wb");
                    const auto image = decoder.state().image();
                    const bool ok = out != nullptr &&
                                    std::fwrite(image.data(), 1, image.size(), out) == image.size();
                    if (out != nullptr) {
                        std::fclose(out);
                        if (!ok) {
                            std::remove(file.c_str());
                        }
                    }
                    print({ok ? "image written to " + file : "cannot write " + file});
                } else if (command == "quit") {
                    stopRequested = 1;
                } else if (!command.empty()) {
                    print({"commands: state, image FILE, quit"});
                }
            }
        }
    }

    const auto& c = decoder.counts();
    if (!quiet) {
        std::printf("received %d live commands, %d preset uploads, %d mode uploads, "
                    "%d unknown bytes, %d cut frames\n",
                    c.live, c.presetUploads, c.modeUploads, c.unknownBytes, c.cutFrames);
    }
    if (!linkPath.empty()) {
        ::unlink(linkPath.c_str());
    }
    ::close(holder);
    ::close(master);
    return 0;
}
