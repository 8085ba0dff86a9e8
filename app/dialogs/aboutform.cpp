// aboutform.cpp - icon, text, a framed information area and "Ok".
#include "app/dialogs/aboutform.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "platform/qt/icons.h"

namespace vantrel::app {

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral("About Vantrel"));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("ProgramIcon"));
  icon->setPixmap(QApplication::windowIcon().isNull()
                      ? platform::ThemeIcon(QStringLiteral("system-file-manager"),
                                            style()->standardIcon(QStyle::SP_DirIcon))
                            .pixmap(32, 32)
                      : QApplication::windowIcon().pixmap(32, 32));
  auto* text = new QLabel(QStringLiteral("Vantrel is convenient file manager for Linux."),
                          this);
  text->setObjectName(QStringLiteral("Label1"));
  text->setWordWrap(true);

  // The framed information area: the version and what the program is made of.
  auto* info = new QFrame(this);
  info->setObjectName(QStringLiteral("InfoFrame"));
  info->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* infoText = new QLabel(QStringLiteral("Version 1.6 (beta)\n"
                                             "Two-panel file manager with its own ZIP engine\n"
                                             "Qt %1")
                                  .arg(QLatin1String(qVersion())),
                              info);
  infoText->setObjectName(QStringLiteral("InfoLabel"));
  infoText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* infoLayout = new QVBoxLayout(info);
  infoLayout->addWidget(infoText);

  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("OkButton"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(info, 1);
  layout->addLayout(buttons);
}

}  // namespace vantrel::app
