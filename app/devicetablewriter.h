#ifndef DEVICETABLEWRITER_H
#define DEVICETABLEWRITER_H

#include "controller/devicerecordassembler.h"

#include <QByteArray>
#include <QVector>

#include <optional>

// The device table as text for a terminal or a script. Every field comes from a device or an
// announcer: the table escapes control characters, JSON and CSV encode them by their own rules.
class DeviceTableWriter
{
public:
    enum class Format { Table, Json, Csv };

    static std::optional<Format> formatNamed(const QString &name);
    // UTF-8 text, rows in the order given.
    static QByteArray write(Format format, const QVector<DeviceRow> &rows);

private:
    static QByteArray table(const QVector<DeviceRow> &rows);
    static QByteArray json(const QVector<DeviceRow> &rows);
    static QByteArray csv(const QVector<DeviceRow> &rows);
};

#endif // DEVICETABLEWRITER_H
