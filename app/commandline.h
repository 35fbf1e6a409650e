#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "controller/controller.h"
#include "controller/devicetablewriter.h"

#include <QStringList>

#include <optional>

// The program's arguments, and Lumisweep without a window: the same scans through the same
// Controller, printed for a terminal or a script. The command line needs no display.
namespace CommandLine {

enum ExitCode { Done = 0, Failed = 1, Usage = 2, Interrupted = 130 };

struct Request
{
    enum class Command { Window, Scan, ListInterfaces, Identify, Help, Version };
    Command command = Command::Window;
    Controller::ScanType scanType = Controller::ScanType::Arp;
    QString interface; // a name or an address; empty: the only one there is
    QString range; // a named range to sweep; empty: the interface's subnet
    QString identify;
    DeviceTableWriter::Format format = DeviceTableWriter::Format::Table;
    int waitMs = 3000;
    // A watch: events, one per line, until interrupted or for durationMs (0: no end).
    bool watch = false;
    int durationMs = 0;
    int sweepPeriodS = 60;
    bool verbose = false;
};

struct Parsed
{
    std::optional<Request> request;
    QString error; // why there is none, for the user
};

// The arguments after the program's name. Qt's own window options (-platform, -style, ...)
// and --verbose keep the window; anything else is the command line, and an argument it does
// not know is an error, never a window.
Parsed parse(const QStringList &arguments);
QString helpText();
// Runs a request other than the window and returns the exit code.
int run(int argc, char **argv, const Request &request);
// The usage error on standard error, with the hint at --help.
int usageError(const QString &message);

} // namespace CommandLine

#endif // COMMANDLINE_H
