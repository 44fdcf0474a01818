#include "app/AboutBox.h"

#include "widgets/FormLayout.h"
#include "widgets/Glyphs.h"

#include "QuorlinkVersion.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

using FormLayout::R;

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(FormLayout::Size(298, 213));

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setLineWidth(2);
  Panel1->setGeometry(R(8, 8, 281, 161));

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
  ProgramIcon->setGeometry(R(8, 8, 65, 65));
  ProgramIcon->setPixmap(Glyphs::Logo(64));

  ProductName = new QLabel(QStringLiteral("QUORLINK_SIMULATOR"), Panel1);
  ProductName->setObjectName(QStringLiteral("ProductName"));
  ProductName->setGeometry(R(88, 16, 185, 16));
  QFont bold = ProductName->font();
  bold.setBold(true);
  ProductName->setFont(bold);

  Version = new QLabel(QStringLiteral("Version"), Panel1);
  Version->setObjectName(QStringLiteral("Version"));
  Version->setGeometry(R(88, 40, 56, 16));

  VersionNumber = new QLabel(QStringLiteral(QUORLINK_VERSION), Panel1);
  VersionNumber->setObjectName(QStringLiteral("VersionNumber"));
  VersionNumber->setGeometry(R(148, 40, 120, 16));

  Copyright = new QLabel(QStringLiteral("Copyright"), Panel1);
  Copyright->setObjectName(QStringLiteral("Copyright"));
  Copyright->setGeometry(R(8, 88, 265, 16));

  Comments = new QLabel(
      QStringLiteral("The Quorlink Simulator authors.\nFree software under the GNU GPL, GPL-3.0-or-later."), Panel1);
  Comments->setObjectName(QStringLiteral("Comments"));
  Comments->setGeometry(R(8, 108, 265, 44));
  Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Comments->setWordWrap(true);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(R(111, 180, 75, 25));
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}
