#ifndef PROCESSLIMITS_H
#define PROCESSLIMITS_H

// Limits of the running process that a sweep may reach.
namespace ProcessLimits {

// Raises the soft limit of open descriptors to the hard limit. A sweep keeps several hundred
// sockets open at once (workers, device queries), and the usual soft limit of 1024 leaves
// little room beside them.
void raiseDescriptorLimit();

} // namespace ProcessLimits

#endif // PROCESSLIMITS_H
