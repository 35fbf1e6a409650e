#ifndef COMMANDLINE_H
#define COMMANDLINE_H

// Lumisweep without a window: the same scans through the same Controller, printed for a
// terminal or a script. Runs without a display.
class CommandLine
{
public:
    enum ExitCode { Done = 0, Failed = 1, Usage = 2, Interrupted = 130 };

    // True when the arguments ask for the command line rather than the window.
    static bool isWanted(int argc, char **argv);
    static int run(int argc, char **argv);
};

#endif // COMMANDLINE_H
