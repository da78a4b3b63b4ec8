// A helper program for the cursor tests that need other processes: it works on a table through
// a cursor and reports each change on standard output (one line, written unbuffered) as soon
// as the change has returned, so that the test knows what was done before it killed it.
//
//   cursor_probe insert DIR TABLE FIRST COUNT   inserts ids FIRST.. (name "n<id mod 100>",
//                                               amount id / 4) and prints each id
//   cursor_probe count DIR TABLE                prints the number of records
//   cursor_probe edit DIR TABLE ID               starts an edit of the record with that id
//                                               (locking it), prints "locked" and waits
//   cursor_probe stress DIR TABLE WORKER SECONDS
//       for about SECONDS seconds inserts, changes and deletes its own ids (WORKER x 1000000
//       on) in a table of id (primary), name (indexed), note (memo) and amount; prints
//       "I id version", "M id version" or "D id" after each change returned
//   cursor_probe scan DIR TABLE SECONDS PREFILLED
//       for about SECONDS seconds scans the stress table in runs (recordscan.h), in record
//       order and in name order by turns, slowly (it pauses while handing records out, so
//       that writers work between its runs). Every scan must see each id at most once, every
//       record with the name and amount of one finished change, and each of the PREFILLED
//       ids 1.. (never changed) exactly once. Prints "S scans scans-that-saw-a-change" and
//       then "V id version" for each writer's record version it saw
//   cursor_probe churn DIR SEED FIRSTID [KILLWRITE KILLHOW]
//       changes tables "a" and "b" (id primary, name indexed, amount, note memo) at random
//       (SEED): inserts, changes, deletes and transactions over both; before a change prints
//       "P TABLE ID VERSION" for each record it is about to give that version (0: deleted),
//       after it returned "S TABLE ID VERSION" for each. With KILLWRITE the process kills
//       itself at its KILLWRITE-th write to any file: before it (KILLHOW 0), after writing
//       the first half of it (1), or after it (2). Ends after 400 changes.
//   cursor_probe dump DIR TABLE
//       opens the table (mending it if it was cut off), prints "F fault" for each fault the
//       checks find, then "R ID VERSION SOUND" for each record (SOUND 1 when name, amount and
//       memo all belong to that version)
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/common/filelayer.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/recordscan.h"
#include "engine/storage/tablecheck.h"
#include "engine/storage/transaction.h"

namespace {

void Say(const std::string& line) {
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(1, text.data() + done, text.size() - done);
    if (n <= 0) std::_Exit(3);
    done += static_cast<std::size_t>(n);
  }
}

int Insert(mt::TDataCursor& c, long first, long count) {
  const mt::TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  for (long id = first; id < first + count; ++id) {
    c.InitRecord(image.data());
    f.SetInteger(1, image.data(), id);
    f.SetString(2, image.data(), "n" + std::to_string(id % 100));
    f.SetFloat(3, image.data(), static_cast<double>(id) / 4);
    c.InsertRecord(image.data(), false);
    Say(std::to_string(id));
  }
  return 0;
}

