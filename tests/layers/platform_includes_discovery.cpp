// The system-call layer reaching up into discovery.
#include "discovery/bonjourwinservice.h"
