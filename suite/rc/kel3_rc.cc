// kel3-rc: the build-time resource compiler. Reads a resource script and
// the PNG files it names and writes a C source file that defines the
// bundle a language resource library exports (see
// platform/resources/bundle_format.h).
//
// Script lines (blank lines and lines starting with # are ignored):
//   string ID "text"              (UTF-8; \" and \\ escapes)
//   icon ID file.png
//   bitmap ID file.png
//   menu ID                       then, until "end":
//     popup "text" ... end        (nested)
//     item ID "text" [default] [grayed]
//     separator
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/resources/bundle_format.h"

namespace {

using Bytes = std::vector<unsigned char>;

[[noreturn]] void Die(const std::string& where, const std::string& why) {
  std::fprintf(stderr, "kel3-rc: %s: %s\n", where.c_str(), why.c_str());
  std::exit(1);
}

void Put32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(v >> (8 * i)));
}

Bytes ReadPng(const std::string& path, const std::string& where) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) Die(where, "cannot read " + path);
  image.format = PNG_FORMAT_BGRA;  // little-endian ARGB words
  if (image.width == 0 || image.height == 0 || image.width > kel3::bundle::kMaxImageSide ||
      image.height > kel3::bundle::kMaxImageSide) {
    Die(where, path + " is larger than 256 by 256");
  }
  Bytes pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    Die(where, "cannot decode " + path);
  }
  Bytes out;
  Put32(&out, image.width);
  Put32(&out, image.height);
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

// Reads a quoted string from the stream.
std::string Quoted(std::istringstream& in, const std::string& where) {
  in >> std::ws;
  if (in.get() != '"') Die(where, "expected a quoted text");
  std::string text;
  for (int c; (c = in.get()) != EOF;) {
    if (c == '"') return text;
    if (c == '\\') c = in.get();
    if (c == EOF) break;
    text += static_cast<char>(c);
  }
  Die(where, "unterminated text");
}

void MenuRecord(Bytes* out, uint8_t kind, uint8_t flags, uint32_t id, const std::string& text,
                const std::string& where) {
  if (text.size() > 0xFFFF) Die(where, "a menu text is longer than 65535 bytes");
  out->push_back(kind);
  out->push_back(flags);
  Put32(out, id);
  out->push_back(static_cast<unsigned char>(text.size() & 0xFF));
  out->push_back(static_cast<unsigned char>(text.size() >> 8));
  out->insert(out->end(), text.begin(), text.end());
}

struct Entry {
  uint32_t type;
  uint32_t id;
  Bytes data;
};

}  // namespace

constexpr char kUsage[] =
    "usage: kel3-rc SCRIPT PNG-FOLDER OUTPUT.c\n"
    "Compiles a resource script and the PNG files it names (looked up in\n"
    "PNG-FOLDER) into a C source file that defines a language resource\n"
    "library's bundle. Script lines:\n"
    "  string ID \"text\"      icon ID file.png      bitmap ID file.png\n"
    "  menu ID ... end       with popup \"text\" ... end, item ID \"text\"\n"
    "                        [default] [grayed], separator\n";

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 4) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string script = argv[1];
  const std::string folder = argv[2];
  std::ifstream file(script);
  if (!file) Die(script, "cannot read");
  std::vector<Entry> entries;
  Entry* menu = nullptr;
  int depth = 0;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const std::string where = script + ":" + std::to_string(number);
    std::istringstream in(line);
    std::string word;
    if (!(in >> word) || word[0] == '#') continue;
    if (menu != nullptr) {
      if (word == "end") {
        if (depth == 0) {
          menu = nullptr;
        } else {
          MenuRecord(&menu->data, kel3::bundle::kPopupEnd, 0, 0, "", where);
          --depth;
        }
      } else if (word == "popup") {
        if (depth == 8) Die(where, "popups nest deeper than 8 levels");
        MenuRecord(&menu->data, kel3::bundle::kPopupStart, 0, 0, Quoted(in, where), where);
        ++depth;
      } else if (word == "separator") {
        MenuRecord(&menu->data, kel3::bundle::kSeparator, 0, 0, "", where);
      } else if (word == "item") {
        uint32_t id = 0;
        if (!(in >> id)) Die(where, "item needs an id");
        const std::string text = Quoted(in, where);
        uint8_t flags = 0;
        for (std::string option; in >> option;) {
          if (option == "default")
            flags |= kel3::bundle::kDefault;
          else if (option == "grayed")
            flags |= kel3::bundle::kGrayed;
          else
            Die(where, "unknown item option " + option);
        }
        MenuRecord(&menu->data, kel3::bundle::kItem, flags, id, text, where);
      } else {
        Die(where, "unknown menu line " + word);
      }
      continue;
    }
    uint32_t id = 0;
    if (!(in >> id)) Die(where, word + " needs an id");
    const uint32_t type = word == "string"   ? kel3::bundle::kString
                          : word == "icon"   ? kel3::bundle::kIcon
                          : word == "bitmap" ? kel3::bundle::kBitmap
                                             : kel3::bundle::kMenu;
    for (const Entry& e : entries) {
      // The loader takes the first of two entries with one id: the second
      // would never be seen, which is a mistake in the script.
      if (e.type == type && e.id == id) Die(where, word + " " + std::to_string(id) + " twice");
    }
    if (word == "string") {
      const std::string text = Quoted(in, where);
      if (text.size() > kel3::bundle::kMaxStringLength) {
        Die(where,
            "a string is longer than " + std::to_string(kel3::bundle::kMaxStringLength) + " bytes");
      }
      entries.push_back({kel3::bundle::kString, id, Bytes(text.begin(), text.end())});
    } else if (word == "icon" || word == "bitmap") {
      std::string png;
      if (!(in >> png)) Die(where, word + " needs a PNG file");
      std::string path = folder;
      path += '/';
      path += png;
      entries.push_back(
          {word == "icon" ? kel3::bundle::kIcon : kel3::bundle::kBitmap, id, ReadPng(path, where)});
    } else if (word == "menu") {
      entries.push_back({kel3::bundle::kMenu, id, {}});
      menu = &entries.back();
      depth = 0;
    } else {
      Die(where, "unknown line " + word);
    }
  }
  if (menu != nullptr) Die(script, "a menu is not closed with end");

  Bytes blob(kel3::bundle::kMagic, kel3::bundle::kMagic + 4);
  Put32(&blob, kel3::bundle::kVersion);
  Put32(&blob, static_cast<uint32_t>(entries.size()));
  uint32_t offset = kel3::bundle::kHeaderSize + kel3::bundle::kEntrySize * entries.size();
  for (const Entry& e : entries) {
    Put32(&blob, e.type);
    Put32(&blob, e.id);
    Put32(&blob, offset);
    Put32(&blob, static_cast<uint32_t>(e.data.size()));
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const Entry& e : entries) blob.insert(blob.end(), e.data.begin(), e.data.end());

  std::ofstream out(argv[3]);
  out << "/* Written by kel3-rc from " << script << "; do not edit. */\n"
      << "__attribute__((visibility(\"default\"))) const unsigned int kel3_resource_bundle_size = "
      << blob.size() << "u;\n"
      << "__attribute__((visibility(\"default\"))) const unsigned char kel3_resource_bundle[] = {";
  for (size_t i = 0; i < blob.size(); ++i) {
    if (i % 16 == 0) out << "\n ";
    out << " " << static_cast<unsigned>(blob[i]) << ",";
  }
  out << "\n};\n";
  return out ? 0 : 1;
}
