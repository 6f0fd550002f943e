#pragma once

// The record as the window shows it, without a window: the slots' names, each
// parameter's value as its control shows it (a tone as -10 to 10, a list item by its
// text), what showing a slot brings into range, and setting a value the way the
// operator would. The printed preset sheet and the command-line tool read the record
// through these, so they say what the window says.

#include "ConfigRecord.h"
#include "Parameters.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace cantavel {

// "Default", "1" to "4", "Mode A", "Mode B": the tabs' names.
QString slotTitle(int slot);
// "default", "1" to "4", "mode-a", "mode-b": the names scripts use.
QString slotKey(int slot);
// A slot of a file named for messages and listings: "live.cfg, slot 3",
// "live.cfg, Mode A".
QString slotOfFile(const QString& file, int slot);
// The slot a name stands for: a key, a tab's name (any case) or 0 to 6; -1 for none.
int slotFromName(QStringView name);

// The parameter a name stands for: its identifier ("musicVolMax") or the window's
// name for it ("Music Vol Max", "F.B-EX"), in any case, spaces not counting; null
// for none.
const Parameter* parameterFromName(QStringView name);

// SLOT.PARAMETER=VALUE as scripts give it: split at the first dot (no slot name
// holds one; a parameter's name may, "F.B-EX") and the first '=' after it.
struct Assignment {
    enum class Fault { None, Form, Slot, Parameter };
    Fault fault = Fault::Form;
    int slot = -1;
    const Parameter* parameter = nullptr;
    QString slotName; // as given
    QString name;     // the parameter's, as given
    QString value;
};
Assignment parseAssignment(const QString& text);

// Whether the window shows this parameter on this slot's tab: the Default Setting
// only on mode slots.
bool slotHas(int slot, const Parameter& p);
// The parameters a slot's tab shows, in the table's order.
std::vector<const Parameter*> slotParameters(int slot);

// The value of its own slot that a parameter may not exceed: a volume its maximum,
// SW VOL 2 SW VOL 1; null for none.
const Parameter* limitOf(const Parameter& p);
// The value a limit bounds; null when the parameter bounds none.
const Parameter* boundBy(const Parameter& limit);
// The value that comes down with a limit lowered below it (a volume with its
// maximum); null when none does. SW VOL 2 keeps its stored value and shows at most
// SW VOL 1.
const Parameter* followerOf(const Parameter& limit);

// The items of a list parameter, in the list's order; empty for any other kind.
const QStringList& listItems(const Parameter& p);

// The values a control takes now, in shown units: a volume up to the maximum its
// up-down shows.
struct ValueRange {
    int min = 0;
    int max = 0;
};
ValueRange shownRange(const ConfigRecord& record, int slot, const Parameter& p);
// The values its field may take, whatever other values of the slot hold.
ValueRange fullRange(const Parameter& p);
// The same as stored: a list's items by index, a number's stored range.
ValueRange storedRange(const Parameter& p);

// The value the control shows for what the record holds: brought into its range,
// in shown units; for a list the item's index, or -1 when the list shows none.
int shownValue(const ConfigRecord& record, int slot, const Parameter& p);
// The same as text: a number, or the list item ("" when none).
QString shownText(const ConfigRecord& record, int slot, const Parameter& p);
// A shown text where an empty one would vanish (a listing, the printed sheet):
// "(none)" for a list that shows no item.
QString shownOrNone(const QString& shown);

// The values showing a slot brings into range, in the order the unit is sent their
// changes: the Default Setting's volumes first, then the effect's sliders and knob.
// Lists and up-downs show what they can and keep what the record holds.
std::vector<const Parameter*> rangedOnShowing(int slot);
// What showing a slot stores: each of those at its shown value.
void bringIntoRange(ConfigRecord& record, int slot);

// Sets a parameter to a value given as the window shows it (a number, or a list
// item's text in any case), within the range the slot's own values allow, through
// the preset document's rules. Returns an empty string when the value was set;
// otherwise why not, and the record is unchanged.
QString setShownValue(ConfigRecord& record, int slot, const Parameter& p, const QString& value);

} // namespace cantavel
