#include "devicetablewriter.h"

#include "base/logtext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace DeviceTableWriter {

namespace {

// What a spreadsheet reads as the start of a formula, by the usual advice against CSV
// injection.
bool looksLikeFormula(const QString &text)
{
    return !text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front());
}

QString csvField(const QString &text)
{
    // The table format's escapes; quotes are CSV's own business.
    QString field = LogText::escaped(text, false);
    if (looksLikeFormula(text)) {
        field.prepend(QLatin1Char('\''));
    }
    if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))) {
        field.replace(QLatin1Char('"'), QLatin1String("\"\""));
        field = QLatin1Char('"') + field + QLatin1Char('"');
    }
    return field;
}

QByteArray table(const Table &table)
{
    int columns = table.titles.size();
    if (table.lastIsNote
        && std::all_of(table.rows.cbegin(), table.rows.cend(),
                       [](const QStringList &row) { return row.last().isEmpty(); })) {
        --columns;
    }
    QVector<QStringList> lines { table.titles.mid(0, columns) };
    for (const QStringList &row : table.rows) {
        QStringList line;
        for (const QString &field : row.mid(0, columns)) {
            line << LogText::escaped(field);
        }
        lines << line;
    }
    QVector<int> widths(columns, 0);
    for (const QStringList &line : lines) {
        for (int i = 0; i < columns; ++i) {
            widths[i] = qMax(widths[i], line.at(i).size());
        }
    }
    QString out;
    for (const QStringList &line : lines) {
        // Padding only up to the last field with text: no line ends in spaces.
        int last = columns - 1;
        while (last > 0 && line.at(last).isEmpty()) {
            --last;
        }
        for (int i = 0; i < last; ++i) {
            out += line.at(i).leftJustified(widths[i] + 2);
        }
        out += line.at(last) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray json(const Table &table)
{
    QJsonArray array;
    const int columns = table.keys.size() - (table.lastIsNote ? 1 : 0);
    for (int r = 0; r < table.rows.size(); ++r) {
        QJsonObject object;
        for (int i = 0; i < columns; ++i) {
            object.insert(table.keys.at(i), table.rows.at(r).at(i));
        }
        const QMap<QString, bool> flags = table.flags.value(r);
        for (auto flag = flags.cbegin(); flag != flags.cend(); ++flag) {
            object.insert(flag.key(), flag.value());
        }
        array.append(object);
    }
    // QJsonDocument escapes C0 controls, quotes and backslashes (the line feeds left are its
    // own layout); the characters it leaves raw (DEL, C1 controls, format and direction
    // characters) can only stand inside strings here.
    const QString text = QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x7f && LogText::needsEscape(c.unicode())) {
            out += QStringLiteral("\\u%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out.toUtf8();
}

QByteArray csv(const Table &table)
{
    QString out = table.keys.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const QStringList &row : table.rows) {
        QStringList line;
        for (const QString &field : row) {
            line << csvField(field);
        }
        out += line.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

} // namespace

std::optional<Format> formatNamed(const QString &name)
{
    if (name == QLatin1String("table")) {
        return Format::Table;
    }
    if (name == QLatin1String("json")) {
        return Format::Json;
    }
    if (name == QLatin1String("csv")) {
        return Format::Csv;
    }
    return std::nullopt;
}

Table devices(const QVector<DeviceRow> &rows)
{
    Table devices { { QStringLiteral("IP Address"), QStringLiteral("Mac Address"),
                      QStringLiteral("FW Version"), QStringLiteral("Device Name"),
                      QStringLiteral("Note") },
                    { QStringLiteral("ip"), QStringLiteral("mac"), QStringLiteral("firmware"),
                      QStringLiteral("name"), QStringLiteral("note") },
                    {},
                    true,
                    {} };
    for (const DeviceRow &row : rows) {
        devices.rows.append({ row.ip, row.mac, row.fw, row.name, row.note() });
        QMap<QString, bool> flags;
        if (row.conflict) {
            flags.insert(QStringLiteral("conflict"), true);
        }
        if (row.outsideSubnet) {
            flags.insert(QStringLiteral("outsideSubnet"), true);
        }
        if (!row.answered) {
            flags.insert(QStringLiteral("answered"), false);
        }
        devices.flags.append(flags);
    }
    return devices;
}

QByteArray write(Format format, const Table &table)
{
    switch (format) {
    case Format::Table:
        return DeviceTableWriter::table(table);
    case Format::Json:
        return json(table);
    case Format::Csv:
        return csv(table);
    }
    return QByteArray();
}

QString tabSeparated(const QStringList &fields)
{
    QStringList escaped;
    for (const QString &field : fields) {
        escaped << LogText::escaped(field, false);
    }
    return escaped.join(QLatin1Char('\t'));
}

} // namespace DeviceTableWriter
