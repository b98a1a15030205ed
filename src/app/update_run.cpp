#include "app/update_run.h"

namespace qm::app {

UpdateRun::UpdateRun(FrontEnd& frontEnd)
    : loop_(frontEnd.loop()), view_(frontEnd.view()), layer_(loop_), dialog_(loop_, layer_, view_) {
    view_.SetCancelHandler([this] { dialog_.Abort(); });
}

update::ExitStatus UpdateRun::Run() {
    dialog_.OnOpen();
    if (!dialog_.closeRequested()) {
        view_.Open();
        loop_.Run();
    }
    view_.Close();
    return dialog_.exitStatus();
}

}  // namespace qm::app
