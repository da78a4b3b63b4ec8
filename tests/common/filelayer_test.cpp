// The file layer: shared handles and opener positions, share modes and region locks inside one
// process and between processes (through the filelayer_probe helper), refusals and their
// codes, read-only files, truncation, memory files, name matching and the copy operations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/common/filehandler.h"
#include "tests/childprocess.h"

namespace mt {
namespace {

namespace fs = std::filesystem;

// Runs f and returns the code of the EEngineError it raised (0 when it raised none).
int32_t CodeOf(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const EEngineError& e) {
    if (message) *message = e.what();
    return e.ErrorCode();
  }
  return 0;
}

// The helper program as a second process, driven line by line over pipes.
class TProbe {
 public:
  TProbe() {
    ::signal(SIGPIPE, SIG_IGN);
    const test::TChildProcess child = test::StartChild({MT_FILELAYER_PROBE}, true);
    pid_ = child.pid;
    to_ = child.in;
    from_ = child.out;
  }
  ~TProbe() {
    Kill();
    ::close(to_);
    ::close(from_);
  }
  TProbe(const TProbe&) = delete;
  TProbe& operator=(const TProbe&) = delete;

  // Sends one command and returns its one-line answer ("" when the probe is gone).
  std::string Ask(const std::string& command) {
    const std::string line = command + "\n";
    if (::write(to_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "";
    std::string reply;
    char c;
    while (::read(from_, &c, 1) == 1 && c != '\n')
      reply += c;
    return reply;
  }
  // Ends the process at once, as a crash would; its handles close with it.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
};

class FileLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "mt-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    list_ = std::make_shared<TFileList>();
  }
  void TearDown() override {
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(dir_, ec))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::unique_ptr<TFileHandler> Handler(const std::string& name, bool inMemory = false) {
    return std::make_unique<TFileHandler>(Path(name), inMemory, list_);
  }
  void WriteDisk(const std::string& name, const std::string& content) {
    std::ofstream(Path(name), std::ios::binary) << content;
  }
  std::string ReadDisk(const std::string& name) {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string ReadAll(TFileHandler& h) {
    std::string s(h.Size(), '\0');
    h.ReadAt(0, s.data(), s.size());
    return s;
  }

  std::string dir_;
  std::shared_ptr<TFileList> list_;
};

constexpr bool kKinds[] = {false, true};  // on disk, in memory
const char* KindName(bool inMemory) {
  return inMemory ? "memory" : "disk";
}

TEST_F(FileLayerTest, OpenersOfOneNameShareOneHandleUntilTheLastCloses) {
  WriteDisk("szzb.dat", "0123456789");
  auto a = Handler("szzb.DAT");
  auto b = std::make_unique<TFileHandler>("  " + Path("SZZB.dat") + " ", false, list_);
  a->Open();
  b->Open();
  ASSERT_EQ(a->File(), b->File());
  EXPECT_EQ(list_->Count(), 1u);
  EXPECT_NE(a->OpenerId(), b->OpenerId());
  const auto& file = static_cast<const TPhysicalFile&>(*a->File());
  EXPECT_EQ(file.Name(), Path("szzb.dat"));  // the name found on disk
  const int fd = file.Handle();
  ASSERT_GE(fd, 0);

  a->Close();
  EXPECT_EQ(list_->Count(), 1u);
  EXPECT_EQ(file.Handle(), fd);
  char c = 0;
  b->ReadAt(3, &c, 1);
  EXPECT_EQ(c, '3');

  auto keep = b->File();
  b->Close();
  EXPECT_EQ(list_->Count(), 0u);
  EXPECT_EQ(static_cast<const TPhysicalFile&>(*keep).Handle(), -1);
}

TEST_F(FileLayerTest, EachOpenerKeepsItsOwnPosition) {
  for (bool mem : kKinds) {
    SCOPED_TRACE(KindName(mem));
    auto a = Handler("pos", mem);
    auto b = Handler("pos", mem);
    a->Create();
    b->Open();
    a->Write("hello world", 11);
    EXPECT_EQ(a->Position(), 11u);
    char buf[6] = {};
    b->Read(buf, 5);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(b->Position(), 5u);
    EXPECT_EQ(a->Seek(-5, TSeekOrigin::End), 6u);
    a->Read(buf, 5);
    EXPECT_STREQ(buf, "world");
    EXPECT_EQ(b->Seek(1, TSeekOrigin::Current), 6u);
    EXPECT_EQ(CodeOf([&] { b->Seek(-7, TSeekOrigin::Current); }), err::kUnknownOsError);
    EXPECT_EQ(b->Position(), 6u);
    a->Close();
    b->Close();
    list_->Delete(Path("pos"), mem);
  }
}

TEST_F(FileLayerTest, ExclusiveAndSharedOpensInOneProcess) {
  struct Case {
    bool firstExclusive;
    bool secondExclusive;
    int32_t expected;
  };
  const Case cases[] = {
      {false, false, 0},
      {false, true, err::kAccessDenied},
      {true, false, err::kAccessDenied},
      {true, true, err::kAccessDenied},
  };
  for (bool mem : kKinds) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(KindName(mem)) + " " + std::to_string(c.firstExclusive) +
                   std::to_string(c.secondExclusive));
      auto first = Handler("t.DAT", mem);
      first->Create();
      first->Close();
      first->Open(c.firstExclusive);
      auto second = Handler("t.DAT", mem);
      std::string message;
      EXPECT_EQ(CodeOf([&] { second->Open(c.secondExclusive); }, &message), c.expected);
      if (c.expected) {
        EXPECT_EQ(message, "Engine Error # 11013 Access denied to table '" + Path("t.DAT") + "'");
      }
      EXPECT_EQ(second->IsOpen(), c.expected == 0);
      second->Close();
      first->Close();
      // Once the first opener has gone the second may open as it asked.
      second->Open(c.secondExclusive);
      second->Close();
    }
  }
}

