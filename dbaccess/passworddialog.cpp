// The password dialog hook and the dialog's button behaviour.
#include "passworddialog.h"

#include <mutex>

#include "session.h"

namespace mt {
namespace {

struct THook {
  std::mutex mutex;
  TPasswordDialog dialog;
};

THook& Hook() {
  static THook* hook = new THook();  // used until exit
  return *hook;
}

}  // namespace

void SetPasswordDialog(TPasswordDialog dialog) {
  std::lock_guard<std::mutex> lock(Hook().mutex);
  Hook().dialog = std::move(dialog);
}

TPasswordDialog PasswordDialog() {
  std::lock_guard<std::mutex> lock(Hook().mutex);
  return Hook().dialog;
}

void TPasswordDialogState::Add() {
  if (text_.empty()) return;
  session_.AddPassword(text_);
  added_ = true;
  text_.clear();
}

void TPasswordDialogState::Remove() {
  if (text_.empty()) return;
  session_.RemovePassword(text_);
}

void TPasswordDialogState::RemoveAll() {
  session_.RemoveAllPasswords();
}

void TPasswordDialogState::Ok() {
  if (text_.empty()) return;
  session_.AddPassword(text_);
  added_ = true;
}

}  // namespace mt
