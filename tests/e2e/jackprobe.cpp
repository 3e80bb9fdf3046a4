// jackprobe.cpp - what reaches the playback ports of a JACK server. Joins the server named by
// JACK_DEFAULT_SERVER as a client of its own, lists the ports connected to system:playback_1
// and system:playback_2, connects each of them to an input of its own as well, and after
// SECONDS prints the peak level that arrived there.
//
// Usage: marlune_jackprobe SECONDS
// Prints "connected: PORT ..." (the ports feeding the playback ports, none: empty) and then
// "peak: LEVEL" (full scale 1). Status 1 when the server cannot be reached.

#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
jack_port_t* inputs[2];
std::atomic<float> peak{0.0f};

int Process(jack_nframes_t frames, void*) {
  float loudest = peak.load(std::memory_order_relaxed);
  for (jack_port_t* port : inputs) {
    const float* samples = static_cast<const float*>(jack_port_get_buffer(port, frames));
    for (jack_nframes_t i = 0; i < frames; ++i) loudest = std::fmax(loudest, std::fabs(samples[i]));
  }
  peak.store(loudest, std::memory_order_relaxed);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  jack_status_t status;
  jack_client_t* client = jack_client_open("marlune_jackprobe", JackNoStartServer, &status);
  if (client == nullptr) {
    std::fprintf(stderr, "jackprobe: cannot reach the JACK server\n");
    return 1;
  }
  inputs[0] = jack_port_register(client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  inputs[1] = jack_port_register(client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(client, Process, nullptr);
  if (inputs[0] == nullptr || inputs[1] == nullptr || jack_activate(client) != 0) {
    std::fprintf(stderr, "jackprobe: cannot set up the probe's ports\n");
    return 1;
  }
  std::string connected;
  for (int c = 0; c < 2; ++c) {
    const std::string playback = "system:playback_" + std::to_string(c + 1);
    jack_port_t* port = jack_port_by_name(client, playback.c_str());
    const char** sources = port != nullptr ? jack_port_get_all_connections(client, port) : nullptr;
    for (const char** source = sources; source != nullptr && *source != nullptr; ++source) {
      connected += std::string(" ") + *source;
      jack_connect(client, *source, jack_port_name(inputs[c]));
    }
    if (sources != nullptr) jack_free(sources);
  }
  std::printf("connected:%s\n", connected.c_str());
  usleep(static_cast<useconds_t>(seconds * 1e6));
  std::printf("peak: %.4f\n", peak.load());
  jack_client_close(client);
  return 0;
}
