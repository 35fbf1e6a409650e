#ifndef DEVICETABLEWRITER_H
#define DEVICETABLEWRITER_H

#include "base/devicerow.h"
#include "base/watchevent.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QStringList>
#include <QVector>

#include <optional>

// Tables as text for a terminal, a script or a spreadsheet. Every field may come from a device
// or an announcer, so no format lets one of its characters act on the reader: the table and CSV
// formats write control, format and direction characters as escapes (\n, \r, \t, \uXXXX, and a
// backslash as \\), JSON as \uXXXX escapes that a JSON reader turns back into the same string,
// and a CSV field that a spreadsheet would take for a formula gets a leading apostrophe.
namespace DeviceTableWriter {

enum class Format { Table, Json, Csv };

struct Table
{
    QStringList titles; // column titles of the table format
    QStringList keys; // JSON keys and the CSV header
    QVector<QStringList> rows;
    // A last column of notes: JSON writes it as the row's flags instead (those that say
    // nothing left out), the table format only when some row has a note.
    bool lastIsNote = false;
    QVector<QMap<QString, bool>> flags;
};

std::optional<Format> formatNamed(const QString &name);
// The device table: IP address, MAC address, firmware version, device name, and a note for a
// device that shares its address with another ("conflict", JSON "conflict": true), was heard
// outside the swept subnet ("outside subnet", JSON "outsideSubnet": true) or did not answer as
// an encoder ("no encoder answer", JSON "answered": false).
Table devices(const QVector<DeviceRow> &rows);
// UTF-8 text, rows in the order given.
QByteArray write(Format format, const Table &table);
// One event of a watch, as its line says it: a device's events carry its row, the interface's
// its address and name, the end why the watch ended.
struct EventLine
{
    QDateTime time;
    Watch::Event event = Watch::Event::Present;
    DeviceRow row;
    QString interfaceName;
    Watch::End end = Watch::End::Stopped;
    QString message; // the end's, when there is more to say than its reason
};
// The lines of a watch, one per event as it happens: a JSON object per line (JSON Lines) with
// "time" (ISO 8601, UTC, milliseconds) and "event", then a device's row as the device table's
// JSON has it (and "movedFrom"), the interface's "ip" and "interface", or the end's "reason" and
// "message"; a line of the same fields for the table format; a CSV record with the columns of
// eventHeader. Every field escaped as the device table's.
QByteArray eventLine(Format format, const EventLine &line);
// What comes before the first event line: CSV's header, nothing for the other formats.
QByteArray eventHeader(Format format);
// One line of fields joined by tabs, with the table format's escapes: a tab or line break in a
// field cannot start a column or row of its own.
QString tabSeparated(const QStringList &fields);

} // namespace DeviceTableWriter

#endif // DEVICETABLEWRITER_H
