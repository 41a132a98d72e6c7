// The resource bundle a language resource library exports: one blob of
// little-endian bytes under the C symbol kel3_resource_bundle (with its
// length in kel3_resource_bundle_size), written at build time by
// kel3-rc from a resource script and PNG files.
//
//   header   "K3RB", u32 version (1), u32 entry count
//   entries  count x { u32 type, u32 id, u32 offset, u32 length }
//   data     what the entries point at (offsets from the blob's start)
//
// Types and their data:
//   1 menu    records: u8 kind (0 item, 1 separator, 2 popup start, 3 popup
//             end), u8 flags (1 default, 2 grayed), u32 id, u16 text length,
//             text bytes (UTF-8)
//   2 icon    u32 width, u32 height, width*height u32 ARGB pixels
//   3 bitmap  as icon
//   4 string  the text's bytes (UTF-8, no terminator)
//
// This header is shared by the build-time writer and the loader; it holds
// no code.
#pragma once

#include <cstdint>

namespace kel3::bundle {

inline constexpr char kMagic[4] = {'K', '3', 'R', 'B'};
inline constexpr uint32_t kVersion = 1;
inline constexpr uint32_t kHeaderSize = 12;
inline constexpr uint32_t kEntrySize = 16;
inline constexpr uint32_t kMaxImageSide = 256;
inline constexpr uint32_t kMaxStringLength = 4096;

enum Type : uint32_t { kMenu = 1, kIcon = 2, kBitmap = 3, kString = 4 };
enum MenuRecord : uint8_t { kItem = 0, kSeparator = 1, kPopupStart = 2, kPopupEnd = 3 };
enum MenuFlag : uint8_t { kDefault = 1, kGrayed = 2 };

}  // namespace kel3::bundle
