#pragma once
// Ormel::Form: the toolkit's top-level window. Its whole look is one picture composed from a
// background and the form's controls, presented by a borderless per-pixel-alpha window. The
// form turns the window's mouse input into control states, clicks and its own event hooks.
//
// Threads: the window's messages arrive on the thread that made it (the UI thread); controls
// and redraws may be changed from any thread. One lock per form guards the controls and the
// composition; compositions never run twice at once, and a redraw that finds one running is
// taken over by it, so the last change always reaches the screen.

#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ui/backend.h"
#include "ui/control.h"

namespace Ormel {

inline constexpr int kLeftButton = 1;
// The system's default-position marker (CW_USEDEFAULT): no place or size known yet.
inline constexpr int kDefaultPosition = std::numeric_limits<int>::min();

class Form {
 public:
  // `name` is the window class name of the form's window.
  Form(Backend& backend, std::u16string name);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Event hooks, called on the UI thread (OnPaint: on the composing thread). They do nothing
  // here except OnMove, which records the position and lets the controls follow.
  virtual void OnPaint() {}
  virtual void OnDestroy() {}
  virtual void OnEnable() {}
  virtual void OnDisable() {}
  virtual void OnShow() {}
  virtual void OnHide() {}
  // The system asks the window to close (another program, the task list). True when the form
  // took care of it; false lets the window be destroyed, as it is by default.
  virtual bool OnClose() { return false; }
  // Button events where no control is hit.
  virtual void OnMouseDown(int /*button*/, int /*x*/, int /*y*/) {}
  virtual void OnMouseUp(int /*button*/, int /*x*/, int /*y*/) {}
  virtual void OnMouseMove(int /*x*/, int /*y*/) {}
  // The first move over the background after the pointer was over a control (or ever).
  virtual void OnMouseEnterBackground(int /*x*/, int /*y*/) {}
  virtual void OnMouseMoveOverControl(int /*x*/, int /*y*/) {}
  // The window moved (moves) to screen point (x, y).
  virtual void OnMove(int x, int y);
  virtual void OnMoving(int x, int y) { OnMove(x, y); }

  // Shows the window and brings it forward; returns whether it is visible.
  bool Show();
  void Hide();
  // The window title.
  void SetText(std::u16string_view title);
  std::u16string text() const;

  // Composes and presents now, on the calling thread (see the class comment).
  void Redraw();
  // Several changes, one composition: a redraw asked for while a batch is open happens when
  // the last open batch closes. Batches of several threads overlap safely.
  void BeginBatch();
  void EndBatch();

  // The control that takes the mouse at client point (x, y): not disabled, z of 0 or more,
  // hit rectangle holding the point; the greatest z wins, then the earliest in the list.
  // Invisible controls are still hit.
  Control* HitTest(int x, int y) const;
  // `control` gets `state`, every other control Normal, in one batch.
  void SetHotState(Control* control, int state);

  // Mouse input from the window, client coordinates. A click is a press and a release over
  // the same control.
  void HandleButtonDown(int x, int y);
  void HandleButtonUp(int x, int y);
  // `buttonHeld`: whether the left button is down during this move.
  void HandleMouseMove(int x, int y, bool buttonHeld);
  // For OnMouseDown overrides: a left press on no control drags the window. True when it did.
  bool DragFromBackground(int button, int x, int y);

  // Draws the background and every control in list order, under the form's lock. The window
  // calls it while it composes, and presents after the lock is let go: presenting may wait
  // for the UI thread, which may be waiting for the lock.
  void Compose(Canvas& canvas);

  int x() const;
  int y() const;
  int width() const;
  int height() const;
  bool visible() const;
  const std::u16string& name() const { return name_; }
  Backend& backend() const { return backend_; }
  FormWindow* window() const { return window_.get(); }
  std::vector<Control*> controls() const;
  // The lock around control changes and composition.
  std::mutex& mutex() const { return mutex_; }

 protected:
  void SetBackground(std::unique_ptr<Picture> background);
  void AttachWindow(std::unique_ptr<FormWindow> window);
  // Records the window's place and size and moves the window there.
  void Place(int x, int y, int width, int height);

 private:
  friend class Control;
  void AddControl(Control* control);
  void RemoveControl(Control* control);
  void ComposeOnce();

  Backend& backend_;
  const std::u16string name_;
  std::unique_ptr<Picture> background_;
  std::u16string title_;
  std::vector<Control*> controls_;
  std::unique_ptr<FormWindow> window_;
  mutable std::mutex mutex_;
  std::atomic<bool> painting_{false};
  std::atomic<bool> redrawPending_{false};
  std::atomic<int> batchDepth_{0};
  std::atomic<int> x_{kDefaultPosition};
  std::atomic<int> y_{kDefaultPosition};
  std::atomic<int> width_{kDefaultPosition};
  std::atomic<int> height_{kDefaultPosition};
  std::atomic<bool> visible_{true};

  // Mouse state, touched on the UI thread only.
  Control* hot_ = nullptr;
  Control* pressed_ = nullptr;
  bool pressing_ = false;
  bool overBackground_ = false;
};

}  // namespace Ormel
