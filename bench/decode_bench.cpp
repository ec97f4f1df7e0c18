// Decoding large answers: the whole classification and decoding of a 2xx
// answer against the JSON parse of the same bytes, which every decoder pays
// first and which is the baseline.

#include <benchmark/benchmark.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "api/decode.hpp"
#include "api/pipeline.hpp"
#include "data.hpp"

namespace {

using namespace irvelo;

const std::string& bootstrap_5000() {
  static const std::string body = bench::bootstrap_body(5000, std::time(nullptr));
  return body;
}

const std::string& projects_3000() {
  static const std::string body = bench::projects_body(3000, 5);
  return body;
}

void parse_only(benchmark::State& state, const std::string& body) {
  for (auto _ : state) {
    auto j = nlohmann::json::parse(body);
    benchmark::DoNotOptimize(j);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void BootstrapBaseline(benchmark::State& state) {
  parse_only(state, bootstrap_5000());
}

void BootstrapDecode(benchmark::State& state) {
  const std::string& body = bootstrap_5000();
  for (auto _ : state) {
    auto result = api::classify<api::Bootstrap>(200, body, std::nullopt, &api::parse_bootstrap);
    if (!result.ok() || result.value->entries.size() != 5000) state.SkipWithError("the bootstrap did not decode");
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void ProjectsBaseline(benchmark::State& state) {
  parse_only(state, projects_3000());
}

void ProjectsDecode(benchmark::State& state) {
  const std::string& body = projects_3000();
  for (auto _ : state) {
    auto result = api::classify<std::vector<api::PickerProject>>(200, body, std::nullopt, &api::parse_projects);
    if (!result.ok() || result.value->size() != 3000) state.SkipWithError("the projects did not decode");
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

}  // namespace

// Names: "<group>/<figure>"; the figure named "baseline" is what scripts/bench divides by.
BENCHMARK(BootstrapBaseline)->Name("decode bootstrap of 5000 entries/baseline: JSON parse");
BENCHMARK(BootstrapDecode)->Name("decode bootstrap of 5000 entries/classify and decode");
BENCHMARK(ProjectsBaseline)->Name("decode 3000 projects with 5 tasks/baseline: JSON parse");
BENCHMARK(ProjectsDecode)->Name("decode 3000 projects with 5 tasks/classify and decode");
