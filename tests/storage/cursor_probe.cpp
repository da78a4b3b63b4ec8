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
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/datacursor.h"
#include "engine/storage/recordscan.h"

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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string mode = argv[1];
  try {
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
