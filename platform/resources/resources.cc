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
         static_cast<uint32_t>(data_[pos_ + 2]) << 16 |
         static_cast<uint32_t>(data_[pos_ + 3]) << 24;
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

// One menu record; false when it runs past its entry.
struct Record {
  uint8_t kind = 0, flags = 0;
  uint32_t id = 0;
  std::string text;
};

bool NextRecord(Reader* r, Record* out) {
  uint16_t textLength = 0;
  return r->U8(&out->kind) && r->U8(&out->flags) && r->U32(&out->id) && r->U16(&textLength) &&
         r->Bytes(textLength, &out->text);
}

// Popups nest no deeper than this: a tray menu needs two levels, and a
// bound keeps a hostile bundle from building towers of submenus.
constexpr size_t kMaxMenuDepth = 8;

// Walks a menu's records without building anything: every record inside
// the entry, popups opened and closed in order, known kinds only. The
// item texts are collected for listings when texts is given.
bool CheckMenu(const unsigned char* data, size_t length, std::string* texts) {
  Reader r(data, length);
  size_t depth = 0;
  while (!r.done()) {
    Record record;
    if (!NextRecord(&r, &record)) return false;
    if (texts != nullptr && !record.text.empty()) {
      *texts += (texts->empty() ? "" : " | ") + record.text;
    }
    switch (record.kind) {
      case bundle::kItem:
      case bundle::kSeparator:
        break;
      case bundle::kPopupStart:
        if (++depth > kMaxMenuDepth) return false;
        break;
      case bundle::kPopupEnd:
        if (depth == 0) return false;
        --depth;
        break;
      default:
        return false;
    }
  }
  return depth == 0;
}

// Image data: a size within bounds and exactly its pixels.
bool CheckImage(const unsigned char* data, size_t length, uint32_t* width, uint32_t* height) {
  Reader r(data, length);
  uint32_t w = 0, h = 0;
  if (!r.U32(&w) || !r.U32(&h) || w == 0 || h == 0 || w > bundle::kMaxImageSide ||
      h > bundle::kMaxImageSide || length != 8 + static_cast<size_t>(w) * h * 4) {
    return false;
  }
  *width = w;
  *height = h;
  return true;
}

// Checks the header, the entry table and every entry's data. A bundle is
// taken whole or not at all: a library with one damaged entry is a damaged
// library, and its other entries are no more to be trusted.
bool CheckBundle(const unsigned char* bytes, size_t size, Bundle* out,
                 std::vector<BundleEntry>* listing, std::string* error) {
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
  out->entries.clear();
  out->entries.reserve(count);
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
    const unsigned char* data = bytes + e.offset;
    BundleEntry item{e.type, e.id};
    switch (e.type) {
      case bundle::kIcon:
      case bundle::kBitmap:
        if (!CheckImage(data, e.length, &item.width, &item.height)) {
          *error = "image " + std::to_string(e.id) + " has a size that does not match its pixels";
          return false;
        }
        break;
      case bundle::kString:
        if (e.length > bundle::kMaxStringLength) {
          *error = "string " + std::to_string(e.id) + " is too long";
          return false;
        }
        if (listing != nullptr) item.text.assign(reinterpret_cast<const char*>(data), e.length);
        break;
      case bundle::kMenu:
        if (!CheckMenu(data, e.length, listing != nullptr ? &item.text : nullptr)) {
          *error = "menu " + std::to_string(e.id) + " is malformed";
          return false;
        }
        break;
      default:
        *error = "entry of unknown type " + std::to_string(e.type);
        return false;
    }
    out->entries.push_back(e);
    if (listing != nullptr) listing->push_back(std::move(item));
  }
  out->bytes = bytes;
  out->size = size;
  return true;
}

Image ReadImage(const unsigned char* data, size_t length) {
  Image image;
  Reader r(data, length);
  uint32_t w = 0, h = 0;
  r.U32(&w);
  r.U32(&h);
  image.width = static_cast<int>(w);
  image.height = static_cast<int>(h);
  image.argb.resize(static_cast<size_t>(w) * h);
  for (uint32_t& p : image.argb) r.U32(&p);
  return image;
}

// Gives back the submenus already issued for a menu that is not finished.
void DropMenus(std::vector<std::unique_ptr<Menu>>* stack) {
  for (const auto& menu : *stack) {
    for (const MenuItem& item : menu->items) {
      if (item.submenu != nullptr) DestroyMenu(item.submenu);
    }
  }
  stack->clear();
}

