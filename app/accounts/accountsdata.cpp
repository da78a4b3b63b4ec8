// The accounts windows' shared helpers; see accountsdata.h.
#include "accountsdata.h"

#include "datadir.h"
#include "dbaccess/dataset.h"
#include "dbaccess/enginetable.h"
#include "gbktext.h"
#include "prompt.h"

namespace mt::accounts {

void UseDataDirectory(TEngineDBDataSet& dataset) {
  dataset.SetDatabaseName(ToGbk(DataDirectory()));
}

void WithTable(TEngineTable& table, std::string_view name, const std::function<void()>& work) {
  UseDataDirectory(table);
  table.SetTableName(name);
  table.Open();
  try {
    work();
  } catch (...) {
    if (table.Editing()) table.Cancel();
    table.Close();
    throw;
  }
  table.Close();
}

void Warn(QWidget* parent, const QString& text) {
  Prompt().Message(parent, TPrompt::TIcon::Warning, QStringLiteral("Mintora"), text);
}

}  // namespace mt::accounts
