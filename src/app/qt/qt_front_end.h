// The window front end: the update window and its view, driven by Qt's event loop. Needs a
// QApplication for its whole life; the one the program uses brings its own (window_plugin_entry.cpp).
#pragma once

#include "app/front_end.h"
#include "app/qt/qt_event_loop.h"
#include "app/qt/qt_view.h"
#include "app/qt/update_window.h"

namespace qm::app::qt {

class QtFrontEnd final : public FrontEnd {
  public:
    // `wakeFd` becomes readable on a signal; it also dismisses an open message box.
    explicit QtFrontEnd(int wakeFd) : view_(window_, wakeFd) {}

    net::EventLoop& loop() override { return loop_; }
    UpdateView& view() override { return view_; }
    UpdateWindow& window() { return window_; }

  private:
    QtEventLoop loop_;
    UpdateWindow window_;
    QtView view_;
};

}  // namespace qm::app::qt
