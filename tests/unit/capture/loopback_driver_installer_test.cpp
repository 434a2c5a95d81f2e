#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "capture/loopback_driver_installer.h"
#include "capture/privileged_runner.h"
#include "fakes/fake_audio_server.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"

namespace quillon {
namespace {

constexpr const char* kModuleLine =
    "module-null-sink sink_name=VerdalisRecorder rate=44100 channels=2 "
    "sink_properties=device.description=VerdalisRecorder";

// Records every step ("create", "rights: PROMPT", "run", "free") and the
// argv run, and answers the statuses a test sets.
struct ScriptedRunner final : PrivilegedRunner {
  int createAuthorization() override { return step("create", createStatus); }
  int obtainRights(const std::string& prompt) override { return step("rights: " + prompt, 0); }
  int execute(const std::vector<std::string>& argv) override {
    run = argv;
    return step("run", runStatus);
  }
  void freeAuthorization() override { step("free", 0); }
  int step(std::string call, int status) {
    calls.push_back(std::move(call));
    return status;
  }

  std::vector<std::string> calls, run;
  int createStatus = 0, runStatus = 0;
};

class Installer : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(source) << "# comment\n.nofail\nload-module " << kModuleLine << "\n.fail\n"; }
  int install(const std::string& from) {
    return LoopbackDriverInstaller(layout, runner, server).checkAndInstallDriver(from);
  }

  test::TempDir root;
  test::LogCapture log;
  LoopbackInstallLayout layout = LoopbackInstallLayout::underRoot(root.str());
  std::string source = (root.path() / "VerdalisRecorder.pa").string();
  std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
  std::shared_ptr<test::FakeAudioServer> server = std::make_shared<test::FakeAudioServer>();
};

// The server's sink list decides, never a file: a listed device needs
// nothing; an installed drop-in without the device is loaded, no prompt.
TEST_F(Installer, ListedDeviceOrInstalledDropInNeedsNoPrompt) {
  server->addSink(7, "VerdalisRecorder");
  EXPECT_EQ(install(source + ".missing"), 0);

  server->remove(7);
  std::filesystem::create_directories(std::filesystem::path(layout.pulseAudioBundle).parent_path());
  std::ofstream(layout.pulseAudioBundle) << "load-module " << kModuleLine << "\n";
  EXPECT_EQ(install(source), 0);
  EXPECT_TRUE(runner->calls.empty());
  EXPECT_EQ(server->loadedModules, std::vector<std::string>{kModuleLine});
}

// One prompt, one copy. PipeWire's pulse server reads its own format: without
// the shipped one beside the source, one is made from the source's module
// line. (Both servers' shipped forms are installed end to end.)
TEST_F(Installer, OnePromptCopiesADropInMadeForPipeWireThenLoadsIt) {
  server->server = "PulseAudio (on PipeWire 0.3.65)";
  EXPECT_EQ(install(source), 0);
  const std::string prompt = std::string("rights: ") + LoopbackDriverInstaller::kPromptText;
  EXPECT_EQ(runner->calls, (std::vector<std::string>{"create", prompt, "run", "free"}));
  ASSERT_EQ(runner->run.size(), 6u);
  EXPECT_EQ(runner->run, (std::vector<std::string>{"/usr/bin/install", "-D", "-m", "0644", runner->run[4],
                                                   layout.pipeWireBundle}));
  LoopbackModule module;
  ASSERT_TRUE(LoopbackModule::readFrom(runner->run[4], module));
  EXPECT_EQ(module.name + " " + module.arguments, kModuleLine);
  EXPECT_EQ(server->loadedModules, std::vector<std::string>{kModuleLine});
}

// A cancelled prompt, a failed copy or a refused module each end the
// install with a status of their own and a line naming the cause; nothing
// is loaded after a copy that did not happen.
TEST_F(Installer, FailuresAreReportedWithTheirCause) {
  EXPECT_EQ(install(source + ".missing"), -1);
  EXPECT_TRUE(runner->calls.empty());

  runner->createStatus = 127;
  EXPECT_EQ(install(source), 127);
  EXPECT_TRUE(runner->run.empty());

  runner->createStatus = 0;
  for (int status : {126, 1}) {
    runner->runStatus = status;
    EXPECT_EQ(install(source), status);
  }
  EXPECT_TRUE(log.has(test::log_lines::kPromptRefused));
  EXPECT_TRUE(server->loadedModules.empty());

  runner->runStatus = 0;
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
}

}  // namespace
}  // namespace quillon
