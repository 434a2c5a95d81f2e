// Cost of one pass-through pull: the fetch from the pass-through queue and the
// output copy of up to 4096 bytes, as the audio thread pays it on every cycle.
#include <benchmark/benchmark.h>

#include <vector>

#include "capture/pass_through_fifo.h"
#include "capture/player_util.h"

namespace {

void BM_PlayerRenderFull(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> chunk(bytes, 1);
  quillon::PassThroughFifo fifo;
  quillon::PlayerUtil player(1, quillon::makeLinearPcmFormat(44100, 2, 16, false),
                             [&](uint8_t* out, uint32_t n) { return fifo.take(out, n); }, nullptr);
  std::vector<uint8_t> out(bytes);
  size_t held = 0;
  for (auto _ : state) {
    fifo.append(chunk.data(), chunk.size(), held);
    player.render(out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_PlayerRenderFull)->Arg(1024)->Arg(4096)->Arg(8192);

void BM_PlayerRenderUnderrun(benchmark::State& state) {
  quillon::PlayerUtil player(1, quillon::makeLinearPcmFormat(44100, 2, 16, false),
                             [](uint8_t*, uint32_t) { return false; }, nullptr);
  std::vector<uint8_t> out(4096);
  for (auto _ : state) {
    player.render(out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_PlayerRenderUnderrun);

}  // namespace

BENCHMARK_MAIN();
