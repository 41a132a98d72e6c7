// The visible services on the headless backend: the popup's record and
// scripted choice, owner-drawn entries measured and drawn through the
// owner, message boxes, keyboard and pointer state, and drawing contexts
// measuring with a fixed advance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dialogs/dialogs.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_headless.h"
#include "platform/gdi/image.h"
#include "platform/menus/menus.h"
#include "platform/windowing/headless.h"
#include "platform/windowing/windowing.h"

namespace {

struct Seen {
  std::vector<MEASUREITEMSTRUCT> measured;
  std::vector<DRAWITEMSTRUCT> drawn;
};
Seen g_seen;

// An owner drawing its entries as a frame would: a label with TextOutA.
LRESULT OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_MEASUREITEM) {
    auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    g_seen.measured.push_back(*m);
    m->itemWidth = 150;
    m->itemHeight = 30;
    return TRUE;
  }
  if (msg == WM_DRAWITEM) {
    auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
    g_seen.drawn.push_back(*d);
    const std::string label = "item " + std::to_string(d->itemData);
    TextOutA(d->hDC, d->rcItem.left + 4, d->rcItem.top + 2, label.c_str(),
             static_cast<int>(label.size()));
    return TRUE;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class HeadlessUi : public ::testing::Test {
 protected:
  void SetUp() override {
    kel3::SelectWindowingBackend(kel3::WindowingBackend::kHeadless);
    kel3::headless::Reset();
    kel3::headless::ClearPopups();
    kel3::headless::ClearMessageBoxes();
    kel3::headless::ClearDrawCalls();
    g_seen = {};
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "Kel3UiOwner";
    RegisterClassA(&wc);
    owner_ = CreateWindowExA(0, "Kel3UiOwner", "owner", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(owner_, nullptr);
    menu_ = CreatePopupMenu();
    AppendMenuA(menu_, MF_OWNERDRAW, 101, reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(7)));
    AppendMenuA(menu_, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu_, MF_STRING, 102, "Open");
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    info.fState = MFS_DEFAULT;
    SetMenuItemInfoA(menu_, 102, FALSE, &info);
  }
  void TearDown() override { DestroyMenu(menu_); }

  std::vector<kel3::headless::PostRecord> Commands() {
    std::vector<kel3::headless::PostRecord> out;
    for (const auto& p : kel3::headless::Posted()) {
      if (p.message == WM_COMMAND) out.push_back(p);
    }
    return out;
  }

  HWND owner_ = nullptr;
  HMENU menu_ = nullptr;
};

TEST_F(HeadlessUi, PopupRecordsItemsAndPositionAndPostsTheScriptedChoice) {
  kel3::headless::SetNextMenuChoice(102);
  EXPECT_TRUE(TrackPopupMenu(menu_, TPM_RIGHTBUTTON, 40, 50, 0, owner_, nullptr));
  const auto shown = kel3::headless::PopupsShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].x, 40);
  EXPECT_EQ(shown[0].y, 50);
  ASSERT_EQ(shown[0].items.size(), 3u);
  EXPECT_EQ(shown[0].items[0].type, static_cast<UINT>(MFT_OWNERDRAW));
  EXPECT_EQ(shown[0].items[1].type, static_cast<UINT>(MFT_SEPARATOR));
  EXPECT_EQ(shown[0].items[2].text, "Open");
  EXPECT_NE(shown[0].items[2].state & MFS_DEFAULT, 0u);
  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].hwnd, owner_);
  EXPECT_EQ(commands[0].wParam, 102u);

  // The choice is used once: the next popup cancels unless told otherwise.
  kel3::headless::ClearPosted();
  EXPECT_FALSE(TrackPopupMenu(menu_, TPM_RIGHTBUTTON, 0, 0, 0, owner_, nullptr));
  EXPECT_TRUE(Commands().empty());
}

