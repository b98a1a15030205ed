#include "app/qt/x11_window_kind.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace qm::app::qt {
namespace {

// Replies from xcb are malloc'ed and freed by the caller.
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPtr<Reply> Owned(Reply* reply) {
    return ReplyPtr<Reply>(reply, &std::free);
}

struct Display {
    xcb_connection_t* connection;
    xcb_window_t root;
};

std::optional<Display> X11Display() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        return std::nullopt;
    }
    xcb_connection_t* connection = x11->connection();
    xcb_screen_t const* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen == nullptr) {
        return std::nullopt;
    }
    return Display{connection, screen->root};
}

xcb_atom_t Atom(xcb_connection_t* connection, char const* name) {
    auto reply = Owned(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

ReplyPtr<xcb_get_property_reply_t> Property(xcb_connection_t* connection, xcb_window_t window,
                                            xcb_atom_t name, xcb_atom_t type) {
    return Owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, name, type, 0, 1024), nullptr));
}

// The window the manager names in _NET_SUPPORTING_WM_CHECK, if it names one.
std::optional<xcb_window_t> CheckWindow(Display const& display) {
    auto const reply =
        Property(display.connection, display.root,
                 Atom(display.connection, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    if (reply == nullptr || xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    return *static_cast<xcb_window_t const*>(xcb_get_property_value(reply.get()));
}

}  // namespace

std::string X11WindowManagerName() {
    std::optional<Display> const display = X11Display();
    if (!display) {
        return {};
    }
    std::optional<xcb_window_t> const check = CheckWindow(*display);
    if (!check) {
        return {};
    }
    auto const reply =
        Property(display->connection, *check, Atom(display->connection, "_NET_WM_NAME"),
                 Atom(display->connection, "UTF8_STRING"));
    if (reply == nullptr) {
        return {};
    }
    auto const* name = static_cast<char const*>(xcb_get_property_value(reply.get()));
    return std::string(name, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

void DeclareX11Toolbar(QWidget& window) {
    std::optional<Display> const display = X11Display();
    if (!display) {
        return;
    }
    auto const id = static_cast<xcb_window_t>(window.winId());
    std::array<xcb_atom_t, 2> const kinds{Atom(display->connection, "_NET_WM_WINDOW_TYPE_TOOLBAR"),
                                          Atom(display->connection, "_NET_WM_WINDOW_TYPE_DIALOG")};
    xcb_change_property(display->connection, XCB_PROP_MODE_REPLACE, id,
                        Atom(display->connection, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(kinds.size()), kinds.data());
    xcb_flush(display->connection);
}

}  // namespace qm::app::qt
