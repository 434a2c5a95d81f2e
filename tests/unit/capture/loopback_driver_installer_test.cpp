#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "capture/loopback_driver_installer.h"
#include "captured_log.h"
#include "fakes/fake_privileged_runner.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::FakePrivilegedRunner;

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    layout.pluginFolder = (root.path() / "default.pa.d").string();
    layout.installedBundle = layout.pluginFolder + "/VerdalisRecorder.pa";
    layout.restartCommand = {"/usr/bin/pkill", "-9", "-x", "pulseaudio"};
    source = (root.path() / "VerdalisRecorder.pa").string();
    std::ofstream(source) << "load-module module-null-sink\n";
  }
  int install(const std::string& from) {
    return LoopbackDriverInstaller(layout, runner).checkAndInstallDriver(from);
  }
  std::string rights() const { return std::string("rights: ") + LoopbackDriverInstaller::kPromptText; }
  std::string mkdirCall() const { return "run: /bin/mkdir -p " + layout.pluginFolder; }
  std::string copyCall() const { return "run: /bin/cp -r " + source + " " + layout.pluginFolder + "/"; }
  const std::string kill = "run: /usr/bin/pkill -9 -x pulseaudio";

  test::TempDir root;
  test::CapturedLog log;
  LoopbackInstallLayout layout;
  std::string source;
  std::shared_ptr<FakePrivilegedRunner> runner = std::make_shared<FakePrivilegedRunner>();
};

TEST_F(Installer, AlreadyInstalledDoesNothing) {
  fs::create_directories(layout.pluginFolder);
  std::ofstream(layout.installedBundle) << "x";
  EXPECT_EQ(install(source), 0);
  EXPECT_TRUE(runner->calls.empty());
  EXPECT_NE(log.text().find("[blackHoleUtil] [INFO] BlackHole is installed, skipping installation..."),
            std::string::npos);
}

TEST_F(Installer, MissingSourceIsReportedWithTheCurrentFolderAndNoPrompt) {
  EXPECT_EQ(install(source + ".missing"), -1);
  EXPECT_TRUE(runner->calls.empty());
  const std::string expected = "[ERROR] Source path " + source + ".missing does not exist. Current path is " +
                               fs::current_path().string();
  EXPECT_NE(log.text().find(expected), std::string::npos);
}

TEST_F(Installer, MissingFolderTakesTwoAuthorizationsMkdirCopyRestart) {
  EXPECT_EQ(install(source), 0);
  std::vector<std::string> expected{"create", rights(), mkdirCall(), "free",
                                    "create", rights(), copyCall(),  kill, "free"};
  EXPECT_EQ(runner->calls, expected);
  const std::string text = log.text();
  EXPECT_NE(text.find("[INFO] mkdir -p " + layout.pluginFolder + " result: 0"), std::string::npos);
  EXPECT_NE(text.find("[INFO] cp -r " + source + " " + layout.pluginFolder + "/ result: 0"),
            std::string::npos);
  EXPECT_NE(text.find("[INFO] kill -9 pulseaudio result: 0"), std::string::npos);
}

TEST_F(Installer, PresentFolderSkipsMkdirAndFailedCopySkipsRestart) {
  fs::create_directories(layout.pluginFolder);
  runner->runStatus["/bin/cp"] = 1;
  EXPECT_EQ(install(source), 1);
  std::vector<std::string> expected{"create", rights(), copyCall(), "free"};
  EXPECT_EQ(runner->calls, expected);
}

TEST_F(Installer, FailedMkdirStopsWithItsStatus) {
  runner->runStatus["/bin/mkdir"] = 2;
  EXPECT_EQ(install(source), 2);
  std::vector<std::string> expected{"create", rights(), mkdirCall(), "free"};
  EXPECT_EQ(runner->calls, expected);
  EXPECT_NE(log.text().find("[ERROR] Failed to create directory " + layout.pluginFolder + " with status: 2"),
            std::string::npos);
}

TEST_F(Installer, CancelledPromptOrNoAuthorizationCopiesNothing) {
  fs::create_directories(layout.pluginFolder);
  runner->rightsStatus = 126;
  EXPECT_EQ(install(source), 126);
  std::vector<std::string> expected{"create", rights(), "free"};
  EXPECT_EQ(runner->calls, expected);

  runner->calls.clear();
  runner->createStatus = 127;
  EXPECT_EQ(install(source), 127);
  EXPECT_EQ(runner->calls, std::vector<std::string>{"create"});
  const std::string text = log.text();
  EXPECT_NE(text.find("[ERROR] AuthorizationCopyRights failed with status: 126"), std::string::npos);
  EXPECT_NE(text.find("[ERROR] AuthorizationCreate failed with status: 127"), std::string::npos);
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
