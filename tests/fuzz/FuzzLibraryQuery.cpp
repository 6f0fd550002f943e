// The library's search box on any text: parsing never throws and always ends; a
// search it does not understand keeps no terms; one it understands searches a small
// library and finds only slots and files it holds, each once, in the listing's order.
// Every term and the same term with '-' before it part the slots between them, but for
// a condition on a value the slot does not show, which neither meets.

#include "LibraryQuery.h"
#include "LibrarySnapshot.h"
#include "ParameterValues.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>

using namespace cantavel;

namespace {

// Two presets (one slot of the second sounding as one of the first), a file that is
// not a preset, tags, a favourite and notes: every kind of term has something to find.
LibrarySnapshot makeLibrary() {
    LibrarySnapshot library;
    const auto addPreset = [&](const QString& name, const ConfigRecord& record) {
        LibraryFile file;
        file.id = qint64(library.files.size()) + 1;
        file.folder = QStringLiteral("/lib");
        file.name = name;
        file.path = file.folder + QLatin1Char('/') + name;
        file.size = kConfigImageSize;
        file.preset = true;
        file.firstSlot = int(library.allSlots.size());
        for (int slot = 0; slot < kSlotCount; ++slot) {
            LibrarySlot s;
            s.file = int(library.files.size());
            s.slot = slot;
            std::memcpy(s.preset.data(), &record.preset(slot), kEffectPresetSize);
            std::memcpy(s.mode.data(), &record.mode(slot), kModeRecordSize);
            s.shown = shownValues(record, slot);
            s.sound = soundOf(s.shown);
            library.allSlots.push_back(s);
        }
        library.files.push_back(file);
    };
    ConfigRecord plain{};
    plain.resetToDefaults();
    addPreset(QStringLiteral("live/Ballads.cfg"), plain);
    ConfigRecord changed = plain;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        // Every slot but 2 differs from the first file's; slot 2 sounds the same.
        if (slot != 2) {
            setShownValue(changed, slot, *parameterFromName(u"echoDelay"),
                          QString::number(200 + slot));
            setShownValue(changed, slot, *parameterFromName(u"keyIndex"), QStringLiteral("#+2"));
        }
    }
    addPreset(QStringLiteral("studio/Chœur ünïcode.cfg"), changed);

    LibraryFile other;
    other.id = 99;
    other.folder = QStringLiteral("/lib");
    other.name = QStringLiteral("notes/readme.cfg");
    other.path = QStringLiteral("/lib/notes/readme.cfg");
    other.size = 12;
    library.files.push_back(other);

    library.allSlots[1].tags = {QStringLiteral("ballad"), QStringLiteral("Warm")};
    library.allSlots[1].favourite = true;
    library.allSlots[8].note = QStringLiteral("für den Chor, \"live set\"");
    library.allSlots[12].tags = {QStringLiteral("hall")};
    library.allSlots[12].favourite = true;
    library.finish();
    return library;
}

const LibrarySnapshot& library() {
    static const LibrarySnapshot snapshot = makeLibrary();
    return snapshot;
}

void check(const LibraryQuery& query) {
    const LibrarySnapshot& lib = library();
    const LibraryMatches found = lib.search(query);
    const int slotTotal = int(lib.allSlots.size());
    const int fileTotal = int(lib.files.size());
    for (std::size_t i = 0; i < found.matched.size(); ++i) {
        const int s = found.matched[i];
        if (s < 0 || s >= slotTotal || (i > 0 && s <= found.matched[i - 1])) {
            std::abort(); // a slot out of range, twice, or out of the listing's order
        }
        if (!lib.matches(lib.allSlots[std::size_t(s)], query)) {
            std::abort(); // found by the search but not by the match of the same slot
        }
    }
    for (std::size_t i = 0; i < found.otherFiles.size(); ++i) {
        const int f = found.otherFiles[i];
        if (f < 0 || f >= fileTotal || lib.files[std::size_t(f)].preset ||
            (i > 0 && f <= found.otherFiles[i - 1])) {
            std::abort(); // a file out of range, a preset, twice, or out of order
        }
    }
    if (found.matched.size() + found.otherFiles.size() > std::size_t(slotTotal + fileTotal)) {
        std::abort();
    }
    // Each term against its opposite, slot by slot.
    for (const LibraryTerm& term : query.terms) {
        LibraryQuery one;
        one.terms = {term};
        LibraryQuery opposite;
        opposite.terms = {term};
        opposite.terms[0].negated = !term.negated;
        for (const LibrarySlot& slot : lib.allSlots) {
            const bool a = lib.matches(slot, one);
            const bool b = lib.matches(slot, opposite);
            const bool unshown = term.kind == LibraryTerm::Kind::Value &&
                                 slot.shown[std::size_t(term.parameter->id)] == kNotShown;
            if (unshown ? (a || b) : (a == b)) {
                std::abort(); // a term and its opposite do not part the slots
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    library();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    LibraryQuery query;
    try {
        query = parseLibraryQuery(text);
    } catch (const std::exception&) {
        std::abort(); // a search box's text never throws
    }
    if (!query.ok()) {
        if (!query.terms.empty()) {
            std::abort(); // a search not understood kept terms
        }
        const LibraryMatches found = library().search(query);
        if (!found.matched.empty() || !found.otherFiles.empty()) {
            std::abort(); // and still found something
        }
        return 0;
    }
    if (text.size() > kMaxQueryLength) {
        std::abort(); // taken beyond its bound
    }
    for (const LibraryTerm& term : query.terms) {
        const bool needsParameter = term.kind == LibraryTerm::Kind::Value;
        if (needsParameter != (term.parameter != nullptr)) {
            std::abort(); // a condition without its parameter, or a word with one
        }
        if ((term.kind == LibraryTerm::Kind::Word || term.kind == LibraryTerm::Kind::Tag) &&
            term.text.isEmpty()) {
            std::abort(); // a word or a tag of nothing
        }
    }
    check(query);
    return 0;
}
