#include "app/usb_channel.h"

#include <algorithm>
#include <limits>

#include "app/call_arguments.h"

namespace quillon {

namespace {

constexpr const char* kChannel = "native_usb_factory";
constexpr int32_t kDefaultExchangeTimeoutMs = 500;

// A list of integers each 0..255; anything else (a typed byte array included)
// does not qualify, so no byte is silently truncated.
std::optional<std::vector<uint8_t>> byteList(const EncodableValue* value) {
  if (!value || !value->asList()) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(value->asList()->size());
  for (const EncodableValue& element : *value->asList()) {
    const auto number = element.asInteger();
    if (!number || *number < 0 || *number > 255) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*number));
  }
  return bytes;
}

EncodableValue integerList(const std::vector<uint8_t>& bytes) {
  EncodableList list;
  list.reserve(bytes.size());
  for (uint8_t byte : bytes) list.emplace_back(static_cast<int32_t>(byte));
  return list;
}

void handlePortCommand(UsbFactory& usb, const MethodCall& call, MethodResult& result) {
  const CallArguments args(call.arguments);
  const std::string& method = call.method;
  if (method == "open" || method == "close" || method == "readUsbBytesData" || method == "readUsbHexData") {
    const auto path = args.string("path");
    if (!path) {
      result.error("INVALID_ARGS", "Missing 'path'");
      return;
    }
    if (method == "open") {
      result.success(usb.open(*path));
    } else if (method == "close") {
      usb.close(*path);
      result.success();
    } else if (method == "readUsbBytesData") {
      result.success(integerList(usb.readBytesData(*path)));
    } else {
      result.success(usb.readHexData(*path));
    }
    return;
  }
  if (method == "sendUsbHexData" || method == "sendUsbHexDataAndClose") {
    const auto path = args.string("path");
    const auto data = args.string("data");
    if (!path || !data) {
      result.error("INVALID_ARGS", "Missing 'path' or 'data'");
      return;
    }
    if (method == "sendUsbHexData") {
      result.success(usb.sendUsbHexData(*path, *data));
      return;
    }
    int32_t timeout = kDefaultExchangeTimeoutMs;
    if (const auto requested = args.integer("timeout")) {
      // Out-of-range values are clamped rather than wrapped into a nonsense window.
      timeout = static_cast<int32_t>(std::clamp<int64_t>(*requested, std::numeric_limits<int32_t>::min(),
                                                         std::numeric_limits<int32_t>::max()));
    }
    const std::string trace = args.string("trace").value_or("");
    result.success(usb.sendUsbHexDataAndClose(*path, *data, timeout, trace));
    return;
  }
  if (method == "sendUsbBytesData") {
    const auto path = args.string("path");
    const auto data = path ? byteList(args.value("data")) : std::nullopt;
    if (!path || !data) {
      result.error("INVALID_ARGS", "Missing 'path' or 'data'");
      return;
    }
    result.success(usb.sendUsbBytesData(*path, *data));
    return;
  }
  result.notImplemented();
}

}  // namespace

UsbChannel::UsbChannel(BinaryMessenger& messenger, std::shared_ptr<SerialPortRegistry> serialPorts)
    : messenger_(messenger),
      usbFactory_(std::move(serialPorts)),
      registration_(messenger, kChannel,
                    [this](const MethodCall& call, MethodResult& result) { handle(call, result); }) {}

void UsbChannel::handle(const MethodCall& call, MethodResult& result) {
  if (call.method == "startUsbChangedMonitor") {
    // Runs on the watcher's thread, which the manager stops before it goes;
    // the messenger's send is thread-safe.
    usbFactory_.startUsbChangedMonitor([&messenger = messenger_](const std::string& path, bool added) {
      EncodableMap event{{EncodableValue("path"), EncodableValue(path)},
                         {EncodableValue("attached"), EncodableValue(added)}};
      MethodChannel(messenger, kChannel).invokeMethod("onUsbDeviceChanged", EncodableValue(std::move(event)));
    });
    result.success();
  } else if (call.method == "stopUsbChangedMonitor") {
    usbFactory_.stopUsbChangedMonitor();
    result.success();
  } else {
    handlePortCommand(usbFactory_, call, result);
  }
}

}  // namespace quillon
