// The settings dialog "系统设置": whether the program starts with the desktop session. The
// setting lives outside the program's data, as an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/Mintora.desktop, ~/.config when the variable is unset) whose
// Exec line is the program file's full path. Auto-start is on when that file exists and its
// path equals the program's path, letter case ignored. Errors reading or writing the entry
// are not reported: the box then shows what could be read, and "确认" changes what it can.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QPushButton;

// The autostart entry of a program file.
class TAutostart {
 public:
  // programPath empty: the running program's file.
  explicit TAutostart(QString programPath = {});
  // The entry's file.
  static QString EntryFile();
  // The program path the entry starts, or empty when there is no readable entry.
  static QString EntryProgram();
  bool IsOn() const;
  // Writes the entry for this program, or removes it; false when that failed.
  bool SetOn(bool on) const;
  const QString& ProgramPath() const { return programPath_; }

 private:
  QString programPath_;
};

class TfrmSys : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmSys(QWidget* parent = nullptr, const TAutostart& autostart = TAutostart());

  QCheckBox* CheckBox1() const { return checkBox1_; }
  QPushButton* BitBtn1() const { return bitBtn1_; }
  QPushButton* BitBtn2() const { return bitBtn2_; }

 private:
  void BitBtn1Click();

  TAutostart autostart_;
  QCheckBox* checkBox1_;
  QPushButton* bitBtn1_;
  QPushButton* bitBtn2_;
};