TEST_F(FileLayerTest, MissingFileIs11010NamingTheFile) {
  for (bool mem : kKinds) {
    SCOPED_TRACE(KindName(mem));
    for (const std::string name : {"none.DAT", "nodir/none.DAT"}) {
      auto h = Handler(name, mem);
      std::string message;
      EXPECT_EQ(CodeOf([&] { h->Open(); }, &message), err::kTableNotFound);
      EXPECT_EQ(message, "Engine Error # 11010 Table '" + Path(name) + "' does not exist");
      EXPECT_FALSE(h->IsOpen());
      EXPECT_FALSE(h->Exists());
    }
  }
  EXPECT_EQ(list_->Count(), 0u);
}

TEST_F(FileLayerTest, ShortReadIs9217UnlessAllowed) {
  for (bool mem : kKinds) {
    SCOPED_TRACE(KindName(mem));
    auto h = Handler("short", mem);
    h->Create();
    h->Write("0123456789", 10);
    char buf[16];
    std::string message;
    EXPECT_EQ(CodeOf([&] { h->ReadAt(5, buf, 10); }, &message), err::kReadError);
    EXPECT_EQ(message, "Engine Error # 9217 Error reading from the table '" + Path("short") + "'");
    EXPECT_EQ(h->ReadAt(5, buf, 10, true), 5u);
    EXPECT_EQ(std::string(buf, 5), "56789");
    EXPECT_EQ(h->ReadAt(50, buf, 10, true), 0u);
    EXPECT_TRUE(h->IsOpen());  // the file stays open after the error
    h->Close();
  }
}

TEST_F(FileLayerTest, ZeroByteWriteTruncatesAtThePosition) {
  for (bool mem : kKinds) {
    SCOPED_TRACE(KindName(mem));
    auto h = Handler("trunc", mem);
    h->Create();
    const std::string data(100, 'x');
    h->Write(data.data(), data.size());
    h->Seek(40);
    h->Write(nullptr, 0);
    EXPECT_EQ(h->Size(), 40u);
    EXPECT_EQ(h->Position(), 40u);
    // What lay past the cut does not come back when the file grows again.
    h->WriteAt(60, "y", 1);
    const std::string all = ReadAll(*h);
    EXPECT_EQ(all, std::string(40, 'x') + std::string(20, '\0') + "y");
    h->Truncate(5000);
    EXPECT_EQ(h->Size(), 5000u);
    EXPECT_EQ(ReadAll(*h).substr(61), std::string(5000 - 61, '\0'));
    h->Close();
  }
}

TEST_F(FileLayerTest, MemoryFileGrowsInSteps) {
  auto h = Handler("grow", true);
  h->Create();
  auto& file = static_cast<TMemoryFile&>(*h->File());
  EXPECT_EQ(file.Capacity(), 0u);
  h->Write("a", 1);
  EXPECT_EQ(file.Capacity(), 4096u);
  h->WriteAt(4095, "bc", 2);
  EXPECT_EQ(file.Capacity(), 8192u);
  EXPECT_EQ(h->Size(), 4097u);
  h->Close();
}

TEST_F(FileLayerTest, FileWithoutWritePermissionOpensReadOnly) {
  // The read-only attribute is the absence of every write permission bit, so this holds for
  // root too, which the OS would let write.
  WriteDisk("ro.DAT", "content");
  ::chmod(Path("ro.DAT").c_str(), 0444);
  auto h = Handler("ro.DAT");
  h->Open();
  EXPECT_TRUE(h->ReadOnly());
  EXPECT_TRUE(h->ReadOnlyAttribute());
  EXPECT_EQ(ReadAll(*h), "content");
  EXPECT_EQ(CodeOf([&] { h->WriteAt(0, "X", 1); }), err::kWriteError);
  EXPECT_EQ(CodeOf([&] { h->Truncate(0); }), err::kWriteError);
  EXPECT_FALSE(h->LockRegion(100, 1));
  h->Close();
  EXPECT_EQ(CodeOf([&] { h->Create(); }), err::kAccessDenied);
  EXPECT_EQ(CodeOf([&] { h->Delete(); }), err::kAccessDenied);
  EXPECT_EQ(ReadDisk("ro.DAT"), "content");
  // Exclusive opens work on it too.
  h->Open(true);
  EXPECT_TRUE(h->ReadOnly());
  h->Close();
}