void SetMemo(mt::TDataCursor& c, uint8_t* image, const std::string& text) {
  const int h = c.OpenBlob(3, image, mt::TBlobOpenMode::ReadWrite);
  c.Blob(h).Truncate(0);
  c.Blob(h).Write(0, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  c.CloseBlob(h, true, image);
}

void Fill(mt::TDataCursor& c, uint8_t* image, long id, int version) {
  const mt::TRecordFormat& f = c.Format();
  f.SetInteger(1, image, id);
  f.SetString(2, image, "w" + std::to_string(id % 7) + "-" + std::to_string(version));
  f.SetFloat(4, image, version + 0.25);
  SetMemo(c, image,
          "memo " + std::to_string(id) + " version " + std::to_string(version) +
              std::string(static_cast<std::size_t>(version % 5) * 300, 'x'));
}

int Stress(mt::TDataCursor& c, long worker, int seconds) {
  std::mt19937 random(static_cast<unsigned>(worker * 7919 + getpid()));
  std::map<long, int> mine;  // id -> version
  long nextId = worker * 1000000;
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  std::vector<uint8_t> key(static_cast<std::size_t>(c.RecordSize()));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const int op = static_cast<int>(random() % 10);
    if (mine.size() < 5 || op < 5) {
      const long id = nextId++;
      c.InitRecord(image.data());
      Fill(c, image.data(), id, 1);
      c.InsertRecord(image.data(), false);
      mine[id] = 1;
      Say("I " + std::to_string(id) + " 1");
      continue;
    }
    auto it = mine.begin();
    std::advance(it, static_cast<long>(random() % mine.size()));
    const long id = it->first;
    c.InitRecord(key.data());
    c.Format().SetInteger(1, key.data(), id);
    if (!c.FindKey(key.data(), 1, true)) {
      std::fprintf(stderr, "id %ld not found\n", id);
      return 4;
    }
    c.GetCurrentRecord(image.data());
    c.GetCurrentRecord(image.data(), true);
    if (op < 8) {
      const int version = it->second + 1;
      Fill(c, image.data(), id, version);
      c.ModifyRecord(image.data(), false);
      it->second = version;
      Say("M " + std::to_string(id) + " " + std::to_string(version));
    } else {
      c.DeleteRecord(image.data());
      mine.erase(it);
      Say("D " + std::to_string(id));
    }
  }
  return 0;
}

int Scan(mt::TDataCursor& c, int seconds, long prefilled) {
  const mt::TRecordFormat& f = c.Format();
  std::set<std::pair<long, int>> versions;
  int scans = 0;
  int changedScans = 0;
  mt::TScanLimits limits;
  limits.maxRecords = 64;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const bool byName = scans % 2 == 1;
    c.ChooseIndex(byName ? "ByName" : "");
    mt::TRecordScan scan(
        c, byName ? mt::TRecordScan::TOrder::Cursor : mt::TRecordScan::TOrder::Records, limits);
    std::set<long> ids;
    long prefilledSeen = 0;
    long handed = 0;
    while (const uint8_t* image = scan.Next()) {
      const long id = static_cast<long>(*f.GetInteger(1, image));
      const int version = static_cast<int>(*f.GetFloat(4, image));
      if (!ids.insert(id).second) {
        std::fprintf(stderr, "scan %d saw id %ld twice\n", scans, id);
        return 5;
      }
      const std::string name = *f.GetString(2, image);
      if (name != "w" + std::to_string(id % 7) + "-" + std::to_string(version) ||
          *f.GetFloat(4, image) != version + 0.25) {
        std::fprintf(stderr, "id %ld: name %s with amount %g\n", id, name.c_str(),
                     *f.GetFloat(4, image));
        return 6;
      }
      if (id <= prefilled) {
        ++prefilledSeen;
      } else {
        versions.insert({id, version});
      }
      if (++handed % 20 == 0) usleep(1000);
    }
    if (prefilledSeen != prefilled) {
      std::fprintf(stderr, "scan %d saw %ld of the %ld unchanged ids\n", scans, prefilledSeen,
                   prefilled);
      return 7;
    }
    ++scans;
    if (scan.Changed()) ++changedScans;
  }
  Say("S " + std::to_string(scans) + " " + std::to_string(changedScans));
  for (const auto& [id, version] : versions)
    Say("V " + std::to_string(id) + " " + std::to_string(version));
  return 0;
}

// ---- churn and dump ----------------------------------------------------------------

// A disk that kills its process at a chosen write.
class TKillingDisk : public mt::TDisk {
 public:
  TKillingDisk(long at, int how) : at_(at), how_(how) {}
  ssize_t WriteAt(int fd, const void* buffer, std::size_t count, off_t offset) override {
    if (++writes_ == at_) {
      if (how_ == 1 && count > 1) mt::TDisk::WriteAt(fd, buffer, count / 2, offset);
      if (how_ == 2) mt::TDisk::WriteAt(fd, buffer, count, offset);
      raise(SIGKILL);
    }
    return mt::TDisk::WriteAt(fd, buffer, count, offset);
  }

