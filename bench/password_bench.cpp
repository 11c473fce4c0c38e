// The cost of storing and checking one password with each setting of [Main] PasswordHash, at
// the default Argon2id cost (19 MiB, 2 passes) and at twice the memory.
//
//   build/bench/password_bench
#include <benchmark/benchmark.h>

#include <string>

#include "login/password.h"
#include "platform/settings.h"

namespace vornhal {
namespace {

void UseSetting(const benchmark::State& state) {
  ResetSettingsToDefaults();
  PasswordHash = state.range(0) == 0 ? "sha1" : "argon2id";
  PasswordHashMemoryKiB = static_cast<int32_t>(state.range(1));
}

void BM_Hash(benchmark::State& state) {
  UseSetting(state);
  for (auto _ : state) benchmark::DoNotOptimize(HashPassword("correct horse battery staple"));
  state.SetLabel(PasswordHash);
}

void BM_Verify(benchmark::State& state) {
  UseSetting(state);
  const std::string stored = HashPassword("correct horse battery staple");
  bool ok = true;
  for (auto _ : state) ok = ok && VerifyPassword("correct horse battery staple", stored);
  if (!ok) state.SkipWithError("verification failed");
  state.SetLabel(PasswordHash);
}

BENCHMARK(BM_Hash)->Args({0, 19456})->Args({1, 19456})->Args({1, 38912})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Verify)->Args({0, 19456})->Args({1, 19456})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vornhal

BENCHMARK_MAIN();