TEST_F(FileLayerTest, RefusedWriteAccessFallsBackToReading) {
  // A file that carries write permission but not for this user: root drops to nobody in a
  // child to see it.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a file another user cannot write";
  WriteDisk("other.DAT", "abc");
  ::chmod(dir_.c_str(), 0755);
  ::chmod(Path("other.DAT").c_str(), 0644);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    if (::access(Path("other.DAT").c_str(), R_OK) != 0) ::_exit(4);
    try {
      TFileHandler h(Path("other.DAT"), false, std::make_shared<TFileList>());
      h.Open();
      char buf[3];
      h.ReadAt(0, buf, 3);
      const bool ok = h.ReadOnly() && !h.ReadOnlyAttribute() && std::string(buf, 3) == "abc";
      ::_exit(ok ? 0 : 1);
    } catch (...) {
      ::_exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 4) GTEST_SKIP() << "the test directory is out of nobody's reach";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(FileLayerTest, DeleteAndRenameNeedTheFileClosed) {
  for (bool mem : kKinds) {
    SCOPED_TRACE(KindName(mem));
    auto h = Handler("a.DAT", mem);
    h->Create();
    h->Write("abc", 3);
    auto other = Handler("a.DAT", mem);
    other->Open();
    h->Close();  // still held by the other opener
    EXPECT_EQ(CodeOf([&] { h->Delete(); }), err::kAccessDenied);
    EXPECT_EQ(CodeOf([&] { h->Rename(Path("b.DAT")); }), err::kAccessDenied);
    EXPECT_EQ(h->Name(), Path("a.DAT"));
    other->Close();
    EXPECT_TRUE(h->Exists());

    h->Rename(Path("b.DAT"));
    EXPECT_EQ(h->Name(), Path("b.DAT"));
    EXPECT_FALSE(Handler("a.DAT", mem)->Exists());
    h->Open();
    EXPECT_EQ(ReadAll(*h), "abc");
    h->Close();

    // Renaming onto an existing file is refused and changes neither.
    auto c = Handler("c.DAT", mem);
    c->Create();
    c->Write("c", 1);
    c->Close();
    EXPECT_EQ(CodeOf([&] { h->Rename(Path("C.dat")); }), err::kUnknownOsError);
    h->Open();
    EXPECT_EQ(ReadAll(*h), "abc");
    h->Close();
    c->Open();
    EXPECT_EQ(ReadAll(*c), "c");
    c->Close();

    h->Delete();
    EXPECT_FALSE(h->Exists());
    EXPECT_EQ(CodeOf([&] { h->Delete(); }), err::kTableNotFound);
    EXPECT_EQ(CodeOf([&] { h->Rename(Path("d.DAT")); }), err::kTableNotFound);
    c->Delete();
  }
}

TEST_F(FileLayerTest, CreateRefusesAnOpenFileAndEmptiesAClosedOne) {
  for (bool mem : kKinds) {
    SCOPED_TRACE(KindName(mem));
    auto h = Handler("c", mem);
    h->Create();
    h->Write("old data", 8);
    auto again = Handler("c", mem);
    EXPECT_EQ(CodeOf([&] { again->Create(); }), err::kAccessDenied);
    EXPECT_EQ(h->Size(), 8u);
    h->Close();
    again->Create();
    EXPECT_EQ(again->Size(), 0u);
    again->Close();
  }
}

TEST_F(FileLayerTest, MemoryAndDiskFilesOfOneNameAreDifferentFiles) {
  WriteDisk("same.DAT", "disk");
  auto mem = Handler("same.DAT", true);
  EXPECT_EQ(CodeOf([&] { mem->Open(); }), err::kTableNotFound);
  mem->Create();
  mem->Write("memory", 6);
  auto disk = Handler("same.DAT");
  disk->Open(true);  // the memory opener does not count against the disk file
  EXPECT_EQ(ReadAll(*disk), "disk");
  EXPECT_NE(mem->File(), disk->File());
  EXPECT_EQ(list_->Count(), 2u);
  mem->Close();
  disk->Close();
}

TEST_F(FileLayerTest, MemoryFileOutlivesItsOpenersUnlessTemporary) {
  auto h = Handler("keep", true);
  h->Create();
  h->Write("kept", 4);
  h->LockRegion(10, 1);
  h->Close();
  EXPECT_EQ(list_->Count(), 1u);
  h->Open(true);
  EXPECT_EQ(ReadAll(*h), "kept");
  EXPECT_TRUE(h->File()->LockedRegions().empty());  // locks end with the last opener
  h->Close();

  auto t = Handler("temp", true);
  t->SetTemporary(true);
  t->Create();
  auto t2 = Handler("temp", true);
  t2->Open();
  t->Close();
  EXPECT_TRUE(t2->Exists());
  t2->Close();
  EXPECT_FALSE(t2->Exists());
  EXPECT_EQ(list_->Count(), 1u);
}

TEST_F(FileLayerTest, TemporaryDiskFileIsRemovedWithItsLastOpener) {
  auto t = Handler("scratch.DAT");
  t->SetTemporary(true);
  t->Create();
  t->Write("x", 1);
  auto t2 = Handler("scratch.DAT");
  t2->Open();
  t->Close();
  EXPECT_TRUE(fs::exists(Path("scratch.DAT")));
  t2->Close();
  EXPECT_FALSE(fs::exists(Path("scratch.DAT")));
}

TEST_F(FileLayerTest, RegionLocksWithinOneProcess) {
  for (bool mem : kKinds) {
    SCOPED_TRACE(KindName(mem));
    auto a = Handler("locks", mem);
    a->Create();
    auto b = Handler("locks", mem);
    b->Open();
    EXPECT_TRUE(a->LockRegion(100, 10));
    // Overlaps with a locked region are refused whoever asks; neighbours are fine.
    struct Case {
      uint64_t start, length;
      bool ok;
    };
    const Case cases[] = {
        {100, 10, false},
        {95, 6, false},
        {109, 1, false},
        {50, 100, false},
        {90, 10, true},
        {110, 1, true},
        {0, 0, false},
        {kShareLockOffset, 1, false},
        {kShareLockOffset - 1, 2, false},
        {0xFFFFFFFF, 1, true},
        {UINT64_MAX - 1, 2, false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.start) + "+" + std::to_string(c.length));
      EXPECT_EQ(b->LockRegion(c.start, c.length), c.ok);
      if (c.ok) {
        EXPECT_TRUE(b->UnlockRegion(c.start, c.length));
      }
    }
    // An unlock must name a locked region exactly.
    EXPECT_FALSE(a->UnlockRegion(100, 5));
    EXPECT_FALSE(a->UnlockRegion(101, 9));
    EXPECT_TRUE(a->UnlockRegion(100, 10));
    EXPECT_FALSE(a->UnlockRegion(100, 10));
    // Adjacent regions go back together only when they cover the range without a gap.
    for (uint64_t at : {200, 201, 202, 204, 205})
      ASSERT_TRUE(a->LockRegion(at, 1));
    EXPECT_FALSE(a->UnlockAdjacentRegions(200, 5));  // 203 is a gap
    EXPECT_FALSE(a->UnlockAdjacentRegions(201, 3));  // ends in the gap
    EXPECT_FALSE(a->UnlockAdjacentRegions(203, 2));  // starts in the gap
    EXPECT_FALSE(a->UnlockAdjacentRegions(200, 0));
    EXPECT_EQ(a->File()->LockedRegions().size(), 5u);
    EXPECT_TRUE(a->UnlockAdjacentRegions(200, 3));
    EXPECT_TRUE(a->UnlockAdjacentRegions(204, 2));
    EXPECT_TRUE(b->LockRegion(200, 6));
    EXPECT_TRUE(b->UnlockRegion(200, 6));
    // Adjacent one-byte regions taken in one call go back one by one or in runs; a span that
    // overlaps a locked byte takes nothing.
    EXPECT_TRUE(a->LockAdjacentRegions(300, 4));
    EXPECT_FALSE(b->LockAdjacentRegions(296, 5));
    EXPECT_TRUE(b->LockRegion(296, 4));
    EXPECT_TRUE(b->UnlockRegion(296, 4));
    EXPECT_TRUE(a->UnlockRegion(301, 1));
    EXPECT_TRUE(a->UnlockAdjacentRegions(302, 2));
    EXPECT_TRUE(a->UnlockRegion(300, 1));
    EXPECT_TRUE(b->LockRegion(100, 1));
    a->Close();
    EXPECT_EQ(b->File()->LockedRegions(), (std::vector<TLockedRegion>{{100, 100, 1}}));
    b->Close();
    EXPECT_EQ(CodeOf([&] { b->LockRegion(1, 1); }), err::kInvalidHandle);
  }
}

