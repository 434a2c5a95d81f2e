#include "app/proc_self_probe.h"

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quillon {

namespace {

std::optional<std::string> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::optional<unsigned long long> parseNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  unsigned long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<uint64_t> parseFootprintBytes(std::string_view smaps) {
  uint64_t kilobytes = 0;
  bool found = false;
  while (!smaps.empty()) {
    const size_t newline = smaps.find('\n');
    std::string_view line = smaps.substr(0, newline);
    smaps.remove_prefix(newline == std::string_view::npos ? smaps.size() : newline + 1);
    for (std::string_view key : {"Private_Clean:", "Private_Dirty:", "Swap:"}) {
      if (!startsWith(line, key)) continue;
      if (auto value = parseNumber(line.substr(key.size()))) {
        kilobytes += *value;
        found = true;
      }
    }
  }
  if (!found) return std::nullopt;
  return kilobytes * 1024;
}

std::optional<StatTimes> parseStatTimes(std::string_view statLine) {
  const size_t close = statLine.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = statLine.substr(close + 1);
  // Fields after the command name, counted from 0 = state (field 3 of proc(5)).
  constexpr int kUtime = 11, kStime = 12, kStarttime = 19;
  StatTimes times;
  int index = 0;
  while (index <= kStarttime) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty()) return std::nullopt;
    const size_t end = rest.find(' ');
    const std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    if (index == kUtime || index == kStime || index == kStarttime) {
      const auto value = parseNumber(field);
      if (!value) return std::nullopt;
      (index == kUtime ? times.userTicks : index == kStime ? times.systemTicks : times.startTicks) = *value;
    }
    ++index;
  }
  return times;
}

ProcSelfProbe::ProcSelfProbe(std::string procSelf) : procSelf_(std::move(procSelf)) {
  const long ticks = sysconf(_SC_CLK_TCK);
  ticksPerSecond_ = ticks > 0 ? static_cast<double>(ticks) : 100.0;
}

std::optional<uint64_t> ProcSelfProbe::footprintBytes() {
  auto text = slurp(procSelf_ + "/smaps_rollup");
  if (!text) text = slurp(procSelf_ + "/smaps");
  if (!text) return std::nullopt;
  return parseFootprintBytes(*text);
}

std::optional<CpuSample> ProcSelfProbe::cpuSample() {
  const auto processStat = slurp(procSelf_ + "/stat");
  const auto processTimes = processStat ? parseStatTimes(*processStat) : std::nullopt;
  if (!processTimes) return std::nullopt;

  CpuSample sample;
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  sample.takenAt = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  sample.processStartedAt = static_cast<double>(processTimes->startTicks) / ticksPerSecond_;

  const std::string taskDir = procSelf_ + "/task";
  DIR* dir = opendir(taskDir.c_str());
  if (!dir) return std::nullopt;
  while (const dirent* entry = readdir(dir)) {
    const auto tid = parseNumber(entry->d_name);
    if (!tid) continue;
    // A thread may end between the listing and the read; it is simply left out.
    const auto stat = slurp(taskDir + "/" + entry->d_name + "/stat");
    const auto times = stat ? parseStatTimes(*stat) : std::nullopt;
    if (!times) continue;
    sample.threads.push_back(
        {static_cast<int>(*tid), static_cast<double>(times->userTicks + times->systemTicks) / ticksPerSecond_});
  }
  closedir(dir);
  return sample;
}

}  // namespace quillon
