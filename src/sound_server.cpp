#include "sound_server.h"

#include <pulse/pulseaudio.h>

#include <cstring>

namespace {
struct ProbeState {
  bool done = false;
  SoundServer::Kind kind = SoundServer::Kind::kNone;
};

void OnServerInfo(pa_context* /*context*/, const pa_server_info* info, void* userdata) {
  auto* state = static_cast<ProbeState*>(userdata);
  if (info != nullptr) state->kind = SoundServer::FromName(info->server_name);
  state->done = true;
}

void OnContextState(pa_context* context, void* userdata) {
  auto* state = static_cast<ProbeState*>(userdata);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
      pa_operation* operation = pa_context_get_server_info(context, &OnServerInfo, state);
      if (operation == nullptr) {
        state->done = true;
      } else {
        pa_operation_unref(operation);
      }
      return;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      state->done = true;
      return;
    default:
      return;
  }
}

void OnTimeout(pa_mainloop_api* /*api*/, pa_time_event* /*event*/, const struct timeval* /*tv*/,
               void* userdata) {
  static_cast<ProbeState*>(userdata)->done = true;
}
}  // namespace

SoundServer::Kind SoundServer::Probe() {
  ProbeState state;
  pa_mainloop* loop = pa_mainloop_new();
  if (loop == nullptr) return Kind::kNone;
  pa_mainloop_api* api = pa_mainloop_get_api(loop);
  pa_context* context = pa_context_new(api, "Marlune server probe");
  if (context != nullptr) {
    pa_context_set_state_callback(context, &OnContextState, &state);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
      struct timeval deadline {};
      pa_timeval_add(pa_gettimeofday(&deadline), static_cast<pa_usec_t>(kTimeoutMs) * 1000);
      pa_time_event* timeout = api->time_new(api, &deadline, &OnTimeout, &state);
      while (!state.done && pa_mainloop_iterate(loop, 1, nullptr) >= 0) {
      }
      if (timeout != nullptr) api->time_free(timeout);
      pa_context_disconnect(context);
    }
    pa_context_unref(context);
  }
  pa_mainloop_free(loop);
  return state.kind;
}

SoundServer::Kind SoundServer::FromName(const char* serverName) {
  if (serverName == nullptr) return Kind::kNone;
  return std::strstr(serverName, "PipeWire") != nullptr ? Kind::kPipeWire : Kind::kPulseAudio;
}