TEST_F(FileLayerTest, FileNamesMatchRegardlessOfLetterCase) {
  struct Case {
    std::string a, b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"szzb.DAT", "SZZB.dat", true},
      {"szzb.DAT", "szzb.DA", false},
      {"\xd5\xcb.DAT", "\xd5\xcb.dat", true},
      // The trail byte of a GBK character is never case-folded.
      {"\x81\x41.DAT", "\x81\x61.DAT", false},
      {"a\x81", "A\x81", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SameFileName(c.a, c.b), c.same) << c.a << " " << c.b;
  // Files on disk differ by the case of their directory; memory files do not.
  EXPECT_TRUE(SameListedName("/d/Szzb.DAT", "/d/szzb.dat", false));
  EXPECT_FALSE(SameListedName("/D/szzb.DAT", "/d/szzb.DAT", false));
  EXPECT_TRUE(SameListedName("/D/szzb.DAT", "/d/szzb.DAT", true));
  EXPECT_TRUE(SameListedName("szzb.DAT", "SZZB.dat", false));
  EXPECT_EQ(TrimFileName(" \t a b \r\n"), "a b");

  WriteDisk("Items.DAT", "i");
  EXPECT_EQ(ResolveFileName(Path("ITEMS.dat"), "x").path, Path("Items.DAT"));
  EXPECT_TRUE(ResolveFileName(Path("items.dat"), "x").exists);
  EXPECT_FALSE(ResolveFileName(Path("items.idx"), "x").exists);
  // A name that matches two files on disk is refused.
  WriteDisk("items.dat", "j");
  auto h = Handler("ITEMS.DAT");
  std::string message;
  EXPECT_EQ(CodeOf([&] { h->Open(); }, &message), err::kAccessDenied);
  EXPECT_EQ(message, "Engine Error # 11013 Access denied to table '" + Path("ITEMS.DAT") + "'");
  EXPECT_EQ(CodeOf([&] { h->Create(); }), err::kAccessDenied);
  EXPECT_EQ(ReadDisk("Items.DAT"), "i");
  EXPECT_EQ(ReadDisk("items.dat"), "j");
}

