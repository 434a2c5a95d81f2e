// One hour of synthetic meeting audio through the whole recording chain, on
// one thread: microphone periods of 48 kHz stereo float and loopback periods
// of 44.1 kHz stereo 16-bit are converted to 16 kHz mono, mixed, and written
// to real WAV and Opus files by AudioFactory. In the same run libopus alone
// encodes the resulting 16 kHz signal in 640-sample frames, which is the floor
// the chain is measured against.
//
//   bench_pipeline [seconds of audio, default 3600] [--inputs FOLDER]
//
// With --inputs the two sources are also written, untimed, as raw files
// (mic.f32: 48 kHz stereo float; loop.s16: 44.1 kHz stereo 16-bit), so that
// another tool can be timed on the very same audio (scripts/perf_report.sh).

#include <opus.h>
#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

#include "bench_capture.h"
#include "recording/audio_capture_source.h"
#include "recording/audio_factory.h"
#include "recording/mono16k_converter.h"

namespace {

// CPU time of this thread: what the audio thread would spend, unaffected by
// other processes taking the core away on a shared machine.
struct Clock {
  using duration = std::chrono::nanoseconds;
  using time_point = std::chrono::time_point<Clock, duration>;
  static time_point now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return time_point(duration(int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec));
  }
};
using quillon::AudioCallback;
using quillon::ByteBuffer;

using BenchCapture = quillon::bench::FedCapture;

// A talker: a glottal-like harmonic wave read from a table at a pitch that
// glides around `basePitch`, shaped into syllables, with pauses between
// phrases and a little background noise. Cheap enough to make an hour of
// 48 kHz audio in a few seconds, and outside the timed sections anyway.
class Talker {
 public:
  Talker(double rate, double basePitch, uint32_t seed) : _rate(rate), _basePitch(basePitch), _noise(seed) {
    _table.resize(kTableSize);
    for (size_t i = 0; i < kTableSize; ++i) {
      double v = 0;
      for (int h = 1; h <= 24; ++h) {
        // Falling spectrum with two formant bumps.
        const double f = h * 150.0;
        const double formants = 1.0 + 2.5 * std::exp(-std::pow((f - 700) / 250, 2)) +
                                1.5 * std::exp(-std::pow((f - 1800) / 350, 2));
        v += formants / h * std::sin(2 * std::numbers::pi * h * double(i) / kTableSize);
      }
      _table[i] = float(v * 0.18);
    }
  }

