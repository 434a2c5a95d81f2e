#pragma once

#include <memory>

#include "app/channel_registration.h"
#include "platform/serial_port_registry.h"
#include "usb/usb_factory.h"

namespace quillon {

// "native_usb_factory": the serial-port commands of the serial port manager
// it owns, and the port monitor, whose arrivals and removals reach the engine
// as "onUsbDeviceChanged".
class UsbChannel {
 public:
  // `serialPorts` null: the system's ports. The messenger must outlive the channel.
  UsbChannel(BinaryMessenger& messenger, std::shared_ptr<SerialPortRegistry> serialPorts);

  const UsbFactory& usbFactory() const { return usbFactory_; }

 private:
  void handle(const MethodCall& call, MethodResult& result);

  BinaryMessenger& messenger_;
  UsbFactory usbFactory_;
  ChannelRegistration registration_;
};

}  // namespace quillon
