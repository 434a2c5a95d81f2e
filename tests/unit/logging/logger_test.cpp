#include "logging/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// A day log's lines without their timestamps, whose shape the C functions'
// day log checks end to end (integration.test_ffi).
std::vector<std::string> dayLogLines(const fs::path& file) {
  std::vector<std::string> out;
  std::istringstream in(test::readFile(file));
  for (std::string line; std::getline(in, line);) out.push_back(line.substr(std::min<size_t>(line.size(), 24)));
  return out;
}

// The device and user bindings, clearing and the documents folder as the
// default have no caller in the host; its lines always carry "[] []".
TEST(Logger, OnceConfiguredAndEnabledLinesGoToOneDayFileAndTheSystemLog) {
  test::TempDir dir;
  const fs::path folder = dir.path() / "nested" / "logs";
  // What the logger echoes to the system log; flush() returns after the echoes.
  std::vector<std::string> echoes;
  Logger logger([&](const std::string& line) { echoes.push_back(line); });
  logger.info("tag", "before configure %d", 1);
  logger.configure(folder.string(), false);
  logger.info("tag", "while disabled");
  logger.flush();
  EXPECT_FALSE(fs::exists(folder));

  logger.configure(folder.string(), true);
  logger.infoWithTag("UsbFactory", "now %d literally");
  logger.configure(folder.string(), true);  // again the same day: the same file
  logger.info("tag", "打开串口成功: %s, fd=%d", "/dev/ttyACM0", 7);
  logger.warning("t", "third");
  logger.debugWithTag("a", "fourth");
  logger.flush();
  EXPECT_EQ(fs::directory_iterator(folder)->path().filename(), test::dayLogName());
  EXPECT_EQ(dayLogLines(folder / test::dayLogName()),
            (std::vector<std::string>{"[] [] [UsbFactory] [INFO] now %d literally",
                                      "[] [] [tag] [INFO] 打开串口成功: /dev/ttyACM0, fd=7",
                                      "[] [] [t] [WARNING] third", "[] [] [a] [DEBUG] fourth"}));
  ASSERT_EQ(echoes.size(), 4u);
  EXPECT_TRUE(echoes[3].ends_with(" [] [] [a] [DEBUG] fourth\n")) << echoes[3];

  // Another day, another file.
  std::tm leapDay{};
  strptime("2024-02-29 12", "%Y-%m-%d %H", &leapDay);
  logger.switchToLogFileForDate(Logger::Clock::from_time_t(std::mktime(&leapDay)));
  logger.errorWithTag("t", "fifth");
  logger.flush();
  EXPECT_EQ(dayLogLines(folder / "native_2024-02-29.log"), std::vector<std::string>{"[] [] [t] [ERROR] fifth"});
}

TEST(Logger, ManyThreadsLoseAndTearNoLine) {
  test::TempDir dir;
  Logger logger([](const std::string&) {});
  logger.configure(dir.str(), true);
  constexpr int kThreads = 8, kLines = 1500;
  const std::string tail(40, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) logger.info("worker", "thread=%d line=%d %s", t, i, tail.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  logger.flush();
  const auto written = dayLogLines(dir.path() / test::dayLogName());
  ASSERT_EQ(written.size(), static_cast<size_t>(kThreads * kLines));
  // One writer keeps each thread's lines in the order they were logged;
  // with the count, that leaves no room for a lost or doubled line.
  std::vector<int> next(kThreads, 0);
  for (const auto& line : written) {
    int t = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "[] [] [worker] [INFO] thread=%d", &t), 1) << line;
    ASSERT_EQ(line, formatString("[] [] [worker] [INFO] thread=%d line=%d %s", t, next.at(t)++, tail.c_str()));
  }
}

}  // namespace
}  // namespace quillon
