// Registry of the app's QTest classes: each test file registers its class under a name, and
// app_tests runs the class named on its command line (or all of them).
#pragma once

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <string>

using TTestFactory = std::function<std::unique_ptr<QObject>()>;
std::map<std::string, TTestFactory>& AppTestRegistry();

struct TRegisterAppTest {
  TRegisterAppTest(const char* name, TTestFactory factory) {
    AppTestRegistry()[name] = std::move(factory);
  }
};

#define MINTORA_APP_TEST(Name, Class) \
  static TRegisterAppTest registerAppTest##Name(#Name, [] { return std::make_unique<Class>(); })
