#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "capture/loopback_driver_installer.h"
#include "fakes/fake_privileged_runner.h"
#include "support/log_capture.h"

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
  test::LogCapture log;
  LoopbackInstallLayout layout;
  std::string source;
  std::shared_ptr<FakePrivilegedRunner> runner = std::make_shared<FakePrivilegedRunner>();
};

TEST_F(Installer, NoPromptWhenAlreadyInstalledOrTheSourceIsMissing) {
  EXPECT_EQ(install(source + ".missing"), -1);
  EXPECT_TRUE(log.has("[ERROR] Source path " + source + ".missing does not exist. Current path is " +
                      fs::current_path().string()));
  fs::create_directories(layout.pluginFolder);
  std::ofstream(layout.installedBundle) << "x";
  EXPECT_EQ(install(source), 0);
  EXPECT_TRUE(runner->calls.empty());
  EXPECT_TRUE(log.has("[blackHoleUtil] [INFO] BlackHole is installed, skipping installation..."));
}

TEST_F(Installer, MissingFolderTakesTwoAuthorizationsMkdirCopyRestart) {
  EXPECT_EQ(install(source), 0);
  std::vector<std::string> expected{"create", rights(), mkdirCall(), "free",
                                    "create", rights(), copyCall(),  kill, "free"};
  EXPECT_EQ(runner->calls, expected);
  EXPECT_TRUE(log.has("[INFO] mkdir -p " + layout.pluginFolder + " result: 0"));
  EXPECT_TRUE(log.has("[INFO] cp -r " + source + " " + layout.pluginFolder + "/ result: 0"));
  EXPECT_TRUE(log.has("[INFO] kill -9 pulseaudio result: 0"));
}

// Each failing step ends the install with its own status, and every
// authorization obtained is freed.
TEST_F(Installer, AFailingStepStopsWithItsStatus) {
  struct Case {
    bool folderPresent;
    std::string failing;  // argv[0] of the failing command, "rights" or "create"
    int status;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases{
      {true, "/bin/cp", 1, {"create", rights(), copyCall(), "free"}},  // no restart after a failed copy
      {false, "/bin/mkdir", 2, {"create", rights(), mkdirCall(), "free"}},
      {true, "rights", 126, {"create", rights(), "free"}},
      {true, "create", 127, {"create"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    fs::remove_all(layout.pluginFolder);
    if (c.folderPresent) fs::create_directories(layout.pluginFolder);
    runner = std::make_shared<FakePrivilegedRunner>();
    runner->runStatus[c.failing] = c.status;
    if (c.failing == "rights") runner->rightsStatus = c.status;
    if (c.failing == "create") runner->createStatus = c.status;
    EXPECT_EQ(install(source), c.status);
    EXPECT_EQ(runner->calls, c.calls);
  }
  EXPECT_TRUE(log.has("[ERROR] Failed to create directory " + layout.pluginFolder + " with status: 2"));
  EXPECT_TRUE(log.has("[ERROR] AuthorizationCopyRights failed with status: 126"));
  EXPECT_TRUE(log.has("[ERROR] AuthorizationCreate failed with status: 127"));
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
