#include "app/app_texts.h"

namespace quillon {

AppTexts& appTexts() {
  static AppTexts texts;
  return texts;
}

}  // namespace quillon
