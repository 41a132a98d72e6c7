// Icon and bitmap objects and image scaling.
#include <gtest/gtest.h>

#include "platform/gdi/gdi.h"
#include "platform/gdi/image.h"

namespace {

kel3::Image Solid(int w, int h, uint32_t argb) {
  kel3::Image image;
  image.width = w;
  image.height = h;
  image.argb.assign(static_cast<size_t>(w) * h, argb);
  return image;
}

TEST(Gdi, ObjectsLiveUntilDeletedAndKeepTheirKind) {
  HBITMAP bitmap = kel3::CreateBitmapFromImage(Solid(20, 10, 0xFF112233));
  HICON icon = kel3::CreateIconFromImage(Solid(16, 16, 0x80FFFFFF));
  ASSERT_NE(bitmap, nullptr);
  ASSERT_NE(icon, nullptr);
  BITMAP bm{};
  EXPECT_EQ(GetObjectA(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 20);
  EXPECT_EQ(bm.bmHeight, 10);
  EXPECT_EQ(GetObjectA(icon, sizeof bm, &bm), 0);  // not a bitmap
  EXPECT_EQ(GetObjectA(bitmap, 4, &bm), 0);
  EXPECT_EQ(kel3::IconImage(reinterpret_cast<HICON>(bitmap)), nullptr);
  EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(bitmap)));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(kel3::BitmapImage(bitmap), nullptr);
  EXPECT_TRUE(DestroyIcon(icon));
}

TEST(Gdi, MalformedImagesAreRefused) {
  kel3::Image bad = Solid(4, 4, 0);
  bad.argb.pop_back();
  EXPECT_EQ(kel3::CreateIconFromImage(bad), nullptr);
  EXPECT_EQ(kel3::CreateBitmapFromImage(kel3::Image{}), nullptr);
}

TEST(Gdi, ScalingKeepsAlphaAndDoesNotDarkenEdges) {
  kel3::Image src = Solid(2, 1, 0);
  src.argb[0] = 0xFFFF0000;  // opaque red
  src.argb[1] = 0x00000000;  // transparent black
  const kel3::Image one = kel3::ScaleImage(src, 1, 1);
  ASSERT_EQ(one.argb.size(), 1u);
  EXPECT_EQ(one.argb[0] >> 24, 0x7Fu);                // half coverage
  EXPECT_EQ(one.argb[0] & 0x00FFFFFF, 0x00FF0000u);  // still pure red
  const kel3::Image big = kel3::ScaleImage(Solid(16, 16, 0xFF00FF00), 22, 22);
  EXPECT_EQ(big.width, 22);
  for (uint32_t p : big.argb) ASSERT_EQ(p, 0xFF00FF00u);
}

}  // namespace
