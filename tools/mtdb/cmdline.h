// mtdb's command-line plumbing: an argument list split into positionals, valued options and
// flags; the usage fault that exits 2; running a command so that engine errors print their
// message and exit 1; and the text conversion between the terminal (UTF-8) and the tables
// (GBK), which --raw turns off.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace mt::mtdb {

// Bad usage: the message goes to stderr with the usage text, exit status 2.
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TArgs {
 public:
  // valued: options that take a value ("--field"); flags: options without one ("--json").
  // Unknown options and missing values raise EUsage. "--raw" is always a flag.
  TArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
        const std::set<std::string>& flags);

  const std::vector<std::string>& Positionals() const { return positionals_; }
  // Requires between min and max positionals (EUsage otherwise).
  void RequirePositionals(std::size_t min, std::size_t max, const std::string& command) const;
  bool Flag(const std::string& name) const { return flags_.count(name) > 0; }
  bool Has(const std::string& name) const { return values_.count(name) > 0; }
  // Every value of a repeatable option, in order.
  std::vector<std::string> Values(const std::string& name) const;
  // The last value of an option, or the fallback.
  std::string Value(const std::string& name, const std::string& fallback = {}) const;
  bool Raw() const { return Flag("--raw"); }

 private:
  std::vector<std::string> positionals_;
  std::multimap<std::string, std::string> values_;
  std::vector<std::pair<std::string, std::string>> ordered_;
  std::set<std::string> flags_;
};

// Runs a command: EUsage prints "mtdb: message" and the usage text (status 2); an engine
// error or any other failure prints its message to stderr (status 1).
int RunCommand(const std::function<int()>& command, const char* usage);

// Terminal text to table text and back; unchanged with raw.
std::string ToTable(const std::string& terminalText, bool raw);
std::string ToTerminal(const std::string& tableText, bool raw);

}  // namespace mt::mtdb
