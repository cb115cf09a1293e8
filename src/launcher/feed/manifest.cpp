#include "launcher/feed/manifest.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "launcher/text/failure.h"

namespace launcher {

namespace {

constexpr std::string_view kHeader = "quellorn manifest 1\n";

[[noreturn]] void Malformed() {
  throw Failure{L"The release's manifest isn't one"};
}

std::uint64_t ReadNumber(std::string_view text) {
  std::uint64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, number);
  if (text.empty() || error != std::errc{} || at != end) Malformed();
  return number;
}

Digest ReadDigest(std::string_view text) {
  const std::optional<Digest> digest = Digest::FromHex(text);
  if (!digest || text.size() != 64) Malformed();
  return *digest;
}

// The text of consecutive blocks, read from its front; each block's memory goes back once all of
// it is read, so a large manifest's text and what is read from it are never all held at once.
class BlockText {
 public:
  explicit BlockText(std::vector<std::string> blocks) : blocks_(std::move(blocks)) {}

  // The next line, without its line feed; Malformed past `longest` bytes or the end.
  std::string Line(std::size_t longest) {
    std::string line;
    for (;;) {
      if (next_ == blocks_.size()) Malformed();
      std::string_view rest(blocks_[next_]);
      rest.remove_prefix(at_);
      const std::size_t end = rest.find('\n');
      line.append(rest.substr(0, end));
      if (line.size() > longest) Malformed();
      Advance(end == std::string_view::npos ? rest.size() : end + 1);
      if (end != std::string_view::npos) return line;
    }
  }

  // The next `count` bytes as blocks of their own; Malformed when fewer are left.
  std::vector<std::string> Take(std::uint64_t count) {
    std::vector<std::string> taken;
    while (count > 0) {
      if (next_ == blocks_.size()) Malformed();
      std::string& block = blocks_[next_];
      const std::size_t piece =
          static_cast<std::size_t>(std::min<std::uint64_t>(block.size() - at_, count));
      taken.push_back(at_ == 0 && piece == block.size() ? std::move(block)
                                                        : block.substr(at_, piece));
      count -= piece;
      Advance(piece);
    }
    return taken;
  }

  bool Ended() {
    Advance(0);
    return next_ == blocks_.size();
  }

 private:
  void Advance(std::size_t count) {
    at_ += count;
    while (next_ < blocks_.size() && at_ >= blocks_[next_].size()) {
      std::string().swap(blocks_[next_++]);
      at_ = 0;
    }
  }

  std::vector<std::string> blocks_;
  std::size_t next_ = 0;
  std::size_t at_ = 0;
};

// The size the next section, which must be `name`, says it has.
std::uint64_t SectionSize(BlockText& text, std::string_view name) {
  const std::string line = text.Line(name.size() + 21);
  if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != ' ') {
    Malformed();
  }
  return ReadNumber(std::string_view(line).substr(name.size() + 1));
}

std::string Joined(const std::vector<std::string>& blocks) {
  std::string text;
  for (const std::string& block : blocks) text += block;
  return text;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t tab; (tab = line.find('\t')) != std::string_view::npos;) {
    fields.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  fields.push_back(line);
  return fields;
}

StoredForm ReadForm(std::string_view digest, std::string_view size) {
  const StoredForm form{ReadDigest(digest), ReadNumber(size)};
  if (form.size == 0) Malformed();
  return form;
}

std::vector<StoredContent> ParseStored(std::string_view text) {
  std::vector<StoredContent> stored;
  while (!text.empty()) {
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos) Malformed();
    const std::vector<std::string_view> fields = Fields(text.substr(0, lineEnd));
    text.remove_prefix(lineEnd + 1);
    if (fields.size() < 2) Malformed();
    const Digest content = ReadDigest(fields[0]);
    if (stored.empty() || stored.back().content != content) {
      if (!stored.empty() && !(stored.back().content < content)) Malformed();
      stored.push_back({content, std::nullopt, {}, {}});
    }
    StoredContent& forms = stored.back();
    if (fields[1] == "zst" && fields.size() == 4 && !forms.packed) {
      forms.packed = ReadForm(fields[2], fields[3]);
    } else if (fields[1] == "frames" && fields.size() == 3 && forms.packed &&
               forms.frames.empty() && forms.patches.empty()) {
      std::string_view sizes = fields[2];
      for (std::size_t comma; (comma = sizes.find(',')) != std::string_view::npos;) {
        forms.frames.push_back(ReadNumber(sizes.substr(0, comma)));
        sizes.remove_prefix(comma + 1);
      }
      forms.frames.push_back(ReadNumber(sizes));
    } else if (fields[1] == "patch" && fields.size() == 6) {
      forms.patches.push_back(
          {ReadDigest(fields[2]), ReadNumber(fields[3]), ReadForm(fields[4], fields[5])});
    } else {
      Malformed();
    }
  }
  return stored;
}

