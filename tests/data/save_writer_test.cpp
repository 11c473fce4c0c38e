// The save writer: files written through its queue are those the direct save writes, later
// saves of a character are never overtaken by earlier ones, stopping waits for every queued
// write, and failures are still reported with the character's name.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "data/chara_store.h"
#include "data_fixture.h"
#include "platform/files.h"

namespace vornhal::test {
namespace {

namespace fs = std::filesystem;

// The character file as an ordered_json document dumped by the library: the text the store
// wrote before it wrote its files directly.
std::string LibraryDump(const TChara& tc) {
  using ojson = nlohmann::ordered_json;
  ojson j;
  j["Name"] = tc.FName;
  j["Password"] = tc.Pass;
  j["RealName"] = tc.RealName;
  j["MailAddr"] = tc.MailAddr;
  j["AdminLv"] = int32_t{tc.AdminLv};
  j["Sex"] = int32_t{tc.Sex};
  j["Job"] = int32_t{tc.Job};
  j["Mark"] = int32_t{tc.Mark};
  j["HairType"] = int32_t{tc.HairType};
  j["HairColor"] = uint64_t{tc.HairColor.ToValue()};
  j["MapID"] = int32_t{tc.Map ? tc.Map->ID : uint16_t{0}};
  j["X"] = int32_t{tc.Point.X};
  j["Y"] = int32_t{tc.Point.Y};
  j["Dir"] = int32_t{tc.Dir};
  j["Speed"] = int32_t{tc.FSpeed};
  j["Glod"] = uint64_t{tc.Glod};
  ojson equipments = ojson::array();
  for (const auto& slot : tc.Equipments().FItems) {
    ojson e;
    e["Slot"] = int32_t{slot->FSlotIndex};
    e["MetaKey"] = slot->FItem ? slot->FItem->Data()->MetaKey : std::string();
    equipments.push_back(std::move(e));
  }
  j["Equipments"] = std::move(equipments);
  ojson inventory = ojson::array();
  for (const auto& slot : tc.Inventory().FItems) {
    ojson e;
    e["Slot"] = int32_t{slot->FSlotIndex};
    e["MetaKey"] = slot->FItem ? slot->FItem->Data()->MetaKey : std::string();
    e["Count"] = int32_t{slot->FItem ? slot->FItem->Count() : uint16_t{0}};
    inventory.push_back(std::move(e));
  }
  j["Inventory"] = std::move(inventory);
  std::string body = j.dump(2, ' ', false, ojson::error_handler_t::replace);
  std::string out = "\xEF\xBB\xBF";
  for (char c : body) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out + "\r\n";
}

class SaveWriterTest : public DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    LoadStoreWorld();
  }
  void TearDown() override {
    StopSaveWriter();
    DataFolderTest::TearDown();
  }

  TChara* Make(const std::string& name) {
    TChara* tc = nullptr;
    EXPECT_TRUE(World.CharaList.CreateChara(name, "digest", tc));
    return tc;
  }

  // Characters that cover every part of the file: texts that need escaping, Japanese,
  // invalid UTF-8, extreme numbers, empty and filled item lists.
  void MakeVariedCharacters(int plain_count) {
    TChara* a = Make("Alice");
    a->RealName = "有栖 \"川\" \\ tab\there\nline\x01\x1f\x7f";
    a->MailAddr = std::string("bad \xff\xfe utf8 \xe3\x81") + " end";
    a->Pass = "\xc0\xaf overlong \xed\xa0\x80 surrogate \xf4\x90\x80\x80 big";
    a->AdminLv = 255;
    a->Job = 7;
    a->HairColor = TAsColor{255, 255, 255};
    a->Glod = 4294967295u;
    a->Point = TMapPoint{65535, 0};
    a->FSpeed = 65535;
    auto stick = std::make_unique<TItem>(World.ItemDB.Find("stick1"), 1);
    a->Equipments().Add(1, stick);
    auto cap = std::make_unique<TItem>(World.ItemDB.Find("cap1"), 1);
    a->Equipments().Add(3, cap);
    TChara* b = Make("ボブ");
    b->Inventory().Insert(7, std::make_unique<TItem>(World.ItemDB.Find("helixir"), 250));
    b->Inventory().Insert(2, std::make_unique<TItem>(World.ItemDB.Find("cap1"), 1));
    b->Inventory().Insert(0, std::make_unique<TItem>(World.ItemDB.Find("stick1"), 65535));
    TChara* c = Make("Carol");
    auto only = std::make_unique<TItem>(World.ItemDB.Find("stick1"), 1);
    c->Equipments().Add(0, only);
    c->Inventory().Insert(5, std::make_unique<TItem>(World.ItemDB.Find("helixir"), 1));
    for (int i = 0; i < plain_count; ++i) {
      TChara* p = Make("plain" + std::to_string(i));
      p->Glod = static_cast<uint32_t>(i) * 7919u;
      p->Dir = static_cast<uint8_t>(i % 8);
    }
  }

  std::map<std::string, std::string> SavedFiles() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(Path("save"))) {
      files[entry.path().filename().string()] = ReadFile(entry.path().string()).value_or("?");
    }
    return files;
  }
};

TEST_F(SaveWriterTest, DirectTextIsTheLibraryDumpByteForByte) {
  MakeVariedCharacters(3);
  for (TChara* tc : World.CharaList) {
    SCOPED_TRACE(tc->FName);
    EXPECT_EQ(CharaToJson(*tc), LibraryDump(*tc));
  }
}

