#pragma once
// Work that must not be cut off when the process ends: a store's write still on its queue, an
// upload still on a connection, settings not yet on disk. Whoever owns such work registers an
// ExitDrain for as long as the work can exist; the drain waits (until a deadline) for that work
// to end. At quit the app calls drainBeforeExit(), which runs what the hand-pumped main queue
// still holds and waits for every registered drain, round after round, until nothing is left or
// the deadline passes. A program that simply returns from main still gets the drains waited for
// (not the main queue), from an exit handler, within kExitDrainBound.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"

namespace dispatch {

// How long the process may wait at exit for unfinished writes, in all: a few seconds, enough for
// a save of a few megabytes on an ordinary line, never so long that a stalled server holds the
// quit for good. The app's quit uses the same bound.
inline constexpr std::chrono::seconds kExitDrainBound{8};

// Waits until the owner's pending work has ended, or the deadline has passed; true when it ended
// (or there was none). Called on the thread that exits, never on a queue of the owner's. Best it
// shares ownership of what it looks at (captures a shared state, not the owner itself): a call in
// progress may outlive its owner, since unregistering does not wait for it (the owner may well
// go on one of the threads the drain is waiting for).
using DrainFunction = std::function<bool(Clock::time_point deadline)>;

// A registered drain; destroying it unregisters.
class ExitDrain {
public:
    ExitDrain(std::string label, DrainFunction drain);
    ~ExitDrain();
    ExitDrain(const ExitDrain&) = delete;
    ExitDrain& operator=(const ExitDrain&) = delete;

private:
    std::uint64_t id_;
};

// A drain for a queue's work: waits until every task queued on it before the call has run. The
// queue must outlive the drain's registration (the process-wide stores register one for their
// save queue and keep both for the life of the process).
DrainFunction queueDrain(Queue& queue);

// Runs the tasks of the hand-pumped main queue and waits for every registered drain, again until
// a round finds no main-queue task left (the drained work's completions often hop to the main
// queue and ask for more writes), or the deadline passes. Call it on the main thread once the
// event loop has ended. Returns the labels of the drains that did not finish in time.
std::vector<std::string> drainBeforeExit(Clock::time_point deadline);

// Waits once for every registered drain, without running the main queue (what the exit handler
// does). Returns the labels of the drains that did not finish in time.
std::vector<std::string> waitForExitDrains(Clock::time_point deadline);

// Runs the task on the queue; the quit's drains and the process's exit wait for it (within their
// bound) from this call on. For work that nothing else waits for: a closed window's connection
// released off the GUI thread.
void asyncAwaitedAtExit(Queue& queue, std::string label, Task task);

// The labels of the drains registered now (tests look at them).
std::vector<std::string> registeredExitDrains();

// Goes back to the hand-pumped main queue for the end of the process: `leftovers` (tasks an
// executor took but never ran, in order) come first in line, and the calling thread becomes the
// main thread.
void returnToHandPumpedMainQueue(std::vector<Task> leftovers);
// Runs the hand-pumped main queue's tasks (and those they add) until none is left or the deadline
// passes; never waits for new ones. Returns how many ran.
std::size_t drainMainQueueBefore(Clock::time_point deadline);

}  // namespace dispatch
