/* Resource libraries for the tests, built once per kind (BUNDLE_KIND):
   1 declares a length that overstates its bundle, 2 holds a sound string
   beside an icon whose pixels fall short of its size, 3 is sound but holds
   one string only (no tray menu, no icons). */
// clang-format off
#if BUNDLE_KIND == 2
/* String 920 "x", then icon 700 claiming 2 by 2 pixels with one byte. */
const unsigned int kel3_resource_bundle_size = 54u;
const unsigned char kel3_resource_bundle[] = {
    'K', '3', 'R', 'B', 1, 0, 0, 0, 2, 0, 0, 0,
    4, 0, 0, 0, 0x98, 0x03, 0, 0, 44, 0, 0, 0, 1, 0, 0, 0,
    2, 0, 0, 0, 0xBC, 0x02, 0, 0, 45, 0, 0, 0, 9, 0, 0, 0,
    'x', 2, 0, 0, 0, 2, 0, 0, 0, 0};
#else
/* One string, 920 "x": 29 bytes. */
#if BUNDLE_KIND == 1
const unsigned int kel3_resource_bundle_size = 4096u;
#else
const unsigned int kel3_resource_bundle_size = 29u;
#endif
const unsigned char kel3_resource_bundle[] = {
    'K', '3', 'R', 'B', 1, 0, 0, 0, 1, 0, 0, 0,
    4, 0, 0, 0, 0x98, 0x03, 0, 0, 28, 0, 0, 0, 1, 0, 0, 0,
    'x'};
#endif
// clang-format on
