#ifndef CSVEXPORT_H
#define CSVEXPORT_H

#include "base/devicerow.h"

#include <QString>
#include <QVector>

class UserPrompts;

// The window's "Save as CSV": the device table in the command line's CSV, written to a file the
// user chooses.
class CsvExport
{
public:
    // The line for the window's info box: where the table went, or why it did not; empty when
    // the user cancelled.
    static QString save(UserPrompts &prompts, const QVector<DeviceRow> &rows);
};

#endif // CSVEXPORT_H
