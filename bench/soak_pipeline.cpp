// Hours of audio through the whole recording chain as fast as it goes, to
// show its memory stays flat: microphone periods (48 kHz stereo float) and
// loopback periods (44.1 kHz stereo 16-bit) are converted, mixed and written
// to real WAV and Opus files by AudioFactory, with PCM and Opus callbacks set
// as during a real recording. The resident size is sampled after every
// minute of audio; growth is measured from the end of the first minute,
// when buffers, encoder state and the allocator have settled.
//
//   bench_soak_pipeline [seconds of audio, default 7200] [--max-growth PERCENT]
//
// With --max-growth the exit status is 1 when the growth exceeds it.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "bench_capture.h"
#include "recording/audio_capture_source.h"
#include "recording/audio_factory.h"
#include "recording/mono16k_converter.h"

namespace {

using quillon::AudioCallback;
using quillon::ByteBuffer;

using SoakCapture = quillon::bench::FedCapture;

// Resident size in KiB, from the kernel's own count of this process.
long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A voice-like signal: a few harmonics at a gliding pitch, in syllables and
// phrases, over a little noise. Not speech, but it keeps the encoder busy the
// way talk does (silence would let Opus coast).
class Voice {
 public:
  Voice(double rate, double pitch, uint32_t seed) : _rate(rate), _pitch(pitch), _noise(seed) {}
  float next() {
    const double t = double(_n++) / _rate;
    const double f = _pitch * (1.0 + 0.12 * std::sin(2 * std::numbers::pi * 0.6 * t));
    _phase += 2 * std::numbers::pi * f / _rate;
    if (_phase > 2 * std::numbers::pi) _phase -= 2 * std::numbers::pi;
    const double syllable = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 4.1 * t);
    const double gain = std::fmod(t, 8.0) < 6.0 ? syllable * syllable : 0.0;
    const double v = 0.3 * std::sin(_phase) + 0.15 * std::sin(2 * _phase) + 0.08 * std::sin(5 * _phase);
    _noise = _noise * 1664525u + 1013904223u;
    return float(v * gain + (double(_noise >> 8) / 16777216.0 - 0.5) * 0.01);
  }

 private:
  double _rate, _pitch;
  uint32_t _noise;
  uint64_t _n = 0;
  double _phase = 0;
};

}  // namespace

int main(int argc, char** argv) {
  double audioSeconds = 7200;
  double maxGrowth = -1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--max-growth") == 0 && i + 1 < argc) {
      maxGrowth = std::atof(argv[++i]);
    } else if (char* end = nullptr; (audioSeconds = std::strtod(argv[i], &end)) > 0 && *end == '\0') {
      continue;
    } else {
      std::fprintf(stderr, "usage: %s [seconds of audio, default 7200] [--max-growth PERCENT]\n", argv[0]);
      return 2;
    }
  }
  const auto dir = std::filesystem::temp_directory_path() / ("quillon-soak-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);

  SoakCapture mic, speaker;
  auto factory = quillon::AudioFactory::create((dir / "rec.wav").string(), (dir / "rec.opus").string(), true,
                                               mic, speaker);
  size_t pcmBlocks = 0, opusPackets = 0;
  factory->setPcmCallback([&](const ByteBuffer&) { ++pcmBlocks; });
  factory->setOpusCallback([&](const ByteBuffer&) { ++opusPackets; });
  auto micConverter = quillon::Mono16kConverter::create(48000, 2);
  auto speakerConverter =
      quillon::Mono16kConverter::create(44100, 2);

  Voice near(48000, 125, 1), far(44100, 205, 2);
  const size_t frames = 1024;
  const uint64_t micTotal = uint64_t(audioSeconds * 48000), speakerTotal = uint64_t(audioSeconds * 44100);
  uint64_t micDone = 0, speakerDone = 0;
  std::vector<float> micBlock(frames * 2);
  std::vector<int16_t> speakerBlock(frames * 2);
  std::vector<float> speakerFloats, converted;
  long firstMinute = 0, peak = 0;
  int nextMinute = 1;
  const auto wallStart = std::chrono::steady_clock::now();

  while (micDone < micTotal || speakerDone < speakerTotal) {
    const bool micTurn = speakerDone >= speakerTotal ||
                         (micDone < micTotal && double(micDone) / 48000 <= double(speakerDone) / 44100);
    if (micTurn) {
      const size_t n = size_t(std::min<uint64_t>(frames, micTotal - micDone));
      for (size_t i = 0; i < n; ++i) micBlock[2 * i] = micBlock[2 * i + 1] = near.next();
      micConverter->process({micBlock.data(), n * 2}, converted);
      mic.deliver(converted);
      micDone += n;
    } else {
      const size_t n = size_t(std::min<uint64_t>(frames, speakerTotal - speakerDone));
      for (size_t i = 0; i < n; ++i) speakerBlock[2 * i] = speakerBlock[2 * i + 1] = int16_t(far.next() * 32767);
      quillon::pcm16BytesToFloats({reinterpret_cast<const uint8_t*>(speakerBlock.data()), n * 4}, speakerFloats);
      speakerConverter->process(speakerFloats, converted);
      speaker.deliver(converted);
      speakerDone += n;
    }
    if (double(micDone) / 48000 >= nextMinute * 60.0) {
      const long rss = residentKiB();
      if (nextMinute == 1) firstMinute = rss;
      peak = std::max(peak, rss);
      ++nextMinute;
    }
  }
  const quillon::CloseSummary summary = factory->close();
  const long end = residentKiB();
  peak = std::max(peak, end);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  std::filesystem::remove_all(dir);

  const double growth = firstMinute > 0 ? 100.0 * double(end - firstMinute) / double(firstMinute) : 0.0;
  const double peakGrowth = firstMinute > 0 ? 100.0 * double(peak - firstMinute) / double(firstMinute) : 0.0;
  const uint64_t expectedBlocks = uint64_t(audioSeconds * 16000) / 640;
  std::printf("audio: %.0f s in %.1f s wall clock (%.0f x real time)\n", audioSeconds, wall, audioSeconds / wall);
  std::printf("WAV: success %d, %d ms, %d bytes; %zu PCM blocks, %zu Opus packets (about %llu expected)\n",
              summary.success, summary.duration, summary.size, pcmBlocks, opusPackets,
              static_cast<unsigned long long>(expectedBlocks));
  std::printf("resident memory: %.1f MiB after the first minute, %.1f MiB at the end, peak %.1f MiB\n",
              firstMinute / 1024.0, end / 1024.0, peak / 1024.0);
  std::printf("growth after the first minute: %+.2f %% at the end, %+.2f %% at the peak (goal < 5 %%)\n", growth,
              peakGrowth);
  if (maxGrowth >= 0 && peakGrowth > maxGrowth) {
    std::printf("FAILED: growth above %.1f %%\n", maxGrowth);
    return 1;
  }
  return 0;
}
