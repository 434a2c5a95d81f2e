#pragma once

namespace quillon {

// The application's own quit sequence (the main loop ends in an orderly way).
class ApplicationControl {
 public:
  virtual ~ApplicationControl() = default;
  // Asks the application to quit; returns at once, the main loop ends soon after.
  virtual void terminate() = 0;
};

}  // namespace quillon
