// The client's reading of the clipboard's bytes under the run's format, which any
// program can write: it reads only within the block, takes a record only under the
// run's own identity, and agrees with what quorvel.exe publishes.
#include "client_rules.h"
#include "createwiz/create_result.h"
#include "fuzz_input.h"

namespace {

using quorvel::fuzz::Broken;
namespace rules = quorvel::client::rules;

bool SameNames(const rules::Names& a, const rules::Names& b) {
  return a.distinguishedName == b.distinguishedName && a.name == b.name && a.samAccountName == b.samAccountName;
}

bool FieldFits(const std::u16string& text, std::size_t units) {
  return text.size() <= units && text.find(char16_t{0}) == std::u16string::npos;
}

}  // namespace

// First byte: the identity's length in units (its low 6 bits) and whether the format
// was there at all (bit 6). Then the identity, then the block's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t identityUnits = data[0] & 0x3F;
  const bool absent = (data[0] & 0x40) != 0;
  if (size < 1 + 2 * identityUnits) return 0;
  const std::u16string identity = quorvel::fuzz::TextFrom(data + 1, 2 * identityUnits);
  // The block in a buffer of its own size, so that a read past it is caught.
  const std::vector<std::uint8_t> block(data + 1 + 2 * identityUnits, data + size);
  std::optional<std::vector<std::uint8_t>> bytes;
  if (!absent) bytes = block;

  const rules::Judgement got = rules::JudgeRunRecord(bytes, identity);
  if (got.accepted != got.reason.empty()) Broken("a judgement without a reason, or a refusal with one");
  if (got.accepted) {
    if (identity.empty() || identity.find(char16_t{0}) != std::u16string::npos) Broken("accepted without an identity");
    if (block.size() < rules::kRecordBytes + 2 * (identity.size() + 1)) Broken("accepted from a short block");
    const std::u16string published = quorvel::fuzz::TextFrom(block.data() + rules::kRecordBytes, 2 * identity.size());
    const std::size_t end = rules::kRecordBytes + 2 * identity.size();
    if (published != identity || block[end] != 0 || block[end + 1] != 0) Broken("accepted under another identity");
    if (!SameNames(got.names, rules::DecodeRecord(block))) Broken("the names are not the record's");
    if (got.names.distinguishedName.empty() && got.names.name.empty() && got.names.samAccountName.empty())
      Broken("accepted a record that names nothing");
  } else if (!got.names.distinguishedName.empty() || !got.names.name.empty() || !got.names.samAccountName.empty()) {
    Broken("names handed out with a refusal");
  }
  if (block.size() >= rules::kRecordBytes) {
    const rules::Names names = rules::DecodeRecord(block);
    if (!FieldFits(names.distinguishedName, 260) || !FieldFits(names.name, 64) || !FieldFits(names.samAccountName, 16))
      Broken("a field longer than its width, or holding a zero unit");
    // What quorvel.exe publishes for these names under this identity comes back whole,
    // and under any other identity not at all.
    if (!identity.empty() && identity.find(char16_t{0}) == std::u16string::npos) {
      const auto record = quorvel::BuildResultRecord(names.distinguishedName, names.name, names.samAccountName);
      const std::vector<std::uint8_t> run = quorvel::BuildRunRecord(record, identity);
      const rules::Judgement own = rules::JudgeRunRecord(run, identity);
      const bool namesSomething =
          !names.distinguishedName.empty() || !names.name.empty() || !names.samAccountName.empty();
      if (own.accepted != namesSomething || (own.accepted && !SameNames(own.names, names)))
        Broken("quorvel.exe's own publication is not read back");
      if (rules::JudgeRunRecord(run, identity.substr(1)).accepted ||
          rules::JudgeRunRecord(run, identity + u"0").accepted)
        Broken("a publication taken under a neighbouring identity");
    }
  }
  return 0;
}
