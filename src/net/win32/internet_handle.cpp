#include "net/win32/internet_handle.h"

namespace parlex::net::win32 {

std::atomic<long> InternetHandle::openCount_{0};

std::shared_ptr<InternetHandle> InternetHandle::Adopt(HINTERNET handle,
                                                      std::shared_ptr<InternetHandle> parent,
                                                      std::shared_ptr<void> context) {
  if (handle == nullptr) return nullptr;
  return std::shared_ptr<InternetHandle>(new InternetHandle(handle, std::move(parent), std::move(context)));
}

// The parent and the context are members: they are let go of after this
// body has closed the handle.
InternetHandle::~InternetHandle() {
  ::InternetCloseHandle(handle_);
  --openCount_;
}

}  // namespace parlex::net::win32
