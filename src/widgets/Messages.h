#pragma once
// The program's own message boxes: one OK button, an optional detail line shown
// under the text (visible, not folded away), and no icon unless asked for.
// They are ordinary modal QMessageBox instances, so tests answer them through
// QApplication::activeModalWidget() like an operator would.

#include <QMessageBox>
#include <QString>

class QWidget;

namespace Messages {

// The box Show runs, built but not shown; the caller owns it.
QMessageBox* Create(QWidget* parent, const QString& caption, const QString& text, const QString& detail = QString(),
                    QMessageBox::Icon icon = QMessageBox::NoIcon);

void Show(QWidget* parent, const QString& caption, const QString& text, const QString& detail = QString(),
          QMessageBox::Icon icon = QMessageBox::NoIcon);

// The box for an error that reached the event loop or the program entry.
void ShowException(const QString& text);

}  // namespace Messages
