#include "quillon-engine/listen_command.h"

#include <cstdio>

#include "engine/engine_link_client.h"
#include "engine/standard_codec.h"
#include "quillon-engine/json_value.h"

namespace quillon {

namespace {

int runListen(const EngineCliOptions& options) {
  EngineLinkClient client;
  std::string error;
  if (!client.connect(options.socketPath, &error)) {
    std::fprintf(stderr, "quillon-engine: %s\n", error.c_str());
    return kExitNoHost;
  }
  for (;;) {
    auto message = client.receive(std::chrono::hours(1), &error);
    if (!message) {
      if (error.empty()) continue;  // an hour of silence: keep listening
      std::fprintf(stderr, "quillon-engine: %s\n", error.c_str());
      return kExitNoHost;
    }
    // This engine implements nothing, and says so rather than leave the host waiting.
    if (message->replyId != 0) client.reply(message->replyId, {});

    std::string reason;
    auto call = StandardCodec::decodeMethodCall(message->payload, &reason);
    if (!call) {
      std::fprintf(stderr, "quillon-engine: undecodable message on %s: %s\n", message->channel.c_str(),
                   reason.c_str());
      continue;
    }
    nlohmann::json line = {
        {"channel", message->channel}, {"method", call->method}, {"arguments", valueToJson(call->arguments)}};
    std::printf("%s\n", dumpJson(line).c_str());
    std::fflush(stdout);
  }
}

}  // namespace

void addListenCommand(CLI::App& app, const EngineCliOptions& options, int& exitCode) {
  auto* command = app.add_subcommand("listen", "Print every message from the host as a JSON line");
  command->callback([&options, &exitCode] { exitCode = runListen(options); });
}

}  // namespace quillon
