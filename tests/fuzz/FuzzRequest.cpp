// The single-instance guard's request line on any bytes: parsing always ends, and a
// request it takes is one a start would send for the same file and time.

#include "SingleInstance.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<cantavel::TXJustOne::Request> request =
        cantavel::TXJustOne::parseRequest(line);
    if (!request) {
        return 0;
    }
    if (line.size() > cantavel::TXJustOne::kMaxRequest || !line.endsWith('\n')) {
        std::abort(); // taken beyond its bounds
    }
    const QByteArray again = cantavel::TXJustOne::requestFor(request->file, request->startedAt);
    if (cantavel::TXJustOne::parseRequest(again) != request || again.count('\n') != 1) {
        std::abort(); // what a start would send for it means something else
    }
    return 0;
}
