#pragma once
// One program at a time in a user's session: the first start holds a named mark for as long as
// it runs; a second start finds it held, brings the running program's main window to the front
// and ends without touching anything.

#include "win/UniqueHandle.h"

class SingleInstance {
public:
    SingleInstance();

    // False when another start of the program runs already. A mark that cannot be made at all
    // counts as the first: the user is never locked out.
    bool First() const { return first_; }

    // Restores and activates the top-level window of class `windowClass` of another process.
    static void ShowRunning(const char* windowClass);

private:
    UniqueKernelHandle mark_;
    bool first_ = true;
};
