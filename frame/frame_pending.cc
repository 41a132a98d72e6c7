// Frame handlers whose platform services (message boxes, the popup menu
// with owner-drawn entries, the resource library and driver-key look-ups)
// are not built yet. Each does nothing until its service lands; the
// dispatch, the timers and the launches above them already work.
#include "frame/main_frame.h"

int CMainFrame::BuildToolMenu(HMENU /*popup*/) { return 0; }
void CMainFrame::OnMeasureItem(WPARAM /*wParam*/, LPARAM /*lParam*/) {}
void CMainFrame::OnDrawItem(WPARAM /*wParam*/, LPARAM /*lParam*/) {}
int CMainFrame::GetDependentProgram(LPSTR /*buffer*/, int /*size*/) { return 0; }
int CMainFrame::IsDependentMenuEntry(UINT /*commandId*/, LPCSTR /*name*/) { return 0; }
int CMainFrame::HasIoUrlKey() { return 0; }
