#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "capture/loopback_driver_installer.h"
#include "fakes/fake_audio_server.h"
#include "fakes/fake_privileged_runner.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::FakePrivilegedRunner;

constexpr const char* kModuleLine =
    "module-null-sink sink_name=VerdalisRecorder rate=44100 channels=2 "
    "sink_properties=device.description=VerdalisRecorder";

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    layout = LoopbackInstallLayout::underRoot(root.str());
    source = (root.path() / "VerdalisRecorder.pa").string();
    std::ofstream(source) << "# comment\n.nofail\nload-module " << kModuleLine << "\n.fail\n";
    server->addSink(1, "Speakers");
  }
  int install(const std::string& from) {
    return LoopbackDriverInstaller(layout, runner, server).checkAndInstallDriver(from);
  }
  std::string installCall(const std::string& from, const std::string& to) const {
    return "run: /usr/bin/install -D -m 0644 " + from + " " + to;
  }

  test::TempDir root;
  test::LogCapture log;
  LoopbackInstallLayout layout;
  std::string source;
  std::shared_ptr<FakePrivilegedRunner> runner = std::make_shared<FakePrivilegedRunner>();
  std::shared_ptr<test::FakeAudioServer> server = std::make_shared<test::FakeAudioServer>();
};

// The server's sink list decides, never a file: a listed device needs
// nothing; an installed drop-in without the device is loaded, no prompt.
TEST_F(Installer, ListedDeviceOrInstalledDropInNeedsNoPrompt) {
  server->addSink(7, "VerdalisRecorder");
  EXPECT_EQ(install(source + ".missing"), 0);
  EXPECT_TRUE(log.has(test::log_lines::kLoopbackPresent));

  server = std::make_shared<test::FakeAudioServer>();
  fs::create_directories(fs::path(layout.pulseAudioBundle).parent_path());
  std::ofstream(layout.pulseAudioBundle) << "load-module " << kModuleLine << "\n";
  EXPECT_EQ(install(source), 0);
  EXPECT_TRUE(runner->calls.empty());
  EXPECT_EQ(server->loadedModules, std::vector<std::string>{kModuleLine});
}

TEST_F(Installer, OnePromptCopiesTheFormOfTheAnsweringServerThenLoadsIt) {
  EXPECT_EQ(install(source), 0);
  EXPECT_EQ(runner->calls, (std::vector<std::string>{"create", std::string("rights: ") +
                                                                   LoopbackDriverInstaller::kPromptText,
                                                     installCall(source, layout.pulseAudioBundle), "free"}));
  EXPECT_EQ(server->loadedModules, std::vector<std::string>{kModuleLine});

  // PipeWire's pulse server reads its own format: the shipped one beside the
  // source, or else one made from the source's module line.
  for (bool shipped : {true, false}) {
    SCOPED_TRACE(shipped);
    runner = std::make_shared<FakePrivilegedRunner>();
    server = std::make_shared<test::FakeAudioServer>();
    server->server = "PulseAudio (on PipeWire 0.3.65)";
    const std::string sibling = (root.path() / "VerdalisRecorder.conf").string();
    if (shipped) std::ofstream(sibling) << LoopbackModule{"module-null-sink", "sink_name=VerdalisRecorder"}.pipeWireDropIn();
    else fs::remove(sibling);
    EXPECT_EQ(install(source), 0);
    ASSERT_EQ(runner->calls.size(), 4u);
    const std::string copied = runner->calls[2].substr(runner->calls[2].find(" 0644 ") + 6);
    const std::string from = copied.substr(0, copied.find(' '));
    EXPECT_EQ(runner->calls[2], installCall(from, layout.pipeWireBundle));
    EXPECT_EQ(from == sibling, shipped);
    LoopbackModule module;
    ASSERT_TRUE(LoopbackModule::readFrom(from, module));
    EXPECT_EQ(module.name, "module-null-sink");
    EXPECT_EQ(server->loadedModules, std::vector<std::string>{kModuleLine});
  }
}

// A cancelled prompt, a failed copy or a refused module each end the
// install with a status of their own and a line naming the cause.
TEST_F(Installer, FailuresAreReportedWithTheirCause) {
  EXPECT_EQ(install(source + ".missing"), -1);
  EXPECT_TRUE(runner->calls.empty());

  runner->runStatus["/usr/bin/install"] = 126;
  EXPECT_EQ(install(source), 126);
  EXPECT_TRUE(log.has(test::log_lines::kPromptRefused));
  EXPECT_TRUE(server->loadedModules.empty());

  runner->runStatus["/usr/bin/install"] = 1;
  EXPECT_EQ(install(source), 1);

  runner->runStatus.clear();
  runner->createStatus = 127;
  EXPECT_EQ(install(source), 127);

  runner->createStatus = 0;
  server->loadStatus = AudioStatus::notSettable;
  EXPECT_EQ(install(source), LoopbackDriverInstaller::kModuleRefusedBase + 3);
  EXPECT_TRUE(log.has(test::log_lines::kModuleRefused));
}

TEST(PrivilegedCommand, ExitStatusIsWaitedForAndNoShellIsInvolved) {
  test::TempDir dir;
  const std::string marker = dir.str() + "/a b;touch x";
  EXPECT_EQ(runAndWait({"/bin/sh", "-c", "exit 3"}), 3);
  EXPECT_EQ(runAndWait({"/usr/bin/touch", marker}), 0);
  // The argument reached touch unsplit: one file with the whole odd name.
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_EQ(runAndWait({"/nonexistent/tool"}), -1);
  EXPECT_EQ(runAndWait({}), -1);
}

}  // namespace
}  // namespace quillon
