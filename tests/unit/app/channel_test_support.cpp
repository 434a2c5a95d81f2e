#include "channel_test_support.h"

namespace quillon::test {

namespace {
class RecordedToken final : public ActivityToken {
 public:
  RecordedToken(std::vector<std::string>& events, std::string reason) : events_(events), reason_(std::move(reason)) {
    events_.push_back("begin:" + reason_);
  }
  ~RecordedToken() override { events_.push_back("end:" + reason_); }

 private:
  std::vector<std::string>& events_;
  std::string reason_;
};
}  // namespace

std::unique_ptr<ActivityToken> RecordingInhibitor::beginActivity(const std::string& reason) {
  return std::make_unique<RecordedToken>(events, reason);
}

}  // namespace quillon::test
