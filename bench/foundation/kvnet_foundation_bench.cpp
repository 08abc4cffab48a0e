// Foundation benchmarks against the standard library as the peer: typed reads through the
// buffered stream, the list quicksort, and code-page decoding.
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/kvnet_baselist.h"
#include "foundation/kvnet_codepage.h"
#include "foundation/kvnet_io.h"
#include "support/kvnet_bench_ratio.h"

namespace {

constexpr std::int64_t kValues = 4 << 20;  // 16 MiB of 32-bit values

// A file of kValues little-endian int32 values, written once per process.
const std::string& ValueFile() {
  static const std::string name = [] {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("kvnet_bench_" + std::to_string(::getpid())))
            .string();
    kvnet::TKVBufferedStream out(std::make_unique<kvnet::TKVFileStream>(path, kvnet::fmCreate));
    for (std::int64_t i = 0; i < kValues; ++i)
      out.WriteInt32(static_cast<std::int32_t>(i * 7));
    return path;
  }();
  return name;
}

struct TRemoveValueFile {
  ~TRemoveValueFile() { std::remove(ValueFile().c_str()); }
} removeValueFile;

void TypedReads_kvnet(benchmark::State& state) {
  for (auto _ : state) {
    kvnet::TKVBufferedStream in(
        std::make_unique<kvnet::TKVFileStream>(ValueFile(), kvnet::fmOpenRead));
    std::int64_t sum = 0;
    for (std::int64_t i = 0; i < kValues; ++i)
      sum += in.ReadInt32();
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * kValues * 4);
}
BENCHMARK(TypedReads_kvnet)->Name("TypedReads 4M int32/kvnet")->Unit(benchmark::kMillisecond);

void TypedReads_peer(benchmark::State& state) {
  for (auto _ : state) {
    std::ifstream in(ValueFile(), std::ios::binary);
    std::int64_t sum = 0;
    for (std::int64_t i = 0; i < kValues; ++i) {
      std::int32_t v;
      in.read(reinterpret_cast<char*>(&v), 4);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * kValues * 4);
}
BENCHMARK(TypedReads_peer)->Name("TypedReads 4M int32/peer")->Unit(benchmark::kMillisecond);

std::vector<std::int32_t> SortInput() {
  std::mt19937 rng(42);
  std::vector<std::int32_t> v(1 << 20);
  for (auto& x : v)
    x = static_cast<std::int32_t>(rng() % 100000);
  return v;
}

void Sort_kvnet(benchmark::State& state) {
  const auto input = SortInput();
  for (auto _ : state) {
    state.PauseTiming();
    kvnet::TIntegerList list;
    list.SetCapacity(static_cast<std::int32_t>(input.size()));
    for (const auto v : input)
      list.Add(v);
    state.ResumeTiming();
    list.Sort();
    benchmark::DoNotOptimize(list.First());
  }
}
BENCHMARK(Sort_kvnet)->Name("Sort 1M integers/kvnet")->Unit(benchmark::kMillisecond);

void Sort_peer(benchmark::State& state) {
  const auto input = SortInput();
  for (auto _ : state) {
    state.PauseTiming();
    auto v = input;
    state.ResumeTiming();
    std::sort(v.begin(), v.end());
    benchmark::DoNotOptimize(v.front());
  }
}
BENCHMARK(Sort_peer)->Name("Sort 1M integers/peer")->Unit(benchmark::kMillisecond);

std::string Latin1Text() {
  std::string text;
  const std::string words[] = {
      "Stra\xDF"
      "e ",
      "M\xFChlenweg ", "Rue de la Paix ", "\xC5sgatan "};
  while (text.size() < (8u << 20))
    text += words[text.size() % 4];
  return text;
}

void Decode1252_kvnet(benchmark::State& state) {
  const std::string bytes = Latin1Text();
  const kvnet::TEncoder encoder(1252);
  std::string out;
  for (auto _ : state) {
    out.clear();
    encoder.DecodeAppend(bytes, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(Decode1252_kvnet)
    ->Name("Decode 8 MiB of code page 1252/kvnet")
    ->Unit(benchmark::kMillisecond);

void Decode1252_peer(benchmark::State& state) {
  std::string bytes = Latin1Text();
  iconv_t cd = iconv_open("UTF-8", "CP1252");
  std::string out(bytes.size() * 3, '\0');
  for (auto _ : state) {
    char* in = bytes.data();
    std::size_t inLeft = bytes.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv(cd, &in, &inLeft, &o, &outLeft);
    benchmark::DoNotOptimize(o);
  }
  iconv_close(cd);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(Decode1252_peer)
    ->Name("Decode 8 MiB of code page 1252/peer")
    ->Unit(benchmark::kMillisecond);

}  // namespace

KVNET_BENCHMARK_MAIN_WITH_RATIOS()
