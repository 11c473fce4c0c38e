// MoveChara and SendToBlock with 1,000 characters on one map.
//
// Reproduce:
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNHAL_BENCH=ON
//   cmake --build build-bench --target world_bench -j2
//   build-bench/bench/world_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// The characters stand at random cells (fixed seed) of a 100 x 100 map, about 1.5 per block,
// so an area of 5 x 5 blocks holds a few dozen of them (printed as "receivers"). Their connections count and discard the
// bytes, so the figures are the world model's and the codec's work, not the network's.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "net/connection.h"
#include "world/world.h"
#include "world/packets.h"

namespace vornhal {
namespace {

class DiscardingConnection : public TConnection {
 public:
  std::string PeerIP() const override { return "127.0.0.1"; }
  bool Connected() const override { return true; }
  void Write(const uint8_t*, size_t size) override { bytes += size; }
  void Close() override {}
  size_t bytes = 0;
};

constexpr int kCharacters = 1000;
constexpr uint16_t kMapSize = 100;

struct TBenchWorld {
  TBenchWorld() {
    auto map = std::make_unique<TMap>(world);
    map->ID = 10055;
    map->Name = "Bench";
    map->Width = kMapSize;
    map->Height = kMapSize;
    this->map = map.get();
    world.MapList.Add(std::move(map));
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> cell(0, kMapSize - 1);
    for (int i = 0; i < kCharacters; ++i) {
      auto* tc = new TChara(world);
      tc->FName = std::to_string(i);
      tc->FName.insert(tc->FName.begin(), 'c');
      world.CharaList.Add(tc);
      conns.push_back(std::make_unique<DiscardingConnection>());
      tc->Context.Reset(conns.back().get());
      tc->Login = TLoginState::kInWorld;
      tc->Point = TMapPoint{static_cast<uint16_t>(cell(random)), static_cast<uint16_t>(cell(random))};
      this->map->AddChara(tc);
      all.push_back(tc);
    }
  }

  size_t BytesSent() const {
    size_t total = 0;
    for (const TChara* tc : all) total += static_cast<DiscardingConnection*>(tc->Conn())->bytes;
    return total;
  }

  TWorld world;
  TMap* map = nullptr;
  std::vector<TChara*> all;
  std::vector<std::unique_ptr<DiscardingConnection>> conns;
};

// One character walks east and west across the border between blocks 11 and 12 (cells 47
// and 48) in the middle of the map: every step changes block and exchanges the view.
void BM_MoveCharaAcrossBlocks(benchmark::State& state) {
  TBenchWorld world;
  TChara* mover = world.all.front();
  world.map->MoveChara(mover, 47, 50);
  const size_t before = world.BytesSent();
  bool east = true;
  for (auto _ : state) {
    world.map->MoveChara(mover, east ? 48 : 47, 50);
    east = !east;
  }
  state.counters["bytes_per_step"] =
      benchmark::Counter(static_cast<double>(world.BytesSent() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_MoveCharaAcrossBlocks);

// Steps inside one block: only the position changes.
void BM_MoveCharaWithinBlock(benchmark::State& state) {
  TBenchWorld world;
  TChara* mover = world.all.front();
  world.map->MoveChara(mover, 48, 50);
  bool east = true;
  for (auto _ : state) {
    world.map->MoveChara(mover, east ? 49 : 48, 50);
    east = !east;
  }
}
BENCHMARK(BM_MoveCharaWithinBlock);

// Build one removal packet and send it to the area of a character in the middle of the map.
void BM_SendToBlock(benchmark::State& state) {
  TBenchWorld world;
  TChara* centre = world.all.front();
  world.map->MoveChara(centre, 50, 50);
  size_t receivers = 0;
  {
    const int bx = 50 / 4, by = 50 / 4;
    for (int c = bx - 2; c <= bx + 2; ++c) {
      for (int r = by - 2; r <= by + 2; ++r) receivers += world.map->Block(c, r)->CList.size();
    }
  }
  for (auto _ : state) {
    TPacket packet = SRemoveObjectPacket(*centre);
    packet.SendToBlock(centre, true);
  }
  state.counters["receivers"] = benchmark::Counter(static_cast<double>(receivers));
  state.counters["sends_per_s"] =
      benchmark::Counter(static_cast<double>(receivers), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SendToBlock);

}  // namespace
}  // namespace vornhal

BENCHMARK_MAIN();
