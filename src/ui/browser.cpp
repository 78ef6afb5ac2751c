#include "ui/browser.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "ui/form.h"

namespace Ormel {
namespace {

// A form not placed yet stands at the default-position marker: no overflow from it.
int ScreenCoordinate(int formPosition, int offset) {
  const int64_t sum = int64_t{formPosition} + offset;
  return static_cast<int>(std::clamp<int64_t>(sum, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

void Browser::OnFormMoved() {
  if (host_ == nullptr) return;
  int x, y, width, height;
  {
    std::lock_guard lock(owner().mutex());
    x = xLocked();
    y = yLocked();
    width = widthLocked();
    height = heightLocked();
  }
  host_->Place(ScreenCoordinate(owner().x(), x), ScreenCoordinate(owner().y(), y), width, height);
}

void Browser::SetBox(int x, int y, int width, int height) {
  // The hit rectangle stays empty: the pane's own window takes the mouse.
  std::lock_guard lock(owner().mutex());
  SetBoxLocked(x, y, width, height);
}

void Browser::AttachHost(std::unique_ptr<BrowserHost> host) {
  host_ = std::move(host);
}

}  // namespace Ormel
