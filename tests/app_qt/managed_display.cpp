#include "managed_display.h"

#include <algorithm>
#include <sstream>

#include "event_wait.h"

namespace qm::app::qt::test {
namespace {

constexpr char kActionPrefix[] = "_NET_WM_ACTION_";
constexpr int kPollMillis = 100;

// The hexadecimal window ids ("0x4a0006") in `text`, in order.
std::vector<std::string> WindowIds(std::string const& text) {
    std::vector<std::string> ids;
    for (std::size_t at = text.find("0x"); at != std::string::npos; at = text.find("0x", at)) {
        std::size_t const end = text.find_first_not_of("0123456789abcdefABCDEF", at + 2);
        std::string id = text.substr(at, end == std::string::npos ? end : end - at);
        at += id.size();
        if (id.size() > 2) {
            ids.push_back(std::move(id));
        }
    }
    return ids;
}

// The value of "NAME = value" in xprop's output; empty when the property is missing.
std::string PropertyValue(std::string const& output, std::string const& name) {
    std::istringstream lines(output);
    std::string const start = name + " = ";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(start, 0) == 0) {
            return line.substr(start.size());
        }
    }
    return {};
}

std::vector<std::string> ListItems(std::string const& value) {
    std::vector<std::string> items;
    std::istringstream list(value);
    for (std::string item; std::getline(list, item, ',');) {
        item.erase(0, item.find_first_not_of(' '));
        items.push_back(item);
    }
    return items;
}

// _NET_FRAME_EXTENTS: left, right, top, bottom.
QMargins FrameExtents(std::string const& value) {
    std::vector<std::string> const edges = ListItems(value);
    if (edges.size() != 4) {
        return {};
    }
    return QMargins(std::atoi(edges[0].c_str()), std::atoi(edges[2].c_str()),
                    std::atoi(edges[1].c_str()), std::atoi(edges[3].c_str()));
}

// A number from xwininfo's "  Label:  123" lines; -1 when missing.
int InfoNumber(std::string const& output, std::string const& label) {
    std::size_t const at = output.find(label + ":");
    return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + label.size() + 1);
}

}  // namespace

bool ManagedWindow::Allows(std::string const& action) const {
    return std::find(allowedActions.begin(), allowedActions.end(), action) != allowedActions.end();
}

QPoint ManagedWindow::CloseBox() const {
    return QPoint(client.right() - TitleBarHeight() / 2, client.top() - TitleBarHeight() / 2);
}

ManagedDisplay::ManagedDisplay() {
    if (name().empty()) {
        return;
    }
    // Its default configuration, whatever the user running the test has set up.
    windowManager_.emplace(qm::test::ProcessOptions{
        .argv = {"/usr/bin/openbox", "--sm-disable", "--config-file", "/etc/xdg/openbox/rc.xml"},
        .environment = Environment()});
    // A look that finds the server held by the starting window manager is given up and repeated.
    bool announced = false;
    WaitUntil(
        [this, &announced] {
            announced =
                !WindowIds(Run({"/usr/bin/xprop", "-root", "-notype", "_NET_SUPPORTING_WM_CHECK"},
                               Millis{2000}))
                     .empty();
            if (!announced) {
                SpinFor(Millis{kPollMillis});
            }
            return announced || windowManager_->PollExit().has_value();
        },
        kStepTimeout);
    managed_ = announced && windowManager_->running();
}

ManagedDisplay::~ManagedDisplay() = default;

EnvironmentChanges ManagedDisplay::Environment() const {
    return {{"DISPLAY", name()}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", "xcb"}};
}

std::string ManagedDisplay::Run(std::vector<std::string> const& argv, Millis timeout) {
    qm::test::Process tool({.argv = argv, .environment = Environment()});
    return tool.ExitStatus(timeout) ? tool.Output() : std::string();
}

std::vector<std::string> ManagedDisplay::ClientIds() {
    return WindowIds(Run({"/usr/bin/xprop", "-root", "-notype", "_NET_CLIENT_LIST"}));
}

std::optional<ManagedWindow> ManagedDisplay::Read(std::string const& id) {
    std::string const properties = Run(
        {"/usr/bin/xprop", "-id", id, "-notype", "_NET_FRAME_EXTENTS", "_NET_WM_ALLOWED_ACTIONS"});
    std::string const info = Run({"/usr/bin/xwininfo", "-id", id});
    ManagedWindow window{
        id,
        QRect(InfoNumber(info, "Absolute upper-left X"), InfoNumber(info, "Absolute upper-left Y"),
              InfoNumber(info, "Width"), InfoNumber(info, "Height")),
        FrameExtents(PropertyValue(properties, "_NET_FRAME_EXTENTS")),
        {}};
    for (std::string action : ListItems(PropertyValue(properties, "_NET_WM_ALLOWED_ACTIONS"))) {
        if (action.rfind(kActionPrefix, 0) == 0) {
            action.erase(0, sizeof kActionPrefix - 1);
        }
        window.allowedActions.push_back(action);
    }
    if (window.TitleBarHeight() <= 0 || window.allowedActions.empty() ||
        window.client.width() <= 0) {
        return std::nullopt;
    }
    return window;
}

std::optional<ManagedWindow> ManagedDisplay::WaitForWindow(std::string const& title,
                                                           Millis timeout) {
    std::optional<ManagedWindow> found;
    std::string const quoted = "\"" + title + "\"";
    WaitUntil(
        [&] {
            for (std::string const& id : ClientIds()) {
                std::string const name =
                    Run({"/usr/bin/xprop", "-id", id, "-notype", "_NET_WM_NAME"});
                if (PropertyValue(name, "_NET_WM_NAME") == quoted) {
                    found = Read(id);
                }
            }
            if (!found) {
                SpinFor(Millis{kPollMillis});
            }
            return found.has_value();
        },
        timeout);
    return found;
}

void ManagedDisplay::Click(QPoint where) {
    Run({"/usr/bin/xdotool", "mousemove", std::to_string(where.x()), std::to_string(where.y()),
         "click", "1"});
}

void ManagedDisplay::PressKey(std::string const& key) {
    Run({"/usr/bin/xdotool", "key", key});
}

bool ManagedDisplay::Screenshot(ManagedWindow const& window, std::filesystem::path const& file) {
    std::filesystem::create_directories(file.parent_path());
    QRect const frame = window.Frame();
    qm::test::Process grab({.argv = {"/proc/self/exe", "--grab-screen", file.string(),
                                     std::to_string(frame.x()), std::to_string(frame.y()),
                                     std::to_string(frame.width()), std::to_string(frame.height())},
                            .environment = Environment()});
    return grab.ExitStatus(kStepTimeout) == 0;
}

}  // namespace qm::app::qt::test
