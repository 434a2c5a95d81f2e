#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "logging/logger.h"
#include "support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string todayFileName() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "native_%Y-%m-%d.log", &local);
  return name;
}

// Collects what the logger echoes to the system log, and can hold the writer
// thread inside an echo so a test can queue lines behind it.
class SystemLogProbe {
 public:
  Logger::SystemLogSink sink() {
    return [this](const std::string& line) {
      std::unique_lock guard(mutex_);
      echoed_.push_back(line);
      changed_.notify_all();
      changed_.wait(guard, [&] { return !holding_; });
    };
  }
  void hold() {
    std::lock_guard guard(mutex_);
    holding_ = true;
  }
  void release() {
    {
      std::lock_guard guard(mutex_);
      holding_ = false;
    }
    changed_.notify_all();
  }
  void waitForEchoes(size_t count) {
    std::unique_lock guard(mutex_);
    changed_.wait_for(guard, std::chrono::seconds(30), [&] { return echoed_.size() >= count; });
  }
  std::vector<std::string> echoed() {
    std::lock_guard guard(mutex_);
    return echoed_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> echoed_;
  bool holding_ = false;
};

TEST(Logger, LineLayoutHasTimestampEmptyBindingsTagLevelAndLiteralMessage) {
  Logger logger([](const std::string&) {});
  const std::string line = logger.makeLogStringWithLevel("INFO", "UsbFactory", "hello %d\nsecond");
  EXPECT_TRUE(std::regex_match(
      line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\] \[\] \[UsbFactory\] \[INFO\] hello %d\nsecond\n)")))
      << line;

  logger.bindDeviceSn("SN42");
  logger.bindUserId("user-7");
  EXPECT_NE(logger.makeLogStringWithLevel("ERROR", "t", "m").find(" [SN42] [user-7] [t] [ERROR] m\n"),
            std::string::npos);
  logger.unbindDeviceSn();
  logger.unbindUserId();
  EXPECT_NE(logger.makeLogStringWithLevel("DEBUG", "t", "m").find(" [] [] [t] [DEBUG] m\n"), std::string::npos);
}

TEST(Logger, WritesNothingAnywhereUntilConfiguredOrWhileDisabled) {
  test::TempDir dir;
  SystemLogProbe probe;
  Logger logger(probe.sink());
  logger.info("tag", "before configure %d", 1);
  logger.flush();
  EXPECT_TRUE(probe.echoed().empty());

  logger.configure(dir.str(), false);
  logger.info("tag", "while disabled");
  logger.flush();
  EXPECT_TRUE(probe.echoed().empty());
  EXPECT_FALSE(fs::exists(dir.path() / todayFileName()));

  logger.configure(dir.str(), true);
  logger.infoWithTag("tag", "now %d literally");
  logger.info("tag", "打开串口成功: %s, fd=%d", "/dev/ttyACM0", 7);
  logger.flush();
  const auto written = lines(test::readFile(dir.path() / todayFileName()));
  ASSERT_EQ(written.size(), 2u);
  EXPECT_TRUE(written[0].ends_with("[tag] [INFO] now %d literally"));
  EXPECT_TRUE(written[1].ends_with("[tag] [INFO] 打开串口成功: /dev/ttyACM0, fd=7"));
  ASSERT_EQ(probe.echoed().size(), 2u);
  EXPECT_EQ(probe.echoed()[0], written[0] + "\n");
}

TEST(Logger, SameDayConfigurationsAppendToOneFileAndClearLogsEmptiesIt) {
  test::TempDir dir;
  const std::string folder = (dir.path() / "nested" / "logs").string();
  Logger logger([](const std::string&) {});
  logger.clearLogs();  // nothing open: nothing happens
  logger.configure(folder, true);
  logger.warningWithTag("a", "first");
  logger.configure(folder, true);
  logger.errorWithTag("b", "second");
  logger.flush();
  EXPECT_EQ(logger.currentLogFilePath(), (fs::path(folder) / todayFileName()).string());
  auto written = lines(test::readFile(logger.currentLogFilePath()));
  ASSERT_EQ(written.size(), 2u);
  EXPECT_TRUE(written[0].ends_with("[a] [WARNING] first"));
  EXPECT_TRUE(written[1].ends_with("[b] [ERROR] second"));

  logger.clearLogs();
  logger.infoWithTag("t", "new");
  logger.flush();
  written = lines(test::readFile(logger.currentLogFilePath()));
  ASSERT_EQ(written.size(), 1u);
  EXPECT_TRUE(written[0].ends_with("new"));
}

TEST(Logger, NullPathUsesLogsUnderTheDocumentsFolder) {
  test::TempDir home;
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", home.str().c_str(), 1);
  unsetenv("XDG_DOCUMENTS_DIR");
  Logger logger([](const std::string&) {});
  logger.configure(std::nullopt, true);
  logger.infoWithTag("t", "m");
  logger.flush();
  setenv("HOME", savedHome.c_str(), 1);
  EXPECT_TRUE(fs::exists(home.path() / "Documents" / "logs" / todayFileName()));
}

TEST(Logger, LinesQueuedWhenLoggingIsSwitchedOffAreDropped) {
  test::TempDir dir;
  SystemLogProbe probe;
  Logger logger(probe.sink());
  logger.configure(dir.str(), true);
  probe.hold();
  logger.infoWithTag("t", "written");
  probe.waitForEchoes(1);  // the writer is now held inside the first echo
  logger.infoWithTag("t", "queued, then dropped");
  logger.configure(dir.str(), false);
  probe.release();
  logger.flush();
  EXPECT_EQ(probe.echoed().size(), 1u);
  const auto written = lines(test::readFile(dir.path() / todayFileName()));
  ASSERT_EQ(written.size(), 1u);
  EXPECT_TRUE(written[0].ends_with("written"));
}

TEST(Logger, UnusableFolderIsReportedToTheSystemLogAndLinesStillEchoed) {
  test::TempDir dir;
  std::ofstream(dir.path() / "file") << "x";
  SystemLogProbe probe;
  Logger logger(probe.sink());
  logger.configure((dir.path() / "file" / "logs").string(), true);
  logger.infoWithTag("t", "still echoed");
  probe.waitForEchoes(3);
  const auto echoed = probe.echoed();
  ASSERT_EQ(echoed.size(), 3u);
  EXPECT_TRUE(echoed[0].starts_with("创建日志目录失败: "));
  EXPECT_TRUE(echoed[1].starts_with("打开日志文件失败: "));
  EXPECT_TRUE(echoed[2].ends_with("still echoed\n"));
  EXPECT_EQ(logger.currentLogFilePath(), "");
}

TEST(Logger, ManyThreadsLoseAndTearNoLine) {
  test::TempDir dir;
  Logger logger([](const std::string&) {});
  logger.configure(dir.str(), true);
  constexpr int kThreads = 8;
  constexpr int kLines = 1500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) logger.info("worker", "thread=%d line=%d %s", t, i, std::string(40, 'x').c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  logger.flush();
  const auto written = lines(test::readFile(dir.path() / todayFileName()));
  ASSERT_EQ(written.size(), static_cast<size_t>(kThreads * kLines));
  const std::regex shape(R"(\S+ \S+ \[\] \[\] \[worker\] \[INFO\] thread=(\d) line=(\d+) x{40})");
  std::set<std::pair<int, int>> seen;
  std::vector<int> lastPerThread(kThreads, -1);
  for (const auto& line : written) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    const int t = std::stoi(match[1]);
    const int i = std::stoi(match[2]);
    seen.insert({t, i});
    // One writer keeps each thread's lines in the order they were logged.
    EXPECT_GT(i, lastPerThread[t]);
    lastPerThread[t] = i;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

}  // namespace
}  // namespace quillon
