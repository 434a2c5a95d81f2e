// Encoding and decoding of the message the recording sends most often: an
// "onPcmData" call carrying 40 ms of 16 kHz 16-bit mono PCM (1280 bytes).
// Goal: under 1 microsecond each.
#include <benchmark/benchmark.h>

#include "engine/standard_codec.h"

namespace {

quillon::MethodCall pcmCall() {
  std::vector<uint8_t> pcm(1280);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 31);
  return {"onPcmData", quillon::EncodableMap{{"data", std::move(pcm)}}};
}

void BM_EncodePcmCall(benchmark::State& state) {
  const auto call = pcmCall();
  for (auto _ : state) {
    auto bytes = quillon::StandardCodec::encodeMethodCall(call);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1280);
}
BENCHMARK(BM_EncodePcmCall);

void BM_DecodePcmCall(benchmark::State& state) {
  const auto bytes = quillon::StandardCodec::encodeMethodCall(pcmCall());
  for (auto _ : state) {
    auto call = quillon::StandardCodec::decodeMethodCall(bytes);
    benchmark::DoNotOptimize(call);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1280);
}
BENCHMARK(BM_DecodePcmCall);

}  // namespace

BENCHMARK_MAIN();
