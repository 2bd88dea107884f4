#include "app/qt/main_window_qt.h"

namespace parlex::app::qt {

// The capture window is not part of this build yet: nothing is captured or sent.
CaptureOutcome MainWindowQt::Capture(int32_t /*companyId*/, int32_t /*visitorId*/) { return {}; }

}  // namespace parlex::app::qt
