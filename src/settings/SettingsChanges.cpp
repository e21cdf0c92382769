#include "settings/SettingsChanges.h"

namespace {
unsigned changes = 0;
}

unsigned SettingsChangeCount()
{
    return changes;
}

void CountSettingsChange()
{
    ++changes;
}
