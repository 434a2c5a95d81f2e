#pragma once

#include <memory>
#include <string>

namespace quillon {

// A held user-initiated activity: while it lives the system neither idles nor
// sleeps. Destroying it ends the activity.
class ActivityToken {
 public:
  virtual ~ActivityToken() = default;
};

class ActivityInhibitor {
 public:
  virtual ~ActivityInhibitor() = default;
  // Never null: when the system offers no way to inhibit, the token inhibits
  // nothing and the reason is logged.
  virtual std::unique_ptr<ActivityToken> beginActivity(const std::string& reason) = 0;
};

}  // namespace quillon
