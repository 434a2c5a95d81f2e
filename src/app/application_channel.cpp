#include "app/application_channel.h"

#include "app/app_texts.h"
#include "app/call_arguments.h"
#include "app/proc_self_probe.h"
#include "logging/log_folder_record.h"
#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "native_application_factory";

void handleInit(const CallArguments& args, MethodResult& result) {
  // Every key is read before anything changes, so a rejected call leaves the
  // logger and the texts as they were.
  const auto logPath = args.string("logPath");
  const auto logEnable = args.boolean("logEnable");
  const auto applicationName = args.string("applicationName");
  const auto menuAbout = args.string("menuAbout");
  const auto menuUpdate = args.string("menuUpdate");
  const auto menuSettings = args.string("menuSettings");
  const auto menuOpen = args.string("menuOpen");
  const auto menuExit = args.string("menuExit");
  const auto copyright = args.string("menuAboutCopyrightTip");
  if (!logPath || !logEnable || !applicationName || !menuAbout || !menuUpdate || !menuSettings ||
      !menuOpen || !menuExit || !copyright) {
    result.error("INVALID_ARGS", "Missing paths");
    return;
  }
  Logger::shared().configure(*logPath, *logEnable);
  recordLogFolder(*logPath, *logEnable);
  Logger::shared().info(kTag, "init. logPath: %s", logPath->c_str());
  AppTexts& texts = appTexts();
  texts.applicationName = *applicationName;
  texts.menuAbout = *menuAbout;
  texts.menuUpdate = *menuUpdate;
  texts.menuSettings = *menuSettings;
  texts.menuOpen = *menuOpen;
  texts.menuExit = *menuExit;
  texts.menuAboutCopyrightTip = *copyright;
  result.success(true);
}

}  // namespace

ApplicationChannel::ApplicationChannel(BinaryMessenger& messenger, ApplicationControl& application)
    : application_(application),
      monitor_(std::make_unique<ProcSelfProbe>()),
      registration_(messenger, "native_application_factory",
                    [this](const MethodCall& call, MethodResult& result) { handle(call, result); }) {}

void ApplicationChannel::handle(const MethodCall& call, MethodResult& result) {
  if (call.method == "init") {
    handleInit(CallArguments(call.arguments), result);
  } else if (call.method == "eventByExit") {
    application_.terminate();
    result.success();
  } else if (call.method == "getResourceUsage") {
    result.success(monitor_.getResourceUsage());
  } else {
    result.notImplemented();
  }
}

}  // namespace quillon
