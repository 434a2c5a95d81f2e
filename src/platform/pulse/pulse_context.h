#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/audio_server.h"

namespace quillon {

// One threaded main loop and one server connection, shared by the server object
// object and every stream it opens. It reconnects on the next call after the
// server went away (for instance after a restart that loads a new drop-in).
//
// Every wait here also gives up when the connection fails or a deadline
// passes, so a dead or stuck server can never hang a caller.
class PulseContext {
 public:
  // `server` empty: the library's default lookup (PULSE_SERVER, runtime folder).
  static std::shared_ptr<PulseContext> create(std::string server = {},
                                              std::chrono::milliseconds timeout =
                                                  std::chrono::seconds(5));
  ~PulseContext();
  PulseContext(const PulseContext&) = delete;
  PulseContext& operator=(const PulseContext&) = delete;

  // Holds the main loop's lock; every call below requires it.
  class Lock {
   public:
    explicit Lock(PulseContext& owner);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    PulseContext& owner_;
    bool locked_;
  };

  // The connected context, connecting first when needed.
  AudioStatus connected(pa_context*& out);
  // Waits for `operation` to finish and releases it; on failure it is cancelled,
  // so its callback will never run afterwards.
  AudioStatus wait(pa_operation* operation);
  // Waits until `done` holds; `stream`, when given, must stay in a good state.
  AudioStatus waitUntil(const std::function<bool()>& done, pa_stream* stream = nullptr);
  void signal();
  bool inLoopThread() const;
  pa_threaded_mainloop* mainloop() const { return mainloop_; }

  // Listeners of default-sink changes, called on the loop thread (lock held).
  AudioStatus addDefaultSinkListener(std::function<void()> changed, uint64_t& id);
  void removeDefaultSinkListener(uint64_t id);

 private:
  PulseContext(std::string server, std::chrono::milliseconds timeout);
  void dropContext();
  AudioStatus subscribe();
  static void onContextState(pa_context* context, void* self);
  static void onSubscription(pa_context* context, pa_subscription_event_type_t type,
                             uint32_t index, void* self);
  static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);

  std::string server_;
  std::chrono::milliseconds timeout_;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  std::map<uint64_t, std::function<void()>> listeners_;
  uint64_t nextListenerId_ = 1;
  std::string lastDefaultSink_;
};

}  // namespace quillon