// The real disk, counting directory listings; optionally with directories that never show
// a change (a file system that does not stamp them), or that cannot be read or stat'ed.
class TListingDisk : public TDisk {
 public:
  bool freezeDirectories = false;
  bool failList = false;
  bool failDirectoryStat = false;
  std::atomic<int> lists{0};

  int Stat(const std::string& path, struct stat* st) override {
    const int r = TDisk::Stat(path, st);
    if (r != 0 || !S_ISDIR(st->st_mode)) return r;
    if (failDirectoryStat) {
      errno = EACCES;
      return -1;
    }
    if (freezeDirectories) {
      std::lock_guard<std::mutex> guard(mutex_);
      *st = frozen_.try_emplace(path, *st).first->second;
    }
    return r;
  }
  bool List(const std::string& directory, std::vector<std::string>& names) override {
    ++lists;
    if (failList) return false;
    return TDisk::List(directory, names);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, struct stat> frozen_;
};

TEST(ListingCacheTest, KeptListingHoldsOnlyForAnUnchangedDirectoryListedAMarginAfterItsChange) {
  struct stat base {};
  base.st_dev = 1;
  base.st_ino = 2;
  base.st_size = 4096;
  base.st_mtim = {100, 5};
  base.st_ctim = {100, 5};
  struct Case {
    const char* what;
    std::function<void(struct stat&)> change;  // applied to the fresh stat
    timespec listedAt;
    bool holds;
  };
  const auto same = [](struct stat&) {};
  const std::vector<Case> cases = {
      {"unchanged, listed a margin later", same, {103, 5}, true},
      {"unchanged, listed just inside the margin", same, {103, 4}, false},
      {"listed before the stamp (clock set back)", same, {99, 0}, false},
      {"modification time moved by 1 ns",
       [](struct stat& s) { s.st_mtim.tv_nsec++; },
       {200, 0},
       false},
      {"change time moved", [](struct stat& s) { s.st_ctim.tv_sec++; }, {200, 0}, false},
      {"size changed", [](struct stat& s) { s.st_size += 4096; }, {200, 0}, false},
      {"another inode (directory replaced)", [](struct stat& s) { s.st_ino++; }, {200, 0}, false},
      {"another device", [](struct stat& s) { s.st_dev++; }, {200, 0}, false},
  };
  for (const Case& c : cases) {
    struct stat now = base;
    c.change(now);
    EXPECT_EQ(TListingCache::StillHolds(base, c.listedAt, now, std::chrono::seconds(3)), c.holds)
        << c.what;
  }
  // The later of the two times counts.
  struct stat changedLater = base;
  changedLater.st_ctim = {102, 0};
  EXPECT_FALSE(
      TListingCache::StillHolds(changedLater, {103, 5}, changedLater, std::chrono::seconds(3)));
  EXPECT_TRUE(
      TListingCache::StillHolds(changedLater, {105, 0}, changedLater, std::chrono::seconds(3)));
}

// Changes made to the directory behind the kept listing's back (as another process would) are
// seen by the next resolution, whether the directory's stamps show them or only the files do.
TEST_F(FileLayerTest, KeptListingNeverHidesAChangedDirectory) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    std::string asked;
    bool foundBefore;
    std::function<void()> change;
    std::string found;  // "" when nothing may be found
    int32_t code;
    bool seenWithoutStamps;  // also seen when the directory's stamps never change
  };
  const std::vector<Case> cases = {
      {"file created in another case",
       {"Other.DAT"},
       "NEW.DAT",
       false,
       [&] { WriteDisk("new.Dat", "n"); },
       "new.Dat",
       0,
       false},
      {"file created under the exact name",
       {"Other.DAT"},
       "new.dat",
       false,
       [&] { WriteDisk("new.dat", "n"); },
       "new.dat",
       0,
       true},
      {"file renamed to another case",
       {"Items.DAT"},
       "items.dat",
       true,
       [&] { fs::rename(Path("Items.DAT"), Path("ITEMS.dat")); },
       "ITEMS.dat",
       0,
       true},
      {"file deleted",
       {"Items.DAT"},
       "items.dat",
       true,
       [&] { fs::remove(Path("Items.DAT")); },
       "",
       0,
       true},
      {"second file in another case",
       {"Items.DAT"},
       "items.dat",
       true,
       [&] { WriteDisk("ITEMS.DAT", "2"); },
       "",
       err::kAccessDenied,
       false},
  };
  for (const bool frozen : {false, true}) {
    for (const Case& c : cases) {
      if (frozen && !c.seenWithoutStamps) continue;
      SCOPED_TRACE(std::string(c.what) + (frozen ? ", directory stamps frozen" : ""));
      fs::remove_all(dir_);
      fs::create_directory(dir_);
      for (const std::string& f : c.files)
        WriteDisk(f, "1");
      TListingDisk disk;
      disk.freezeDirectories = frozen;
      // A short margin, waited out, keeps the listing below without a wait of seconds.
      const auto margin = std::chrono::milliseconds(frozen ? 0 : 50);
      disk.Listings().SetMargin(margin);
      std::this_thread::sleep_for(margin * 2);

      for (int i = 0; i < 2; ++i)
        EXPECT_EQ(ResolveFileName(Path(c.asked), "x", disk).exists, c.foundBefore);
      EXPECT_EQ(disk.lists.load(), 1) << "the second resolution must use the kept listing";

      c.change();
      TResolvedFileName after;
      EXPECT_EQ(CodeOf([&] { after = ResolveFileName(Path(c.asked), "x", disk); }), c.code);
      if (c.code != 0) continue;
      EXPECT_EQ(after.exists, !c.found.empty());
      EXPECT_EQ(after.path, c.found.empty() ? Path(c.asked) : Path(c.found));
    }
  }
}

