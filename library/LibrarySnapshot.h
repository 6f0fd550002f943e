#pragma once

// The library as the index last held it, in memory: every file under the library's
// folders and the seven slots of each preset among them, with what the operator
// noted on them. A search runs over this, not over the database, so that it keeps
// up with typing; a scan or a change of tags makes a new one.

#include "ConfigRecord.h"
#include "LibraryQuery.h"
#include "Parameters.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

namespace cantavel {

struct LibraryFile {
    qint64 id = 0;       // the file's row in the index
    QString path;        // absolute
    QString name;        // relative to its library folder: as listed and searched
    QString folder;      // the library folder it was found under
    qint64 size = 0;     // bytes
    qint64 modified = 0; // ms since the epoch
    bool preset = false; // 294 bytes long; any other file is listed as not a preset
    int firstSlot = -1;  // its slot 0 in LibrarySnapshot::allSlots (7 in a row); -1 for none
};

// A parameter's shown value on a slot that does not show it (the Default Setting
// on slots 1 to 4).
inline constexpr std::int16_t kNotShown = INT16_MIN;

struct LibrarySlot {
    int file = 0; // in LibrarySnapshot::files
    int slot = 0; // 0 to 6
    std::array<std::uint8_t, kEffectPresetSize> preset{};
    std::array<std::uint8_t, kModeRecordSize> mode{};
    std::array<std::int16_t, kParameterCount> shown{}; // as the window shows each
    quint64 sound = 0; // the same for slots whose every shown value is the same
    bool favourite = false;
    QString note;
    QStringList tags; // sorted, as given
    int sameAs = -1;  // the first slot listed before it that sounds the same; -1 for none
    int alike = 1;    // the slots that sound like this one, itself included

    // A record holding this slot's bytes at `slot` (the other slots are a new
    // record's).
    ConfigRecord record() const;
};

// What a search found: slots and, for words alone, files that are not presets.
struct LibraryMatches {
    std::vector<int> matched; // slots, in the listing's order
    std::vector<int> otherFiles;
};

class LibrarySnapshot {
public:
    std::vector<LibraryFile> files; // by folder, then name
    std::vector<LibrarySlot> allSlots;
    QStringList folders;        // the library's folders when it was made
    QStringList missingFolders; // those that could not be read

    // Fills in what follows from the values: the slots that sound alike, and where
    // each file is by its path.
    void finish();

    LibraryMatches search(const LibraryQuery& query) const;
    bool matches(const LibrarySlot& slot, const LibraryQuery& query) const;

    // The file by its path; -1 when the snapshot has none.
    int findFile(const QString& path) const;
    // The slot of a file by its path; -1 when the snapshot has none.
    int findSlot(const QString& path, int slot) const;
    // "live/ballads.cfg, slot 3": a slot named for messages and listings.
    QString slotName(int index) const;
    // The values that differ from a new record's, on one line: made when asked for
    // (a listing asks only for the rows it shows), as 70,000 of them would take
    // more memory than the rest of the library.
    QString summary(int index) const;

private:
    QHash<QString, int> fileAt_; // by path: the window finds each row it keeps again
};

// A slot's values as the window shows them, one per parameter (kNotShown for those
// the slot does not show), and the sound they make together.
std::array<std::int16_t, kParameterCount> shownValues(const ConfigRecord& record, int slot);
quint64 soundOf(const std::array<std::int16_t, kParameterCount>& shown);

} // namespace cantavel
