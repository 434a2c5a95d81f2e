#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "capture/loopback_driver_installer.h"
#include "pulse_daemon.h"

namespace quillon {
namespace {

// The real commands, run as root, into a drop-in folder a private server reads.
TEST(LoopbackInstall, RootRunInstallsTheDropInAndTheRestartedServerHasTheLoopback) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the commands run without a prompt only then";
  test::TempDir root;
  const std::string folder = root.str() + "/default.pa.d";
  test::PulseDaemon daemon({.loopbackSink = false, .microphone = false, .includeFolder = folder});
  ASSERT_TRUE(daemon.start()) << daemon.log();

  LoopbackInstallLayout layout;
  layout.pluginFolder = folder;
  layout.installedBundle = folder + "/VerdalisRecorder.pa";
  layout.restartCommand = {"/bin/kill", "-9", std::to_string(daemon.pid())};
  layout.restartTarget = std::to_string(daemon.pid());
  LoopbackDriverInstaller installer(layout, std::make_shared<PkexecRunner>());

  const std::string source = std::string(QUILLON_SOURCE_DIR) + "/resources/VerdalisRecorder.pa";
  ASSERT_EQ(installer.checkAndInstallDriver(source), 0);
  EXPECT_TRUE(std::filesystem::exists(layout.installedBundle));
  ASSERT_TRUE(daemon.waitForExit());  // the restart command really ran

  ASSERT_TRUE(daemon.start()) << daemon.log();
  auto hardware = daemon.connect();
  const AudioDeviceId loopback = test::idOf(*hardware, "VerdalisRecorder");
  ASSERT_NE(loopback, kNoAudioDevice);
  double rate = 0;
  ASSERT_EQ(hardware->nominalSampleRate(loopback, rate), AudioStatus::ok);
  EXPECT_DOUBLE_EQ(rate, 44100.0);
  // A second run finds it in place.
  EXPECT_EQ(installer.checkAndInstallDriver(source), 0);
}

}  // namespace
}  // namespace quillon
