// Dismisses every message box that opens while it lives, as a user pressing OK would, and keeps
// what each box showed.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <string>
#include <vector>

#include "event_wait.h"

namespace qm::app::qt::test {

struct SeenBox {
    std::string caption;
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::vector<std::string> buttons;
    bool modal = false;
    QWidget const* parent = nullptr;
    bool parentVisible = false;
    Qt::TextFormat format = Qt::AutoText;
};

class BoxDismisser {
  public:
    BoxDismisser() {
        QObject::connect(&tick_, &QTimer::timeout, [this] { DismissActiveBox(); });
        tick_.start(20);
    }
    // Boxes are left open for `duration` (for tests that dismiss them another way), then
    // dismissed again. The wait ends with the dismisser: nothing fires after it is gone.
    void PauseFor(Millis duration) {
        paused_ = true;
        resume_.setSingleShot(true);
        QObject::connect(&resume_, &QTimer::timeout, [this] { paused_ = false; });
        resume_.start(duration);
    }

    std::vector<SeenBox> const& boxes() const { return boxes_; }

  private:
    void DismissActiveBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || paused_) {
            return;
        }
        SeenBox seen;
        seen.caption = box->windowTitle().toStdString();
        seen.text = box->text().toStdString();
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons()) {
            seen.buttons.push_back(button->text().remove('&').toStdString());
        }
        seen.modal = box->isModal();
        seen.parent = box->parentWidget();
        seen.parentVisible = seen.parent != nullptr && seen.parent->isVisible();
        seen.format = box->textFormat();
        boxes_.push_back(seen);
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    }

    QTimer tick_;
    QTimer resume_;
    bool paused_ = false;
    std::vector<SeenBox> boxes_;
};

// Exactly one box was shown: the standard box with this caption and text, without icon, with one
// OK button, modal over `parent`, which was visible.
inline void ExpectOneStandardBox(BoxDismisser const& boxes, std::string const& caption,
                                 std::string const& text, QWidget const* parent) {
    ASSERT_EQ(boxes.boxes().size(), 1u);
    SeenBox const& box = boxes.boxes().front();
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(box.modal);
    EXPECT_EQ(box.parent, parent);
    EXPECT_TRUE(box.parentVisible);
}

}  // namespace qm::app::qt::test
