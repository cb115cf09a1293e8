#include "launcher/feed/manifest.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <string_view>

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

// Reads the next section, which must be `name`, off the front of `rest`.
std::string_view Section(std::string_view& rest, std::string_view name) {
  const std::size_t lineEnd = rest.find('\n');
  if (lineEnd == std::string_view::npos) Malformed();
  const std::string_view line = rest.substr(0, lineEnd);
  if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != ' ') {
    Malformed();
  }
  const std::uint64_t size = ReadNumber(line.substr(name.size() + 1));
  rest.remove_prefix(lineEnd + 1);
  if (size > rest.size()) Malformed();
  const std::string_view section = rest.substr(0, static_cast<std::size_t>(size));
  rest.remove_prefix(static_cast<std::size_t>(size));
  return section;
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
  std::string_view rest(text);
  if (!rest.starts_with(kHeader)) Malformed();
  rest.remove_prefix(kHeader.size());
  Manifest manifest;
  manifest.listed = ParseFileList(std::string(Section(rest, "files")));
  const std::string_view chunks = Section(rest, "chunks");
  if (!chunks.empty()) manifest.chunks = ParseChunkIndex(std::string(chunks));
  manifest.stored = ParseStored(Section(rest, "stored"));
  if (!rest.empty()) Malformed();
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
