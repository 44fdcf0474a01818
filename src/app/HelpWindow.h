#pragma once
// THelpWindow shows the user guide: a topic list that a search box narrows
// down, and the guide itself beside it.

#include <QDialog>
#include <QList>
#include <QString>

class QLineEdit;
class QListWidget;
class QTextBrowser;

class THelpWindow : public QDialog {
  Q_OBJECT
public:
  explicit THelpWindow(QWidget* parent = nullptr);

  void ShowContents();
  void ShowSearch();
  void ShowTopic(const QString& id);

  // The topics whose title or text contain every word of text (any case).
  QStringList FindTopics(const QString& text) const;

  QLineEdit* Edit_Search;
  QListWidget* ListBox_Topics;
  QTextBrowser* Browser;

private:
  struct TTopic {
    QString Id;
    QString Title;
    QString Text;  // plain text, for searching
  };
  void Filter(const QString& text);
  void Present();

  QList<TTopic> Topics;
};
