#include "widgets/Messages.h"

#include <QApplication>
#include <memory>

namespace Messages {

QMessageBox* Create(QWidget* parent, const QString& caption, const QString& text, const QString& detail,
                    QMessageBox::Icon icon) {
  auto* box = new QMessageBox(icon, caption, text, QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("MessageBox"));
  if (!detail.isEmpty()) box->setInformativeText(detail);
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
