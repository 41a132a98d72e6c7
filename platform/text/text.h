// Text conversion: the one code-page service the program calls,
// MultiByteToWideChar, and the Unicode helpers other services of the layer
// share (UTF-8 and UTF-16 decoding, simple case folding).
//
// The "ANSI code page" of this platform is the locale's encoding, which on
// every machine the suite supports is UTF-8 (LANG=C.UTF-8 and the like), so
// CP_ACP and CP_UTF8 convert the same way. WCHAR is a UTF-16 code unit.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/win32.h"

#define CP_ACP 0
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004L
#endif

// Converts 8-bit text in code page CodePage (CP_ACP or CP_UTF8) to UTF-16.
//   lpMultiByteStr, cbMultiByte: the bytes; cbMultiByte -1 means up to and
//     including the terminating NUL (which is then converted and counted).
//   lpWideCharStr, cchWideChar: the caller's buffer and its size in WCHARs;
//     cchWideChar 0 asks only for the size needed (the buffer is not used).
// Returns the number of WCHARs written (or needed), 0 on failure with the
// last error set:
//   ERROR_INVALID_PARAMETER   null source, cbMultiByte 0 or below -1, a
//                             negative size, a null buffer with a size, or
//                             an unknown code page;
//   ERROR_INVALID_FLAGS       flags other than the MB_ ones above;
//   ERROR_NO_UNICODE_TRANSLATION  MB_ERR_INVALID_CHARS was given and the
//                             bytes are not valid UTF-8 (a stray or missing
//                             continuation byte, an over-long form, a
//                             surrogate, a value above U+10FFFF);
//   ERROR_INSUFFICIENT_BUFFER the buffer is too small (its contents are then
//                             unspecified).
// Without MB_ERR_INVALID_CHARS each invalid byte becomes U+FFFD. The
// composition flags are accepted and change nothing (UTF-8 text carries its
// own composition). Sets the last error to 0 on success, so that a caller
// testing GetLastError right after a success sees no stale translation error.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

namespace kel3 {

// Decodes UTF-8 into code points. Returns false (out unspecified) when the
// bytes are not valid UTF-8 in the strict sense described above.
bool Utf8ToUtf32(std::string_view bytes, std::u32string* out);

// Decodes UTF-16; false on an unpaired surrogate.
bool Utf16ToUtf32(std::u16string_view units, std::u32string* out);

// Encodes code points as UTF-8 (code points are taken as valid).
std::string Utf32ToUtf8(std::u32string_view text);

// Simple (one-to-one) case folding: maps an upper-case letter to its
// lower-case partner for ASCII, Latin-1, Latin Extended-A/B and Additional,
// Greek and Cyrillic; every other code point maps to itself. Final sigma
// folds to sigma and the long s to s, so that names that differ only in
// letter case compare equal.
char32_t SimpleCaseFold(char32_t c);

// True when the two texts are equal after simple case folding.
bool EqualsIgnoringCase(std::u32string_view a, std::u32string_view b);

}  // namespace kel3
