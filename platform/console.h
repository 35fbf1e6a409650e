#ifndef CONSOLE_H
#define CONSOLE_H

// The terminal the program runs in, when it runs on the command line.
namespace Console {

// True when standard error is a terminal: progress lines are for people, not for pipes.
bool errorIsTerminal();
// From now on SIGINT and SIGTERM no longer end the process: each writes a byte to the descriptor
// returned, for the event loop to read. -1 when that cannot be arranged. A closed pipe on the
// output no longer ends it either, but fails the write, which can then be reported.
int catchInterrupts();
// Reads what the interrupts wrote, so that the descriptor is quiet again.
void drainInterrupts();
// Standard output's descriptor when it is a pipe, whose reader may go away: it then becomes ready
// for reading (an error). -1 for anything else.
int outputPipe();
// Whether the reader of standard output has gone: a write would fail.
bool outputGone();

} // namespace Console

#endif // CONSOLE_H
