#include "launcher/feed/file_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "launcher/feed/manifest.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"

namespace launcher {
namespace {

const std::string kA(64, 'a');
const std::string kB = "0123456789ABCDEF0123456789abcdef0123456789abcdef0123456789ABCDEF";
const Digest kDigestA = *Digest::FromHex(kA);
const Digest kDigestB = *Digest::FromHex(kB);

// The text in two blocks, split at `at`, as a list arrives from the network.
std::vector<std::string> SplitAt(const std::string& text, std::size_t at) {
  return {text.substr(0, at), text.substr(at)};
}

bool Refused(const std::string& text) {
  const auto refused = [](const auto& parse) {
    try {
      parse();
      return false;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message, L"The release's file list isn't one");
      return true;
    }
  };
  const bool whole = refused([&] { ParseFileList(text); });
  EXPECT_EQ(refused([&] { ParseFileList(SplitAt(text, text.size() / 2)); }), whole);
  return whole;
}

TEST(ParseFileList, ReadsLinesInOrder) {
  const std::vector<Listed> expected = {
      {"Quellorn.exe", kDigestA, 1024},
      {"data/maps/caf\xC3\xA9 one.pak", kDigestB, 0},
      {"data/with\ttab", kDigestA, 7},
      {"data/maps/caf\xC3\x89 one.pak", kDigestB, 0},  // only ASCII letter case is folded
  };
  const std::string lf = "\xEF\xBB\xBF" + kA + "\t1024\tQuellorn.exe\n\n" + kB +
                         "\t0\tdata/maps/caf\xC3\xA9 one.pak\n" + kA +
                         "\t 7 bytes\tdata/with\ttab\n" + kB + "\t0\tdata/maps/caf\xC3\x89 one.pak";
  std::string crlf;
  for (const char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(ParseFileList(lf), expected);
  EXPECT_EQ(ParseFileList(crlf + "\r\n\r\n"), expected);
  // In blocks, whichever byte a block ends at: inside the mark, a line end or a path.
  for (std::size_t at = 0; at <= crlf.size(); ++at) {
    EXPECT_EQ(ParseFileList(SplitAt(crlf, at)), expected) << at;
  }
  EXPECT_EQ(ParseFileList(
                std::vector<std::string>{"", lf.substr(0, 2), lf.substr(2, 80), "", lf.substr(82)}),
            expected);
  EXPECT_TRUE(ParseFileList("").empty());
  EXPECT_TRUE(ParseFileList("\n\r\n\n").empty());
}

TEST(ParseFileList, RefusesAnyMalformedLineOrOnePlaceNamedTwice) {
  const std::string good = kA + "\t1\tok.txt\n";
  const std::string alsoGood = kA + "\t1\tdata/also.txt\n";
  const std::string lines[] = {
      kA + "\t1 only one tab",
      kA + " 1 spaces",
      kA + "\t\tempty size",
      kA + "\tx\tletters for a size",
      kA + "\t18446744073709551616\ttoo large",
      kA.substr(1) + "\t1\tdigest of 63",
      kA + "a\t1\tdigest of 65",
      std::string(63, 'a') + "g\t1\tnot hexadecimal",
      "\t1\tno digest",
      kA + "\t1\t",
      kA + "\t1\t/leading",
      kA + "\t1\ttrailing/",
      kA + "\t1\ttwo//slashes",
      kA + "\t1\t./dot",
      kA + "\t1\ta/../../climb",
      kA + "\t1\tback\\slash",
      kA + "\t1\tC:drive",
      kA + "\t1\tpipe|",
      kA + "\t1\tCOM1.dat",
      kA + "\t1\tdata/nul",
      kA + "\t1\tends.",
      kA + "\t-1\tnegative size",
      // Two writers of one place: the same path, another letter case, a file where a folder is.
      kA + "\t1\tok.txt",
      kA + "\t2\tOK.TXT",
      kA + "\t1\tok.txt/inside",
      kA + "\t1\tDATA",
      kA + "\t1\tData/Also.txt",
      // Longer than a path may be: 1,025 characters, some of two bytes.
      kA + "\t1\t" + std::string(1021, 'p') + "/\xC3\xA9\xC3\xA9\xC3\xA9",
  };
  for (const auto& line : lines) {
    EXPECT_TRUE(Refused(good + line + "\n" + alsoGood)) << ::testing::PrintToString(line);
  }
  EXPECT_FALSE(Refused(good + alsoGood + kA + "\t1\tdata-also/ok.txt\n" + kA + "\t1\tdata/a/b"));
  EXPECT_FALSE(Refused(good + kA + "\t0\tzero is a size\n"));
  EXPECT_FALSE(Refused(kA + "\t1\t" + std::string(1020, 'p') + "/\xC3\xA9\xC3\xA9\xC3\xA9"));
}

TEST(ParseFileList, NamesNoMoreThanItsMost) {
  std::string text;
  for (std::size_t i = 0; i < 100; ++i) text += kA + "\t1\tf" + std::to_string(i) + "\n";
  EXPECT_EQ(ParseFileList(text + "\n\n", 100).size(), 100u);  // blank lines count for nothing
  EXPECT_THROW(ParseFileList(text + kA + "\t1\tone more", 100), Failure);
}

TEST(ParseFileList, BytesThatArentUtf8AreOnePath) {
  // Both read as "x" and U+FFFD: one place named twice.
  EXPECT_EQ(ParseFileList(kA + "\t1\tx\xFF").front().path, "x\xEF\xBF\xBD");
  EXPECT_TRUE(Refused(kA + "\t1\tx\xFF\n" + kA + "\t1\tx\xFE\n"));
}

TEST(FormatFileList, ReadsBackAsTheSameEntries) {
  const std::vector<Listed> entries = {{"Quellorn.exe", kDigestB, 0},
                                       {"data/\xc3\xa9t\xc3\xa9\tname.pak", kDigestA, 7}};
  EXPECT_EQ(FormatFileList(entries), kDigestB.Text() + "\t0\tQuellorn.exe\n" + kA +
                                         "\t7\tdata/\xc3\xa9t\xc3\xa9\tname.pak\n");
  EXPECT_EQ(ParseFileList(FormatFileList(entries)), entries);
}

// The manifest carries the list and the chunk index as they are, and the stored forms beside.
TEST(ParseManifest, ReadsBackWhatFormatWroteAndRefusesAnythingElse) {
  const Digest pack = DigestOf("pack");
  // The pack's packed blob is one frame per chunk; the executable has a patch.
  StoredContent packForms{pack, StoredForm{kDigestA, 6}, {}, {4, 2}};
  StoredContent gameForms{kDigestB, std::nullopt, {{kDigestA, 9, {kDigestB, 2}}}, {}};
  Manifest manifest{{{"Quellorn.exe", kDigestB, 4}, {"data/pack.pak", pack, 8}},
                    {{"data/pack.pak", pack, 8, {{kDigestA, 0, 5}, {kDigestB, 5, 3}}}},
                    {packForms, gameForms}};
  if (kDigestB < pack) std::swap(manifest.stored[0], manifest.stored[1]);
  const std::string text = FormatManifest(manifest);
  EXPECT_EQ(ParseManifest(text), manifest);
  // Held in blocks cut anywhere (sections and lines split, down to a byte a block), it reads the
  // same; and what is refused whole is refused in blocks too.
  const auto inBlocks = [](const std::string& whole, std::size_t size) {
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at < whole.size(); at += size)
      blocks.push_back(whole.substr(at, size));
    return blocks;
  };
  for (const std::size_t size : {1u, 7u, 64u}) {
    EXPECT_EQ(ParseManifest(inBlocks(text, size)), manifest) << size;
  }
  EXPECT_EQ(*FindStored(manifest.stored, pack), packForms);
  EXPECT_EQ(FindStored(manifest.stored, kDigestA), nullptr);
  const std::string stored = text.substr(text.find("stored "));
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string changed = text;
    changed.replace(changed.find(from), from.size(), to);
    return changed;
  };
  const Manifest none{{{"Quellorn.exe", kDigestB, 4}}, {}, {}};
  for (const std::string& malformed : {
           std::string(),
           replaced("manifest 1", "manifest 2"),
           text.substr(0, text.size() - 1),  // the last section cut short
           text + "x",                       // bytes after it
           replaced("chunks ", "blocks "),   // sections out of their order
           replaced("\tzst\t", "\tzzz\t"),   // a form it doesn't know
           replaced("\t6\n", "\t0\n"),       // a stored form of no bytes
           FormatManifest(none).substr(0, FormatManifest(none).find("stored ")) + stored,
       }) {
    EXPECT_THROW(ParseManifest(malformed), Failure) << malformed;
    EXPECT_THROW(ParseManifest(inBlocks(malformed, 5)), Failure) << malformed;
  }
  // Forms out of the order of their contents; frames, all of the packed blob, but not one per
  // chunk; frames of a content that isn't chunked.
  Manifest swapped = manifest;
  std::swap(swapped.stored[0], swapped.stored[1]);
  Manifest oneFrame = manifest;
  FindStored(oneFrame.stored, pack) == &oneFrame.stored[0] ? oneFrame.stored[0].frames = {6}
                                                           : oneFrame.stored[1].frames = {6};
  Manifest unchunked = manifest;
  unchunked.chunks.clear();
  for (const Manifest& wrong : {swapped, oneFrame, unchunked}) {
    EXPECT_THROW(ParseManifest(FormatManifest(wrong)), Failure);
  }
}

}  // namespace
}  // namespace launcher
