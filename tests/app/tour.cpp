// The screenshot tour: mintora_tour OUTDIR saves a PNG of every window and dialog of the
// program, filled from the sample data of the window tests and rendered with the Chinese font,
// one file per window named after its class (Tfrmmain.png, TfrmMainpage.png, ...). Each
// picture carries a title bar with the window's caption, as a desktop would draw it.
//
// A window joins the tour with one line in kStops: its class name and how to bring it up,
// either as a view of the main window (View) or as a dialog of its own (Dialog).
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "accounts/uAdduser.h"
#include "accounts/uUser.h"
#include "accounts/ulogin.h"
#include "application.h"
#include "categories/uItemlist.h"
#include "categories/uItems.h"
#include "categories/uadditem.h"
#include "charts/uchart.h"
#include "charts/uchart2.h"
#include "charts/uchart3.h"
#include "clock.h"
#include "dbaccess/session.h"
#include "diary/uadddiary.h"
#include "diary/udiary.h"
#include "enginepassword.h"
#include "fixture.h"
#include "globals.h"
#include "ledger/ledgerlist.h"
#include "ledger/uAddshouzhi.h"
#include "ledger/uShouzhi.h"
#include "ledger/udatepicker.h"
#include "uabout.h"
#include "umain.h"
#include "usys.h"

namespace {

using mt::apptest::TAppFixture;
using mt::apptest::TSampleData;

constexpr char kCjkFontFile[] = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
constexpr char kCjkFamily[] = "WenQuanYi Micro Hei";

// The main window and the dialogs of the tour, each shown (not modally) for its picture.
class TTour {
 public:
  Tfrmmain& Main() {
    if (!main_) main_ = mt::apptest::ShowMainWindow();
    return *main_;
  }

  // The main window after one of its view actions.
  QWidget* View(void (Tfrmmain::*open)()) {
    (Main().*open)();
    return &Main();
  }

  // A dialog, kept until the tour ends.
  QWidget* Dialog(std::unique_ptr<QDialog> dialog) {
    dialog->show();
    dialogs_.push_back(std::move(dialog));
    return dialogs_.back().get();
  }

  // The category dialog changing the first expense category of the category window's list.
  QWidget* ItemDialog() {
    auto items = std::make_unique<TfrmItems>(&Main());
    QTreeWidget& list = *items->ListView1();
    auto dialog = std::make_unique<TfrmAddItem>(list, &Main());
    QTreeWidgetItem* row = list.topLevelItem(3);
    dialog->setWindowTitle(QStringLiteral("修改收支项目"));
    dialog->SetAdding(false);
    dialog->NameEdit()->setText(row->text(ItemsColumn::Name));
    dialog->DescriptionEdit()->setText(row->text(ItemsColumn::Description));
    dialog->ExpenseButton()->setChecked(true);
    dialogs_.push_back(std::move(items));
    return Dialog(std::move(dialog));
  }

  // The entry dialog adding (empty) or changing a sample entry, over a ledger list of the
  // sample rows.
  TfrmAddshouzhi* EntryDialog(bool adding) {
    auto dialog = std::make_unique<TfrmAddshouzhi>(LedgerList(), &Main());
    dialog->SetAdding(adding);
    dialog->DateTimePicker1()->setDate(TSampleData::Today());
    if (!adding) {
      dialog->setWindowTitle(QStringLiteral("修改收支记录"));
      dialog->FillFromRow(LedgerList().Row(LedgerList().RowCount() - 2));
    }
    auto* shown = dialog.get();
    Dialog(std::move(dialog));
    return shown;
  }

  // The entry dialog with the category picker dropped under its category field: one picture
  // of the screen holding both.
  QWidget* EntryDialogWithPicker() {
    TfrmAddshouzhi* dialog = EntryDialog(true);
    dialog->setWindowTitle(QStringLiteral("新添收支"));
    dialog->ShowPicker();
    for (int i = 0; i < 5; ++i)
      QCoreApplication::processEvents();
    composite_ = std::make_unique<TComposite>(*dialog, *dialog->Picker());
    return composite_.get();
  }

