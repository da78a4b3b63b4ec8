// What the sign-in dialog and the user management windows share: pointing their datasets at
// the data directory right before each use, and their one-button warning box.
#pragma once

#include <QString>

#include <functional>
#include <string_view>

class QWidget;

namespace mt {
class TEngineDBDataSet;
class TEngineTable;
}  // namespace mt

namespace mt::accounts {

// Sets the dataset's database name to the data directory, computed afresh (GBK path).
void UseDataDirectory(TEngineDBDataSet& dataset);

// Opens the named table of the data directory on `table`, runs `work` and closes the table
// again, also when `work` fails (an unfinished edit is cancelled, the error goes on).
void WithTable(TEngineTable& table, std::string_view name, const std::function<void()>& work);

// A warning with one OK button, through the injectable prompt.
void Warn(QWidget* parent, const QString& text);

}  // namespace mt::accounts
