#ifndef DEVICETABLEWRITER_H
#define DEVICETABLEWRITER_H

#include "base/devicerow.h"

#include <QByteArray>
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
// One line of fields joined by tabs, with the table format's escapes: a tab or line break in a
// field cannot start a column or row of its own.
QString tabSeparated(const QStringList &fields);

} // namespace DeviceTableWriter

#endif // DEVICETABLEWRITER_H
