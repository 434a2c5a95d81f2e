#pragma once

// The log lines the tests look for, "[tag] [LEVEL] message" or a fixed part of
// one, in one table: a changed line shows up here and nowhere else. The Python
// tests read it too (harness.expected_log_line).

#include <string_view>

namespace quillon::test::log_lines {

// Application channel and delegate.
inline constexpr std::string_view kSimulateShutdown = "[native_application_factory] [INFO] simulateShutdown clicked!";

// Audio channel.
inline constexpr std::string_view kStopRecorder = "[native_factory] [INFO] stopRecorder...";

// Method results: "[engine] [ERROR] CHANNEL.METHOD" and then these.
inline constexpr std::string_view kResultError = "[engine] [ERROR] ";
inline constexpr std::string_view kAnsweredTwice = " was answered twice; the second answer is ignored";
inline constexpr std::string_view kNeverAnswered = " was never answered; the engine's caller would wait forever";

// C functions, also in a process the host never told at "init": then the path.
inline constexpr std::string_view kSerialOpenFailed = "[UsbFactory] [ERROR] 打开串口失败: ";

// Engine link: then "CHANNEL (N bytes): REASON".
inline constexpr std::string_view kUndecodableMessage = "[engine_link] [ERROR] undecodable message on ";

}  // namespace quillon::test::log_lines