  float next() {
    const double t = double(_sample++) / _rate;
    if (_sample % 64 == 0) {
      // Pitch and loudness change slowly; refreshed every 64 samples.
      const double pitch = _basePitch * (1.0 + 0.15 * std::sin(2 * std::numbers::pi * 0.7 * t) +
                                         0.05 * std::sin(2 * std::numbers::pi * 3.1 * t));
      _step = pitch / _rate * kTableSize;
      const double phrase = std::fmod(t, 9.0);  // 6.5 s of talk, 2.5 s of pause
      const double syllable = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 4.3 * t);
      _gain = phrase < 6.5 ? float(syllable * syllable) : 0.0f;
    }
    _phase += _step;
    if (_phase >= kTableSize) _phase -= kTableSize;
    _noise ^= _noise << 13;
    _noise ^= _noise >> 17;
    _noise ^= _noise << 5;
    const float noise = (float(_noise) / 4294967296.0f - 0.5f) * 0.01f;
    return _table[size_t(_phase)] * _gain + noise;
  }

 private:
  static constexpr size_t kTableSize = 4096;
  double _rate, _basePitch;
  uint32_t _noise;
  std::vector<float> _table;
  uint64_t _sample = 0;
  double _phase = 0, _step = 0;
  float _gain = 0;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  double audioSeconds = 3600.0;
  std::FILE* micInput = nullptr;
  std::FILE* loopInput = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--inputs") == 0 && i + 1 < argc) {
      const std::filesystem::path inputs(argv[++i]);
      std::filesystem::create_directories(inputs);
      micInput = std::fopen((inputs / "mic.f32").c_str(), "wb");
      loopInput = std::fopen((inputs / "loop.s16").c_str(), "wb");
    } else {
      audioSeconds = std::atof(argv[i]);
    }
  }
  const auto dir = std::filesystem::temp_directory_path() / ("quillon-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string wavPath = (dir / "rec.wav").string(), opusPath = (dir / "rec.opus").string();

  BenchCapture mic, speaker;
  auto factory = quillon::AudioFactory::create(wavPath, opusPath, true, mic, speaker);
  size_t pcmBlocks = 0, opusBytes = 0;
  factory->setPcmCallback([&](const ByteBuffer&) { ++pcmBlocks; });
  factory->setOpusCallback([&](const ByteBuffer& packet) { opusBytes += packet.size(); });
  auto micConverter = quillon::Mono16kConverter::create(48000, 2);
  auto speakerConverter = quillon::Mono16kConverter::create(44100, 2);

  Talker near(48000, 120, 1), far(44100, 210, 2);
  const size_t micFrames = 1024, speakerFrames = 1024;
  const uint64_t micTotal = uint64_t(audioSeconds * 48000), speakerTotal = uint64_t(audioSeconds * 44100);
  uint64_t micDone = 0, speakerDone = 0;
  std::vector<float> micBlock(micFrames * 2);
  std::vector<int16_t> speakerBlock(speakerFrames * 2);
  std::vector<float> speakerFloats, converted;
  Clock::duration chain{}, conversion{};

  // Feed whichever source is behind in time, as two live captures would.
  while (micDone < micTotal || speakerDone < speakerTotal) {
    const bool micTurn = speakerDone >= speakerTotal ||
                         (micDone < micTotal && double(micDone) / 48000 <= double(speakerDone) / 44100);
    if (micTurn) {
      const size_t n = size_t(std::min<uint64_t>(micFrames, micTotal - micDone));
      for (size_t i = 0; i < n; ++i) micBlock[2 * i] = micBlock[2 * i + 1] = near.next();
      if (micInput) std::fwrite(micBlock.data(), 8, n, micInput);
      const auto start = Clock::now();
      micConverter->process({micBlock.data(), n * 2}, converted);
      const auto converted_at = Clock::now();
      mic.deliver(converted);
      chain += Clock::now() - start;
      conversion += converted_at - start;
      micDone += n;
    } else {
      const size_t n = size_t(std::min<uint64_t>(speakerFrames, speakerTotal - speakerDone));
      for (size_t i = 0; i < n; ++i) speakerBlock[2 * i] = speakerBlock[2 * i + 1] = int16_t(far.next() * 32767);
      if (loopInput) std::fwrite(speakerBlock.data(), 4, n, loopInput);
      const auto start = Clock::now();
      // The capture's one 16-bit to float step, then the converter.
      quillon::pcm16BytesToFloats({reinterpret_cast<const uint8_t*>(speakerBlock.data()), n * 4}, speakerFloats);
      speakerConverter->process(speakerFloats, converted);
      const auto converted_at = Clock::now();
      speaker.deliver(converted);
      chain += Clock::now() - start;
      conversion += converted_at - start;
      speakerDone += n;
    }
  }
  if (micInput) std::fclose(micInput);
  if (loopInput) std::fclose(loopInput);
  const auto closeStart = Clock::now();
  const quillon::CloseSummary summary = factory->close();
  chain += Clock::now() - closeStart;

  // libopus alone on the very signal the chain produced.
  std::FILE* wav = std::fopen(wavPath.c_str(), "rb");
  std::fseek(wav, 44, SEEK_SET);
  int error = 0;
  OpusEncoder* encoder = opus_encoder_create(16000, 1, OPUS_APPLICATION_AUDIO, &error);
  std::vector<int16_t> frames(640 * 1500);
  unsigned char packet[1276];
  Clock::duration opusAlone{};
  size_t aloneFrames = 0, aloneBytes = 0;
  for (;;) {
    const size_t got = std::fread(frames.data(), 2, frames.size(), wav) / 640;
    if (got == 0) break;
    const auto start = Clock::now();
    for (size_t f = 0; f < got; ++f) {
      aloneBytes += size_t(opus_encode(encoder, frames.data() + f * 640, 640, packet, sizeof packet)) + 2;
    }
    opusAlone += Clock::now() - start;
    aloneFrames += got;
  }
  opus_encoder_destroy(encoder);
  std::fclose(wav);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double chainX = audioSeconds / seconds(chain);
  const double aloneX = double(aloneFrames) * 0.04 / seconds(opusAlone);
  std::printf("audio: %.0f s; WAV %d bytes (%d ms), %zu PCM blocks, Opus %zu bytes in %zu frames\n", audioSeconds,
              summary.size, summary.duration, pcmBlocks, opusBytes, aloneFrames);
  std::printf("opus alone produced %zu framed bytes (the chain: %zu)\n", aloneBytes, opusBytes);
  std::printf("whole chain:  %.3f s CPU, %.1f x real time\n", seconds(chain), chainX);
  std::printf("  of which conversion to 16 kHz: %.3f s\n", seconds(conversion));
  std::printf("opus alone:   %.3f s CPU, %.1f x real time\n", seconds(opusAlone), aloneX);
  std::printf("chain / opus cost ratio: %.3f (goal <= 1.10)\n", aloneX / chainX);
  std::printf("peak memory: %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
  std::filesystem::remove_all(dir);
  return 0;
}
