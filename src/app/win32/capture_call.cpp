#include "app/win32/main_dlg.h"

namespace parlex::app::win32 {

void CMainDlg::RunCaptureCall(int32_t /*companyId*/, int32_t /*visitorId*/) {
  // The capture dialog and the page's onFileSent come here.
}

}  // namespace parlex::app::win32
