#include "update/qt/update_agent_qt.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>

#include "app/shell_texts.h"
#include "update/update_texts.h"

namespace parlex::update::qt {

namespace {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

class ProgressWindow : public IDownloadProgress {
 public:
  explicit ProgressWindow(int64_t announced) {
    window_.setObjectName(QStringLiteral("parlexUpdateProgress"));
    window_.setWindowTitle(ToQString(kProgressCaption));
    window_.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    auto* layout = new QVBoxLayout(&window_);
    label_ = new QLabel(ToQString(DownloadProgressText(0, announced)), &window_);
    bar_ = new QProgressBar(&window_);
    bar_->setMinimumWidth(320);
    if (announced >= 0) {
      bar_->setRange(0, 1000);
      bar_->setValue(0);
    } else {
      bar_->setRange(0, 0);  // no length: a busy bar
    }
    layout->addWidget(label_);
    layout->addWidget(bar_);
    window_.show();
    QCoreApplication::processEvents();
  }

  void Update(int64_t received, int64_t announced) override {
    label_->setText(ToQString(DownloadProgressText(received, announced)));
    int permille = DownloadProgressPermille(received, announced);
    if (permille >= 0) bar_->setValue(permille);
    QCoreApplication::processEvents();
  }

 private:
  QWidget window_;
  QLabel* label_ = nullptr;
  QProgressBar* bar_ = nullptr;
};

}  // namespace

bool UpdateAgentQt::AskToUpdate() {
  QMessageBox box(QMessageBox::Question, ToQString(kAskCaption), ToQString(kAskText),
                  QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
  box.setObjectName(QStringLiteral("parlexUpdateQuestion"));
  return box.exec() == QMessageBox::Yes;
}

std::unique_ptr<IDownloadProgress> UpdateAgentQt::ShowProgress(int64_t announced) {
  return std::make_unique<ProgressWindow>(announced);
}

void ShowUpdatedMessage() {
  QMessageBox box(QMessageBox::Information, ToQString(app::kUpdatedCaption), ToQString(app::kUpdatedText),
                  QMessageBox::Ok);
  box.setObjectName(QStringLiteral("parlexUpdatedMessage"));
  box.exec();
}

}  // namespace parlex::update::qt
