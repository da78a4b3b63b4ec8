// The ledger export; see ledgerexport.h.
#include "ledgerexport.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <stdexcept>

#include "desktop.h"
#include "gbktext.h"
#include "ledger/ledgerlist.h"

QByteArray LedgerExportBytes(const TLedgerList& list) {
  const QString crlf = QStringLiteral("\r\n");
  const QChar tab = u'\t';
  QString text = QStringLiteral("收支明细") + crlf +
                 QStringLiteral("日期\t收支分类\t说明\t收入\t支出\t余额\t记账人");
  for (int r = 0; r < list.RowCount(); ++r) {
    const TLedgerRow& row = list.Row(r);
    text += crlf + u' ' + row[LedgerColumn::Date];
    for (int c = LedgerColumn::Item; c <= LedgerColumn::User; ++c)
      text += tab + row[c];
  }
  text += crlf;
  const std::string bytes = ToGbk(text);
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString DefaultExportFile() {
  return QDir::temp().filePath(QStringLiteral("tmp.txt"));
}

void ExportLedger(const TLedgerList& list, const QString& file) {
  const QByteArray bytes = LedgerExportBytes(list);
  QFile out(file);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size() ||
      !out.flush())
    throw std::runtime_error(ToGbk(QStringLiteral("%1: %2").arg(file, out.errorString())));
  out.close();
  Desktop().OpenUrl(QUrl::fromLocalFile(file));
}
