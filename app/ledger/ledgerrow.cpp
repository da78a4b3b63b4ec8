// The ledger list's number format; see ledgerrow.h.
#include "ledgerrow.h"

#include "engine/common/literals.h"

QString GeneralNumber(double value) {
  return QString::fromStdString(mt::FloatToText(value));
}
