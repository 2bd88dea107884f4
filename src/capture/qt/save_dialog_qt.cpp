#include "capture/qt/save_dialog_qt.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QStandardPaths>
#include <QStringList>

namespace parlex::qt {

std::optional<std::u16string> AskSavePathQt(QWidget* parent) {
  QFileDialog dialog(parent);
  // Qt's own dialog: it stays above the topmost capture window and behaves
  // the same on every desktop.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString::fromUtf16(kSaveDefaultSuffix));
  dialog.setNameFilter(QString::fromUtf16(kSaveFilter));
  // Qt separates a filter's patterns with spaces; the list above uses ';',
  // so the folder view is given the two patterns itself.
  if (auto* model = dialog.findChild<QFileSystemModel*>())
    model->setNameFilters(QStringList{QStringLiteral("*.jpg"), QStringLiteral("*.jpeg")});
  // Pictures are where a picture is looked for later.
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  dialog.setDirectory(!pictures.isEmpty() && QDir(pictures).exists() ? pictures : QDir::homePath());
  dialog.selectFile(QString::fromUtf16(kSaveFileName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
  return chosen.first().toStdU16String();
}

}  // namespace parlex::qt
