#include <regex>

#include "pty_device.h"
#include "usb/usb_factory.h"
#include "unit/logging/day_log.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using test::PtyDevice;

std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
  std::vector<uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
  return bytes;
}

class SerialPort : public test::WithDayLog {
 protected:
  PtyDevice device;
  UsbFactory factory;
};

TEST_F(SerialPort, OpenTwiceKeepsOneDescriptorAndCloseForgetsIt) {
  ASSERT_TRUE(factory.open(device.path()));
  ASSERT_TRUE(factory.open(device.path()));
  EXPECT_EQ(countInLog("打开串口成功: " + device.path() + ", fd="), 1u);

  factory.close("/dev/never-opened");
  factory.close(device.path());
  factory.close(device.path());
  EXPECT_EQ(countInLog("关闭串口: "), 1u);
  EXPECT_EQ(factory.sendUsbHexData(device.path(), "01"), kRealPortNotOpen);
  EXPECT_EQ(factory.sendUsbBytesAndReadHex(device.path(), {1}), kRealPortNotOpen);
  EXPECT_EQ(factory.readHexData(device.path()), "");

  EXPECT_FALSE(factory.open("/nonexistent/ttyACM9"));
  EXPECT_EQ(countInLog("[ERROR] 打开串口失败: /nonexistent/ttyACM9"), 1u);
}

// How hex text pairs into bytes is covered by the HexText tests.
TEST_F(SerialPort, HexSendsLogEachWrite) {
  ASSERT_TRUE(factory.open(device.path()));
  EXPECT_EQ(factory.sendUsbHexData(device.path(), "a1B2"), kRealSuccess);
  EXPECT_EQ(device.receive(2), bytesOf({0xA1, 0xB2}));
  EXPECT_EQ(factory.sendUsbHexData(device.path(), ""), kRealSuccess);

  const std::string log = logText();
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(\[UsbFactory\] \[INFO\] \[sendUsbBytesData\] \[Send Start\] path=)" +
                      device.path() + R"(, len=2, time=\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000)")))
      << log;
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(\[sendUsbBytesData\] \[Send End\] path=)" + device.path() +
                      R"(, written=0, duration=\d+\.\d\d ms)")))
      << log;
}

TEST_F(SerialPort, ReadJoinsBurstsCloseTogether) {
  ASSERT_TRUE(factory.open(device.path()));
  // A pause of a few ms can stretch past the 10 ms silence on a loaded
  // machine, so a few attempts are allowed; a read that stops at its first
  // chunk never joins them.
  bool joined = false;
  for (int attempt = 0; attempt < 4 && !joined; ++attempt) {
    device.answer(1, {{0ms, {0x01, 0x02}}, {5ms, {0x03, 0x04}}});
    const std::string reply = factory.sendUsbBytesAndReadHex(device.path(), {0x55});
    device.command();
    joined = reply == "01020304";
  }
  EXPECT_TRUE(joined);
}

TEST_F(SerialPort, ReadEndsOnSilenceLeavesLaterBytesForTheNextReadAndTranslatesNothing) {
  ASSERT_TRUE(factory.open(device.path()));
  device.answer(1, {{0ms, {0x01, 0x02}}, {60ms, {0x03, 0x04}}});
  EXPECT_EQ(factory.sendUsbBytesAndReadHex(device.path(), {0x55}), "0102");
  device.command();
  EXPECT_EQ(factory.readBytesData(device.path()), bytesOf({0x03, 0x04}));
  // Nothing more comes: the read gives up after its idle second.
  EXPECT_TRUE(factory.readBytesData(device.path()).empty());

  const auto reply = bytesOf({0x0D, 0x0A, 0x11, 0x13, 0x03, 0x7F, 0x00, 0xFF});
  device.answer(1, {{0ms, reply}});
  EXPECT_EQ(factory.sendUsbBytesAndReadHex(device.path(), {0x0D}), "0D0A1113037F00FF");
  EXPECT_EQ(device.command(), bytesOf({0x0D}));
}

