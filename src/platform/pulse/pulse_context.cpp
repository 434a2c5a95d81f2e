#include "platform/pulse/pulse_context.h"

#include <vector>

#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "audioDeviceUtil";

struct DeadlineTimer {
  PulseContext* owner;
  bool fired = false;
};

}  // namespace

std::shared_ptr<PulseContext> PulseContext::create(std::string server,
                                                   std::chrono::milliseconds timeout) {
  std::shared_ptr<PulseContext> context(new PulseContext(std::move(server), timeout));
  if (!context->mainloop_) return nullptr;
  return context;
}

PulseContext::PulseContext(std::string server, std::chrono::milliseconds timeout)
    : server_(std::move(server)), timeout_(timeout) {
  mainloop_ = pa_threaded_mainloop_new();
  if (!mainloop_) {
    Logger::shared().error(kTag, "PulseAudio main loop could not be created");
    return;
  }
  pa_threaded_mainloop_set_name(mainloop_, "quillon-pulse");
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    Logger::shared().error(kTag, "PulseAudio main loop could not be started");
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
  }
}

PulseContext::~PulseContext() {
  if (!mainloop_) return;
  pa_threaded_mainloop_lock(mainloop_);
  listeners_.clear();
  dropContext();
  pa_threaded_mainloop_unlock(mainloop_);
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

// Inside the loop thread the lock is already held by the loop itself.
PulseContext::Lock::Lock(PulseContext& owner) : owner_(owner), locked_(!owner.inLoopThread()) {
  if (locked_) pa_threaded_mainloop_lock(owner_.mainloop_);
}

PulseContext::Lock::~Lock() {
  if (locked_) pa_threaded_mainloop_unlock(owner_.mainloop_);
}

bool PulseContext::inLoopThread() const { return pa_threaded_mainloop_in_thread(mainloop_) != 0; }

void PulseContext::signal() { pa_threaded_mainloop_signal(mainloop_, 0); }

void PulseContext::dropContext() {
  if (!context_) return;
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_set_subscribe_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

AudioStatus PulseContext::connected(pa_context*& out) {
  out = nullptr;
  // A wait on the loop thread would wait for itself.
  if (inLoopThread()) return AudioStatus::wrongThread;
  if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
    out = context_;
    return AudioStatus::ok;
  }
  dropContext();
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "quillon-host");
  if (!context_) return AudioStatus::serverUnavailable;
  pa_context_set_state_callback(context_, &PulseContext::onContextState, this);
  pa_context_set_subscribe_callback(context_, &PulseContext::onSubscription, this);
  if (pa_context_connect(context_, server_.empty() ? nullptr : server_.c_str(),
                         PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    Logger::shared().error(kTag, "PulseAudio connection failed: %s",
                           pa_strerror(pa_context_errno(context_)));
    dropContext();
    return AudioStatus::serverUnavailable;
  }
  AudioStatus status =
      waitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
  if (status != AudioStatus::ok) {
    Logger::shared().error(kTag, "PulseAudio server not reachable (status: %d)",
                           statusCode(status));
    dropContext();
    return status;
  }
  if (!listeners_.empty()) subscribe();
  out = context_;
  return AudioStatus::ok;
}

AudioStatus PulseContext::waitUntil(const std::function<bool()>& done, pa_stream* stream) {
  if (inLoopThread()) return AudioStatus::wrongThread;
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
  DeadlineTimer timer{this};
  timeval when;
  pa_timeval_add(pa_gettimeofday(&when), std::chrono::microseconds(timeout_).count());
  pa_time_event* event = api->time_new(
      api, &when,
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
        auto* t = static_cast<DeadlineTimer*>(data);
        t->fired = true;
        t->owner->signal();
      },
      &timer);
  AudioStatus status = AudioStatus::ok;
  while (!done()) {
    if (!context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
      status = AudioStatus::serverUnavailable;
      break;
    }
    if (stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
      status = AudioStatus::noSuchDevice;
      break;
    }
    if (timer.fired) {
      status = AudioStatus::timedOut;
      break;
    }
    pa_threaded_mainloop_wait(mainloop_);
  }
  api->time_free(event);
  return status;
}

AudioStatus PulseContext::wait(pa_operation* operation) {
  if (!operation) return AudioStatus::serverUnavailable;
  // Result callbacks only store; the operation's own state change wakes us.
  pa_operation_set_state_callback(
      operation, [](pa_operation*, void* self) { static_cast<PulseContext*>(self)->signal(); }, this);
  AudioStatus status = waitUntil(
      [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
  pa_operation_set_state_callback(operation, nullptr, nullptr);
  if (status != AudioStatus::ok) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return status;
}

void PulseContext::onContextState(pa_context*, void* self) {
  static_cast<PulseContext*>(self)->signal();
}

AudioStatus PulseContext::subscribe() {
  pa_operation* op = pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr);
  AudioStatus status = wait(op);
  if (status != AudioStatus::ok) return status;
  // The baseline: only a default sink other than this one counts as a change.
  std::string current;
  op = pa_context_get_server_info(
      context_,
      [](pa_context*, const pa_server_info* info, void* data) {
        if (info && info->default_sink_name) *static_cast<std::string*>(data) = info->default_sink_name;
      },
      &current);
  status = wait(op);
  if (status == AudioStatus::ok) lastDefaultSink_ = current;
  return status;
}

AudioStatus PulseContext::addDefaultSinkListener(std::function<void()> changed, uint64_t& id) {
  pa_context* context = nullptr;
  AudioStatus status = connected(context);
  if (status != AudioStatus::ok) return status;
  status = subscribe();
  if (status != AudioStatus::ok) return status;
  id = nextListenerId_++;
  listeners_.emplace(id, std::move(changed));
  return AudioStatus::ok;
}

void PulseContext::removeDefaultSinkListener(uint64_t id) { listeners_.erase(id); }

void PulseContext::onSubscription(pa_context* context, pa_subscription_event_type_t type,
                                  uint32_t, void* data) {
  auto* self = static_cast<PulseContext*>(data);
  if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) return;
  if (self->listeners_.empty()) return;
  // Never wait here: ask and let the answer arrive as its own event.
  pa_operation* op = pa_context_get_server_info(context, &PulseContext::onServerInfo, self);
  if (op) pa_operation_unref(op);
}

void PulseContext::onServerInfo(pa_context*, const pa_server_info* info, void* data) {
  auto* self = static_cast<PulseContext*>(data);
  if (!info) return;
  std::string current = info->default_sink_name ? info->default_sink_name : "";
  if (current == self->lastDefaultSink_) return;
  self->lastDefaultSink_ = current;
  std::vector<std::function<void()>> toCall;
  for (auto& [id, listener] : self->listeners_) toCall.push_back(listener);
  for (auto& listener : toCall) listener();
}

}  // namespace quillon
