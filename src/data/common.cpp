#include "data/common.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "data/database.h"
#include "net/wire.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/text.h"

namespace vornhal {

TZLibData RuleData;
std::string TempList;
std::unordered_map<std::string, uint32_t> TempCRCs;
std::unordered_map<std::string, std::string> TempFiles;
std::string ScriptList;
std::unordered_map<std::string, uint32_t> ScriptCRCs;
std::unordered_map<std::string, std::string> ScriptFiles;

namespace {

// "(´・ω・｀)" in code page 932.
constexpr char kBuiltInRule[] = "\x28\x81\x4C\x81\x45\x83\xD6\x81\x45\x81\x4D\x29";

// Reads the uncompressed temp index; a read past its end means the file is damaged.
class IndexReader {
 public:
  IndexReader(std::string_view data, std::string path) : reader_(data), path_(std::move(path)) {}
  uint16_t U16() {
    try {
      return reader_.U16();
    } catch (const ReadPastEndError&) {
      throw Damaged();
    }
  }
  std::string Str8() {
    try {
      return reader_.RawStr8();
    } catch (const ReadPastEndError&) {
      throw Damaged();
    }
  }

 private:
  FatalDataError Damaged() const {
    return FatalDataError("\"" + path_ + "\" が壊れています (索引が途中で終わっています)");
  }
  TWireReader reader_;
  std::string path_;
};

}  // namespace

void ClearDataBlocks() {
  RuleData = TZLibData{};
  TempList.clear();
  TempCRCs.clear();
  TempFiles.clear();
  ScriptList.clear();
  ScriptCRCs.clear();
  ScriptFiles.clear();
}

// What one frame carries of a data block: the body holds the id and seed bytes, a kind or
// code byte, a size word and, for a file, its name (at most 256 bytes) and a CRC-32.
constexpr size_t kFrameBody = 65535;
constexpr size_t kListRoom = kFrameBody - 4;
constexpr size_t kFileRoom = kFrameBody - 4 - 2 - 256 - 4;

// A block that cannot travel in one frame is reported at start-up: the client cannot receive it.
void ReportOversized(const std::string& file, size_t bytes, size_t room) {
  if (bytes <= room) return;
  LogFmt("Error: \"%s\" のデータ (%d バイト) は 1 フレーム (%d バイト) に収まらないため、クライアントに送れません",
         file, static_cast<int>(bytes), static_cast<int>(room));
}

void LoadRuleText() {
  const std::string path = DataDir + "db/Rule.txt";
  std::optional<std::string> bytes;
  if (FileExists(path)) bytes = ReadFile(path);
  if (!bytes) {
    bytes = std::string(kBuiltInRule, sizeof kBuiltInRule - 1);
    Log("\"Rule.txt\" が見つからないため、規約文を生成しました。");
  }
  RuleData = MakeZLibData(*bytes);
  ReportOversized(path, RuleData.CompressedData.size(), kListRoom);
}

void LoadTempData() {
  const std::string dir = DataDir + "temp/";
  const std::string path = dir + "temp02281004";
  TWireWriter list;
  list.U16(0);  // the count, set at the end
  TempList = list.Text();
  if (!FileExists(path)) return;
  auto raw = ReadFile(path);
  if (!raw) throw FatalDataError("\"" + path + "\" を読み込めません");
  if (raw->size() < 4) throw FatalDataError("\"" + path + "\" が壊れています (4 バイト未満です)");
  std::string index;
  try {
    index = ZDecompress(std::string_view(*raw).substr(4));
  } catch (const std::runtime_error& e) {
    throw FatalDataError("\"" + path + "\" が壊れています (" + e.what() + ")");
  }
  IndexReader reader(index, path);
  uint16_t count = reader.U16();
  uint16_t listed = 0;
  for (uint16_t i = 0; i < count; ++i) {
    std::string name = reader.Str8();
    std::string file_name = reader.Str8();
    std::string file_path = dir + FromCP932(file_name);
    if (!FileExists(file_path)) continue;
    auto stored = ReadFile(file_path);
    if (!stored) throw FatalDataError("\"" + file_path + "\" を読み込めません");
    uint32_t crc = 0;
    try {
      crc = Crc32(ZDecompress(*stored));
    } catch (const std::runtime_error& e) {
      throw FatalDataError("\"" + file_path + "\" が壊れています (" + e.what() + ")");
    }
    list.RawStr8(name).U32(crc);
    std::string key = FromCP932(name);
    TempCRCs[key] = crc;
    ReportOversized(file_path, stored->size(), kFileRoom);
    TempFiles[key] = std::move(*stored);
    ++listed;
  }
  list.SetU16(0, listed);
  TempList = list.Text();
  ReportOversized(path, TempList.size(), kListRoom);
}

void CreateScriptDataList() {
  const std::string dir = DataDir + "script";
  TWireWriter list;
  list.U16(0);  // the count, set at the end
  ScriptList = list.Text();
  if (!DirectoryExists(dir)) return;
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    const auto& p = entry.path();
    if (LowerAscii(p.extension().string()) != ".xml") continue;
    files.push_back(p);
  }
  std::sort(files.begin(), files.end());
  uint16_t count = 0;
  for (const auto& p : files) {
    std::string name = p.stem().string();
    std::string wire_name = ToCP932(name);
    if (wire_name.size() > 255) {
      LogFmt("Error: スクリプト名が長すぎます \"%s\"", name);
      continue;
    }
    auto bytes = ReadFile(p.string());
    if (!bytes) {
      LogFmt("Error: \"%s\" を読み込めません", p.string());
      continue;
    }
    std::string text = ToCP932(FromUTF16LE(*bytes));
    uint32_t crc = Crc32(text);
    ScriptCRCs[name] = crc;
    ScriptFiles[name] = ZCompress(text);
    ReportOversized(p.string(), ScriptFiles[name].size(), kFileRoom);
    list.RawStr8(wire_name).U32(crc);
    ++count;
  }
  list.SetU16(0, count);
  ScriptList = list.Text();
  ReportOversized(dir + "/", ScriptList.size(), kListRoom);
}

}  // namespace vornhal