 private:
  long at_;
  int how_;
  long writes_ = 0;
};

std::string ChurnName(long id, int version) {
  return "n" + std::to_string(id % 13) + "-" + std::to_string(version);
}
std::string ChurnMemo(long id, int version) {
  return "memo " + std::to_string(id) + " version " + std::to_string(version) + " " +
         std::string(static_cast<std::size_t>((id * 7 + version * 131) % 1500), 'm');
}

void FillChurn(mt::TDataCursor& c, uint8_t* image, long id, int version) {
  const mt::TRecordFormat& f = c.Format();
  f.SetInteger(1, image, id);
  f.SetString(2, image, ChurnName(id, version));
  f.SetFloat(3, image, version);
  const int h = c.OpenBlob(4, image, mt::TBlobOpenMode::ReadWrite);
  c.Blob(h).Truncate(0);
  const std::string memo = ChurnMemo(id, version);
  c.Blob(h).Write(0, {reinterpret_cast<const uint8_t*>(memo.data()), memo.size()});
  c.CloseBlob(h, true, image);
}

struct TChurnTable {
  std::string name;
  std::unique_ptr<mt::TDataCursor> cursor;
  std::map<long, int> versions;  // id -> version of the records present
};

// Gives record id of the table the version (0: deletes it; a new id: inserts it).
void ChurnChange(TChurnTable& t, long id, int version) {
  mt::TDataCursor& c = *t.cursor;
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  const auto it = t.versions.find(id);
  if (it == t.versions.end()) {
    c.InitRecord(image.data());
    FillChurn(c, image.data(), id, version);
    c.InsertRecord(image.data(), false);
    t.versions[id] = version;
    return;
  }
  c.InitRecord(image.data());
  c.Format().SetInteger(1, image.data(), id);
  if (!c.FindKey(image.data(), 1, true)) {
    std::fprintf(stderr, "%s: id %ld not found\n", t.name.c_str(), id);
    std::_Exit(4);
  }
  c.GetCurrentRecord(image.data());
  c.GetCurrentRecord(image.data(), true);
  if (version == 0) {
    c.DeleteRecord(image.data());
    t.versions.erase(it);
  } else {
    FillChurn(c, image.data(), id, version);
    c.ModifyRecord(image.data(), false);
    it->second = version;
  }
}

int Churn(const std::string& dir, unsigned seed, long firstId, long killAt, int killHow) {
  if (killAt > 0)
    mt::TFileList::Process()->SetDisk(std::make_shared<TKillingDisk>(killAt, killHow));
  mt::TDataDirectory directory(dir);
  TChurnTable tables[2];
  tables[0].name = "a";
  tables[1].name = "b";
  std::vector<uint8_t> image;
  for (TChurnTable& t : tables) {
    t.cursor = std::make_unique<mt::TDataCursor>(directory);
    t.cursor->SetTableName(t.name);
    t.cursor->Open();
    image.resize(static_cast<std::size_t>(t.cursor->RecordSize()));
    t.cursor->First();
    while (t.cursor->Next(image.data()) == 0) {
      t.versions[static_cast<long>(*t.cursor->Format().GetInteger(1, image.data()))] =
          static_cast<int>(*t.cursor->Format().GetFloat(3, image.data()));
    }
  }
  std::mt19937 random(seed);
  long nextId = firstId;
  // A change for table t: a new id, or a new version or deletion of a present one.
  auto pick = [&](TChurnTable& t, bool mayDelete) -> std::pair<long, int> {
    const int op = static_cast<int>(random() % 10);
    if (t.versions.size() < 4 || op < 4) return {nextId++, 1};
    auto it = t.versions.begin();
    std::advance(it, static_cast<long>(random() % t.versions.size()));
    if (mayDelete && op < 6) return {it->first, 0};
    return {it->first, it->second + 1};
  };
  for (int step = 0; step < 400; ++step) {
    struct TPlanned {
      TChurnTable* table;
      long id;
      int version;
    };
    std::vector<TPlanned> plan;
    const bool transaction = random() % 5 == 0;
    if (transaction) {
      // Several changes on both tables, committed together.
      const int count = 2 + static_cast<int>(random() % 4);
      for (int k = 0; k < count; ++k) {
        TChurnTable& t = tables[random() % 2];
        auto [id, version] = pick(t, false);
        bool taken = false;
        for (const TPlanned& p : plan)
          taken = taken || (p.table == &t && p.id == id);
        if (!taken) plan.push_back({&t, id, version});
      }
    } else {
      TChurnTable& t = tables[random() % 2];
      auto [id, version] = pick(t, true);
      plan.push_back({&t, id, version});
    }
    for (const TPlanned& p : plan)
      Say("P " + p.table->name + " " + std::to_string(p.id) + " " + std::to_string(p.version));
    if (transaction) {
      mt::TTransaction tx;
      tx.Start(directory.OpenTables());
      for (const TPlanned& p : plan)
        ChurnChange(*p.table, p.id, p.version);
      tx.Commit();
    } else {
      ChurnChange(*plan[0].table, plan[0].id, plan[0].version);
    }
    for (const TPlanned& p : plan)
      Say("S " + p.table->name + " " + std::to_string(p.id) + " " + std::to_string(p.version));
  }
  return 0;
}

