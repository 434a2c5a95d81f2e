#pragma once

// The log lines the tests look for, "[tag] [LEVEL] message" or a fixed part of
// one, in one table: a changed line shows up here and nowhere else. The Python
// tests read it too (harness.expected_log_line).

#include <string_view>

namespace quillon::test::log_lines {

// Captures: the causes a failed start leaves in the day log.
inline constexpr std::string_view kNoDefaultInput = "[MicCapture] [WARNING] Failed to get default input device";
inline constexpr std::string_view kMicDenied = "[MicCapture] [WARNING] [Permission] Microphone denied or restricted";
inline constexpr std::string_view kMicRefused = "[MicCapture] [INFO] [Permission] User response: denied";
inline constexpr std::string_view kMicStreamFailed = "[MicCapture] [WARNING] AudioQueueNewInput failed with status: 5";
inline constexpr std::string_view kPlayerFailed = "[speaker_capture] [ERROR] PlayerUtil failed to start!";
inline constexpr std::string_view kLoopbackStreamFailed =
    "[speaker_capture] [ERROR] Loopback capture stream failed to start (status: 5)";
inline constexpr std::string_view kNoOutputDevice = "[speaker_capture] [ERROR] Failed to get original output device ID!";
inline constexpr std::string_view kLoopbackNotSet = "[blackHoleUtil] [ERROR] Failed to set default output device to BlackHole";
inline constexpr std::string_view kDeviceListFailed = "[audioDeviceUtil] [ERROR] Failed to get devices property size";

// Loopback installer.
inline constexpr std::string_view kPromptRefused =
    "[ERROR] Administrator prompt was cancelled or refused (status: 126); nothing was installed";
inline constexpr std::string_view kModuleRefused = "[ERROR] The sound server refused to load module-null-sink (status: 3)";

// Method results: "[engine] [ERROR] CHANNEL.METHOD" and then these.
inline constexpr std::string_view kResultError = "[engine] [ERROR] ";
inline constexpr std::string_view kAnsweredTwice = " was answered twice; the second answer is ignored";
inline constexpr std::string_view kNeverAnswered = " was never answered; the engine's caller would wait forever";

// C functions, also in a process the host never told at "init": then the path.
inline constexpr std::string_view kSerialOpenFailed = "[UsbFactory] [ERROR] 打开串口失败: ";

// Engine link: then "CHANNEL (N bytes): REASON".
inline constexpr std::string_view kUndecodableMessage = "[engine_link] [ERROR] undecodable message on ";

}  // namespace quillon::test::log_lines
