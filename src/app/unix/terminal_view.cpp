#include "app/unix/terminal_view.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace qm::app {
namespace {

constexpr int kInnerWidth = 56;
constexpr int kLineCount = 7;
constexpr auto kRedrawInterval = std::chrono::milliseconds(33);
constexpr char kTitle[] = "Checking your version ...";
constexpr char kButton[] = "[ Abort !    :-( ]";
constexpr char kOkButton[] = "[ OK ]";
constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kCtrlC = 0x03;

// Number of characters (UTF-8 code points) in `text`.
int Width(std::string_view text) {
    return static_cast<int>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// `text` cut to `width` characters: what does not fit is not shown.
std::string Cut(std::string_view text, int width) {
    int seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((text[i] & 0xC0) != 0x80 && seen++ == width) {
            return std::string(text.substr(0, i));
        }
    }
    return std::string(text);
}

std::string Centred(std::string_view text, int width) {
    std::string shown = Cut(text, width);
    int left = (width - Width(shown)) / 2;
    return std::string(left, ' ') + shown + std::string(width - left - Width(shown), ' ');
}

std::string Row(std::string_view inner) {
    std::string row = "|";
    row.append(inner).append("|\x1b[K\n");
    return row;
}

std::string Border(std::string_view title) {
    std::string line = "+-" + std::string(title);
    line += std::string(kInnerWidth + 1 - Width(line), '-');
    return line + "+\x1b[K\n";
}

std::string ProgressBar(int percent) {
    int width = kInnerWidth - 4;
    int filled = std::clamp(percent, 0, 100) * width / 100;
    return " [" + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
}

}  // namespace

TerminalView::TerminalView(net::EventLoop& loop, int out, int in, int wakeFd)
    : loop_(loop), out_(out), in_(in), wakeFd_(wakeFd) {
    if (in_ >= 0 && isatty(in_) && tcgetattr(in_, &savedMode_) == 0) {
        struct termios raw = savedMode_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        rawMode_ = tcsetattr(in_, TCSANOW, &raw) == 0;
    }
    if (rawMode_) {
        loop_.Watch(net::SocketHandle(in_), net::EventLoop::Interest::Readable,
                    [this] { OnKeys(); });
    }
}

TerminalView::~TerminalView() {
    Close();
    if (rawMode_) {
        loop_.Unwatch(net::SocketHandle(in_), net::EventLoop::Interest::Readable);
        tcsetattr(in_, TCSANOW, &savedMode_);
    }
}

void TerminalView::Open() {
    open_ = true;
    Write("\x1b[?25l");
    Draw();
}

void TerminalView::Close() {
    if (!open_) {
        return;
    }
    redrawTimer_.Stop();
    Draw();
    open_ = false;
    Write("\x1b[?25h");
}

void TerminalView::ShowStatus(std::string_view text) {
    status_ = text;
    Changed();
}

void TerminalView::ShowTransfer(std::string_view text) {
    transfer_ = text;
    Changed();
}

void TerminalView::SetProgress(int percent) {
    progress_ = percent;
    Changed();
}

void TerminalView::Changed() {
    if (!open_ || redrawTimer_.running()) {
        return;
    }
    auto since = std::chrono::steady_clock::now() - lastDraw_;
    if (since >= kRedrawInterval) {
        Draw();
        return;
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kRedrawInterval - since);
    redrawTimer_.Start(wait + std::chrono::milliseconds(1), [this] { Draw(); });
}

void TerminalView::Draw() {
    std::string lines = Border(std::string(" ") + kTitle + " ");
    lines += Row(Centred(status_, kInnerWidth));
    lines += Row(Centred(transfer_, kInnerWidth));
    lines += Row(ProgressBar(progress_));
    lines += Row(Centred("", kInnerWidth));
    lines += Row(Centred(kButton, kInnerWidth));
    lines += Border("");
    DrawLines(lines);
}

void TerminalView::DrawLines(std::string const& lines) {
    std::string frame;
    if (drawn_) {
        frame = "\r\x1b[" + std::to_string(kLineCount) + "A";
    }
    frame += lines;
    Write(frame);
    drawn_ = true;
    lastDraw_ = std::chrono::steady_clock::now();
}

void TerminalView::ShowMessageBox(std::string_view caption, std::string_view text) {
    if (!open_) {
        open_ = true;
        Write("\x1b[?25l");
    }
    std::string title = " ";
    title.append(Cut(caption, kInnerWidth - 4)).append(" ");
    std::string lines = Border(title);
    lines += Row(Centred("", kInnerWidth));
    std::string_view rest = text;
    for (int row = 0; row < 2; ++row) {
        std::string part = Cut(rest, kInnerWidth - 2);
        lines += Row(Centred(part, kInnerWidth));
        rest.remove_prefix(std::min(rest.size(), part.size()));
    }
    lines += Row(Centred("", kInnerWidth));
    lines += Row(Centred(kOkButton, kInnerWidth));
    lines += Border("");
    DrawLines(lines);
    WaitForDismissal();
    Draw();
}

void TerminalView::WaitForDismissal() {
    if (!rawMode_) {
        return;
    }
    while (true) {
        struct pollfd fds[2] = {{in_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, wakeFd_ >= 0 ? 2 : 1, -1) < 0) {
            continue;
        }
        if (wakeFd_ >= 0 && (fds[1].revents & POLLIN)) {
            return;
        }
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            return;
        }
        unsigned char keys[16];
        ssize_t count = read(in_, keys, sizeof keys);
        for (ssize_t i = 0; i < count; ++i) {
            unsigned char key = keys[i];
            if (key == '\r' || key == '\n' || key == ' ' || key == kEscape || key == kCtrlC) {
                return;
            }
        }
    }
}

void TerminalView::OnKeys() {
    unsigned char keys[16];
    ssize_t count = read(in_, keys, sizeof keys);
    if (count <= 0) {
        return;
    }
    // A lone Escape is the Escape key; an Escape followed by more bytes is a cursor or function
    // key sequence and is ignored.
    bool escapeKey = count == 1 && keys[0] == kEscape;
    bool ctrlC = std::find(keys, keys + count, kCtrlC) != keys + count;
    if (escapeKey || ctrlC) {
        Cancel();
    }
}

void TerminalView::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(out_, bytes.data(), bytes.size());
        if (written <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace qm::app
