// A character file from the save folder, read on the sample world's items and maps. A file
// that is accepted must survive a save and a second load unchanged.
#include <cstdlib>
#include <string>

#include "data/chara_store.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vornhal::fuzz::PrepareSampleData();
  vornhal::fuzz::LoadSampleWorld();  // kept for the whole run: the reader only looks things up
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vornhal;
  TWorld& World = *fuzz::CurrentWorld();
  std::unique_ptr<TChara> tc;
  try {
    tc = CharaFromJson(World, std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::exception&) {
    std::abort();  // a bad file is rejected (nullopt), never thrown at the loader
  }
  if (!tc) return 0;
  const std::string saved = CharaToJson(*tc);
  std::unique_ptr<TChara> again = CharaFromJson(World, saved);
  if (!again || CharaToJson(*again) != saved) std::abort();
  return 0;
}
