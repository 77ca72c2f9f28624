// The HID report descriptor parser on any bytes, with relations that must hold whatever the
// descriptor says: items that do not touch report sizes change nothing, an item cut short
// makes the descriptor malformed, an added main item only makes its kind's report longer, and
// a Push ... Pop pair restores the sizes it saved.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "link/hid_report_descriptor.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Layout = std::optional<qelta::HidReportLayout>;

size_t current_size = 0;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s (descriptor of %zu bytes)\n", what, current_size);
  std::abort();
}

Layout Parse(const Bytes& bytes) {
  return qelta::ParseHidReportDescriptor(std::span<const uint8_t>(bytes.data(), bytes.size()));
}

Bytes Join(std::initializer_list<const Bytes*> parts) {
  Bytes all;
  for (const Bytes* part : parts) all.insert(all.end(), part->begin(), part->end());
  return all;
}

// Usage Page, Usage, Collection, Logical Minimum, Unit, a long item, End Collection.
const Bytes kNeutral = {0x05, 0x84, 0x09, 0x04, 0xA1, 0x01, 0x15, 0x80, 0x66,
                        0x01, 0x10, 0xFE, 0x02, 0x10, 0xAA, 0xBB, 0xC0};
// A Report Size item that lacks its data byte, and a long item that lacks its data.
const Bytes kCutShortItem = {0x75};
const Bytes kCutShortLongItem = {0xFE, 0x05, 0x10, 0x01};
// One Input item of the current size and count.
const Bytes kInputItem = {0x81, 0x02};
// Push, another size and count, Pop.
const Bytes kSavedAndRestored = {0xA4, 0x75, 0x08, 0x95, 0x40, 0xB4};

// A report's length is 0 or its data bytes plus the report-ID byte; no report can be longer
// than the parser's cap of 2^40 bits.
void CheckBounds(const qelta::HidReportLayout& layout) {
  constexpr size_t kLongest = ((size_t{1} << 40) + 7) / 8 + 1;
  for (size_t length : {layout.input_length, layout.output_length, layout.feature_length}) {
    if (length == 1 || length > kLongest) Fail("a report length out of bounds");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  current_size = size;
  const Bytes descriptor(data, data + size);
  const Layout layout = Parse(descriptor);

  if (Parse(Join({&kNeutral, &descriptor})) != layout) Fail("neutral items in front changed it");
  if (!layout) return 0;

  CheckBounds(*layout);
  if (Parse(Join({&descriptor, &kNeutral})) != layout) Fail("neutral items after changed it");
  if (Parse(Join({&descriptor, &kCutShortItem}))) Fail("an item cut short was accepted");
  if (Parse(Join({&descriptor, &kCutShortLongItem}))) Fail("a long item cut short was accepted");

  const Layout with_input = Parse(Join({&descriptor, &kInputItem}));
  if (!with_input) Fail("an Input item made a good descriptor malformed");
  CheckBounds(*with_input);
  if (with_input->input_length < layout->input_length ||
      with_input->output_length != layout->output_length ||
      with_input->feature_length != layout->feature_length ||
      with_input->numbered != layout->numbered) {
    Fail("an Input item changed more than the input length");
  }

  const Layout restored = Parse(Join({&descriptor, &kSavedAndRestored, &kInputItem}));
  if (restored && restored != with_input) Fail("Pop did not restore what Push saved");
  return 0;
}
