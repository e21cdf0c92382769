#pragma once
// Probe workers and the registry of their thread ids.

// Asks every registered worker that is still running to stop. Called once, after the windows
// are gone; it does not wait for them.
void StopAllWorkers();
