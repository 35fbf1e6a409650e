#include "csvexport.h"

#include "controller/devicetablewriter.h"
#include "controller/userprompts.h"

#include <QDir>
#include <QSaveFile>

QString CsvExport::save(UserPrompts &prompts, const QVector<DeviceRow> &rows)
{
    const std::optional<QString> path = prompts.askSaveFile(
        QStringLiteral("Save as CSV"), QDir::home().filePath(QStringLiteral("lumisweep.csv")),
        QStringLiteral("CSV files (*.csv)"));
    if (!path) {
        return QString();
    }
    const QByteArray text = DeviceTableWriter::write(DeviceTableWriter::Format::Csv,
                                                     DeviceTableWriter::devices(rows));
    // Written beside the file and renamed over it: a file that was there stays whole when the
    // disk is full or the folder is not writable.
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        return QStringLiteral("Save failed: %1: %2")
            .arg(QDir::toNativeSeparators(*path), file.errorString());
    }
    return QStringLiteral("Info: Saved to %1").arg(QDir::toNativeSeparators(*path));
}
