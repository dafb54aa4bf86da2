// The command line from the process to the job: the tail is a suffix of the line,
// a job's argument is what follows its switch, and the exit status is one the
// table allows.
#include "app/dispatch.h"
#include "fuzz_input.h"

namespace {

class CheckingJobs final : public quorvel::CommandJobs {
 public:
  explicit CheckingJobs(std::u16string_view tail) : tail_(tail) {}
  int calls = 0;
  quorvel::PropertySheetOutcome ShowPropertySheet(const std::u16string& adsPath) override {
    ++calls;
    if (adsPath.empty()) quorvel::fuzz::Broken("a sheet for an empty path");
    const std::u16string expected = std::u16string(quorvel::kPropPageSwitch) + adsPath;
    if (tail_.size() < expected.size() || tail_.substr(tail_.size() - expected.size()) != expected)
      quorvel::fuzz::Broken("the path is not the tail after the switch");
    return {static_cast<std::int32_t>(adsPath.size() % 3) - 1, adsPath.size() % 2 == 0};
  }
  std::int32_t RunCreateObjectWizard(const std::u16string& containerDN, std::int32_t,
                                     const std::u16string& thirdArgument) override {
    ++calls;
    if (containerDN.empty()) quorvel::fuzz::Broken("a wizard without a container");
    if (containerDN.find(u'|') != std::u16string::npos || thirdArgument.find(u'|') != std::u16string::npos)
      quorvel::fuzz::Broken("a separator inside a field");
    if (tail_.find(quorvel::kPropPageSwitch) != std::u16string_view::npos)
      quorvel::fuzz::Broken("the wizard ran although the sheet switch was there");
    return 0x12345;
  }

 private:
  std::u16string_view tail_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string line = quorvel::fuzz::TextFrom(data, size);
  const std::u16string_view tail = quorvel::CommandTailFrom(line);
  if (tail.data() < line.data() || tail.data() + tail.size() != line.data() + line.size())
    quorvel::fuzz::Broken("the tail is not a suffix of the line");
  if (!tail.empty() && tail.front() <= u' ') quorvel::fuzz::Broken("the tail starts with a blank");

  CheckingJobs jobs(tail);
  const std::int32_t status = quorvel::DispatchCommand(tail, jobs);
  if (jobs.calls > 1) quorvel::fuzz::Broken("more than one job");
  if (jobs.calls == 0 && status != 0 && status != 87) quorvel::fuzz::Broken("a status without a job");
  (void)quorvel::ParseDecimalInt32(tail);
  return 0;
}