TEST_F(SerialPort, ExchangeCollectsForItsWholeWindowAndClosesThePort) {
  ASSERT_TRUE(factory.open(device.path()));
  device.answer(2, {{0ms, {0xAA}}, {150ms, {0xBB, 0xCC}}});
  EXPECT_EQ(factory.sendUsbHexDataAndClose(device.path(), "1234", 500, "t1"), "AABBCC");
  EXPECT_EQ(device.command(), bytesOf({0x12, 0x34}));
  EXPECT_EQ(factory.sendUsbBytesData(device.path(), {1}), kRealPortNotOpen);

  const std::string log = logText();
  EXPECT_NE(log.find("[t1] [sendUsbHexDataAndClose] 向设备发送数据: 1234"), std::string::npos);
  EXPECT_NE(log.find("关闭串口: " + device.path()), std::string::npos);
  EXPECT_NE(log.find("[t1] [sendUsbHexDataAndClose] 收到响应，长度: 3"), std::string::npos);
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(\[t1\] \[sendUsbHexDataAndClose\] \[Send Start\] path=)" +
                      device.path() + R"(, len=2, time=)")));
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(\[t1\] \[sendUsbHexDataAndClose\] \[Send End\] path=)" + device.path() +
                      R"(, duration=\d+\.\d\d ms)")));
}

TEST_F(SerialPort, ExchangeWindowOfZeroReadsNothingAndFiveReadsOneChunkAtMost) {
  device.answer(1, {{0ms, std::vector<uint8_t>(100, 0x42)}});
  EXPECT_EQ(factory.sendUsbHexDataAndClose(device.path(), "01", 0, "zero"), "");
  EXPECT_EQ(device.command(), bytesOf({0x01}));
  EXPECT_EQ(countInLog("[WARNING] [zero] [sendUsbHexDataAndClose] 未收到数据响应"), 1u);

  // One 10 ms pass reads at most one 256-byte chunk of a longer reply.
  device.answer(1, {{0ms, std::vector<uint8_t>(1000, 0x42)}});
  const std::string reply = factory.sendUsbHexDataAndClose(device.path(), "02", 5, "five");
  device.command();
  EXPECT_LE(reply.size(), 2u * 256u);
}

TEST_F(SerialPort, VanishedDeviceFailsWritesAndReadsEmpty) {
  ASSERT_TRUE(factory.open(device.path()));
  device.hangUp();
  EXPECT_EQ(factory.sendUsbHexData(device.path(), "0102"), kRealWriteFailed);
  EXPECT_TRUE(factory.readBytesData(device.path()).empty());
  EXPECT_EQ(factory.sendUsbHexDataAndClose(device.path(), "01", 50, "gone"), "");
  EXPECT_EQ(countInLog("[ERROR] [sendUsbBytesData] Write Failed: " + device.path() + ", errno="), 1u);
  EXPECT_EQ(countInLog("[gone] [sendUsbHexDataAndClose] 打开设备失败: " + device.path()), 1u);
}

TEST_F(SerialPort, DescriptorsBeyondTheSelectLimitWork) {
  std::vector<int> filler;
  int probe;
  while ((probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0 && probe < 1100) {
    filler.push_back(probe);
  }
  if (probe >= 0) filler.push_back(probe);
  ASSERT_GE(probe, 1024) << "descriptor limit too low for this test";

  ASSERT_TRUE(factory.open(device.path()));
  EXPECT_TRUE(std::regex_search(logText(), std::regex(R"(fd=1\d{3})")));
  device.answer(1, {{0ms, {0x5A}}});
  EXPECT_EQ(factory.sendUsbBytesAndReadHex(device.path(), {0x01}), "5A");
  device.command();
  device.answer(1, {{0ms, {0x6B}}});
  EXPECT_EQ(factory.sendUsbHexDataAndClose(device.path(), "02", 300, "high"), "6B");
  device.command();
  for (int fd : filler) ::close(fd);
}

}  // namespace
}  // namespace quillon
