#include "devicetablewriter.h"

#include "discovery/logtext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QStringList fields(const DeviceRow &row)
{
    return { row.ip, row.mac, row.fw, row.name };
}

QString csvField(const QString &text)
{
    // RFC 4180: a field holding a separator, a quote or any control character is quoted, and
    // its quotes doubled; the characters themselves travel as they are.
    const bool quote = std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == QLatin1Char(',') || c == QLatin1Char('"') || c.unicode() < 0x20
            || c.unicode() == 0x7f;
    });
    if (!quote) {
        return text;
    }
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

} // namespace

std::optional<DeviceTableWriter::Format> DeviceTableWriter::formatNamed(const QString &name)
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

QByteArray DeviceTableWriter::write(Format format, const QVector<DeviceRow> &rows)
{
    switch (format) {
    case Format::Table:
        return table(rows);
    case Format::Json:
        return json(rows);
    case Format::Csv:
        return csv(rows);
    }
    return QByteArray();
}

QByteArray DeviceTableWriter::table(const QVector<DeviceRow> &rows)
{
    QVector<QStringList> lines { { QStringLiteral("IP Address"), QStringLiteral("Mac Address"),
                                   QStringLiteral("FW Version"), QStringLiteral("Device Name") } };
    for (const DeviceRow &row : rows) {
        QStringList line;
        for (const QString &field : fields(row)) {
            line << LogText::escaped(field);
        }
        lines << line;
    }
    QVector<int> widths(4, 0);
    for (const QStringList &line : lines) {
        for (int i = 0; i < 4; ++i) {
            widths[i] = qMax(widths[i], line.at(i).size());
        }
    }
    QString out;
    for (const QStringList &line : lines) {
        for (int i = 0; i < 3; ++i) {
            out += line.at(i).leftJustified(widths[i] + 2);
        }
        out += line.at(3) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray DeviceTableWriter::json(const QVector<DeviceRow> &rows)
{
    QJsonArray array;
    for (const DeviceRow &row : rows) {
        array.append(QJsonObject { { QStringLiteral("ip"), row.ip },
                                   { QStringLiteral("mac"), row.mac },
                                   { QStringLiteral("firmware"), row.fw },
                                   { QStringLiteral("name"), row.name } });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray DeviceTableWriter::csv(const QVector<DeviceRow> &rows)
{
    QString out = QStringLiteral("ip,mac,firmware,name\r\n");
    for (const DeviceRow &row : rows) {
        QStringList line;
        for (const QString &field : fields(row)) {
            line << csvField(field);
        }
        out += line.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}
