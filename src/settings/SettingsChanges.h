#pragma once
// How many times this program has begun to change the user's system settings (a proxy of its
// own switched on, a browser identity written). The exit sequence undoes the changes: it has
// work to do whenever the count has moved since it last succeeded. UI thread only.

unsigned SettingsChangeCount();
void CountSettingsChange();
