// Discovery reaching up into the controller.
#include "controller/controller.h"
