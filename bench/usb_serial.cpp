// Figures of the serial link: hexadecimal conversion speed, and the cost of
// the exchange's open-configure-write-close around a pseudo-terminal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "usb/usb_factory.h"

namespace {

using quillon::UsbFactory;

void HexTextToBytes(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)) * 2, 'A');
  for (auto _ : state) benchmark::DoNotOptimize(UsbFactory::hexStringToData(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(HexTextToBytes)->Arg(64)->Arg(4096);

void BytesToHexText(benchmark::State& state) {
  const std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)), 0x5A);
  for (auto _ : state) benchmark::DoNotOptimize(UsbFactory::dataToHexString(bytes));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BytesToHexText)->Arg(64)->Arg(4096);

// A zero window: everything of the exchange except the collecting.
void ExchangeWithoutWindow(benchmark::State& state) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master);
  unlockpt(master);
  const std::string path = ptsname(master);
  const int keeper = open(path.c_str(), O_RDWR | O_NOCTTY);
  UsbFactory factory;
  char sink[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(factory.sendUsbHexDataAndClose(path, "A55A0102", 0, "bench"));
    pollfd waiter{master, POLLIN, 0};
    while (poll(&waiter, 1, 0) > 0 && (waiter.revents & POLLIN)) {
      if (read(master, sink, sizeof sink) <= 0) break;
    }
  }
  close(keeper);
  close(master);
}
BENCHMARK(ExchangeWithoutWindow)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