// Builds the menu model from records that CheckMenu accepted.
HMENU BuildMenu(const unsigned char* data, size_t length) {
  Reader r(data, length);
  std::vector<std::unique_ptr<Menu>> stack;
  stack.push_back(std::make_unique<Menu>());
  std::vector<MenuItem> holders;  // the item that will hold each open popup
  while (!r.done()) {
    Record record;
    if (!NextRecord(&r, &record)) {
      DropMenus(&stack);
      return nullptr;
    }
    MenuItem item;
    item.text = record.text;
    item.id = record.id;
    if (record.flags & bundle::kDefault) item.state |= MFS_DEFAULT;
    if (record.flags & bundle::kGrayed) item.state |= MFS_GRAYED;
    if (record.kind == bundle::kItem) {
      stack.back()->items.push_back(item);
    } else if (record.kind == bundle::kSeparator) {
      item.type = MFT_SEPARATOR;
      item.text.clear();
      item.id = 0;
      stack.back()->items.push_back(item);
    } else if (record.kind == bundle::kPopupStart && stack.size() <= kMaxMenuDepth) {
      item.id = 0;
      holders.push_back(item);
      stack.push_back(std::make_unique<Menu>());
    } else if (record.kind == bundle::kPopupEnd && stack.size() >= 2) {
      MenuItem holder = holders.back();
      holders.pop_back();
      holder.submenu = IssueMenu(std::move(stack.back()));
      stack.pop_back();
      stack.back()->items.push_back(holder);
    } else {
      DropMenus(&stack);
      return nullptr;
    }
  }
  if (stack.size() != 1) {
    DropMenus(&stack);
    return nullptr;
  }
  return IssueMenu(std::move(stack.front()));
}

// The library's bundle, checked whole. The bytes read are bounded by the
// size the library's symbol table records for the bundle, so a library
// whose declared length overstates its bundle is refused, not read past.
bool ModuleBundle(HMODULE module, Bundle* bundle, std::vector<BundleEntry>* listing,
                  std::string* error) {
  const void* bytes = nullptr;
  size_t extent = 0;
  const void* declared = nullptr;
  size_t declaredExtent = 0;
  if (!ExportExtent(module, "kel3_resource_bundle", &bytes, &extent) ||
      !ExportExtent(module, "kel3_resource_bundle_size", &declared, &declaredExtent)) {
    *error = "the library exports no resource bundle";
    return false;
  }
  uint32_t size = 0;
  if (declaredExtent != sizeof size) {
    *error = "the bundle's length is not a 4-byte number";
    return false;
  }
  std::memcpy(&size, declared, sizeof size);
  if (size > extent) {
    *error = "the bundle's declared length " + std::to_string(size) + " exceeds its " +
             std::to_string(extent) + " bytes";
    return false;
  }
  return CheckBundle(static_cast<const unsigned char*>(bytes), size, bundle, listing, error);
}

const RawEntry* FindIn(HINSTANCE module, uint32_t type, LPCSTR name, Bundle* bundle) {
  std::string error;
  if (!IS_INTRESOURCE(name) || !ModuleBundle(module, bundle, nullptr, &error)) return nullptr;
  const auto id = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(name));
  for (const RawEntry& e : bundle->entries) {
    if (e.type == type && e.id == id) return &e;
  }
  return nullptr;
}

}  // namespace

bool ReadBundle(const unsigned char* bytes, size_t size, std::vector<BundleEntry>* entries,
                std::string* error) {
  Bundle b;
  return CheckBundle(bytes, size, &b, entries, error);
}

bool ReadModuleBundle(HMODULE module, std::vector<BundleEntry>* entries, std::string* error) {
  Bundle b;
  return ModuleBundle(module, &b, entries, error);
}

}  // namespace kel3

HMENU LoadMenuA(HINSTANCE module, LPCSTR name) {
  kel3::Bundle b;
  const kel3::RawEntry* e = kel3::FindIn(module, kel3::bundle::kMenu, name, &b);
  HMENU menu = e != nullptr ? kel3::BuildMenu(b.bytes + e->offset, e->length) : nullptr;
  if (menu == nullptr) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return menu;
}

HANDLE LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT /*flags*/) {
  if (type != IMAGE_ICON && type != IMAGE_BITMAP) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  const uint32_t kind = type == IMAGE_ICON ? kel3::bundle::kIcon : kel3::bundle::kBitmap;
  kel3::Bundle b;
  const kel3::RawEntry* e = kel3::FindIn(module, kind, name, &b);
  if (e == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  kel3::Image image = kel3::ReadImage(b.bytes + e->offset, e->length);
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
  const kel3::RawEntry* e = kel3::FindIn(module, kel3::bundle::kString, MAKEINTRESOURCEA(id), &b);
  if (e == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const unsigned char* text = b.bytes + e->offset;
  size_t n = std::min<size_t>(e->length, static_cast<size_t>(size) - 1);
  // A text cut to the buffer ends before a whole character, never inside
  // one: half a UTF-8 sequence would draw as a replacement mark.
  if (n < e->length) {
    while (n > 0 && (text[n] & 0xC0) == 0x80) --n;
  }
  std::memcpy(buffer, b.bytes + e->offset, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

HBITMAP LoadBitmapA(HINSTANCE module, LPCSTR name) {
  return static_cast<HBITMAP>(LoadImageA(module, name, IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}
