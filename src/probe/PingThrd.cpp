#include "probe/PingThrd.h"

void StopAllWorkers()
{
    // No worker is started yet in this version of the program, so none is registered.
}
