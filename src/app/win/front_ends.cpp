#include "app/win/front_ends.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "app/plain_view.h"
#include "app/win/dialog_view.h"
#include "net/win/message_loop.h"

namespace qm::app {
namespace {

class PlainFrontEnd final : public FrontEnd {
  public:
    // The lines end as on every platform, in a line feed alone, so that a script reads the same
    // bytes from either.
    PlainFrontEnd() : view_(stdout) { ::_setmode(::_fileno(stdout), _O_BINARY); }
    net::EventLoop& loop() override { return loop_; }
    UpdateView& view() override { return view_; }

  private:
    net::MessageLoop loop_;
    PlainView view_;
};

class DialogFrontEnd final : public FrontEnd {
  public:
    DialogFrontEnd() : view_(loop_) {}
    net::EventLoop& loop() override { return loop_; }
    UpdateView& view() override { return view_; }
    bool created() const { return view_.created(); }

  private:
    net::MessageLoop loop_;
    DialogView view_;
};

}  // namespace

std::unique_ptr<FrontEnd> MakePlainFrontEnd() {
    return std::make_unique<PlainFrontEnd>();
}

std::unique_ptr<FrontEnd> MakeDialogFrontEnd() {
    auto frontEnd = std::make_unique<DialogFrontEnd>();
    if (!frontEnd->created()) {
        return nullptr;
    }
    return frontEnd;
}

}  // namespace qm::app
