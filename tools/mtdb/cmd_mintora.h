// mtdb init-mintora: the program's data directory with its five tables and a first account.
#pragma once

#include <string>
#include <vector>

namespace mt::mtdb {

int RunInitMintora(const std::vector<std::string>& args);

}  // namespace mt::mtdb
