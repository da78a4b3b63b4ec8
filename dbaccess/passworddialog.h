// The password dialog of the dataset layer, as a hook the program fills: when a table needs a
// password the session does not know and the session has no OnPassword handler, the session
// calls the installed dialog, which shows "Enter password" modally and returns true when it
// ended with OK (the engine then tries the table again with the session's passwords).
//
// TPasswordDialogState is the dialog's behaviour without widgets: the texts of its controls,
// which buttons are enabled for the edit's text, and what each button does to the session's
// password list. The program's dialog binds its widgets to it.
//
// Thread-safety: install the hook before datasets are used from other threads; the state
// object belongs to the dialog's thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mt {

class TEngineSession;

using TPasswordDialog = std::function<bool(TEngineSession& session)>;

// Installs (or, with an empty function, removes) the password dialog.
void SetPasswordDialog(TPasswordDialog dialog);
// A copy of the installed dialog; empty when none is.
TPasswordDialog PasswordDialog();

namespace pwdtext {
inline constexpr std::string_view kCaption = "Enter password";
inline constexpr std::string_view kGroup = "Password";
inline constexpr std::string_view kAdd = "&Add";
inline constexpr std::string_view kRemove = "&Remove";
inline constexpr std::string_view kRemoveAll = "Re&move all";
inline constexpr std::string_view kOk = "&OK";  // the default button
inline constexpr std::string_view kCancel = "Cancel";
}  // namespace pwdtext

class TPasswordDialogState {
 public:
  explicit TPasswordDialogState(TEngineSession& session) : session_(session) {}

  // The masked edit's text.
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }

  bool AddEnabled() const { return !text_.empty(); }
  bool RemoveEnabled() const { return !text_.empty(); }
  bool OkEnabled() const { return !text_.empty() || added_; }

  // "&Add": the typed password joins the session's list; the edit is emptied.
  void Add();
  // "&Remove": the typed password leaves the list.
  void Remove();
  // "Re&move all": the list is emptied.
  void RemoveAll();
  // "&OK": the typed password joins the list; the dialog then closes with OK.
  void Ok();

 private:
  TEngineSession& session_;
  std::string text_;
  bool added_ = false;
};

}  // namespace mt
