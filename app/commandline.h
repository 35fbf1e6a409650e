#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "app/devicetablewriter.h"

#include <QStringList>

#include <optional>

class ConsolePrompts;
class Controller;

// Lumisweep without a window: the same scans through the same Controller, printed for a
// terminal or a script. Runs without a display.
class CommandLine
{
public:
    enum ExitCode { Done = 0, Failed = 1, Usage = 2, Interrupted = 130 };

    // True when the arguments ask for the command line rather than the window.
    static bool isWanted(int argc, char **argv);
    static int run(int argc, char **argv);

private:
    struct Request
    {
        bool listInterfaces = false;
        QString identify; // null: no identify
        int scanType = 0;
        QString interface;
        DeviceTableWriter::Format format = DeviceTableWriter::Format::Table;
        int waitMs = 0;
    };
    // What the options ask for; nothing, with the exit code, when there is nothing more to do.
    static std::optional<Request> parse(const QStringList &arguments, int *exitCode);
    static int scan(Controller &controller, ConsolePrompts &prompts, const QString &interfaceIp,
                    const Request &request);
};

#endif // COMMANDLINE_H
