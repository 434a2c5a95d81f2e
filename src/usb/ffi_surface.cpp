// The plain C functions through which the engine's foreign-function interface
// drives the serial link. They run on their own UsbFactory, separate from the
// method channel's: separate open ports, separate watcher. Every returned
// pointer belongs to the caller and goes back through ffi_free_string.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "logging/log_folder_record.h"
#include "logging/logger.h"
#include "usb/ffi_surface.h"
#include "usb/text_encoding.h"
#include "usb/usb_factory.h"

#define QUILLON_FFI extern "C" __attribute__((visibility("default")))

namespace {

using quillon::UsbFactory;

// Created on first use and never destroyed: a watcher thread may still be
// calling into it while the process exits.
std::atomic<UsbFactory*> gFactory{nullptr};
std::once_flag gFactoryOnce;

UsbFactory& factory() {
  std::call_once(gFactoryOnce, [] {
    // In a process the host never told at "init" (the engine loading this
    // library), the lines go where the host was last told to put its own.
    quillon::adoptRecordedLogFolder(quillon::Logger::shared());
    gFactory = new UsbFactory();
  });
  return *gFactory;
}

UsbFactory* existingFactory() { return gFactory; }

// Null stays null; text that is not UTF-8 becomes the empty text.
std::optional<std::string> hostString(const char* text) {
  if (!text) return std::nullopt;
  if (!quillon::isValidUtf8(text)) return std::string();
  return std::string(text);
}

const std::string* pointerTo(const std::optional<std::string>& text) {
  return text ? &*text : nullptr;
}

char* copyOut(const std::string& text) { return strdup(text.c_str()); }

// A null pointer with bytes promised, or a negative count, is a caller fault
// that must not be read from.
bool byteArgumentsValid(const unsigned char* bytes, int length, const char* function) {
  if (length >= 0 && (bytes || length == 0)) return true;
  quillon::Logger::shared().error("UsbFactory", "[%s] invalid byte buffer: pointer=%p, length=%d",
                                  function, static_cast<const void*>(bytes), length);
  return false;
}

std::vector<uint8_t> copyBytes(const unsigned char* bytes, int length) {
  if (!bytes || length <= 0) return {};
  return std::vector<uint8_t>(bytes, bytes + length);
}

}  // namespace

QUILLON_FFI void ffi_start_usb_monitor(void (*callback)(const char* path, bool added)) {
  // A null callback leaves the watcher running with no receiver: changes are still logged.
  std::function<void(const std::string&, bool)> block;
  if (callback) {
    block = [callback](const std::string& path, bool added) { callback(path.c_str(), added); };
  }
  factory().startUsbChangedMonitor(std::move(block));
}

QUILLON_FFI bool ffi_open_usb(const char* path) {
  return factory().open(pointerTo(hostString(path)));
}

QUILLON_FFI void ffi_close_usb(const char* path) {
  if (UsbFactory* instance = existingFactory()) instance->close(pointerTo(hostString(path)));
}

QUILLON_FFI char* ffi_send_usb_hex_data(const char* path, const char* hex) {
  UsbFactory& instance = factory();
  return copyOut(instance.sendUsbHexData(pointerTo(hostString(path)), pointerTo(hostString(hex))));
}

QUILLON_FFI char* ffi_send_usb_hex_data_and_close(const char* path, const char* hex, int timeoutMs,
                                                  const char* trace) {
  UsbFactory& instance = factory();
  return copyOut(instance.sendUsbHexDataAndClose(pointerTo(hostString(path)),
                                                 pointerTo(hostString(hex)), timeoutMs,
                                                 pointerTo(hostString(trace))));
}

QUILLON_FFI char* ffi_send_usb_bytes_data(const char* path, const unsigned char* bytes,
                                          int length) {
  UsbFactory& instance = factory();
  if (!byteArgumentsValid(bytes, length, "ffi_send_usb_bytes_data")) {
    return copyOut(quillon::kRealWriteFailed);
  }
  return copyOut(instance.sendUsbBytesData(pointerTo(hostString(path)), copyBytes(bytes, length)));
}

QUILLON_FFI unsigned char* ffi_read_usb_bytes_data(const char* path, int* outLength) {
  if (!outLength) return nullptr;
  *outLength = 0;
  const std::vector<uint8_t> received = factory().readBytesData(pointerTo(hostString(path)));
  if (received.empty()) return nullptr;
  auto* copy = static_cast<unsigned char*>(std::malloc(received.size()));
  if (!copy) return nullptr;
  std::memcpy(copy, received.data(), received.size());
  *outLength = static_cast<int>(received.size());
  return copy;
}

QUILLON_FFI char* ffi_read_usb_hex_data(const char* path) {
  return copyOut(factory().readHexData(pointerTo(hostString(path))));
}

QUILLON_FFI char* ffi_send_usb_bytes_and_read_usb_hex(const char* path, const unsigned char* bytes,
                                                      int length) {
  UsbFactory& instance = factory();
  if (!byteArgumentsValid(bytes, length, "ffi_send_usb_bytes_and_read_usb_hex")) {
    return copyOut(quillon::kRealWriteFailed);
  }
  return copyOut(
      instance.sendUsbBytesAndReadHex(pointerTo(hostString(path)), copyBytes(bytes, length)));
}

QUILLON_FFI bool ffi_get_vid_pid(const char* path, unsigned short* vid, unsigned short* pid) {
  if (!path || !vid || !pid) return false;
  if (!quillon::isValidUtf8(path)) return false;
  return factory().getVidPid(path, vid, pid);
}

QUILLON_FFI void ffi_free_string(void* ptr) { std::free(ptr); }