TEST_F(FileLayerTest, ListingsAreKeptPerDiskAndFailingDisksStillResolve) {
  WriteDisk("Items.DAT", "i");
  TListingDisk good;
  good.Listings().SetMargin(std::chrono::nanoseconds(0));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ResolveFileName(Path("ITEMS.dat"), "x", good).path, Path("Items.DAT"));

  // A disk that cannot list finds only the exact name, whatever another disk has kept.
  TListingDisk unlisting;
  unlisting.failList = true;
  unlisting.Listings().SetMargin(std::chrono::nanoseconds(0));
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(ResolveFileName(Path("ITEMS.dat"), "x", unlisting).exists);
    EXPECT_TRUE(ResolveFileName(Path("Items.DAT"), "x", unlisting).exists);
  }
  // A directory that cannot be stat'ed is read every time and never kept.
  TListingDisk unstamped;
  unstamped.failDirectoryStat = true;
  unstamped.Listings().SetMargin(std::chrono::nanoseconds(0));
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(ResolveFileName(Path("items.dat"), "x", unstamped).path, Path("Items.DAT"));
    EXPECT_EQ(unstamped.lists.load(), i);
  }
  // Through a file list as well.
  auto list = std::make_shared<TFileList>();
  auto disk = std::make_shared<TListingDisk>();
  disk->failList = true;
  list->SetDisk(disk);
  TFileHandler exact(Path("Items.DAT"), false, list);
  EXPECT_TRUE(exact.Exists());
  exact.Open();
  exact.Close();
  EXPECT_FALSE(TFileHandler(Path("items.dat"), false, list).Exists());
}

TEST_F(FileLayerTest, CreateWritesOverTheFileFoundLetterCaseAside) {
  WriteDisk("diary.dat", "old");
  auto h = Handler("DIARY.DAT");
  h->Create();
  h->Write("new", 3);
  h->Close();
  EXPECT_FALSE(fs::exists(Path("DIARY.DAT")));
  EXPECT_EQ(ReadDisk("diary.dat"), "new");
}

TEST_F(FileLayerTest, OsErrorsMapToEngineCodes) {
  const std::pair<int, int32_t> cases[] = {
      {ENOENT, 11010}, {ENOTDIR, 11010}, {EMFILE, 11012}, {ENFILE, 11012}, {EACCES, 11013},
      {EPERM, 11013},  {EAGAIN, 11013},  {EROFS, 11013},  {EBADF, 11014},  {ENOMEM, 11016},
      {ENXIO, 11023},  {EXDEV, 11025},   {EIO, 11047},    {ENOSPC, 11047},
  };
  for (const auto& [os, code] : cases)
    EXPECT_EQ(EngineCodeForOsError(os), code) << os;
  std::string message;
  EXPECT_EQ(CodeOf([] { RaiseFileError(EIO, "/d/x.DAT"); }, &message), 11047);
  EXPECT_EQ(message, "Engine Error # 11047 An unknown operating system error " +
                         std::to_string(EIO) + " occurred with the table '/d/x.DAT'");
}

