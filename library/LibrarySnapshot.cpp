#include "LibrarySnapshot.h"

#include "ParameterValues.h"

#include <cstring>
#include <unordered_map>

namespace cantavel {

ConfigRecord LibrarySlot::record() const {
    ConfigRecord record{};
    record.resetToDefaults();
    std::memcpy(&record.preset(slot), preset.data(), preset.size());
    std::memcpy(&record.mode(slot), mode.data(), mode.size());
    return record;
}

std::array<std::int16_t, kParameterCount> shownValues(const ConfigRecord& record, int slot) {
    std::array<std::int16_t, kParameterCount> shown{};
    for (const Parameter& p : parameterTable()) {
        shown[static_cast<std::size_t>(p.id)] =
            slotHas(slot, p) ? static_cast<std::int16_t>(shownValue(record, slot, p)) : kNotShown;
    }
    return shown;
}

quint64 soundOf(const std::array<std::int16_t, kParameterCount>& shown) {
    quint64 hash = 14695981039346656037ull; // FNV-1a
    for (const std::int16_t value : shown) {
        const auto bits = static_cast<std::uint16_t>(value);
        for (const unsigned byte : {bits & 0xFFu, unsigned(bits) >> 8}) {
            hash = (hash ^ byte) * 1099511628211ull;
        }
    }
    return hash;
}

void LibrarySnapshot::finish() {
    std::unordered_map<quint64, int> first;
    std::unordered_map<quint64, int> count;
    first.reserve(allSlots.size());
    for (std::size_t i = 0; i < allSlots.size(); ++i) {
        LibrarySlot& s = allSlots[i];
        const auto [at, isNew] = first.try_emplace(s.sound, static_cast<int>(i));
        s.sameAs = isNew ? -1 : at->second;
        ++count[s.sound];
    }
    for (LibrarySlot& s : allSlots) {
        s.alike = count[s.sound];
    }
    fileAt_.clear();
    fileAt_.reserve(qsizetype(files.size()));
    for (std::size_t f = 0; f < files.size(); ++f) {
        fileAt_.insert(files[f].path, static_cast<int>(f));
    }
}

namespace {

bool contains(const QString& text, const QString& word) {
    return text.contains(word, Qt::CaseInsensitive);
}

// Whether a word is in the slot's note or tags (its file's name is asked once per
// file, not once per slot).
bool slotHoldsWord(const LibrarySlot& slot, const QString& word) {
    return contains(slot.note, word) ||
           std::any_of(slot.tags.begin(), slot.tags.end(),
                       [&](const QString& tag) { return contains(tag, word); });
}

// Whether each term that is a word is in the file's name.
void wordsInName(const LibraryQuery& query, const LibraryFile& file, std::vector<char>& inName) {
    inName.resize(query.terms.size());
    for (std::size_t i = 0; i < query.terms.size(); ++i) {
        const LibraryTerm& term = query.terms[i];
        inName[i] = term.kind == LibraryTerm::Kind::Word && contains(file.name, term.text);
    }
}

bool termHolds(const LibraryTerm& term, bool inName, const LibrarySlot& slot) {
    switch (term.kind) {
    case LibraryTerm::Kind::Word:
        return (inName || slotHoldsWord(slot, term.text)) != term.negated;
    case LibraryTerm::Kind::Value: {
        // A value the slot does not have (the Default Setting on slots 1 to 4) meets
        // no condition, nor its opposite.
        const std::int16_t shown = slot.shown[static_cast<std::size_t>(term.parameter->id)];
        return shown != kNotShown && term.holds(shown) != term.negated;
    }
    case LibraryTerm::Kind::Tag: {
        const bool tagged = std::any_of(slot.tags.begin(), slot.tags.end(), [&](const QString& t) {
            return t.compare(term.text, Qt::CaseInsensitive) == 0;
        });
        return tagged != term.negated;
    }
    case LibraryTerm::Kind::Favourite:
        return slot.favourite != term.negated;
    case LibraryTerm::Kind::Duplicate:
        return (slot.alike > 1) != term.negated;
    }
    return false;
}

bool allHold(const LibraryQuery& query, const std::vector<char>& inName, const LibrarySlot& slot) {
    for (std::size_t i = 0; i < query.terms.size(); ++i) {
        if (!termHolds(query.terms[i], inName[i] != 0, slot)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool LibrarySnapshot::matches(const LibrarySlot& slot, const LibraryQuery& query) const {
    if (!query.ok()) {
        return false;
    }
    std::vector<char> inName;
    wordsInName(query, files[static_cast<std::size_t>(slot.file)], inName);
    return allHold(query, inName, slot);
}

LibraryMatches LibrarySnapshot::search(const LibraryQuery& query) const {
    LibraryMatches found;
    if (!query.ok()) {
        return found; // nothing stale: a search not understood finds nothing
    }
    const bool wordsOnly =
        std::all_of(query.terms.begin(), query.terms.end(),
                    [](const LibraryTerm& t) { return t.kind == LibraryTerm::Kind::Word; });
    std::vector<char> inName;
    for (std::size_t f = 0; f < files.size(); ++f) {
        const LibraryFile& file = files[f];
        wordsInName(query, file, inName);
        if (file.firstSlot < 0) {
            bool all = wordsOnly;
            for (std::size_t i = 0; all && i < query.terms.size(); ++i) {
                all = (inName[i] != 0) != query.terms[i].negated;
            }
            if (all) {
                found.otherFiles.push_back(static_cast<int>(f));
            }
            continue;
        }
        for (int s = file.firstSlot; s < file.firstSlot + kSlotCount; ++s) {
            if (allHold(query, inName, allSlots[static_cast<std::size_t>(s)])) {
                found.matched.push_back(s);
            }
        }
    }
    return found;
}

int LibrarySnapshot::findFile(const QString& path) const {
    return fileAt_.value(path, -1);
}

int LibrarySnapshot::findSlot(const QString& path, int slot) const {
    const int file = findFile(path);
    if (file < 0 || slot < 0 || slot >= kSlotCount) {
        return -1;
    }
    const int first = files[static_cast<std::size_t>(file)].firstSlot;
    return first < 0 ? -1 : first + slot;
}

namespace {

// The parameters whose values differ from a new record's, as "Delay 120, Key #+2".
QString slotSummary(const ConfigRecord& record, int slot) {
    static const ConfigRecord fresh = [] {
        ConfigRecord r{};
        r.resetToDefaults();
        return r;
    }();
    QStringList changed;
    for (const Parameter* p : slotParameters(slot)) {
        const QString text = shownText(record, slot, *p);
        if (text != shownText(fresh, slot, *p)) {
            changed << QStringLiteral("%1 %2").arg(QLatin1String(p->name), shownOrNone(text));
        }
    }
    return changed.join(QStringLiteral(", "));
}

} // namespace

QString LibrarySnapshot::summary(int index) const {
    const LibrarySlot& s = allSlots[std::size_t(index)];
    return slotSummary(s.record(), s.slot);
}

QString LibrarySnapshot::slotName(int index) const {
    const LibrarySlot& s = allSlots[static_cast<std::size_t>(index)];
    const LibraryFile& file = files[static_cast<std::size_t>(s.file)];
    return slotOfFile(file.name, s.slot);
}

} // namespace cantavel
