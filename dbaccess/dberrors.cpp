// The dataset layer's error texts filled and raised.
#include "dberrors.h"

namespace mt {

std::string FormatDbMessage(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = format.find("%s", from);
    if (at == std::string_view::npos || next == args.end()) break;
    out.append(format.substr(from, at - from));
    out.append(*next++);
    from = at + 2;
  }
  out.append(format.substr(from));
  return out;
}

void RaiseDatabaseError(std::string_view message) {
  throw EDatabaseError(std::string(message));
}

void RaiseDatabaseError(std::string_view format, std::initializer_list<std::string_view> args) {
  throw EDatabaseError(FormatDbMessage(format, args));
}

}  // namespace mt
