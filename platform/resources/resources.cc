// Reading a library's resource bundle, every read checked against the
// bundle's length, and the loaders built on it.
#include "platform/resources/resources.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/image.h"
#include "platform/library/library.h"
#include "platform/menus/menu_model.h"
#include "platform/resources/bundle_format.h"

namespace kel3 {
namespace {

// A bounded reader over the blob: every read checks the remaining length.
class Reader {
 public:
  Reader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  bool U8(uint8_t* v) {
    if (pos_ + 1 > size_) return false;
    *v = data_[pos_++];
    return true;
  }
  bool U16(uint16_t* v) {
    if (pos_ + 2 > size_) return false;
    *v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    if (pos_ + 4 > size_) return false;
    *v = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
         static_cast<uint32_t>(data_[pos_ + 2]) << 16 | static_cast<uint32_t>(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return true;
  }
  bool Bytes(size_t n, std::string* out) {
    if (n > size_ - pos_) return false;
    out->assign(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return true;
  }
  bool done() const { return pos_ == size_; }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
};

struct RawEntry {
  uint32_t type, id, offset, length;
};

struct Bundle {
  const unsigned char* bytes = nullptr;
  size_t size = 0;
  std::vector<RawEntry> entries;
};

bool ParseHeader(const unsigned char* bytes, size_t size, Bundle* out, std::string* error) {
  if (bytes == nullptr || size < bundle::kHeaderSize ||
      std::memcmp(bytes, bundle::kMagic, 4) != 0) {
    *error = "not a resource bundle";
    return false;
  }
  Reader r(bytes + 4, size - 4);
  uint32_t version = 0, count = 0;
  r.U32(&version);
  r.U32(&count);
  if (version != bundle::kVersion) {
    *error = "bundle version " + std::to_string(version) + " is not 1";
    return false;
  }
  if (count > (size - bundle::kHeaderSize) / bundle::kEntrySize) {
    *error = "entry table runs past the bundle";
    return false;
  }
  Reader table(bytes + bundle::kHeaderSize, size - bundle::kHeaderSize);
  for (uint32_t i = 0; i < count; ++i) {
    RawEntry e{};
    table.U32(&e.type);
    table.U32(&e.id);
    table.U32(&e.offset);
    table.U32(&e.length);
    if (e.offset > size || e.length > size - e.offset) {
      *error = "entry " + std::to_string(i) + " points past the bundle";
      return false;
    }
    out->entries.push_back(e);
  }
  out->bytes = bytes;
  out->size = size;
  return true;
}

bool ParseImage(const unsigned char* data, size_t length, Image* image) {
  Reader r(data, length);
  uint32_t w = 0, h = 0;
  if (!r.U32(&w) || !r.U32(&h) || w == 0 || h == 0 || w > bundle::kMaxImageSide ||
      h > bundle::kMaxImageSide || length != 8 + static_cast<size_t>(w) * h * 4) {
    return false;
  }
  image->width = static_cast<int>(w);
  image->height = static_cast<int>(h);
  image->argb.resize(static_cast<size_t>(w) * h);
  for (uint32_t& p : image->argb) r.U32(&p);
  return true;
}

// Builds menu models from the records; false for records that do not nest
// or run past their entry.
bool ParseMenu(const unsigned char* data, size_t length, std::unique_ptr<Menu>* out,
               std::string* texts) {
  Reader r(data, length);
  std::vector<std::unique_ptr<Menu>> stack;
  stack.push_back(std::make_unique<Menu>());
  std::vector<MenuItem> popupItems;  // the item that will hold each open popup
  while (!r.done()) {
    uint8_t kind = 0, flags = 0;
    uint32_t id = 0;
    uint16_t textLength = 0;
    std::string text;
    if (!r.U8(&kind) || !r.U8(&flags) || !r.U32(&id) || !r.U16(&textLength) ||
        !r.Bytes(textLength, &text)) {
      return false;
    }
    if (texts != nullptr && !text.empty()) *texts += (texts->empty() ? "" : " | ") + text;
    MenuItem item;
    item.text = text;
    item.id = id;
    if (flags & bundle::kDefault) item.state |= MFS_DEFAULT;
    if (flags & bundle::kGrayed) item.state |= MFS_GRAYED;
    switch (kind) {
      case bundle::kItem:
        stack.back()->items.push_back(item);
        break;
      case bundle::kSeparator:
        item.type = MFT_SEPARATOR;
        item.text.clear();
        stack.back()->items.push_back(item);
        break;
      case bundle::kPopupStart:
        if (stack.size() > 8) return false;  // deeper than any menu needs
        popupItems.push_back(item);
        stack.push_back(std::make_unique<Menu>());
        break;
      case bundle::kPopupEnd: {
        if (stack.size() < 2) return false;
        MenuItem holder = popupItems.back();
        popupItems.pop_back();
        holder.id = 0;
        holder.submenu = IssueMenu(std::move(stack.back()));
        stack.pop_back();
        stack.back()->items.push_back(holder);
        break;
      }
      default:
        return false;
    }
  }
  if (stack.size() != 1) return false;
  *out = std::move(stack.front());
  return true;
}

// The library's bundle, checked; false when it has none or it is malformed.
bool ModuleBundle(HMODULE module, Bundle* bundle, std::string* error) {
  auto bytes = reinterpret_cast<const unsigned char*>(GetProcAddress(module, "kel3_resource_bundle"));
  auto size = reinterpret_cast<const uint32_t*>(GetProcAddress(module, "kel3_resource_bundle_size"));
  if (bytes == nullptr || size == nullptr) {
    *error = "the library exports no resource bundle";
    return false;
  }
  return ParseHeader(bytes, *size, bundle, error);
}

const RawEntry* Find(const Bundle& b, uint32_t type, uint32_t id) {
  for (const RawEntry& e : b.entries) {
    if (e.type == type && e.id == id) return &e;
  }
  return nullptr;
}

const RawEntry* FindIn(HINSTANCE module, uint32_t type, LPCSTR name, Bundle* bundle) {
  std::string error;
  if (!IS_INTRESOURCE(name) || !ModuleBundle(module, bundle, &error)) return nullptr;
  return Find(*bundle, type, static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(name)));
}

}  // namespace

bool ReadBundle(const unsigned char* bytes, size_t size, std::vector<BundleEntry>* entries,
                std::string* error) {
  Bundle b;
  if (!ParseHeader(bytes, size, &b, error)) return false;
  for (const RawEntry& e : b.entries) {
    BundleEntry out{e.type, e.id};
    const unsigned char* data = b.bytes + e.offset;
    if (e.type == bundle::kIcon || e.type == bundle::kBitmap) {
      Image image;
      if (!ParseImage(data, e.length, &image)) {
        *error = "image " + std::to_string(e.id) + " has a size that does not match its pixels";
        return false;
      }
      out.width = static_cast<uint32_t>(image.width);
      out.height = static_cast<uint32_t>(image.height);
    } else if (e.type == bundle::kString) {
      if (e.length > bundle::kMaxStringLength) {
        *error = "string " + std::to_string(e.id) + " is too long";
        return false;
      }
      out.text.assign(reinterpret_cast<const char*>(data), e.length);
    } else if (e.type == bundle::kMenu) {
      std::unique_ptr<Menu> menu;
      if (!ParseMenu(data, e.length, &menu, &out.text)) {
        *error = "menu " + std::to_string(e.id) + " is malformed";
        return false;
      }
      // The parse made submenus; give them back.
      HMENU handle = IssueMenu(std::move(menu));
      DestroyMenu(handle);
    } else {
      *error = "entry of unknown type " + std::to_string(e.type);
      return false;
    }
    entries->push_back(out);
  }
  return true;
}

bool ReadModuleBundle(HMODULE module, std::vector<BundleEntry>* entries, std::string* error) {
  Bundle b;
  if (!ModuleBundle(module, &b, error)) return false;
  return ReadBundle(b.bytes, b.size, entries, error);
}

}  // namespace kel3

HMENU LoadMenuA(HINSTANCE module, LPCSTR name) {
  kel3::Bundle b;
  const kel3::RawEntry* e = kel3::FindIn(module, kel3::bundle::kMenu, name, &b);
  if (e == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  std::unique_ptr<kel3::Menu> menu;
  if (!kel3::ParseMenu(b.bytes + e->offset, e->length, &menu, nullptr)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return kel3::IssueMenu(std::move(menu));
}

HANDLE LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT /*flags*/) {
  const uint32_t kind = type == IMAGE_ICON ? kel3::bundle::kIcon : kel3::bundle::kBitmap;
  kel3::Bundle b;
  const kel3::RawEntry* e = kel3::FindIn(module, kind, name, &b);
  kel3::Image image;
  if (e == nullptr || !kel3::ParseImage(b.bytes + e->offset, e->length, &image)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  if (cx > 0 && cy > 0 && (cx != image.width || cy != image.height)) {
    image = kel3::ScaleImage(image, cx, cy);
  }
  return type == IMAGE_ICON ? static_cast<HANDLE>(kel3::CreateIconFromImage(image))
                            : static_cast<HANDLE>(kel3::CreateBitmapFromImage(image));
}

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  kel3::Bundle b;
  const kel3::RawEntry* e =
      kel3::FindIn(module, kel3::bundle::kString, MAKEINTRESOURCEA(id), &b);
  if (e == nullptr) return 0;
  const size_t n = std::min<size_t>(e->length, static_cast<size_t>(size) - 1);
  std::memcpy(buffer, b.bytes + e->offset, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

HBITMAP LoadBitmapA(HINSTANCE module, LPCSTR name) {
  return static_cast<HBITMAP>(LoadImageA(module, name, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}