  // The main window on the ledger list with the calendar popup dropped under "显示选项", as
  // "显示从某天开始以来的记录" shows it.
  QWidget* LedgerWithCalendar() {
    View(&Tfrmmain::OpenLedger);
    auto* ledger = qobject_cast<TFrmShouzhi*>(Main().CurrentView());
    auto* button = ledger->findChild<QToolButton*>("btnshow");
    auto* popup = new Tfrmdatepicker(ledger);
    popup->move(Tfrmdatepicker::Position(button->mapToGlobal(QPoint(0, button->height())),
                                         button->screen()->geometry()));
    popup->show();
    for (int i = 0; i < 5; ++i)
      QCoreApplication::processEvents();
    composite_ = std::make_unique<TComposite>(Main(), *popup);
    popup->close();
    return composite_.get();
  }

 private:
  // A widget whose picture is a dialog with a popup drawn over it where it stands.
  class TComposite : public QWidget {
   public:
    TComposite(QWidget& window, QWidget& popup) {
      setWindowTitle(window.windowTitle());
      setWindowIcon(window.windowIcon());
      const QPoint at = popup.mapToGlobal(QPoint(0, 0)) - window.mapToGlobal(QPoint(0, 0));
      QPixmap picture(
          window.size().expandedTo(QSize(at.x() + popup.width(), at.y() + popup.height())));
      picture.fill(Qt::white);
      QPainter p(&picture);
      p.drawPixmap(0, 0, window.grab());
      p.drawPixmap(at, popup.grab());
      p.end();
      auto* label = new QLabel(this);
      label->setPixmap(picture);
      label->resize(picture.size());
      resize(picture.size());
    }
  };

  // A ledger list of the sample entries in the list's row layout.
  TLedgerList& LedgerList() {
    if (!ledger_) {
      ledger_ = std::make_unique<TLedgerList>();
      mt::apptest::FillLedgerList(*ledger_, fixture_->data.Entries());
    }
    return *ledger_;
  }

 public:
  TAppFixture* fixture_ = nullptr;