TEST_F(FileLayerTest, SaveAndLoadCopiesWithProgress) {
  // Half compressible text, half noise, over several chunks and not a whole number of them.
  std::string data;
  uint32_t seed = 12345;
  for (int i = 0; i < 150000; ++i)
    data += "ledger line " + std::to_string(i % 97) + "\n";
  for (int i = 0; i < 100000; ++i) {
    seed = seed * 1103515245u + 12345u;
    data += static_cast<char>(seed >> 24);
  }
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "plain");
    auto source = Handler("src", true);
    source->Create();
    source->Write(data.data(), data.size());

    std::vector<int> reports;
    TCopyOptions options{.compressed = compressed, .progressStep = 10, .progress = [&](int p) {
                           reports.push_back(p);
                         }};
    source->SaveToFile(Path("copy.bak"), options);
    // Every report is at least a step past the one before, and none that was due is missing.
    ASSERT_FALSE(reports.empty());
    for (std::size_t i = 0; i < reports.size(); ++i)
      EXPECT_GE(reports[i] - (i ? reports[i - 1] : 0), 10);
    EXPECT_GT(reports.back(), 90);
    const uint64_t copySize = fs::file_size(Path("copy.bak"));
    if (compressed) {
      EXPECT_LT(copySize, data.size() / 2);
    } else {
      EXPECT_EQ(ReadDisk("copy.bak"), data);
    }
    EXPECT_EQ(list_->Count(), 1u);  // the target is closed again

    // Loading replaces everything the file held, longer contents included.
    auto target = Handler("dst", true);
    target->Create();
    const std::string junk(data.size() + 5000, 'j');
    target->Write(junk.data(), junk.size());
    reports.clear();
    target->LoadFromFile(Path("copy.bak"), options);
    EXPECT_EQ(ReadAll(*target), data);
    EXPECT_GT(reports.back(), 90);
    source->Close();
    target->Close();
    list_->Delete(Path("src"), true);
    list_->Delete(Path("dst"), true);
  }
}

TEST_F(FileLayerTest, CopyRefusalsAndDamagedInput) {
  auto source = Handler("src", true);
  source->Create();
  const std::string data(70000, 'q');
  source->Write(data.data(), data.size());

  // A target that is open is neither written nor removed.
  WriteDisk("busy.bak", "busy");
  auto busy = Handler("busy.bak");
  busy->Open();
  EXPECT_EQ(CodeOf([&] { source->SaveToFile(Path("busy.bak")); }), err::kAccessDenied);
  busy->Close();
  EXPECT_EQ(ReadDisk("busy.bak"), "busy");

  source->SaveToFile(Path("z.bak"), {.compressed = true});
  std::string packed = ReadDisk("z.bak");
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string corrupt = packed;
  corrupt[kCopyFrameHeaderSize + 3] ^= 0x55;
  const Case cases[] = {
      {"cut short", packed.substr(0, packed.size() - 3)},
      {"header only", packed.substr(0, 5)},
      {"bad stream", corrupt},
      {"plain bytes", data.substr(0, 1000)},
  };
  auto target = Handler("dst", true);
  target->Create();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteDisk("bad.bak", c.bytes);
    EXPECT_EQ(CodeOf([&] { target->LoadFromFile(Path("bad.bak"), {.compressed = true}); }),
              err::kUncompressError);
  }
  EXPECT_EQ(CodeOf([&] { target->LoadFromFile(Path("missing.bak")); }), err::kTableNotFound);
  target->LoadFromFile(Path("z.bak"), {.compressed = true});
  EXPECT_EQ(ReadAll(*target), data);
  target->Close();
  source->Close();
  EXPECT_EQ(CodeOf([&] { source->SaveToFile(Path("closed.bak")); }), err::kInvalidHandle);
  EXPECT_FALSE(fs::exists(Path("closed.bak")));
}

TEST_F(FileLayerTest, ThreadsOpeningReadingAndWritingOneFile) {
  auto creator = Handler("shared.DAT");
  creator->Create();
  creator->Close();
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        TFileHandler h(Path("shared.DAT"), false, list_);
        h.Open();
        const uint64_t slot = static_cast<uint64_t>(t) * 8;
        const uint64_t value = static_cast<uint64_t>(i) * kThreads + t;
        h.WriteAt(slot, &value, sizeof value);
        uint64_t back = 0;
        h.ReadAt(slot, &back, sizeof back);
        if (back != value || h.Position() != slot + 8) ++faults;
        h.Close();
      }
    });
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(list_->Count(), 0u);
}

// ---- between processes ------------------------------------------------------------------

