/*
** The tests' own catalog encoder and decoder (catalog_encoder.h). Bytes are
** put together by shifting, one field at a time, on purpose without the
** project's big-endian helpers.
*/
#include "catalog_encoder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace catalog_test {
namespace {

void put(std::string &out, uint64_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

uint64_t get(const std::string &in, std::size_t at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value = (value << 8) | static_cast<unsigned char>(in[at + i]);
  return value;
}

}  // namespace

std::string encode_catalog(std::vector<message> messages, entry_width width) {
  std::stable_sort(messages.begin(), messages.end(),
                   [](const message &a, const message &b) { return a.number < b.number; });
  const bool wide = width == entry_width::wide;
  const std::size_t entry_size = wide ? 10 : 8;
  std::string out;
  put(out, wide ? 0xFE69 : 0xFE68, 2);
  put(out, messages.size(), 2);
  uint64_t offset = 4 + entry_size * messages.size();
  for (const message &m : messages) {
    put(out, static_cast<uint32_t>(m.number), wide ? 4 : 2);
    put(out, m.text.size(), 2);
    put(out, offset, 4);
    offset += m.text.size();
  }
  for (const message &m : messages)
    out += m.text;
  return out;
}

void write_catalog(const std::string &path, const std::vector<message> &messages,
                   entry_width width) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  std::string bytes = encode_catalog(messages, width);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::optional<std::vector<message>> decode_catalog(const std::string &bytes) {
  if (bytes.size() < 4) return std::nullopt;
  uint64_t magic = get(bytes, 0, 2);
  if (magic != 0xFE68 && magic != 0xFE69) return std::nullopt;
  const bool wide = magic == 0xFE69;
  const std::size_t entry_size = wide ? 10 : 8;
  const std::size_t count = get(bytes, 2, 2);
  if (4 + count * entry_size > bytes.size()) return std::nullopt;
  std::vector<message> messages;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t at = 4 + i * entry_size;
    int32_t number =
        wide ? static_cast<int32_t>(get(bytes, at, 4)) : static_cast<int16_t>(get(bytes, at, 2));
    std::size_t rest = at + (wide ? 4 : 2);
    std::size_t length = get(bytes, rest, 2);
    std::size_t offset = get(bytes, rest + 2, 4);
    if (length > 32767 || offset + length > bytes.size()) return std::nullopt;
    if (!messages.empty() && messages.back().number >= number) return std::nullopt;
    messages.push_back({number, bytes.substr(offset, length)});
  }
  return messages;
}

std::vector<message> spread_messages(int count) {
  std::vector<message> messages;
  for (int i = 0; i < count; ++i) {
    int32_t number = -100 + 10 * i;
    messages.push_back({number, "text of " + std::to_string(number)});
  }
  return messages;
}

}  // namespace catalog_test
