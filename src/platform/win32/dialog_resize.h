// Keeps a resizable dialog's controls laid out as it is sized: each control
// of the layout moves or grows with the dialog's right and bottom edges, a
// size gripper sits in the bottom-right corner, and the dialog cannot be made
// smaller than it was created.
#pragma once

#include <windows.h>

#include <span>
#include <vector>

namespace parlex::win32 {

class CDialogResize {
 public:
  enum Flags : UINT {
    kMoveX = 1,  // keeps its distance to the right edge
    kMoveY = 2,  // keeps its distance to the bottom edge
    kSizeX = 4,  // width grows and shrinks with the dialog's
    kSizeY = 8,  // height grows and shrinks with the dialog's
  };
  struct Entry {
    int controlId;
    UINT flags;
  };
  // Control identifier of the gripper.
  static constexpr int kGripperId = 0x2FFF;

  // Called from WM_INITDIALOG, once the dialog's own size is final. A top-level
  // dialog also gets WS_EX_DLGMODALFRAME; forceStyle is added to its style.
  void Init(HWND dialog, std::span<const Entry> layout, bool addGripper = true, bool useMinTrackSize = true,
            DWORD forceStyle = WS_CLIPCHILDREN);

  // WM_SIZE and WM_GETMINMAXINFO; answers true when it took the message.
  bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  HWND GetGripper() const { return gripper_; }

 private:
  struct Placed {
    int controlId;
    UINT flags;
    RECT initial;  // in the dialog's client coordinates
  };
  void Layout(int width, int height);

  HWND dialog_ = nullptr;
  HWND gripper_ = nullptr;
  std::vector<Placed> controls_;
  SIZE initialClient_{};
  POINT minTrackSize_{};
  bool useMinTrackSize_ = false;
};

}  // namespace parlex::win32
