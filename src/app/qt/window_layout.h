// The update window's layout and texts, in dialog units of the window's font: a horizontal unit
// is a quarter of the font's average character width, a vertical unit an eighth of its height.
#pragma once

namespace qm::app::qt {

struct DialogRect {
    int x;
    int y;
    int width;
    int height;
};

inline constexpr int kWindowWidth = 186;
inline constexpr int kWindowHeight = 68;
inline constexpr int kWindowFontPoints = 8;

// In the order the controls are created; only the button takes the keyboard focus.
inline constexpr DialogRect kAbortButtonPlace{67, 49, 50, 14};
inline constexpr DialogRect kProgressBarPlace{10, 35, 165, 10};
inline constexpr DialogRect kStatusLinePlace{0, 9, 185, 10};
inline constexpr DialogRect kTransferLinePlace{0, 22, 185, 10};

inline constexpr char kWindowTitle[] = "Checking your version ...";
inline constexpr char kAbortText[] = "Abort !    :-(";
inline constexpr char kInitialStatus[] = "Unconnected";

inline constexpr int kProgressMinimum = 0;
inline constexpr int kProgressMaximum = 100;

}  // namespace qm::app::qt
