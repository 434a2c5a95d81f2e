#include "quillon-engine/call_command.h"

#include <cstdio>
#include <memory>

#include "engine/engine_link_client.h"
#include "quillon-engine/json_value.h"

namespace quillon {

namespace {

struct CallArguments {
  std::string channel;
  std::string method;
  std::string argumentsJson;
};

int runCall(const EngineCliOptions& options, const CallArguments& args) {
  EncodableValue arguments;
  if (!args.argumentsJson.empty()) {
    auto json = nlohmann::json::parse(args.argumentsJson, nullptr, false);
    if (json.is_discarded()) {
      std::fprintf(stderr, "quillon-engine: ARGS-JSON is not valid JSON\n");
      return kExitUsage;
    }
    std::string error;
    auto value = jsonToValue(json, &error);
    if (!value) {
      std::fprintf(stderr, "quillon-engine: ARGS-JSON: %s\n", error.c_str());
      return kExitUsage;
    }
    arguments = std::move(*value);
  }

  EngineLinkClient client;
  std::string error;
  if (!client.connect(options.socketPath, &error)) {
    std::fprintf(stderr, "quillon-engine: %s\n", error.c_str());
    return kExitNoHost;
  }
  auto reply = client.call(args.channel, args.method, arguments, options.timeout, &error);
  if (!reply) {
    std::fprintf(stderr, "quillon-engine: %s.%s: %s\n", args.channel.c_str(), args.method.c_str(), error.c_str());
    return kExitNoHost;
  }
  std::printf("%s\n", replyToText(*reply).c_str());
  if (std::holds_alternative<MethodError>(*reply)) return kExitErrorReply;
  if (std::holds_alternative<MethodNotImplemented>(*reply)) return kExitNotImplemented;
  return kExitSuccess;
}

}  // namespace

void addCallCommand(CLI::App& app, const EngineCliOptions& options, int& exitCode) {
  auto args = std::make_shared<CallArguments>();
  auto* command = app.add_subcommand("call", "Call a method on one of the host's channels and print the reply");
  command->add_option("channel", args->channel, "Channel name, e.g. native_usb_factory")->required();
  command->add_option("method", args->method, "Method name")->required();
  command->add_option("arguments", args->argumentsJson,
                      "Arguments as JSON; {\"$bytes\":\"HEX\"} for a byte array (default: null)");
  command->callback([&options, &exitCode, args] { exitCode = runCall(options, *args); });
}

}  // namespace quillon
