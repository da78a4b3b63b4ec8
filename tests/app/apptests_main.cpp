// Runs the registered QTest classes inside the program's own application object, so event
// delivery behaves as in the program (including its error box).
#include <QTest>

#include <cstdio>

#include "application.h"
#include "apptests.h"

std::map<std::string, TTestFactory>& AppTestRegistry() {
  static std::map<std::string, TTestFactory> registry;
  return registry;
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TMintoraApplication app(argc, argv);
  // Tests close main windows; that must not end later tests' dialogs and event loops.
  QApplication::setQuitOnLastWindowClosed(false);
  std::vector<std::string> names;
  QStringList qtestArgs{QString::fromLocal8Bit(argv[0])};
  for (int i = 1; i < argc; ++i) {
    if (AppTestRegistry().count(argv[i]))
      names.push_back(argv[i]);
    else
      qtestArgs << QString::fromLocal8Bit(argv[i]);
  }
  if (names.empty())
    for (const auto& [name, factory] : AppTestRegistry())
      names.push_back(name);
  int failures = 0;
  for (const auto& name : names) {
    auto test = AppTestRegistry().at(name)();
    failures += QTest::qExec(test.get(), qtestArgs);
  }
  return failures == 0 ? 0 : 1;
}
