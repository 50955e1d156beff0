// 8-bit grayscale PNG files: signature, IHDR, IDAT chunks of the deflated
// lines (each line led by filter byte 0), IEND; every chunk with its CRC.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kit/kit.h"

namespace kit {
namespace {

constexpr std::size_t kIdatBytes = 65536;  // most compressed bytes in one IDAT chunk
constexpr int kMaxPngSide = 65535;

void PutBigEndian(std::string &out, std::uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>(v >> 16 & 0xff);
  out += static_cast<char>(v >> 8 & 0xff);
  out += static_cast<char>(v & 0xff);
}

// Appends a chunk: length, type, data, CRC of type and data.
void PutChunk(std::string &out, const char type[4], const unsigned char *data, std::size_t size) {
  PutBigEndian(out, static_cast<std::uint32_t>(size));
  std::size_t type_at = out.size();
  out.append(type, 4);
  if (size > 0) out.append(reinterpret_cast<const char *>(data), size);
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef *>(out.data() + type_at), static_cast<uInt>(size + 4));
  PutBigEndian(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

bool WriteGrayPng(const std::string &path, int width, int height, const std::vector<unsigned char> &pixels,
                  std::string &error) {
  if (width < 1 || height < 1 || width > kMaxPngSide || height > kMaxPngSide) {
    error = path + ": picture size " + std::to_string(width) + "x" + std::to_string(height) + " out of range";
    return false;
  }
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  if (pixels.size() != w * h) {
    error = path + ": " + std::to_string(pixels.size()) + " pixels for a " + std::to_string(width) + "x" +
            std::to_string(height) + " picture";
    return false;
  }
  std::vector<unsigned char> raw;
  raw.reserve(h * (w + 1));
  for (std::size_t y = 0; y < h; ++y) {
    raw.push_back(0);  // filter: none
    raw.insert(raw.end(), pixels.begin() + static_cast<std::ptrdiff_t>(y * w),
               pixels.begin() + static_cast<std::ptrdiff_t>((y + 1) * w));
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> packed(packed_size);
  if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) !=
      Z_OK) {
    error = path + ": compression failed";
    return false;
  }

  std::string file("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBigEndian(header, static_cast<std::uint32_t>(width));
  PutBigEndian(header, static_cast<std::uint32_t>(height));
  header += '\x08';  // bit depth
  header += '\x00';  // colour type: grayscale
  header += '\x00';  // compression: deflate
  header += '\x00';  // filter method
  header += '\x00';  // no interlace
  PutChunk(file, "IHDR", reinterpret_cast<const unsigned char *>(header.data()), header.size());
  for (std::size_t at = 0; at < packed_size; at += kIdatBytes) {
    std::size_t n = packed_size - at < kIdatBytes ? packed_size - at : kIdatBytes;
    PutChunk(file, "IDAT", packed.data() + at, n);
  }
  PutChunk(file, "IEND", nullptr, 0);
  return WriteWholeFile(path, file.data(), file.size(), error);
}

}  // namespace kit
