// VariantToText and ChangeVariantType on large arrays, each beside the least any
// rendering must do: read every element, convert it with the automation services
// and append its text to one string. Names are "variant/<element type>/<case>",
// the argument the element count; tools/bench-summary.py pairs each case with the
// baseline of the same element type and count.
#include "util/variant_convert.h"
#include "util/variant_text.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using quorvel::ChangeVariantType;
using quorvel::VariantToText;

BSTR NewText(const std::u16string& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

// Element i is the text "item<i>" for VT_BSTR, the VT_I4 i inside a VT_VARIANT.
class SourceArray {
 public:
  SourceArray(VARTYPE type, LONG count) {
    VariantInit(&value_);
    SAFEARRAYBOUND bound{static_cast<ULONG>(count), 0};
    SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
    if (!array) return;
    V_VT(&value_) = static_cast<VARTYPE>(VT_ARRAY | type);
    V_ARRAY(&value_) = array;
    for (LONG i = 0; i < count; ++i) {
      if (type == VT_BSTR) {
        std::u16string text = u"item";
        for (const char c : std::to_string(i)) text += static_cast<char16_t>(c);
        BSTR b = NewText(text);
        SafeArrayPutElement(array, &i, b);
        SysFreeString(b);
      } else {
        VARIANT element;
        VariantInit(&element);
        V_VT(&element) = VT_I4;
        V_I4(&element) = i;
        SafeArrayPutElement(array, &i, &element);
      }
    }
  }
  SourceArray(const SourceArray&) = delete;
  SourceArray& operator=(const SourceArray&) = delete;
  ~SourceArray() { VariantClear(&value_); }
  const VARIANT& value() const { return value_; }
  bool ok() const { return V_VT(&value_) != VT_EMPTY; }

 private:
  VARIANT value_;
};

LONG CountOf(const benchmark::State& state) { return static_cast<LONG>(state.range(0)); }

void Finish(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// The plain loop: per element one read, one conversion, one append.
void Baseline(benchmark::State& state, VARTYPE type) {
  const SourceArray source(type, CountOf(state));
  if (!source.ok()) return state.SkipWithError("no array");
  SAFEARRAY* array = V_ARRAY(&source.value());
  const LONG count = CountOf(state);
  const bool bstr = type == VT_BSTR;
  for (auto _ : state) {
    std::u16string all;
    for (LONG i = 0; i < count; ++i) {
      VARIANT element;
      VariantInit(&element);
      if (bstr) {
        V_VT(&element) = VT_BSTR;
        SafeArrayGetElement(array, &i, &V_BSTR(&element));
      } else {
        SafeArrayGetElement(array, &i, &element);
      }
      if (SUCCEEDED(VariantChangeType(&element, &element, 0, VT_BSTR)))
        all.append(reinterpret_cast<const char16_t*>(V_BSTR(&element)), SysStringLen(V_BSTR(&element)));
      VariantClear(&element);
    }
    benchmark::DoNotOptimize(all.data());
  }
  Finish(state);
}

void Text(benchmark::State& state, VARTYPE type) {
  const SourceArray source(type, CountOf(state));
  if (!source.ok()) return state.SkipWithError("no array");
  for (auto _ : state) {
    std::u16string text = VariantToText(source.value());
    benchmark::DoNotOptimize(text.data());
    if (text.size() < 2) state.SkipWithError("no text");
  }
  Finish(state);
}

// Converts a fresh copy of the source each time; making and releasing the copy is
// not timed, taking the source apart is.
void Change(benchmark::State& state, VARTYPE type, VARTYPE request) {
  const SourceArray source(type, CountOf(state));
  if (!source.ok()) return state.SkipWithError("no array");
  for (auto _ : state) {
    state.PauseTiming();
    VARIANT work;
    VariantInit(&work);
    if (FAILED(VariantCopy(&work, &source.value()))) {
      state.SkipWithError("no copy");
      break;
    }
    state.ResumeTiming();
    const HRESULT hr = ChangeVariantType(work, request);
    state.PauseTiming();
    if (FAILED(hr) || V_VT(&work) != request) state.SkipWithError("conversion failed");
    VariantClear(&work);
    state.ResumeTiming();
  }
  Finish(state);
}

void ChangeToText(benchmark::State& state, VARTYPE type) { Change(state, type, VT_BSTR); }
void ChangeToTextArray(benchmark::State& state, VARTYPE type) { Change(state, type, VT_ARRAY | VT_BSTR); }

void Register(const char* name, void (*function)(benchmark::State&, VARTYPE)) {
  for (const auto& [type, label] : {std::pair{VT_BSTR, "BSTR"}, std::pair{VT_VARIANT, "VARIANT"}}) {
    const std::string full = std::string("variant/") + label + "/" + name;
    auto* b = benchmark::RegisterBenchmark(full.c_str(), function, type);
    for (const std::int64_t count : {1'000, 10'000, 100'000, 1'000'000}) b->Arg(count);
    b->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register("baseline", Baseline);
  Register("VariantToText", Text);
  Register("ChangeVariantType_BSTR", ChangeToText);
  Register("ChangeVariantType_ARRAY_BSTR", ChangeToTextArray);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