TEST_F(FileLayerTest, LockedByteIsFreeAgainAfterUnlockCloseOrDeath) {
  WriteDisk("t.DAT", "data");
  auto mine = Handler("t.DAT");
  mine->Open();
  const uint64_t byte = 0xFFFFFFFE;  // record 1's lock byte
  TProbe probe;
  ASSERT_EQ(probe.Ask("open " + Path("t.DAT") + " 0"), "ok");

  const std::string lock = "lock " + std::to_string(byte) + " 1";
  const std::vector<std::pair<std::string, std::function<void()>>> releases = {
      {"unlock", [&] { EXPECT_EQ(probe.Ask("unlock " + std::to_string(byte) + " 1"), "1"); }},
      {"close", [&] { EXPECT_EQ(probe.Ask("close"), "ok"); }},
      {"kill", [&] { probe.Kill(); }},
  };
  for (const auto& [how, release] : releases) {
    SCOPED_TRACE(how);
    ASSERT_EQ(probe.Ask(lock), "1");
    EXPECT_FALSE(mine->LockRegion(byte, 1));
    EXPECT_FALSE(mine->LockRegion(byte - 10, 20));  // any overlap
    EXPECT_TRUE(mine->LockRegion(byte - 1, 1));     // the neighbour is free
    EXPECT_TRUE(mine->UnlockRegion(byte - 1, 1));
    release();
    EXPECT_TRUE(mine->LockRegion(byte, 1));
    if (how != "kill") {
      // And now the other process is the one refused.
      if (how == "close") {
        ASSERT_EQ(probe.Ask("open " + Path("t.DAT") + " 0"), "ok");
      }
      EXPECT_EQ(probe.Ask(lock), "0");
    }
    EXPECT_TRUE(mine->UnlockRegion(byte, 1));
  }
}

TEST_F(FileLayerTest, TwoHandlesInOneProcessKeepTheirOwnLocks) {
  // Two lists stand for two independent handles on one file in this process.
  WriteDisk("t.DAT", "data");
  auto otherList = std::make_shared<TFileList>();
  TFileHandler a(Path("t.DAT"), false, list_);
  TFileHandler b(Path("t.DAT"), false, otherList);
  a.Open();
  b.Open();
  ASSERT_NE(static_cast<const TPhysicalFile&>(*a.File()).Handle(),
            static_cast<const TPhysicalFile&>(*b.File()).Handle());
  EXPECT_TRUE(a.LockRegion(10, 1));
  EXPECT_FALSE(b.LockRegion(10, 1));  // handles exclude each other even in one process
  EXPECT_TRUE(b.LockRegion(20, 1));
  b.Close();  // closing one handle ...

  TProbe probe;
  ASSERT_EQ(probe.Ask("open " + Path("t.DAT") + " 0"), "ok");
  EXPECT_EQ(probe.Ask("lock 10 1"), "0");  // ... keeps the other's locks
  EXPECT_EQ(probe.Ask("lock 20 1"), "1");  // and drops only its own
  a.Close();
  EXPECT_EQ(probe.Ask("lock 10 1"), "1");
}

TEST_F(FileLayerTest, ShareModesHoldBetweenProcesses) {
  WriteDisk("t.DAT", "data");
  const std::string name = Path("t.DAT");
  auto mine = Handler("t.DAT");
  TProbe probe;

  // Exclusive there refuses shared and exclusive opens here.
  ASSERT_EQ(probe.Ask("open " + name + " 1"), "ok");
  EXPECT_EQ(CodeOf([&] { mine->Open(false); }), err::kAccessDenied);
  EXPECT_EQ(CodeOf([&] { mine->Open(true); }), err::kAccessDenied);
  EXPECT_EQ(CodeOf([&] { mine->Create(); }), err::kAccessDenied);
  EXPECT_EQ(CodeOf([&] { mine->Delete(); }), err::kAccessDenied);
  EXPECT_EQ(CodeOf([&] { mine->Rename(Path("u.DAT")); }), err::kAccessDenied);
  EXPECT_EQ(list_->Count(), 0u);
  ASSERT_EQ(probe.Ask("close"), "ok");

  // Shared here refuses exclusive opens, creates and deletes there, not shared opens.
  mine->Open(false);
  EXPECT_EQ(probe.Ask("open " + name + " 1"), "err 11013");
  EXPECT_EQ(probe.Ask("create " + name + " 0"), "err 11013");
  EXPECT_EQ(probe.Ask("delete " + name), "err 11013");
  EXPECT_EQ(probe.Ask("open " + name + " 0"), "ok");
  mine->Close();

  // Exclusive here refuses the other's shared open; its death frees the file.
  EXPECT_EQ(CodeOf([&] { mine->Open(true); }), err::kAccessDenied);
  probe.Kill();
  mine->Open(true);
  TProbe second;
  EXPECT_EQ(second.Ask("open " + name + " 0"), "err 11013");
  mine->Close();
  EXPECT_EQ(second.Ask("open " + name + " 0"), "ok");
  EXPECT_EQ(ReadDisk("t.DAT"), "data");
}

}  // namespace
}  // namespace mt
