#include "SlotTransfer.h"

#include "Elide.h"

#include "ParameterValues.h"
#include "PresetDocument.h"

#include <QMimeData>
#include <QStringConverter>
#include <QStringList>

#include <algorithm>
#include <cstring>

namespace cantavel {

namespace {

// Our own form, version 1:
//   byte 0        the version
//   byte 1        the slot, 0 to 6
//   bytes 2-18    the slot's effect preset
//   bytes 19-43   the slot's mode record
//   bytes 44-45   the length of the source in bytes, big-endian
//   bytes 46-     the source, UTF-8
// A later version is refused rather than guessed at.
constexpr std::uint8_t kVersion = 1;
constexpr qsizetype kHeaderSize = 2 + kEffectPresetSize + kModeRecordSize + 2;
constexpr qsizetype kMaxSourceBytes = 1024;
// A text form holds some thirty short lines; anything far beyond that is not one.
constexpr qsizetype kMaxTextChars = 64 * 1024;

// The source cut to the bound, never inside a character.
QByteArray boundedSource(const QString& source) {
    QByteArray utf8 = source.toUtf8();
    if (utf8.size() > kMaxSourceBytes) {
        qsizetype end = kMaxSourceBytes;
        while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) {
            --end; // a continuation byte: its character begins before it
        }
        utf8.truncate(end);
    }
    return utf8;
}

QByteArray encode(const ConfigRecord& record, int slot, const QString& source) {
    const QByteArray text = boundedSource(source);
    QByteArray bytes;
    bytes.reserve(kHeaderSize + text.size());
    bytes.append(static_cast<char>(kVersion));
    bytes.append(static_cast<char>(slot));
    bytes.append(reinterpret_cast<const char*>(&record.preset(slot)), kEffectPresetSize);
    bytes.append(reinterpret_cast<const char*>(&record.mode(slot)), kModeRecordSize);
    bytes.append(static_cast<char>((text.size() >> 8) & 0xFF));
    bytes.append(static_cast<char>(text.size() & 0xFF));
    bytes.append(text);
    return bytes;
}

// A record of defaults, which the slot's values then take their place in.
ConfigRecord defaultRecord() {
    ConfigRecord record{};
    record.resetToDefaults();
    return record;
}

std::optional<SlotTransfer> decode(const QByteArray& bytes, QString* why) {
    const auto refuse = [why](const QString& reason) -> std::optional<SlotTransfer> {
        if (why) {
            *why = reason;
        }
        return std::nullopt;
    };
    const auto at = [&](qsizetype i) { return static_cast<std::uint8_t>(bytes[i]); };
    if (bytes.size() < kHeaderSize) {
        return refuse(QStringLiteral("The slot data is cut short."));
    }
    if (at(0) != kVersion) {
        return refuse(QStringLiteral("The slot data is of another version (%1).").arg(at(0)));
    }
    const int slot = at(1);
    if (slotKind(slot) == SlotKind::None) {
        return refuse(QStringLiteral("The slot data names no slot (%1).").arg(slot));
    }
    const qsizetype sourceSize = (qsizetype{at(kHeaderSize - 2)} << 8) | at(kHeaderSize - 1);
    if (sourceSize > kMaxSourceBytes || bytes.size() != kHeaderSize + sourceSize) {
        return refuse(QStringLiteral("The slot data has the wrong length."));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString source = utf8.decode(QByteArrayView(bytes).sliced(kHeaderSize));
    if (utf8.hasError()) {
        return refuse(QStringLiteral("The slot data's source is not UTF-8."));
    }
    SlotTransfer transfer{defaultRecord(), slot, std::move(source)};
    std::memcpy(&transfer.record.preset(slot), bytes.constData() + 2, kEffectPresetSize);
    std::memcpy(&transfer.record.mode(slot), bytes.constData() + 2 + kEffectPresetSize,
                kModeRecordSize);
    return transfer;
}

// The text form: assignments of one slot, applied to a slot of defaults as
// `cantavel-cfg set` applies them, so that the same rules between values hold.
std::optional<SlotTransfer> fromText(const QString& text, QString* why) {
    const auto refuse = [why](const QString& reason) -> std::optional<SlotTransfer> {
        if (why) {
            *why = reason;
        }
        return std::nullopt;
    };
    if (text.size() > kMaxTextChars) {
        return refuse(QStringLiteral("The text is too long to be a slot's values."));
    }
    QStringList assignments;
    int slot = -1;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString assignment = line.trimmed();
        if (assignment.isEmpty() || assignment.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const Assignment a = parseAssignment(assignment);
        if (a.fault != Assignment::Fault::None) {
            return refuse(QStringLiteral("'%1' is not a slot's value (SLOT.PARAMETER=VALUE).")
                              .arg(elideMiddle(assignment)));
        }
        if (slot >= 0 && a.slot != slot) {
            return refuse(QStringLiteral("The text holds values of more than one slot."));
        }
        slot = a.slot;
        assignments << assignment;
    }
    if (assignments.isEmpty()) {
        return refuse(QStringLiteral("The text holds no slot's values."));
    }
    SlotTransfer transfer{defaultRecord(), slot, {}};
    for (const QString& assignment : assignments) {
        const ParameterId id = parseAssignment(assignment).parameter->id;
        if (std::find(transfer.given.begin(), transfer.given.end(), id) == transfer.given.end()) {
            transfer.given.push_back(id);
        }
    }
    PresetDocument document(transfer.record);
    if (const AssignmentFault fault = applyAssignments(document, assignments);
        fault.kind != AssignmentFault::Kind::None) {
        return refuse(QStringLiteral("%1: %2").arg(elideMiddle(assignments[fault.index]),
                                                   elideMiddle(fault.why, 200)));
    }
    return transfer;
}

} // namespace

std::unique_ptr<QMimeData> slotMimeData(const ConfigRecord& record, int slot,
                                        const QString& source) {
    auto data = std::make_unique<QMimeData>();
    if (slotKind(slot) == SlotKind::None) {
        return data; // no slot: nothing to carry
    }
    data->setData(QLatin1String(kSlotMimeType), encode(record, slot, source));
    data->setText(slotAssignments(record, slot));
    return data;
}

std::optional<SlotTransfer> slotFromMimeData(const QMimeData& data, QString* why) {
    // Our own form is exact; when it is there but damaged, the text beside it is not
    // trusted either.
    if (data.hasFormat(QLatin1String(kSlotMimeType))) {
        return decode(data.data(QLatin1String(kSlotMimeType)), why);
    }
    if (data.hasText()) {
        return fromText(data.text(), why);
    }
    if (why) {
        *why = QStringLiteral("There is neither a slot nor text.");
    }
    return std::nullopt;
}

QString slotAssignments(const ConfigRecord& record, int slot) {
    QString text;
    for (const Parameter* p : slotParameters(slot)) {
        const QString shown = shownText(record, slot, *p);
        if (!shown.isEmpty()) { // a list that shows no item has no value to give
            text += slotKey(slot) + QLatin1Char('.') + QLatin1String(p->key) + QLatin1Char('=') +
                    shown + QLatin1Char('\n');
        }
    }
    return text;
}

} // namespace cantavel