TEST_F(HeadlessUi, OwnerDrawnEntriesAreMeasuredAndDrawnThroughTheOwner) {
  TrackPopupMenu(menu_, TPM_RIGHTBUTTON, 0, 0, 0, owner_, nullptr);
  ASSERT_EQ(g_seen.measured.size(), 1u);
  EXPECT_EQ(g_seen.measured[0].CtlType, static_cast<UINT>(ODT_MENU));
  EXPECT_EQ(g_seen.measured[0].itemID, 101u);
  EXPECT_EQ(g_seen.measured[0].itemData, 7u);
  ASSERT_EQ(g_seen.drawn.size(), 1u);
  const DRAWITEMSTRUCT& d = g_seen.drawn[0];
  EXPECT_EQ(d.CtlType, static_cast<UINT>(ODT_MENU));
  EXPECT_EQ(d.itemID, 101u);
  EXPECT_EQ(d.itemData, 7u);
  EXPECT_EQ(d.itemState & ODS_SELECTED, 0u);
  // The entry gets the height it asked for and at least the width.
  EXPECT_EQ(d.rcItem.bottom - d.rcItem.top, 30);
  EXPECT_GE(d.rcItem.right - d.rcItem.left, 150);
  // What the owner drew landed in the popup's drawing, at its rectangle.
  bool found = false;
  for (const auto& call : kel3::headless::DrawCalls()) {
    if (call.what == "text" && call.text == "item 7") {
      found = true;
      EXPECT_EQ(call.x, d.rcItem.left + 4);
      EXPECT_EQ(call.y, d.rcItem.top + 2);
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(HeadlessUi, PopupRefusesABadMenuOrOwner) {
  EXPECT_FALSE(TrackPopupMenu(nullptr, 0, 0, 0, 0, owner_, nullptr));
  EXPECT_FALSE(TrackPopupMenu(menu_, 0, 0, 0, 0, reinterpret_cast<HWND>(0x1234), nullptr));
  EXPECT_TRUE(kel3::headless::PopupsShown().empty());
}

TEST_F(HeadlessUi, MessageBoxRecordsAndReturnsOk) {
  EXPECT_EQ(MessageBoxA(owner_, "\nThe printer is gone.", "Printer", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK);
  const auto boxes = kel3::headless::MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].owner, owner_);
  EXPECT_EQ(boxes[0].text, "\nThe printer is gone.");
  EXPECT_EQ(boxes[0].caption, "Printer");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes[1].text, "");
}

TEST_F(HeadlessUi, KeyStateAndCursorAreTheTestsToSet) {
  for (int vk : {VK_CONTROL, VK_SHIFT, VK_SPACE}) EXPECT_EQ(GetAsyncKeyState(vk), 0) << vk;
  kel3::headless::SetKeyDown(VK_CONTROL, true);
  kel3::headless::SetKeyDown(VK_SPACE, true);
  EXPECT_NE(GetAsyncKeyState(VK_CONTROL) & 0x8000, 0);
  EXPECT_EQ(GetAsyncKeyState(VK_SHIFT), 0);
  EXPECT_NE(GetAsyncKeyState(VK_SPACE) & 0x8000, 0);
  kel3::headless::SetKeyDown(VK_CONTROL, false);
  kel3::headless::SetKeyDown(VK_SPACE, false);
  EXPECT_EQ(GetAsyncKeyState(VK_CONTROL), 0);

  kel3::headless::SetCursor(321, 123);
  POINT p{};
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p.x, 321);
  EXPECT_EQ(p.y, 123);
  EXPECT_FALSE(GetCursorPos(nullptr));
  EXPECT_TRUE(SetForegroundWindow(owner_));
  EXPECT_EQ(SetFocus(owner_), owner_);
  EXPECT_FALSE(SetForegroundWindow(reinterpret_cast<HWND>(0x1234)));
}

TEST_F(HeadlessUi, DrawingContextsMeasureWithAFixedAdvanceAndRecordDrawing) {
  HDC screen = CreateICA("DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(screen, nullptr);
  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32A(screen, "Printer", 7, &size));
  EXPECT_EQ(size.cx, 49);
  EXPECT_EQ(size.cy, 13);
  ASSERT_TRUE(GetTextExtentPoint32A(screen, "Printer", 3, &size));  // a prefix only
  EXPECT_EQ(size.cx, 21);

  HDC memory = CreateCompatibleDC(screen);
  kel3::Image image;
  image.width = 16;
  image.height = 8;
  image.argb.assign(16 * 8, 0xFF0000FF);
  HBITMAP bitmap = kel3::CreateBitmapFromImage(image);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  const RECT rect{2, 3, 12, 23};
  EXPECT_TRUE(FillRect(screen, &rect, brush));
  EXPECT_TRUE(BitBlt(screen, 5, 6, 16, 8, memory, 0, 0, SRCCOPY));
  SetTextColor(screen, RGB(9, 8, 7));
  EXPECT_TRUE(TextOutA(screen, 1, 2, "abcdef", 4));
  const auto calls = kel3::headless::DrawCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].what, "fill");
  EXPECT_EQ(calls[0].x, 2);
  EXPECT_EQ(calls[0].width, 10);
  EXPECT_EQ(calls[0].height, 20);
  EXPECT_EQ(calls[0].color, RGB(1, 2, 3));
  EXPECT_EQ(calls[1].what, "blit");
  EXPECT_EQ(calls[1].x, 5);
  EXPECT_EQ(calls[1].width, 16);
  EXPECT_EQ(calls[2].what, "text");
  EXPECT_EQ(calls[2].text, "abcd");
  EXPECT_EQ(calls[2].color, RGB(9, 8, 7));

  // A source origin outside the bitmap is refused, never read.
  EXPECT_FALSE(BitBlt(screen, 0, 0, 4, 4, memory, -1, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(screen, 0, 0, 4, 4, memory, 0, -3, SRCCOPY));
  HDC empty = CreateCompatibleDC(screen);  // nothing selected
  EXPECT_FALSE(BitBlt(screen, 0, 0, 4, 4, empty, 0, 0, SRCCOPY));
  DeleteDC(empty);
  EXPECT_EQ(kel3::headless::DrawCalls().size(), 3u);

  SelectObject(memory, old);
  DeleteObject(brush);
  DeleteObject(bitmap);
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_TRUE(DeleteDC(screen));
  EXPECT_FALSE(DeleteDC(screen));
  EXPECT_GT(GetSystemMetrics(SM_CYMENU), 0);
  EXPECT_GT(GetSystemMetrics(SM_CXMENUCHECK), 0);
  EXPECT_NE(GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_MENU));
}

}  // namespace
