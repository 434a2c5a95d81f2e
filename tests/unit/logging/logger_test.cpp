#include "logging/logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// The day log's lines without their timestamps, whose shape the C functions'
// day log checks end to end (integration.test_ffi).
std::vector<std::string> dayLogLines(const fs::path& folder) {
  std::vector<std::string> out;
  std::istringstream in(test::readFile(folder / test::dayLogName()));
  for (std::string line; std::getline(in, line);) out.push_back(line.substr(std::min<size_t>(line.size(), 24)));
  return out;
}

// What the logger echoes to the system log; flush() returns after the echoes.
struct SystemLog {
  std::mutex mutex;
  std::vector<std::string> lines;
  Logger::SystemLogSink sink() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex);
      lines.push_back(line);
    };
  }
};

// The device and user bindings, clearing and the documents folder as the
// default have no caller in the host; its lines always carry "[] []".
TEST(Logger, OnceConfiguredAndEnabledLinesGoToOneDayFileAndTheSystemLog) {
  test::TempDir dir;
  const fs::path folder = dir.path() / "nested" / "logs";
  SystemLog echoes;
  Logger logger(echoes.sink());
  logger.info("tag", "before configure %d", 1);
  logger.configure(folder.string(), false);
  logger.info("tag", "while disabled");
  logger.flush();
  EXPECT_TRUE(echoes.lines.empty());
  EXPECT_FALSE(fs::exists(folder / test::dayLogName()));

  logger.configure(folder.string(), true);
  logger.infoWithTag("UsbFactory", "now %d literally");
  logger.configure(folder.string(), true);  // again the same day: the same file
  logger.info("tag", "打开串口成功: %s, fd=%d", "/dev/ttyACM0", 7);
  logger.warning("t", "third");
  logger.debugWithTag("a", "fourth");
  logger.flush();
  EXPECT_EQ(fs::directory_iterator(folder)->path().filename(), test::dayLogName());
  const auto written = dayLogLines(folder);
  EXPECT_EQ(written, (std::vector<std::string>{"[] [] [UsbFactory] [INFO] now %d literally",
                                               "[] [] [tag] [INFO] 打开串口成功: /dev/ttyACM0, fd=7",
                                               "[] [] [t] [WARNING] third", "[] [] [a] [DEBUG] fourth"}));
  ASSERT_EQ(echoes.lines.size(), 4u);
  EXPECT_TRUE(echoes.lines[0].ends_with(" " + written[0] + "\n")) << echoes.lines[0];
}

TEST(Logger, LinesQueuedWhenLoggingIsSwitchedOffAreDropped) {
  test::TempDir dir;
  std::promise<void> inside, release;
  auto released = release.get_future();
  int echoes = 0;
  // Holds the writer inside the first echo, so a line can queue behind it.
  Logger logger([&](const std::string&) {
    if (++echoes > 1) return;
    inside.set_value();
    released.wait();
  });
  logger.configure(dir.str(), true);
  logger.infoWithTag("t", "written");
  inside.get_future().wait();
  logger.infoWithTag("t", "queued, then dropped");
  logger.configure(dir.str(), false);
  release.set_value();
  logger.flush();
  EXPECT_EQ(echoes, 1);
  const auto written = dayLogLines(dir.path());
  EXPECT_EQ(written, std::vector<std::string>{"[] [] [t] [INFO] written"});
}

TEST(Logger, UnusableFolderIsReportedToTheSystemLogAndLinesStillEchoed) {
  test::TempDir dir;
  std::ofstream(dir.path() / "file") << "x";
  SystemLog echoes;
  Logger logger(echoes.sink());
  logger.configure((dir.path() / "file" / "logs").string(), true);
  logger.infoWithTag("t", "still echoed");
  logger.flush();
  ASSERT_EQ(echoes.lines.size(), 3u);
  EXPECT_TRUE(echoes.lines[0].starts_with("创建日志目录失败: "));
  EXPECT_TRUE(echoes.lines[1].starts_with("打开日志文件失败: "));
  EXPECT_TRUE(echoes.lines[2].ends_with("still echoed\n"));
}

TEST(Logger, ManyThreadsLoseAndTearNoLine) {
  test::TempDir dir;
  Logger logger([](const std::string&) {});
  logger.configure(dir.str(), true);
  constexpr int kThreads = 8, kLines = 1500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) logger.info("worker", "thread=%d line=%d %s", t, i, std::string(40, 'x').c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  logger.flush();
  const auto written = dayLogLines(dir.path());
  ASSERT_EQ(written.size(), static_cast<size_t>(kThreads * kLines));
  const std::regex shape(R"(\[\] \[\] \[worker\] \[INFO\] thread=(\d) line=(\d+) x{40})");
  std::vector<int> lastPerThread(kThreads, -1);
  for (const auto& line : written) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    const int t = std::stoi(match[1]), i = std::stoi(match[2]);
    // One writer keeps each thread's lines in the order they were logged;
    // with the count, that leaves no room for a lost or doubled line.
    EXPECT_GT(i, lastPerThread[t]);
    lastPerThread[t] = i;
  }
}

}  // namespace
}  // namespace quillon
