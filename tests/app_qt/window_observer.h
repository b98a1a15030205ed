// Watches the update window of a run from the event loop: keeps every status line, transfer line
// and progress value it sees change, and runs one action once a condition holds.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "app/qt/clipped_line.h"
#include "app/qt/update_window.h"

namespace qm::app::qt::test {

class WindowObserver {
  public:
    WindowObserver() {
        QObject::connect(&tick_, &QTimer::timeout, [this] { Look(); });
        tick_.start(10);
        QApplication::instance()->installEventFilter(&boxes_);
    }

    void Attach(UpdateWindow& window) {
        window_ = &window;
        address_ = &window;
    }
    // `action` runs once, from the event loop, the first time `condition` holds.
    void When(std::function<bool(UpdateWindow&)> condition,
              std::function<void(UpdateWindow&)> action) {
        condition_ = std::move(condition);
        action_ = std::move(action);
    }

    std::vector<std::string> const& statuses() const { return statuses_; }
    std::vector<std::string> const& transfers() const { return transfers_; }
    std::vector<int> const& progress() const { return progress_; }
    bool acted() const { return acted_; }
    bool sawVisibleWindow() const { return sawVisible_; }
    UpdateWindow const* window() const { return address_; }

  private:
    template <typename T>
    static void Keep(std::vector<T>& seen, T const& value) {
        if (seen.empty() || seen.back() != value) {
            seen.push_back(value);
        }
    }

    void Look() {
        if (window_.isNull()) {
            return;
        }
        UpdateWindow& window = *window_;
        sawVisible_ = sawVisible_ || window.isVisible();
        Keep(statuses_, window.statusLine().text().toStdString());
        Keep(transfers_, window.transferLine().text().toStdString());
        Keep(progress_, window.progressBar().value());
        if (!acted_ && condition_ && condition_(window)) {
            acted_ = true;
            action_(window);
        }
    }

    // Looks at the window whenever a message box opens: the window shows what it ended with, and
    // a box that is dismissed at once may close it before the next tick.
    class BoxWatch final : public QObject {
      public:
        explicit BoxWatch(WindowObserver& observer) : observer_(observer) {}
        bool eventFilter(QObject* object, QEvent* event) override {
            if (event->type() == QEvent::Show && qobject_cast<QMessageBox*>(object) != nullptr) {
                observer_.Look();
            }
            return false;
        }

      private:
        WindowObserver& observer_;
    };

    QTimer tick_;
    BoxWatch boxes_{*this};
    QPointer<UpdateWindow> window_;
    UpdateWindow const* address_ = nullptr;
    std::function<bool(UpdateWindow&)> condition_;
    std::function<void(UpdateWindow&)> action_;
    bool acted_ = false;
    bool sawVisible_ = false;
    std::vector<std::string> statuses_;
    std::vector<std::string> transfers_;
    std::vector<int> progress_;
};

}  // namespace qm::app::qt::test
