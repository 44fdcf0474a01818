#include "app/Messages.h"

#include <QApplication>
#include <QPointer>

namespace Messages {

void Show(QWidget* parent, const QString& caption, const QString& text, const QString& detail,
          QMessageBox::Icon icon) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("MessageBox"));
  if (!detail.isEmpty()) box.setInformativeText(detail);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}

void ShowException(const QString& text) {
  QWidget* parent = QApplication::activeModalWidget();
  if (!parent) parent = QApplication::activeWindow();
  Show(parent, QStringLiteral("Quorlink Simulator"), text.isEmpty() ? QStringLiteral("Unknown error") : text,
       QString(), QMessageBox::Critical);
}

}  // namespace Messages
