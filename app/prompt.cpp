// Real message boxes and file dialogs, and the switch tests use to replace them.
#include "prompt.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
TPrompt* installed = nullptr;
}

void TPrompt::Message(QWidget* parent, TIcon icon, const QString& title, const QString& text) {
  switch (icon) {
    case TIcon::Information:
      QMessageBox::information(parent, title, text);
      break;
    case TIcon::Warning:
      QMessageBox::warning(parent, title, text);
      break;
    case TIcon::Critical:
      QMessageBox::critical(parent, title, text);
      break;
    case TIcon::Question:
      QMessageBox::question(parent, title, text, QMessageBox::StandardButtons(QMessageBox::Ok));
      break;
  }
}

bool TPrompt::Confirm(QWidget* parent, const QString& title, const QString& text) {
  return QMessageBox::question(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel) !=
         QMessageBox::Cancel;
}

QString TPrompt::OpenFileName(QWidget* parent, const QString& title, const QString& dir,
                              const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, dir, filter);
}

QString TPrompt::SaveFileName(QWidget* parent, const QString& title, const QString& proposed,
                              const QString& filter) {
  return QFileDialog::getSaveFileName(parent, title, proposed, filter);
}

TPrompt& Prompt() {
  static TPrompt real;
  return installed ? *installed : real;
}

TPromptScope::TPromptScope(TPrompt& prompt) : override_(installed, &prompt) {}