TEST_F(SaveWriterTest, QueuedFilesAreThoseOfTheDirectSave) {
  MakeVariedCharacters(50);
  Captured([&] { EXPECT_EQ(SaveCharaList(World), 0); });  // no writer: written by the caller
  auto direct = SavedFiles();
  ASSERT_EQ(direct.size(), 53u);
  fs::remove_all(Path("save"));

  StartSaveWriter();
  std::string out = Captured([&] {
    int count = 0;
    auto done = QueueSaveCharaList(World, &count);
    EXPECT_EQ(count, 53);
    StopSaveWriter();
    EXPECT_EQ(done.get(), 0);
  });
  EXPECT_NE(out.find("キャラデータを保存しました"), std::string::npos) << out;
  // The swap files hold the previous (here: no) text; compare the character files.
  auto queued = SavedFiles();
  for (const auto& [file, text] : direct) {
    if (!file.ends_with(".json")) continue;
    EXPECT_EQ(queued[file], text) << file;
  }
  // One character on its own through the queue gives the same bytes too.
  StartSaveWriter();
  TChara* alice = nullptr;
  ASSERT_TRUE(World.CharaList.TryGetValue("alice", alice));
  fs::remove(Path("save/Alice.json"));
  EXPECT_EQ(QueueSaveChara(alice).get(), "");
  EXPECT_EQ(ReadFile(Path("save/Alice.json")).value_or(""), direct["Alice.json"]);
}

TEST_F(SaveWriterTest, LaterSavesOfACharacterAreNeverOvertaken) {
  MakeVariedCharacters(400);
  TChara* watched = nullptr;
  ASSERT_TRUE(World.CharaList.TryGetValue("plain0", watched));
  const std::string file = Path("save/plain0.json");
  // A reader watches the file while the queue is written: its Glod only ever grows.
  std::atomic<bool> stop{false};
  std::vector<uint32_t> seen;
  std::thread reader([&] {
    while (!stop.load()) {
      // A sample counts only if the file was not replaced while it was read: the swap file
      // that takes its place next is rewritten in place, so a reader still holding the old
      // file can see a later text there.
      int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      std::string body;
      char buf[4096];
      ssize_t n;
      while ((n = ::read(fd, buf, sizeof buf)) > 0) body.append(buf, static_cast<size_t>(n));
      struct stat held {}, now {};
      bool same = ::fstat(fd, &held) == 0 && ::stat(file.c_str(), &now) == 0 &&
                  held.st_ino == now.st_ino;
      ::close(fd);
      if (!same) continue;
      std::optional<std::string> text = body;
      auto at = text->find("\"Glod\": ");
      if (at == std::string::npos) continue;
      uint32_t glod = static_cast<uint32_t>(std::stoul(text->substr(at + 8)));
      if (seen.empty() || seen.back() != glod) seen.push_back(glod);
    }
  });
  StartSaveWriter();
  std::string out = Captured([&] {
    // Whole passes and single saves in turn; every one is slower to write than to queue.
    for (uint32_t round = 1; round <= 12; ++round) {
      watched->Glod = round;
      if (round % 3 == 0) {
        QueueSaveCharaList(World);
      } else {
        QueueSaveChara(watched);
      }
    }
    DrainSaveWriter();
  });
  stop = true;
  reader.join();
  EXPECT_EQ(ReadFile(file).value_or(""), CharaToJson(*watched));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 12u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i - 1], seen[i]) << "overtaken";
}

TEST_F(SaveWriterTest, StoppingWaitsForEveryQueuedWriteAndReportsFailures) {
  MakeVariedCharacters(300);
  // A folder in place of one character's file makes that character's saves fail: a save
  // never replaces a folder.
  fs::create_directories(Path("save/plain7.json/inside"));
  TChara* failing = nullptr;
  ASSERT_TRUE(World.CharaList.TryGetValue("plain7", failing));
  StartSaveWriter();
  std::shared_future<std::string> single;
  std::shared_future<int> pass;
  std::string out = Captured([&] {
    pass = QueueSaveCharaList(World);
    single = QueueSaveChara(failing);
    StopSaveWriter();  // shutdown: returns once all of it is written
    // Nothing may be left unwritten, even though nobody waited for the results yet.
    EXPECT_EQ(pass.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(single.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  });
  EXPECT_EQ(pass.get(), 1);
  EXPECT_NE(single.get(), "");
  EXPECT_NE(out.find("Error: キャラ \"plain7\" の保存に失敗しました"), std::string::npos) << out;
  EXPECT_NE(out.find("キャラデータを保存しました"), std::string::npos) << out;
  for (TChara* tc : World.CharaList) {
    if (tc == failing) continue;
    EXPECT_EQ(ReadFile(Path("save/" + tc->FName + ".json")).value_or(""), CharaToJson(*tc))
        << tc->FName;
  }
  EXPECT_TRUE(DirectoryExists(Path("save/plain7.json/inside")));
  // The waiting form still throws, with the writer running or not.
  EXPECT_THROW(SaveChara(failing), std::runtime_error);
  StartSaveWriter();
  EXPECT_THROW(SaveChara(failing), std::runtime_error);
}

}  // namespace
}  // namespace vornhal::test
