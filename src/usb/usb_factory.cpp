#include "usb/usb_factory.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "logging/logger.h"
#include "usb/hex_text.h"
#include "usb/serial_line.h"

namespace quillon {

namespace {

constexpr const char* kTag = "UsbFactory";
constexpr int kPollStepMs = 10;
constexpr size_t kReadChunk = 256;
// A second of empty 10 ms waits before the first byte ends a read.
constexpr int kIdlePassesBeforeGivingUp = 100;
// Keeps the collecting window's microsecond count within a signed 32-bit value.
constexpr int32_t kLongestExchangeMs = 2147483;

const char* textOrNull(const std::string* text) { return text ? text->c_str() : "(null)"; }

// The date as the log shows it: UTC, whole seconds, numeric offset.
std::string dateText(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[40];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return buffer;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int openPort(const std::string* path) {
  if (!path) return -1;
  int fd;
  do {
    fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

UsbFactory::UsbFactory(std::shared_ptr<SerialPortRegistry> registry)
    : registry_(registry ? std::move(registry) : makeSystemSerialPortRegistry()),
      watcher_(std::make_unique<UsbWatcher>(registry_)) {}

UsbFactory::~UsbFactory() {
  watcher_.reset();
  for (const auto& [path, fd] : openFds_) ::close(fd);
}

int UsbFactory::descriptorOf(const std::string* path) const {
  if (!path) return 0;
  const auto found = openFds_.find(*path);
  return found == openFds_.end() ? 0 : found->second;
}

std::vector<std::string> UsbFactory::openPaths() const {
  std::vector<std::string> paths;
  for (const auto& entry : openFds_) paths.push_back(entry.first);
  return paths;
}

bool UsbFactory::open(const std::string& path) { return open(&path); }

bool UsbFactory::open(const std::string* path) {
  if (path && openFds_.contains(*path)) return true;
  const int fd = openPort(path);
  if (fd < 0) {
    Logger::shared().error(kTag, "打开串口失败: %s", textOrNull(path));
    return false;
  }
  serial_line::configure(fd);
  openFds_[*path] = fd;
  Logger::shared().info(kTag, "打开串口成功: %s, fd=%d", path->c_str(), fd);
  return true;
}

void UsbFactory::close(const std::string& path) { close(&path); }

void UsbFactory::close(const std::string* path) {
  if (!path) return;
  const auto found = openFds_.find(*path);
  if (found == openFds_.end()) return;
  ::close(found->second);
  openFds_.erase(found);
  Logger::shared().info(kTag, "关闭串口: %s", path->c_str());
}

std::string UsbFactory::sendUsbBytesData(const std::string& path,
                                         const std::vector<uint8_t>& bytes) {
  return sendUsbBytesData(&path, bytes);
}

std::string UsbFactory::sendUsbBytesData(const std::string* path,
                                         const std::vector<uint8_t>& bytes) {
  const int fd = descriptorOf(path);
  if (fd < 1) {
    Logger::shared().error(kTag, "[sendUsbBytesData] 发送失败，串口未打开: %s", textOrNull(path));
    return kRealPortNotOpen;
  }
  const auto startWall = std::chrono::system_clock::now();
  const auto start = std::chrono::steady_clock::now();
  Logger::shared().info(kTag, "[sendUsbBytesData] [Send Start] path=%s, len=%lu, time=%s",
                        path->c_str(), static_cast<unsigned long>(bytes.size()),
                        dateText(startWall).c_str());
  // Whatever arrived unread belongs to an earlier exchange, not to the reply to this write.
  tcflush(fd, TCIFLUSH);
  const ssize_t written = ::write(fd, bytes.data(), bytes.size());
  const int writeError = errno;
  Logger::shared().info(kTag, "[sendUsbBytesData] [Send End] path=%s, written=%zd, duration=%.2f ms",
                        path->c_str(), written, millisecondsSince(start));
  if (written < 0) {
    Logger::shared().error(kTag, "[sendUsbBytesData] Write Failed: %s, errno=%d, err_msg=%s",
                           path->c_str(), writeError, std::strerror(writeError));
    return kRealWriteFailed;
  }
  return kRealSuccess;
}

std::string UsbFactory::sendUsbHexData(const std::string& path, const std::string& hexData) {
  return sendUsbHexData(&path, &hexData);
}

std::string UsbFactory::sendUsbHexData(const std::string* path, const std::string* hexData) {
  return sendUsbBytesData(path, hexData ? hexStringToData(*hexData) : std::vector<uint8_t>{});
}

std::vector<uint8_t> UsbFactory::readBytesData(const std::string& path) {
  return readBytesData(&path);
}

std::vector<uint8_t> UsbFactory::readBytesData(const std::string* path) {
  std::vector<uint8_t> received;
  const int fd = descriptorOf(path);
  if (fd < 1) return received;
  bool dataSeen = false;
  int idlePasses = 0;
  for (;;) {
    if (serial_line::readWithin(fd, kPollStepMs, kReadChunk, received) > 0) {
      dataSeen = true;
      idlePasses = 0;
      continue;
    }
    // The reply ends on the first quiet pass after it began.
    if (dataSeen || ++idlePasses >= kIdlePassesBeforeGivingUp) break;
  }
  return received;
}

std::string UsbFactory::readHexData(const std::string& path) { return readHexData(&path); }

std::string UsbFactory::readHexData(const std::string* path) {
  return dataToHexString(readBytesData(path));
}

std::string UsbFactory::sendUsbBytesAndReadHex(const std::string& path,
                                               const std::vector<uint8_t>& bytes) {
  return sendUsbBytesAndReadHex(&path, bytes);
}

std::string UsbFactory::sendUsbBytesAndReadHex(const std::string* path,
                                               const std::vector<uint8_t>& bytes) {
  std::string status = sendUsbBytesData(path, bytes);
  if (status != kRealSuccess) return status;
  return readHexData(path);
}

std::string UsbFactory::sendUsbHexDataAndClose(const std::string& path, const std::string& hexData,
                                               int32_t timeoutMs, const std::string& trace) {
  return sendUsbHexDataAndClose(&path, &hexData, timeoutMs, &trace);
}

std::string UsbFactory::sendUsbHexDataAndClose(const std::string* path, const std::string* hexData,
                                               int32_t timeoutMs, const std::string* trace) {
  const std::vector<uint8_t> bytes =
      hexData ? hexStringToData(*hexData) : std::vector<uint8_t>{};
  const char* traceText = textOrNull(trace);
  Logger::shared().info(kTag, "[%s] [sendUsbHexDataAndClose] 向设备发送数据: %s", traceText,
                        textOrNull(hexData));
  close(path);

  const int fd = openPort(path);
  if (fd < 0) {
    Logger::shared().info(kTag, "[%s] [sendUsbHexDataAndClose] 打开设备失败: %s", traceText,
                          textOrNull(path));
    return "";
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  tcflush(fd, TCIOFLUSH);
  serial_line::configure(fd);
  tcflush(fd, TCIOFLUSH);
  [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
  tcdrain(fd);

  const auto startWall = std::chrono::system_clock::now();
  const auto start = std::chrono::steady_clock::now();
  Logger::shared().info(kTag, "[%s] [sendUsbHexDataAndClose] [Send Start] path=%s, len=%lu, time=%s",
                        traceText, path->c_str(), static_cast<unsigned long>(bytes.size()),
                        dateText(startWall).c_str());

  // The window is counted in passes, not in wall time: a pass that returns
  // early because bytes came still counts as a full 10 ms.
  std::vector<uint8_t> received;
  const int32_t window = std::min(timeoutMs, kLongestExchangeMs);
  const int64_t limitUs = static_cast<int64_t>(window) * 1000;
  for (int64_t elapsedUs = 0; elapsedUs < limitUs; elapsedUs += kPollStepMs * 1000) {
    serial_line::readWithin(fd, kPollStepMs, kReadChunk, received);
  }
  ::close(fd);

  Logger::shared().info(kTag, "[%s] [sendUsbHexDataAndClose] [Send End] path=%s, duration=%.2f ms",
                        traceText, path->c_str(), millisecondsSince(start));
  if (received.empty()) {
    Logger::shared().warning(kTag, "[%s] [sendUsbHexDataAndClose] 未收到数据响应", traceText);
    return "";
  }
  Logger::shared().info(kTag, "[%s] [sendUsbHexDataAndClose] 收到响应，长度: %lu", traceText,
                        static_cast<unsigned long>(received.size()));
  return dataToHexString(received);
}

std::vector<uint8_t> UsbFactory::hexStringToData(const std::string& text) {
  return hexTextToBytes(text);
}

std::string UsbFactory::dataToHexString(const std::vector<uint8_t>& bytes) {
  return bytesToHexText(bytes);
}

}  // namespace quillon
