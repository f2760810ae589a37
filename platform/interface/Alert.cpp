#include "Alert.h"

#include <QAbstractButton>
#include <QMessageBox>

#include "View.h"

BAlert::BAlert(const char* title, const char* text, const char* button0, const char* button1,
               const char* button2, button_width, alert_type type)
    : box_(std::make_unique<QMessageBox>()) {
  box_->setWindowTitle(QString::fromUtf8(title ? title : ""));
  box_->setText(QString::fromUtf8(text ? text : ""));
  static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                            QMessageBox::Information, QMessageBox::Warning,
                                            QMessageBox::Critical};
  box_->setIcon(icons[type]);
  for (const char* label : {button0, button1, button2})
    if (label != nullptr) box_->addButton(QString::fromUtf8(label), QMessageBox::AcceptRole);
}

BAlert::~BAlert() = default;

int32 BAlert::Go() {
  box_->exec();
  int32 index = int32(box_->buttons().indexOf(box_->clickedButton()));
  delete this;
  return index;
}
