#pragma once

#include "platform/activity_inhibitor.h"

namespace quillon {

// Without a window, idle and sleep are held off through logind's inhibitor
// locks on the system bus. Where no system bus or logind answers, the token
// inhibits nothing and an info line says why.
class LogindInhibitor final : public ActivityInhibitor {
 public:
  std::unique_ptr<ActivityToken> beginActivity(const std::string& reason) override;
};

}  // namespace quillon
