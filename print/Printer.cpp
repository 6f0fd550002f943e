#include "Printer.h"

#include "QtPrinter.h"

#include <memory>

namespace cantavel {

namespace {
TPrinter* chosen = nullptr;
} // namespace

TPrinter& Printer() {
    if (chosen) {
        return *chosen;
    }
    static const std::unique_ptr<QtPrinter> system = std::make_unique<QtPrinter>();
    return *system;
}

TPrinter* SetPrinter(TPrinter* printer) {
    TPrinter* before = chosen;
    chosen = printer;
    return before;
}

} // namespace cantavel
