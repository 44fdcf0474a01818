#include "widgets/Messages.h"

#include <QApplication>
#include <QGridLayout>
#include <QSpacerItem>
#include <memory>

namespace Messages {

QMessageBox* Create(QWidget* parent, const QString& caption, const QString& text, const QString& detail,
                    QMessageBox::Icon icon) {
  auto* box = new QMessageBox(icon, caption, text, QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("MessageBox"));
  if (!detail.isEmpty()) {
    box->setInformativeText(detail);
    // A detail names a device or a file; without room the box wraps it after
    // a few words, often in the middle of the path.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
      const int width = box->fontMetrics().averageCharWidth() * 60;
      grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                    grid->columnCount());
    }
  }
  box->setDefaultButton(QMessageBox::Ok);
  return box;
}

void Show(QWidget* parent, const QString& caption, const QString& text, const QString& detail, QMessageBox::Icon icon) {
  std::unique_ptr<QMessageBox> box(Create(parent, caption, text, detail, icon));
  box->exec();
}

void ShowException(const QString& text) {
  QWidget* parent = QApplication::activeModalWidget();
  if (!parent) parent = QApplication::activeWindow();
  Show(parent, QStringLiteral("Quorlink Simulator"), text.isEmpty() ? QStringLiteral("Unknown error") : text, QString(),
       QMessageBox::Critical);
}

}  // namespace Messages
