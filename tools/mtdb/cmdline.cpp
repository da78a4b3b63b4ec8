// mtdb's argument lists, command runner and terminal text conversion.
#include "cmdline.h"

#include <iostream>

#include "engine/common/engineerror.h"
#include "engine/common/gbk.h"

namespace mt::mtdb {

TArgs::TArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
             const std::set<std::string>& flags) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a;
      std::string value;
      bool hasValue = false;
      const std::size_t eq = a.find('=');
      if (eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        hasValue = true;
      }
      if (name == "--raw" || flags.count(name) > 0) {
        if (hasValue) throw EUsage("option " + name + " takes no value");
        flags_.insert(name);
      } else if (valued.count(name) > 0) {
        if (!hasValue) {
          if (i + 1 >= args.size()) throw EUsage("option " + name + " needs a value");
          value = args[++i];
        }
        values_.emplace(name, value);
        ordered_.emplace_back(name, value);
      } else {
        throw EUsage("unknown option " + name);
      }
    } else {
      positionals_.push_back(a);
    }
  }
}

void TArgs::RequirePositionals(std::size_t min, std::size_t max, const std::string& command) const {
  if (positionals_.size() < min || positionals_.size() > max) {
    throw EUsage(command + ": wrong number of arguments");
  }
}

std::vector<std::string> TArgs::Values(const std::string& name) const {
  std::vector<std::string> result;
  for (const auto& [n, v] : ordered_) {
    if (n == name) result.push_back(v);
  }
  return result;
}

std::string TArgs::Value(const std::string& name, const std::string& fallback) const {
  std::string result = fallback;
  for (const auto& [n, v] : ordered_) {
    if (n == name) result = v;
  }
  return result;
}

int RunCommand(const std::function<int()>& command, const char* usage) {
  try {
    return command();
  } catch (const EUsage& e) {
    std::cout.flush();
    std::cerr << "mtdb: " << e.what() << "\n" << usage;
    return 2;
  } catch (const EEngineError& e) {
    std::cout.flush();
    std::cerr << GbkToUtf8(e.what()) << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "mtdb: " << e.what() << "\n";
    return 1;
  }
}

std::string ToTable(const std::string& terminalText, bool raw) {
  return raw ? terminalText : Utf8ToGbk(terminalText);
}

std::string ToTerminal(const std::string& tableText, bool raw) {
  return raw ? tableText : GbkToUtf8(tableText);
}

}  // namespace mt::mtdb
