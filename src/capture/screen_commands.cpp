// CScreenDlg's commands beside the tools: undo and redo of annotations, copy
// to the clipboard, the keyboard shortcuts, and the texts of the toolbar and
// of the size note.
#include <string>

#include "capture/screen_dlg.h"
#include "common/text.h"

namespace parlex {

std::u16string_view ButtonLabel(int id) {
  switch (id) {
    case kBtnRectangle:
      return u"矩形";
    case kBtnEllipse:
      return u"椭圆";
    case kBtnArrow:
      return u"箭头";
    case kBtnPen:
      return u"画笔";
    case kBtnMosaic:
      return u"马赛克";
    case kBtnText:
      return u"文字";
    case kBtnUndo:
      return u"撤销";
    case kBtnCopy:
      return u"复制";
    case kBtnSave:
      return u"保存";
    case kBtnSend:
      return u"发送";
    default:
      return u"";
  }
}

std::u16string ButtonTooltip(int id) {
  std::u16string tip(ButtonLabel(id));
  switch (id) {
    case kBtnUndo:
      return tip + u" (Ctrl+Z)\n重做 (Ctrl+Y)";
    case kBtnCopy:
      return tip + u" (Ctrl+C)";
    case kBtnSave:
      return tip + u" (Ctrl+S)";
    default:
      return tip;
  }
}

CaptureCommand ShortcutCommand(uint32_t key, bool ctrl, bool shift, bool alt) {
  if (!ctrl || alt) return CaptureCommand::kNone;
  switch (key) {
    case 'Z':
      return shift ? CaptureCommand::kRedo : CaptureCommand::kUndo;
    case 'Y':
      return shift ? CaptureCommand::kNone : CaptureCommand::kRedo;
    case 'C':
      return shift ? CaptureCommand::kNone : CaptureCommand::kCopy;
    case 'S':
      return shift ? CaptureCommand::kNone : CaptureCommand::kSave;
    default:
      return CaptureCommand::kNone;
  }
}

std::u16string SizeText(const Rect& selection) {
  const Rect r = Ordered(selection);
  return FormatDecimal(r.right - r.left) + u" × " + FormatDecimal(r.bottom - r.top);
}

bool CScreenDlg::AtRest() const {
  return m_view && m_nResult < 0 && !m_bSending && !m_bDrawing && !m_bSelecting && !m_view->HasEditor();
}

void CScreenDlg::UpdateUndoButton() {
  if (m_view) m_view->EnableButton(kBtnUndo, m_history.CanUndo());
}

void CScreenDlg::AfterHistoryStep(const std::optional<Rect>& changed) {
  if (!changed) return;
  UpdateUndoButton();
  RefreshDimmed(*changed);
  m_view->InvalidateRect(*changed);
  m_view->UpdateNow();
}

void CScreenDlg::OnUndo() {
  if (!AtRest()) return;
  AfterHistoryStep(m_history.Undo(m_snapshot));
  if (!m_bAnnotated || m_history.CanUndo() || m_history.Trimmed()) return;
  // Nothing is drawn any more: the selection is free to move and size
  // again, and a press on it does so rather than drawing.
  m_bAnnotated = false;
  for (int id : kToolbarButtons)
    if (IsToolButton(id) && m_view->IsButtonChecked(id)) m_view->UncheckButton(id);
}

void CScreenDlg::OnRedo() {
  if (!AtRest()) return;
  const std::optional<Rect> changed = m_history.Redo(m_snapshot);
  if (!changed) return;
  m_bAnnotated = true;
  AfterHistoryStep(changed);
}

void CScreenDlg::OnCopy() {
  if (!m_view || m_nResult >= 0 || m_bSending || m_bDrawing || IsRectEmpty(SelectedArea())) return;
  if (!m_view->CopyImage(SelectionPixels())) return;  // the capture stays: nothing is lost
  m_report = CaptureReport{};
  m_report.outcome = CaptureReport::Outcome::kCopied;
  End(kCaptureDone);
}

bool CScreenDlg::OnKeyDown(uint32_t key, bool ctrl, bool shift, bool alt) {
  switch (ShortcutCommand(key, ctrl, shift, alt)) {
    case CaptureCommand::kUndo:
      OnUndo();
      return true;
    case CaptureCommand::kRedo:
      OnRedo();
      return true;
    case CaptureCommand::kCopy:
      OnCopy();
      return true;
    case CaptureCommand::kSave:
      if (!m_bDrawing && !m_bSelecting) OnSave();
      return true;
    case CaptureCommand::kNone:
      break;
  }
  return false;
}

}  // namespace parlex
