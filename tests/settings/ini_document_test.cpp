#include "settings/ini_document.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace qelta {
namespace {

// What a reader of the document can see: its section headers and its entries.
struct Reading {
  std::vector<std::string> sections;
  std::vector<IniEntry> entries;
  bool operator==(const Reading&) const = default;
};

Reading Read(const IniDocument& document) {
  return {document.Sections(), document.Entries()};
}

// The document read from `text`, then from its own rewrite, must say the same; so must the
// rewrite of the rewrite, byte for byte.
void ExpectStableRewrite(const std::string& text) {
  const IniDocument first = IniDocument::Parse(text);
  const std::string written = first.Serialize();
  const IniDocument second = IniDocument::Parse(written);
  EXPECT_TRUE(Read(first) == Read(second)) << "text: " << ::testing::PrintToString(text)
                                           << "\nrewrite: " << ::testing::PrintToString(written);
  EXPECT_EQ(second.Serialize(), written) << ::testing::PrintToString(text);
}

std::vector<IniEntry> EntryList(std::vector<IniEntry> entries) {
  return entries;
}

TEST(IniDocument, LineEndsOfEveryKindReadAlike) {
  const std::vector<IniEntry> expected = {{"Settings", "Port", "COM2"},
                                          {"Settings", "Interval", "10"},
                                          {"POST", "URL", "ups.example/x"}};
  const std::vector<std::string> sections = {"Settings", "POST"};
  for (const std::string end : {"\n", "\r\n", "\r\r\n", "\r", "\r\r\r\n"}) {
    const std::string text = "[Settings]" + end + "Port=COM2" + end + "Interval=10" + end +
                             "[POST]" + end + "URL=ups.example/x" + end;
    const IniDocument document = IniDocument::Parse(text);
    EXPECT_EQ(document.Entries(), expected) << ::testing::PrintToString(end);
    EXPECT_EQ(document.Sections(), sections) << ::testing::PrintToString(end);
    EXPECT_EQ(document.Find("Settings", "Port"), "COM2") << ::testing::PrintToString(end);
    ExpectStableRewrite(text);
  }

  // Mixed in one file, and a last line without its end.
  const IniDocument mixed =
      IniDocument::Parse("[Settings]\r\r\nPort=COM2\rInterval=10\n[POST]\r\nURL=ups.example/x");
  EXPECT_EQ(mixed.Entries(), expected);
  EXPECT_EQ(mixed.Serialize(), "[Settings]\nPort=COM2\nInterval=10\n[POST]\nURL=ups.example/x\n");

  // A CR that stands alone between two lines is a line of its own; a CR LF after text is one
  // line end, so a blank line written as CR CR LF stays one blank line.
  EXPECT_EQ(IniDocument::Parse("[S]\r\rA=1\r\r\n\r\r\nB=2\n").Serialize(), "[S]\n\nA=1\n\nB=2\n");
}

TEST(IniDocument, ByteOrderMarksAtTheStartAreDroppedAndElsewhereKept) {
  const std::string bom = "\xEF\xBB\xBF";
  for (const std::string& start : {bom, bom + bom, bom + bom + bom}) {
    const IniDocument document = IniDocument::Parse(start + "[Settings]\r\nPort=COM3\r\n");
    EXPECT_EQ(document.Entries(), EntryList({{"Settings", "Port", "COM3"}}))
        << start.size() / 3 << " marks";
    EXPECT_EQ(document.Serialize(), "[Settings]\nPort=COM3\n");
    ExpectStableRewrite(start + "[Settings]\r\r\nPort=COM3\r\r\n");
  }

  // A mark inside a value is part of it, and so is one at the start of a later line (a file
  // glued to another), which then is no header; both survive the rewrite.
  const std::string text = "[A]\nKey=x" + bom + "y\n" + bom + "[B]\nOther=1\n";
  const IniDocument document = IniDocument::Parse(text);
  EXPECT_EQ(document.Find("A", "Key"), "x" + bom + "y");
  EXPECT_EQ(document.Find("A", "Other"), "1");
  EXPECT_FALSE(document.HasSection("B"));
  EXPECT_EQ(document.Serialize(), text);
  ExpectStableRewrite(text);

  // Only a whole mark is dropped.
  EXPECT_EQ(IniDocument::Parse("\xEF\xBB[S]\n").Sections(), std::vector<std::string>{});
}

TEST(IniDocument, ChangedDocumentsReadBackAsTheyWereLeft) {
  // Values with every character that touches a line's meaning, set into hand-written files
  // with awkward line ends and marks; what the document says after the change is what its
  // rewrite says.
  const std::vector<std::string> values = {"",     " lead", "trail ", "a\rb", "a\nb",         "x\r",
                                           "\r\n", "=",     "[S]",    ";c",   "\xEF\xBB\xBF", "\\",
                                           "\\r",  "\t",    "\xFF",   "é"};
  for (const std::string& value : values) {
    IniDocument document =
        IniDocument::Parse("\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\r\nA=1\r\r\nB=2\rC=3\r\n");
    document.Set("S", "B", value);
    document.Set("T", value.empty() ? "k" : value, value);
    EXPECT_EQ(document.Find("S", "B"), value);
    const IniDocument reread = IniDocument::Parse(document.Serialize());
    EXPECT_TRUE(Read(reread) == Read(document)) << ::testing::PrintToString(value);
    EXPECT_EQ(reread.Find("S", "B"), value) << ::testing::PrintToString(value);
    EXPECT_EQ(reread.Find("S", "C"), "3");
  }
}

TEST(IniDocument, RandomTextsReadTheSameAfterTheirRewrite) {
  // Texts glued from the pieces that decide where lines, headers, entries and escapes are.
  const std::vector<std::string> pieces = {
      "\n",   "\r",  "\r\n", "\r\r\n", "\xEF\xBB\xBF", "[",    "]",
      "=",    ";",   "#",    " ",      "\t",           "\\",   "x",
      "\\x4", "\\s", "K",    "é",      "\xC3",         "\xFF", std::string(1, '\0')};
  std::mt19937 random(11);
  std::uniform_int_distribution<size_t> piece(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int n = length(random); n > 0; --n) text += pieces[piece(random)];
    ExpectStableRewrite(text);
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace qelta
