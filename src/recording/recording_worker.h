#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "recording/period_queue.h"

namespace quillon {

// The one thread of a recording that does the work the sound server's
// callback thread must not: conversion, alignment, mixing, encoding, file
// writes and the engine callbacks. Each capture feeds it through a lane (a
// PeriodQueue); the callback thread only copies a period in, with no lock and
// no system call, so a stalled disk or a slow engine never holds up a stream,
// and least of all the pass-through the user hears. The worker looks at its
// lanes every 40 ms (kPollInterval): blocks reach the mixer in 40 ms chunks
// anyway, and one wake-up per chunk costs less than one per period.
//
// Periods are taken in the order they were captured across all lanes, so
// the two sources reach the mixer side by side even after a long stall; a
// long stretch of silence (time dropped or lost) is handed on in slices of
// a tenth of a second, each in its turn, for the same reason.
class RecordingWorker {
 public:
  using Consumer = std::function<void(PeriodQueue::Period&)>;
  static constexpr std::chrono::milliseconds kPollInterval{40};

  class Lane {
   public:
    // For the callback thread: copies the period in. Null data is a hole the
    // server reported. Never blocks, allocates or calls the system.
    void push(const uint8_t* data, size_t bytes, PeriodQueue::Clock::time_point capturedAt) {
      queue_.push(data, bytes, capturedAt);
    }

   private:
    friend class RecordingWorker;
    Lane(size_t capacityBytes, size_t sliceBytes, Consumer consume)
        : queue_(capacityBytes), sliceBytes_(sliceBytes), consume_(std::move(consume)) {}
    // When the lane's next record was captured; false when it has none.
    bool nextCapturedAt(PeriodQueue::Clock::time_point& at) const;
    // Hands on the next record, or the next slice of a long silent one.
    void consumeNext(PeriodQueue::Clock::duration sliceLength);

    PeriodQueue queue_;
    const size_t sliceBytes_;
    Consumer consume_;
    // A silent record being handed on slice by slice, and a slice's scratch.
    PeriodQueue::Period current_;
    bool hasCurrent_ = false;
    PeriodQueue::Period slice_;
  };

  RecordingWorker();
  // Finishes what the lanes still hold, then ends the thread.
  ~RecordingWorker();
  RecordingWorker(const RecordingWorker&) = delete;
  RecordingWorker& operator=(const RecordingWorker&) = delete;

  // A lane whose periods go to `consume` on the worker thread, for a stream
  // of `bytesPerSecond` in frames of `frameBytes`. The lane lives until closeLane().
  Lane* addLane(size_t capacityBytes, size_t bytesPerSecond, size_t frameBytes, Consumer consume);
  // Once the lane's producer has stopped: hands what it still holds to its
  // consumer (on the calling thread, while the worker waits), then forgets it.
  void closeLane(Lane* lane);

 private:
  void run(std::stop_token stop);
  // The lane whose oldest record was captured first; null when all are empty.
  Lane* earliestLane();
  // Hands everything the lane still holds to its consumer, whole.
  static void finish(Lane& lane);

  std::mutex lanesMutex_;  // the lane list and every consumer call
  std::list<std::unique_ptr<Lane>> lanes_;
  std::mutex sleepMutex_;  // only for the stop-aware sleep between polls
  std::condition_variable_any sleep_;
  std::jthread thread_;
};

}  // namespace quillon
