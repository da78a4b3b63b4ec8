// Message boxes and file dialogs behind one small injectable helper, so tests can answer what
// the windows ask. Windows call Prompt(); a test installs its own TPrompt with TPromptScope.
#pragma once

#include <QString>

#include <memory>

#include "scopedoverride.h"

class QWidget;

class TPrompt {
 public:
  enum class TIcon { Information, Warning, Critical, Question };
  virtual ~TPrompt() = default;
  // A message box with one OK button.
  virtual void Message(QWidget* parent, TIcon icon, const QString& title, const QString& text);
  // A confirmation with OK and Cancel; true unless the user chose Cancel.
  virtual bool Confirm(QWidget* parent, const QString& title, const QString& text);
  // File dialogs; an empty result means the user cancelled.
  virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& dir,
                               const QString& filter);
  virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& proposed,
                               const QString& filter);
};

// The prompt in force: the installed one, else the real dialogs.
TPrompt& Prompt();

// Installs a prompt for its lifetime and restores the previous one afterwards.
class TPromptScope {
 public:
  explicit TPromptScope(TPrompt& prompt);

 private:
  TScopedOverride<TPrompt> override_;
};
