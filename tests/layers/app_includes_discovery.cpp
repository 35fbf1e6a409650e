// A front end reaching past the controller.
#include "discovery/bonjourwinservice.h"
