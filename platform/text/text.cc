// UTF-8 / UTF-16 conversion and simple case folding for the layer.
#include "platform/text/text.h"

#include <algorithm>
#include <cstring>

namespace kel3 {

bool DecodeOneForConversion(std::string_view bytes, size_t* i, char32_t* cp);

namespace {

// Decodes one code point at bytes[i]; on success advances i and returns
// true. On an invalid sequence leaves i on the first bad byte and returns
// false.
bool DecodeOne(std::string_view bytes, size_t* i, char32_t* cp) {
  const auto b0 = static_cast<unsigned char>(bytes[*i]);
  if (b0 < 0x80) {
    *cp = b0;
    ++*i;
    return true;
  }
  int extra;
  char32_t value;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1;
    value = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2;
    value = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3;
    value = b0 & 0x07;
    min = 0x10000;
  } else {
    return false;  // continuation byte, C0/C1 over-long lead, or F5..FF
  }
  if (bytes.size() - *i <= static_cast<size_t>(extra)) return false;
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(bytes[*i + k]);
    if ((b & 0xC0) != 0x80) return false;
    value = (value << 6) | (b & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *cp = value;
  *i += extra + 1;
  return true;
}

}  // namespace

bool DecodeOneForConversion(std::string_view bytes, size_t* i, char32_t* cp) {
  return DecodeOne(bytes, i, cp);
}

bool Utf8ToUtf32(std::string_view bytes, std::u32string* out) {
  out->clear();
  size_t i = 0;
  while (i < bytes.size()) {
    char32_t cp;
    if (!DecodeOne(bytes, &i, &cp)) return false;
    out->push_back(cp);
  }
  return true;
}

bool Utf16ToUtf32(std::u16string_view units, std::u32string* out) {
  out->clear();
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units.size()) return false;
      const char16_t lo = units[i + 1];
      if (lo < 0xDC00 || lo > 0xDFFF) return false;
      out->push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (lo - 0xDC00));
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    } else {
      out->push_back(u);
    }
  }
  return true;
}

std::string Utf32ToUtf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

char32_t SimpleCaseFold(char32_t c) {
  // Ranges where upper and lower case alternate, upper case first at an
  // even (or odd) code point.
  auto even_pair = [c](char32_t lo, char32_t hi) { return c >= lo && c <= hi && (c % 2) == 0; };
  auto odd_pair = [c](char32_t lo, char32_t hi) { return c >= lo && c <= hi && (c % 2) == 1; };

  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
  if (c < 0x100) {
    if (c == 0xB5) return 0x3BC;  // micro sign folds to Greek mu
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    return c;
  }
  // Latin Extended-A.
  if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149) return c;
  if (c == 0x178) return 0xFF;
  if (c == 0x17F) return 's';
  if (even_pair(0x100, 0x137) || odd_pair(0x139, 0x148) || even_pair(0x14A, 0x177) ||
      odd_pair(0x179, 0x17E))
    return c + 1;
  // Latin Extended-B, the regular runs.
  if (odd_pair(0x1CD, 0x1DC) || even_pair(0x1DE, 0x1EF) || even_pair(0x1F8, 0x21F) ||
      even_pair(0x222, 0x233) || even_pair(0x246, 0x24F))
    return c + 1;
  // Greek.
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if ((c >= 0x391 && c <= 0x3A1) || (c >= 0x3A3 && c <= 0x3AB)) return c + 0x20;
  if (c == 0x3C2) return 0x3C3;  // final sigma
  if (even_pair(0x3D8, 0x3EF)) return c + 1;
  // Cyrillic.
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (even_pair(0x460, 0x481) || even_pair(0x48A, 0x4BF) || even_pair(0x4D0, 0x52F)) return c + 1;
  if (c == 0x4C0) return 0x4CF;
  if (odd_pair(0x4C1, 0x4CE)) return c + 1;
  // Latin Extended Additional.
  if (c == 0x1E9E) return 0xDF;  // capital sharp s
  if (even_pair(0x1E00, 0x1E95) || even_pair(0x1EA0, 0x1EFF)) return c + 1;
  return c;
}

bool EqualsIgnoringCase(std::u32string_view a, std::u32string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (SimpleCaseFold(a[i]) != SimpleCaseFold(b[i])) return false;
  }
  return true;
}

}  // namespace kel3

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  constexpr DWORD kKnownFlags =
      MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
  if (CodePage != CP_ACP && CodePage != CP_UTF8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((dwFlags & ~kKnownFlags) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (lpWideCharStr == nullptr && cchWideChar != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const std::string_view bytes(lpMultiByteStr, length);
  const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;

  std::u16string units;
  size_t i = 0;
  while (i < bytes.size()) {
    char32_t cp;
    if (!kel3::DecodeOneForConversion(bytes, &i, &cp)) {
      if (strict) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      cp = 0xFFFD;
      ++i;
    }
    if (cp >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
  }
  if (units.size() > 0x7FFFFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int needed = static_cast<int>(units.size());
  if (cchWideChar == 0) {
    SetLastError(ERROR_SUCCESS);
    return needed;
  }
  if (needed > cchWideChar) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(units.begin(), units.end(), lpWideCharStr);
  SetLastError(ERROR_SUCCESS);
  return needed;
}
