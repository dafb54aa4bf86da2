// GetDelimitedField on sources of 1 KiB to 1 MiB of UTF-16 text, asking for the
// last field so that the whole source is scanned, beside a plain loop that scans
// for the same separators and copies the same field. Names are
// "fields/<form>/<case>", the argument the source's size in bytes.
#include "util/delimited_field.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

struct Source {
  std::u16string text;
  std::int32_t fields = 0;
};

// Fields "f<n>" up to `bytes` bytes, separated by `separator`, or each bracketed by
// `open` and `close` when `close` is not zero.
Source MakeSource(std::size_t bytes, char16_t open, char16_t close) {
  Source s;
  const std::size_t units = bytes / 2;
  while (true) {
    std::u16string field = u"f";
    for (const char c : std::to_string(s.fields)) field += static_cast<char16_t>(c);
    const std::size_t need = field.size() + (close ? 2 : (s.fields ? 1 : 0));
    if (s.text.size() + need > units) break;
    if (close) {
      s.text += open;
      s.text += field;
      s.text += close;
    } else {
      if (s.fields) s.text += open;
      s.text += field;
    }
    ++s.fields;
  }
  s.text.resize(units, u' ');  // pads the last field to the exact size
  return s;
}

std::size_t Bytes(const benchmark::State& state) { return static_cast<std::size_t>(state.range(0)); }

void Finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Separated(benchmark::State& state) {
  const Source s = MakeSource(Bytes(state), u'|', 0);
  for (auto _ : state) {
    std::u16string field = quorvel::GetDelimitedField(s.text, u"|", s.fields);
    benchmark::DoNotOptimize(field.data());
  }
  Finish(state);
}

void SeparatedBaseline(benchmark::State& state) {
  const Source s = MakeSource(Bytes(state), u'|', 0);
  for (auto _ : state) {
    std::size_t start = 0;
    std::int32_t seen = 1;
    const char16_t* p = s.text.data();
    const std::size_t n = s.text.size();
    for (std::size_t i = 0; i < n && seen < s.fields; ++i) {
      if (p[i] == u'|') {
        ++seen;
        start = i + 1;
      }
    }
    std::size_t end = start;
    while (end < n && p[end] != u'|') ++end;
    std::u16string field(p + start, end - start);
    benchmark::DoNotOptimize(field.data());
  }
  Finish(state);
}

void Bracketed(benchmark::State& state) {
  const Source s = MakeSource(Bytes(state), u'<', u'>');
  for (auto _ : state) {
    std::u16string field = quorvel::GetDelimitedField(s.text, u"<>", s.fields);
    benchmark::DoNotOptimize(field.data());
  }
  Finish(state);
}

void BracketedBaseline(benchmark::State& state) {
  const Source s = MakeSource(Bytes(state), u'<', u'>');
  for (auto _ : state) {
    std::size_t start = 0;
    std::int32_t seen = 0;
    const char16_t* p = s.text.data();
    const std::size_t n = s.text.size();
    for (std::size_t i = 0; i < n && seen < s.fields; ++i) {
      if (p[i] == u'<') {
        ++seen;
        start = i + 1;
      }
    }
    std::size_t end = start;
    while (end < n && p[end] != u'>') ++end;
    std::u16string field(p + start, end - start);
    benchmark::DoNotOptimize(field.data());
  }
  Finish(state);
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (const std::int64_t bytes : {1 << 10, 1 << 13, 1 << 16, 1 << 19, 1 << 20}) b->Arg(bytes);
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(Separated)->Name("fields/separator/GetDelimitedField")->Apply(Sizes);
BENCHMARK(SeparatedBaseline)->Name("fields/separator/baseline")->Apply(Sizes);
BENCHMARK(Bracketed)->Name("fields/pair/GetDelimitedField")->Apply(Sizes);
BENCHMARK(BracketedBaseline)->Name("fields/pair/baseline")->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
