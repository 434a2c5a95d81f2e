#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "capture/loopback_driver_installer.h"
#include "pulse_daemon.h"

namespace quillon {
namespace {

// The real command, run as root, into a drop-in folder a private server
// reads; the running server gets the device at once and is not restarted.
TEST(LoopbackInstall, RootRunInstallsTheDropInAndLoadsItIntoTheRunningServer) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the command runs without a prompt only then";
  test::TempDir root;
  const auto layout = LoopbackInstallLayout::underRoot(root.str());
  const std::string folder = std::filesystem::path(layout.pulseAudioBundle).parent_path().string();
  test::PulseDaemon daemon({.loopbackSink = false, .microphone = false, .includeFolder = folder});
  ASSERT_TRUE(daemon.start()) << daemon.log();
  const int pid = daemon.pid();
  auto hardware = daemon.connect();
  LoopbackDriverInstaller installer(layout, std::make_shared<PkexecRunner>(), hardware);

  const std::string source = std::string(QUILLON_SOURCE_DIR) + "/resources/VerdalisRecorder.pa";
  ASSERT_EQ(installer.checkAndInstallDriver(source), 0);
  EXPECT_TRUE(std::filesystem::exists(layout.pulseAudioBundle));
  EXPECT_NE(test::idOf(*hardware, "VerdalisRecorder"), kNoAudioDevice);
  EXPECT_EQ(daemon.pid(), pid);
  EXPECT_EQ(kill(pid, 0), 0);  // never killed

  // The server reads the drop-in at its next start: the device is there.
  daemon.stop();
  ASSERT_TRUE(daemon.start()) << daemon.log();
  hardware = daemon.connect();
  const AudioDeviceId loopback = test::idOf(*hardware, "VerdalisRecorder");
  ASSERT_NE(loopback, kNoAudioDevice);
  double rate = 0;
  ASSERT_EQ(hardware->nominalSampleRate(loopback, rate), AudioStatus::ok);
  EXPECT_DOUBLE_EQ(rate, 44100.0);
  EXPECT_EQ(LoopbackDriverInstaller(layout, std::make_shared<PkexecRunner>(), hardware).checkAndInstallDriver(source), 0);
}

}  // namespace
}  // namespace quillon
