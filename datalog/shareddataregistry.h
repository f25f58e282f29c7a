// SharedDataRegistry: the one registry of the program through which the
// data-log modules' threads fill series that views in the GUI thread read.
//
// Each registered DataLogSeries gets an id (1, 2, 3, ...; never reused, also
// after the series is gone) and a recursive mutex of its own. A reader
// locks the id, reads (copies what it needs) and unlocks it; the pointer is
// valid only in between:
//
//   if (DataLogSeries *series = SharedDataRegistry::lock(id, 5000)) {
//       ... read series ...
//       SharedDataRegistry::unlock(id);
//   }
//
// Nobody waits for a series while holding the registry's own mutex: lock()
// looks the id up under it and waits for the series' mutex after releasing
// it, so a slow holder of one series never stalls look-ups of the others.
// In the GUI thread a lock waits at most GuiWaitLimitMs, whatever the caller
// asks: a view that cannot have its series at once skips that update rather
// than freezing the window.
//
// unregister() waits until the holder of the series unlocks it, then deletes
// it; from its start on, lock() of that id gives null at once. Never
// unregister an id while holding its lock.
#pragma once

class DataLogSeries;

namespace SharedDataRegistry {

// Longest wait for a series in the GUI thread, in ms.
constexpr int GuiWaitLimitMs = 50;

// Takes ownership of the series and returns its new id (0 for null).
int registerSeries(DataLogSeries *series);
// The series of the id, locked for the caller; waits without limit when
// timeoutMs is 0 (outside the GUI thread), at most timeoutMs otherwise.
// Null when the id is unknown or going, or the wait timed out.
DataLogSeries *lock(int id, int timeoutMs);
// Releases a lock taken by lock(); nothing when the id is unknown.
void unlock(int id);
// Deletes the series of the id once no one holds it; false when the id is
// unknown (also when it was unregistered before).
bool unregister(int id);
// The id has a series that is not going: a lock() that failed on it timed
// out, its series was busy.
bool isRegistered(int id);
// The highest id issued so far (0 before the first registration).
int highestId();

} // namespace SharedDataRegistry