int Dump(const std::string& dir, const std::string& table) {
  mt::TDataDirectory directory(dir);
  mt::TDataCursor c(directory);
  c.SetTableName(table);
  c.Open();
  {
    mt::TDataTable& t = c.Table();
    std::vector<std::string> faults = mt::CheckDataRecords(t);
    for (std::vector<std::string> more : {mt::CheckIndexes(t), mt::CheckBlobValues(t)})
      faults.insert(faults.end(), more.begin(), more.end());
    for (const std::string& f : faults)
      Say("F " + f);
  }
  const mt::TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  c.First();
  while (c.Next(image.data()) == 0) {
    const long id = static_cast<long>(*f.GetInteger(1, image.data()));
    const int version = static_cast<int>(*f.GetFloat(3, image.data()));
    const int h = c.OpenBlob(4, image.data(), mt::TBlobOpenMode::Read);
    const std::vector<uint8_t>& memo = c.Blob(h).Data();
    const bool sound = f.GetString(2, image.data()) == ChurnName(id, version) &&
                       std::string(memo.begin(), memo.end()) == ChurnMemo(id, version);
    c.CloseBlob(h, false, image.data());
    Say("R " + std::to_string(id) + " " + std::to_string(version) + " " + (sound ? "1" : "0"));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string mode = argv[1];
  try {
    if (mode == "churn" && (argc == 5 || argc == 7)) {
      return Churn(argv[2], static_cast<unsigned>(std::atol(argv[3])), std::atol(argv[4]),
                   argc == 7 ? std::atol(argv[5]) : 0, argc == 7 ? std::atoi(argv[6]) : 0);
    }
    if (mode == "dump") return Dump(argv[2], argv[3]);
    mt::TDataDirectory directory(argv[2]);
    mt::TDataCursor c(directory);
    c.SetTableName(argv[3]);
    c.Open();
    if (mode == "insert" && argc == 6) return Insert(c, std::atol(argv[4]), std::atol(argv[5]));
    if (mode == "stress" && argc == 6) return Stress(c, std::atol(argv[4]), std::atoi(argv[5]));
    if (mode == "scan" && argc == 6) return Scan(c, std::atoi(argv[4]), std::atol(argv[5]));
    if (mode == "edit" && argc == 5) {
      std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
      c.InitRecord(image.data());
      c.Format().SetInteger(1, image.data(), std::atol(argv[4]));
      if (!c.FindKey(image.data(), 1, true)) return 4;
      c.GetCurrentRecord(image.data());
      c.GetCurrentRecord(image.data(), true);
      Say("locked");
      for (;;)
        pause();
    }
    if (mode == "count") {
      Say(std::to_string(c.RecordCount()));
      return 0;
    }
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