 private:
  std::unique_ptr<TComposite> composite_;
  std::unique_ptr<TLedgerList> ledger_;
  std::unique_ptr<Tfrmmain> main_;
  std::vector<std::unique_ptr<QDialog>> dialogs_;
};

// A chart window of the main window, over the sample data's months.
template <class TChart>
QWidget* ChartView(TTour& t, void (Tfrmmain::*open)()) {
  QWidget* main = t.View(open);
  if (auto* chart = qobject_cast<TChart*>(t.Main().CurrentView())) {
    chart->SetRange(QDate(2004, 2, 1), TSampleData::Today());
    chart->btnrefreshClick();
  }
  // The charts drop the items of their former axes later; the picture comes before that.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return main;
}

struct TTourStop {
  const char* className;
  std::function<QWidget*(TTour&)> show;
};

const TTourStop kStops[] = {
    {"Tfrmmain", [](TTour& t) { return t.View(&Tfrmmain::OpenHomePage); }},
    {"TfrmMainpage", [](TTour& t) { return t.View(&Tfrmmain::OpenHomePage); }},
    {"Tfrmlogin", [](TTour& t) { return t.Dialog(std::make_unique<Tfrmlogin>()); }},
    {"TfrmUser", [](TTour& t) { return t.Dialog(std::make_unique<TfrmUser>(&t.Main())); }},
    {"TfrmAdduser",
     [](TTour& t) {
       // Changing the second sample account, as "修改" opens it.
       auto dialog = std::make_unique<TfrmAdduser>(&t.Main());
       const mt::apptest::TSampleAccount& account = TSampleData::Accounts()[1];
       dialog->setWindowTitle(QStringLiteral("用户编辑"));
       dialog->SetAdding(false);
       dialog->Fill(account.name, account.fullName, account.password);
       return t.Dialog(std::move(dialog));
     }},
    {"TfrmItems", [](TTour& t) { return t.Dialog(std::make_unique<TfrmItems>(&t.Main())); }},
    {"TfrmAddItem", [](TTour& t) { return t.ItemDialog(); }},
    {"TfrmAddshouzhi", [](TTour& t) { return t.EntryDialog(true); }},
    {"TfrmAddshouzhi-change", [](TTour& t) { return t.EntryDialog(false); }},
    {"TfrmItemList", [](TTour& t) { return t.EntryDialogWithPicker(); }},
    {"Tfrmdiary", [](TTour& t) { return t.View(&Tfrmmain::OpenDiary); }},
    {"TfrmAdddiary",
     [](TTour& t) {
       auto dialog = std::make_unique<TfrmAdddiary>(nullptr, &t.Main());
       dialog->SetPickedDay(QDate(2004, 4, 12));
       return t.Dialog(std::move(dialog));
     }},
    {"TfrmSys", [](TTour& t) { return t.Dialog(std::make_unique<TfrmSys>(&t.Main())); }},
    {"Tfrmabout", [](TTour& t) { return t.Dialog(std::make_unique<Tfrmabout>(&t.Main())); }},
    {"Tfrmabout-history",
     [](TTour& t) {
       auto dialog = std::make_unique<Tfrmabout>(&t.Main());
       dialog->ShowPage(1);
       return t.Dialog(std::move(dialog));
     }},
    {"TfrmWeb", [](TTour& t) { return t.View(&Tfrmmain::OpenWeb); }},
    {"TEnginePasswordDialog",
     [](TTour& t) {
       return t.Dialog(std::make_unique<TEnginePasswordDialog>(mt::DefaultSession(), &t.Main()));
     }},
    {"Tfrmchart", [](TTour& t) { return ChartView<Tfrmchart>(t, &Tfrmmain::OpenChart); }},
    {"TfrmChart2", [](TTour& t) { return ChartView<TfrmChart2>(t, &Tfrmmain::OpenChart2); }},
    {"Tfrmchart3", [](TTour& t) { return ChartView<Tfrmchart3>(t, &Tfrmmain::OpenChart3); }},
    {"TFrmShouzhi", [](TTour& t) { return t.View(&Tfrmmain::OpenLedger); }},
    {"Tfrmdatepicker", [](TTour& t) { return t.LedgerWithCalendar(); }},
};

// The family of the Chinese font, loaded from its file when fontconfig does not know it.
QString CjkFamily() {
  if (QFontDatabase::families().contains(kCjkFamily)) return kCjkFamily;
  const int id = QFontDatabase::addApplicationFont(kCjkFontFile);
  const QStringList families = QFontDatabase::applicationFontFamilies(id);
  return families.value(0);
}

// The window's picture under a title bar holding its icon and caption.
QImage Picture(QWidget& window) {
  const QPixmap content = window.grab();
  const int titleHeight = 28;
  QImage image(content.width() + 2, content.height() + titleHeight + 1, QImage::Format_RGB32);
  image.fill(QColor(0x2b, 0x57, 0x97));
  QPainter p(&image);
  const QIcon icon = window.windowIcon();
  int textLeft = 8;
  if (!icon.isNull()) {
    p.drawPixmap(6, 6, icon.pixmap(16, 16));
    textLeft = 28;
  }
  QFont f = window.font();
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(textLeft, 0, image.width() - textLeft, titleHeight),
             Qt::AlignLeft | Qt::AlignVCenter, window.windowTitle());
  p.drawPixmap(1, titleHeight, content);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TMintoraApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: mintora_tour OUTDIR\n");
    return 2;
  }
  const QString outDir = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
  if (!QDir().mkpath(outDir)) {
    std::fprintf(stderr, "tour: cannot make %s\n", qPrintable(outDir));
    return 1;
  }
  const QString family = CjkFamily();
  if (family.isEmpty()) {
    std::fprintf(stderr, "tour: the Chinese font %s is missing (scripts/setup.sh installs it)\n",
                 kCjkFontFile);
    return 1;
  }
  QFont font(family);
  font.setPointSize(10);
  QApplication::setFont(font);

  try {
    TAppFixture fixture(QStringLiteral("张三"));
    const TTodayScope today(TSampleData::Today());
    TTour tour;
    tour.fixture_ = &fixture;
    for (const TTourStop& stop : kStops) {
      QWidget* window = stop.show(tour);
      for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
      const QString file = outDir + "/" + stop.className + ".png";
      if (!Picture(*window).save(file)) {
        std::fprintf(stderr, "tour: cannot write %s\n", qPrintable(file));
        return 1;
      }
      std::printf("tour: %s\n", qPrintable(file));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tour: %s\n", e.what());
    return 1;
  }
  return 0;
}
