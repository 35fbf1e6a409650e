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

// QJsonDocument escapes C0 controls, quotes and backslashes (the line feeds left are its own
// layout); the characters it leaves raw (DEL, C1 controls, format and direction characters) can
// only stand inside strings here.
QByteArray escapedJson(const QByteArray &document)
{
    const QString text = QString::fromUtf8(document);
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

QJsonObject objectOf(const Table &table, int r)
{
    QJsonObject object;
    const int columns = table.keys.size() - (table.lastIsNote ? 1 : 0);
    for (int i = 0; i < columns; ++i) {
        object.insert(table.keys.at(i), table.rows.at(r).at(i));
    }
    const QMap<QString, bool> flags = table.flags.value(r);
    for (auto flag = flags.cbegin(); flag != flags.cend(); ++flag) {
        object.insert(flag.key(), flag.value());
    }
    return object;
}

QByteArray json(const Table &table)
{
    QJsonArray array;
    for (int r = 0; r < table.rows.size(); ++r) {
        array.append(objectOf(table, r));
    }
    return escapedJson(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

QString csvLine(const QStringList &fields)
{
    QStringList line;
    for (const QString &field : fields) {
        line << csvField(field);
    }
    return line.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QByteArray csv(const Table &table)
{
    QString out = table.keys.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const QStringList &row : table.rows) {
        out += csvLine(row);
    }
    return out.toUtf8();
}

const char *const kEventColumns = "time,event,ip,mac,firmware,name,note";

// An event's fields as JSON keys and values, in the order the table and CSV lines take them.
QJsonObject eventObject(const EventLine &line)
{
    QJsonObject object;
    switch (line.event) {
    case Watch::Event::InterfaceLost:
    case Watch::Event::InterfaceBack:
        object.insert(QStringLiteral("ip"), line.row.ip);
        object.insert(QStringLiteral("interface"), line.interfaceName);
        break;
    case Watch::Event::End:
        object.insert(QStringLiteral("reason"), Watch::endName(line.end));
        if (!line.message.isEmpty()) {
            object.insert(QStringLiteral("message"), line.message);
        }
        break;
    default:
        object = objectOf(devices({ line.row }), 0);
        if (!line.row.movedFrom.isEmpty()) {
            object.insert(QStringLiteral("movedFrom"), line.row.movedFrom);
        }
        break;
    }
    return object;
}

// The event's fields after its time and name: CSV's columns, or those with text for a table.
QStringList eventFields(const EventLine &line)
{
    switch (line.event) {
    case Watch::Event::InterfaceLost:
    case Watch::Event::InterfaceBack:
        return { line.row.ip, QString(), QString(), QString(),
                 QStringLiteral("interface ") + line.interfaceName };
    case Watch::Event::End:
        return { QString(), QString(), QString(), QString(),
                 line.message.isEmpty()
                     ? Watch::endName(line.end)
                     : Watch::endName(line.end) + QStringLiteral(": ") + line.message };
    default:
        break;
    }
    return { line.row.ip, line.row.mac, line.row.fw, line.row.name, line.row.note() };
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

QByteArray eventHeader(Format format)
{
    return format == Format::Csv ? QByteArray(kEventColumns) + "\r\n" : QByteArray();
}

QByteArray eventLine(Format format, const EventLine &line)
{
    const QString time = line.time.toUTC().toString(Qt::ISODateWithMs);
    const QString event = Watch::eventName(line.event);
    if (format == Format::Json) {
        QJsonObject object = eventObject(line);
        object.insert(QStringLiteral("time"), time);
        object.insert(QStringLiteral("event"), event);
        return escapedJson(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n';
    }
    const QStringList fields = QStringList { time, event } + eventFields(line);
    if (format == Format::Csv) {
        return csvLine(fields).toUtf8();
    }
    QStringList shown;
    for (const QString &field : fields) {
        if (!field.isEmpty()) {
            shown << LogText::escaped(field);
        }
    }
    return (shown.join(QStringLiteral("  ")) + QLatin1Char('\n')).toUtf8();
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
