#include "ui/form.h"

#include <algorithm>

namespace Ormel {

Form::Form(Backend& backend, std::u16string name) : backend_(backend), name_(std::move(name)) {}

// Controls are owned by the derived form and already gone; the window goes with this object.
Form::~Form() = default;

void Form::OnMove(int x, int y) {
  x_ = x;
  y_ = y;
  for (Control* control : controls()) control->OnFormMoved();
}

bool Form::Show() {
  if (window_ != nullptr) visible_ = window_->Show();
  return visible_;
}

void Form::Hide() {
  if (window_ != nullptr) window_->Hide();
  visible_ = false;
}

void Form::SetText(std::u16string_view title) {
  {
    std::lock_guard lock(mutex_);
    title_ = title;
  }
  if (window_ != nullptr) window_->SetTitle(title);
}

std::u16string Form::text() const {
  std::lock_guard lock(mutex_);
  return title_;
}

void Form::Redraw() {
  // Whoever finds the flag set composes once more before it lets go of the painting flag, so
  // a redraw asked for during a composition (or a batch) is never lost.
  redrawPending_ = true;
  for (;;) {
    if (batchDepth_ > 0) return;
    if (painting_.exchange(true)) return;
    if (!redrawPending_.exchange(false) || batchDepth_ > 0) {
      painting_ = false;
      // A redraw may have slipped in between the two looks: it is ours to do.
      if (redrawPending_ && batchDepth_ == 0) continue;
      return;
    }
    ComposeOnce();
    painting_ = false;
    if (!redrawPending_) return;
  }
}

void Form::ComposeOnce() {
  OnPaint();
  if (window_ == nullptr) return;
  {
    std::lock_guard lock(mutex_);
    if (background_ == nullptr) return;
  }
  window_->Present(*this);
}

void Form::BeginBatch() {
  ++batchDepth_;
}

void Form::EndBatch() {
  if (--batchDepth_ == 0 && redrawPending_) Redraw();
}

void Form::Compose(Canvas& canvas) {
  std::lock_guard lock(mutex_);
  if (background_ != nullptr && background_->loaded()) canvas.DrawPicture(*background_, 0, 0);
  for (const Control* control : controls_) control->Draw(canvas);
}

int Form::x() const {
  return x_;
}
int Form::y() const {
  return y_;
}
int Form::width() const {
  return width_;
}
int Form::height() const {
  return height_;
}
bool Form::visible() const {
  return visible_;
}

std::vector<Control*> Form::controls() const {
  std::lock_guard lock(mutex_);
  return controls_;
}

void Form::SetBackground(std::unique_ptr<Picture> background) {
  std::lock_guard lock(mutex_);
  background_ = std::move(background);
}

void Form::AttachWindow(std::unique_ptr<FormWindow> window) {
  window_ = std::move(window);
}

void Form::Place(int x, int y, int width, int height) {
  x_ = x;
  y_ = y;
  width_ = width;
  height_ = height;
  if (window_ != nullptr) window_->Place(x, y, width, height);
}

void Form::AddControl(Control* control) {
  std::lock_guard lock(mutex_);
  int z = 0;
  if (!controls_.empty()) {
    z = std::max_element(controls_.begin(), controls_.end(),
                         [](const Control* a, const Control* b) { return a->z_ < b->z_; })[0]
            ->z_ +
        1;
  }
  control->z_ = z;
  controls_.push_back(control);
}

void Form::RemoveControl(Control* control) {
  {
    std::lock_guard lock(mutex_);
    std::erase(controls_, control);
  }
  if (hot_ == control) hot_ = nullptr;
  if (pressed_ == control) pressed_ = nullptr;
}

}  // namespace Ormel
