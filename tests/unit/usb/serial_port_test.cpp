#include "pty_device.h"
#include "unit/logging/day_log.h"
#include "usb/usb_factory.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Text pairs up from the start, a last single character ignored. Reading a
// pair stops at its first non-digit; a pair without a leading digit is 0.
// Positions count UTF-16 units.
TEST(HexText, ParsesPairsFromTheStart) {
  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"a1B2", {0xA1, 0xB2}},
      {"AA BB", {0xAA, 0x0B}},  // "AA", " B", "B": the space shifts the pairing
      {"1xzz  \t7", {0x01, 0x00, 0x00, 0x07}},
      {"\xC3\xA9" "122", {0x00, 0x22}},         // "é" is one unit: "é1" gives 0
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(UsbFactory::hexStringToData(text), bytes) << text;
}

class SerialPort : public test::WithDayLog {
 protected:
  test::PtyDevice device;
  UsbFactory factory;
};

TEST_F(SerialPort, APortThatCannotOpenGetsNeutralAnswers) {
  EXPECT_FALSE(factory.open("/dev/quillon-missing"));
  EXPECT_EQ(factory.sendUsbHexDataAndClose("/dev/quillon-missing", "01", 10, "gone"), "");
}

// A read waits up to a second for the first byte, then takes what follows
// until 10 ms pass quietly; later bytes are left for the next read.
TEST_F(SerialPort, ReadWaitsForTheFirstByteAndEndsOnSilence) {
  ASSERT_TRUE(factory.open(device.path()));
  // Nothing is translated on the way: no line endings, flow control or signals.
  device.answer(1, {{300ms, {0x0D, 0x0A, 0x11, 0x13, 0x03}}, {60ms, {0x7F, 0x00, 0xFF}}});
  EXPECT_EQ(factory.sendUsbBytesAndReadHex(device.path(), {0x55}), "0D0A111303");
  EXPECT_EQ(device.command(), Bytes{0x55});
  EXPECT_EQ(factory.readBytesData(device.path()), (Bytes{0x7F, 0x00, 0xFF}));

  // A pause of a few ms can stretch past the 10 ms silence on a loaded
  // machine, so a few attempts are allowed; a read that stops at its first
  // chunk never joins them.
  bool joined = false;
  for (int attempt = 0; attempt < 4 && !joined; ++attempt) {
    device.answer(1, {{0ms, {0x01, 0x02}}, {5ms, {0x03, 0x04}}});
    joined = factory.sendUsbBytesAndReadHex(device.path(), {0x55}) == "01020304";
    device.command();
  }
  EXPECT_TRUE(joined);
}

// The window is counted in 10 ms passes of one read each; the exchange
// opens the port itself and writes even when it will not wait.
TEST_F(SerialPort, ExchangeWindowIsCountedInPassesOfOneChunk) {
  device.answer(1, {{0ms, Bytes(100, 0x42)}});
  EXPECT_EQ(factory.sendUsbHexDataAndClose(device.path(), "01", 0, "zero"), "");
  EXPECT_EQ(device.command(), Bytes{0x01});
  device.answer(1, {{0ms, Bytes(1000, 0x42)}});
  EXPECT_LE(factory.sendUsbHexDataAndClose(device.path(), "02", 5, "five").size(), 2u * 256u);
  device.command();
}

// With every descriptor up to 1100 taken, the port's lie beyond select's 1024.
TEST_F(SerialPort, DescriptorsBeyondTheSelectLimitWork) {
  std::vector<int> filler;
  while (filler.empty() || (filler.back() >= 0 && filler.back() < 1100)) {
    filler.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  }
  ASSERT_GE(filler.back(), 1100) << "descriptor limit too low for this test";

  // Every read, the exchange's included, waits through the same poll.
  device.answer(1, {{0ms, {0x6B}}});
  EXPECT_EQ(factory.sendUsbHexDataAndClose(device.path(), "02", 300, "high"), "6B");
  device.command();
  for (int fd : filler) ::close(fd);
}

}  // namespace
}  // namespace quillon