// Appended piece by piece: GCC 12 warns falsely of overlapping copies in a chain of "+".
void AddFields(std::string& out, std::initializer_list<std::string_view> fields) {
  const char* separator = "";
  for (const std::string_view field : fields) {
    out += separator;
    out += field;
    separator = "\t";
  }
  out += '\n';
}

void AddStored(std::string& out, const StoredContent& forms) {
  const std::string content = forms.content.Text();
  if (forms.packed) {
    AddFields(out,
              {content, "zst", forms.packed->sha256.Text(), std::to_string(forms.packed->size)});
  }
  if (!forms.frames.empty()) {
    std::string sizes;
    for (const std::uint64_t frame : forms.frames) {
      if (!sizes.empty()) sizes += ',';
      sizes += std::to_string(frame);
    }
    AddFields(out, {content, "frames", sizes});
  }
  for (const Patch& patch : forms.patches) {
    AddFields(out, {content, "patch", patch.base.Text(), std::to_string(patch.baseSize),
                    patch.stored.sha256.Text(), std::to_string(patch.stored.size)});
  }
}

void AddSection(std::string& out, std::string_view name, const std::string& text) {
  out += name;
  out += ' ';
  out += std::to_string(text.size());
  out += '\n';
  out += text;
}

// Frames name one frame of bytes for each chunk of their content, and add up to its packed blob.
void CheckFrames(const StoredContent& forms, const Manifest& manifest) {
  const auto chunked =
      std::find_if(manifest.chunks.begin(), manifest.chunks.end(),
                   [&](const ChunkedFile& file) { return file.sha256 == forms.content; });
  if (chunked == manifest.chunks.end() || chunked->chunks.size() != forms.frames.size()) {
    Malformed();
  }
  std::uint64_t total = 0;
  for (const std::uint64_t frame : forms.frames) {
    if (frame == 0 || frame > forms.packed->size - total) Malformed();
    total += frame;
  }
  if (total != forms.packed->size) Malformed();
}

}  // namespace

std::string FormatManifest(const Manifest& manifest) {
  std::string stored;
  for (const StoredContent& forms : manifest.stored) AddStored(stored, forms);
  std::string out(kHeader);
  AddSection(out, "files", FormatFileList(manifest.listed));
  AddSection(out, "chunks",
             manifest.chunks.empty() ? std::string() : FormatChunkIndex(manifest.chunks));
  AddSection(out, "stored", stored);
  return out;
}

Manifest ParseManifest(const std::string& text) {
  return ParseManifest(std::vector<std::string>{text});
}

Manifest ParseManifest(std::vector<std::string> blocks) {
  BlockText text(std::move(blocks));
  if (text.Line(kHeader.size()) + "\n" != kHeader) Malformed();
  Manifest manifest;
  manifest.listed = ParseFileList(text.Take(SectionSize(text, "files")));
  const std::string chunks = Joined(text.Take(SectionSize(text, "chunks")));
  if (!chunks.empty()) manifest.chunks = ParseChunkIndex(chunks);
  manifest.stored = ParseStored(Joined(text.Take(SectionSize(text, "stored"))));
  if (!text.Ended()) Malformed();
  if (manifest.stored.empty()) return manifest;
  std::vector<Digest> contents;
  contents.reserve(manifest.listed.size());
  for (const Listed& entry : manifest.listed) contents.push_back(entry.sha256);
  std::sort(contents.begin(), contents.end());
  for (const StoredContent& forms : manifest.stored) {
    if (!std::binary_search(contents.begin(), contents.end(), forms.content)) Malformed();
    if (!forms.frames.empty()) CheckFrames(forms, manifest);
  }
  return manifest;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> FramePlaces(
    const std::vector<std::uint64_t>& frames) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> places;
  places.reserve(frames.size());
  std::uint64_t offset = 0;
  for (const std::uint64_t frame : frames) {
    places.emplace_back(offset, frame);
    offset += frame;
  }
  return places;
}

const StoredContent* FindStored(const std::vector<StoredContent>& stored, const Digest& content) {
  const auto found = std::lower_bound(
      stored.begin(), stored.end(), content,
      [](const StoredContent& forms, const Digest& wanted) { return forms.content < wanted; });
  return found != stored.end() && found->content == content ? &*found : nullptr;
}

}  // namespace launcher
