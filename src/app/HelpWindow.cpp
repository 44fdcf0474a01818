#include "app/HelpWindow.h"

#include "widgets/FormLayout.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

THelpWindow::THelpWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Quorlink Simulator Help"));
  resize(FormLayout::Size(680, 460));

  QFile file(QStringLiteral(":/help/guide.html"));
  QString html;
  if (file.open(QIODevice::ReadOnly)) html = QString::fromUtf8(file.readAll());

  // Every <h2 id="..."> starts a topic that runs to the next one.
  static const QRegularExpression heading(QStringLiteral("<h2 id=\"([^\"]+)\">(.*?)</h2>"));
  auto it = heading.globalMatch(html);
  QList<QRegularExpressionMatch> matches;
  while (it.hasNext()) matches.append(it.next());
  for (qsizetype i = 0; i < matches.size(); ++i) {
    const auto& m = matches[i];
    const qsizetype end = i + 1 < matches.size() ? matches[i + 1].capturedStart() : html.size();
    TTopic topic;
    topic.Id = m.captured(1);
    topic.Title = QTextDocumentFragment::fromHtml(m.captured(2)).toPlainText();
    topic.Text = QTextDocumentFragment::fromHtml(html.mid(m.capturedEnd(), end - m.capturedEnd())).toPlainText();
    Topics.append(topic);
  }

  auto* searchLabel = new QLabel(QStringLiteral("&Search for:"), this);
  Edit_Search = new QLineEdit(this);
  Edit_Search->setObjectName(QStringLiteral("Edit_Search"));
  Edit_Search->setClearButtonEnabled(true);
  searchLabel->setBuddy(Edit_Search);
  ListBox_Topics = new QListWidget(this);
  ListBox_Topics->setObjectName(QStringLiteral("ListBox_Topics"));
  Browser = new QTextBrowser(this);
  Browser->setObjectName(QStringLiteral("Browser"));
  Browser->setOpenExternalLinks(false);
  Browser->setHtml(html);

  auto* left = new QVBoxLayout;
  left->addWidget(searchLabel);
  left->addWidget(Edit_Search);
  left->addWidget(ListBox_Topics, 1);
  auto* top = new QHBoxLayout(this);
  top->addLayout(left, 0);
  top->addWidget(Browser, 1);
  ListBox_Topics->setFixedWidth(FormLayout::S(190));

  connect(Edit_Search, &QLineEdit::textChanged, this, &THelpWindow::Filter);
  connect(ListBox_Topics, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
    if (item) Browser->scrollToAnchor(item->data(Qt::UserRole).toString());
  });
  Filter(QString());
}

QStringList THelpWindow::FindTopics(const QString& text) const {
  const QStringList words = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
  QStringList found;
  for (const TTopic& t : Topics) {
    bool all = true;
    for (const QString& w : words) {
      if (!t.Title.contains(w, Qt::CaseInsensitive) && !t.Text.contains(w, Qt::CaseInsensitive)) {
        all = false;
        break;
      }
    }
    if (all) found.append(t.Id);
  }
  return found;
}

void THelpWindow::Filter(const QString& text) {
  const QStringList ids = FindTopics(text);
  ListBox_Topics->clear();
  for (const TTopic& t : Topics) {
    if (!ids.contains(t.Id)) continue;
    auto* item = new QListWidgetItem(t.Title, ListBox_Topics);
    item->setData(Qt::UserRole, t.Id);
  }
  if (ListBox_Topics->count() == 0) {
    auto* none = new QListWidgetItem(QStringLiteral("(no topic found)"), ListBox_Topics);
    none->setFlags(Qt::NoItemFlags);
  }
}

void THelpWindow::Present() {
  show();
  raise();
  activateWindow();
}

void THelpWindow::ShowContents() {
  Edit_Search->clear();
  ListBox_Topics->setCurrentRow(-1);
  Browser->scrollToAnchor(QStringLiteral("top"));
  Present();
}

void THelpWindow::ShowSearch() {
  Present();
  Edit_Search->setFocus();
  Edit_Search->selectAll();
}

void THelpWindow::ShowTopic(const QString& id) {
  Edit_Search->clear();
  for (int i = 0; i < ListBox_Topics->count(); ++i) {
    if (ListBox_Topics->item(i)->data(Qt::UserRole).toString() == id) {
      ListBox_Topics->setCurrentRow(i);
      break;
    }
  }
  Browser->scrollToAnchor(id);
  Present();
}
