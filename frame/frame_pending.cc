// Frame handlers whose platform services (message boxes, the popup menu
// with owner-drawn entries, the resource library and driver-key look-ups)
// are not built yet. Each does nothing until its service lands; the
// dispatch, the timers and the launches above them already work.
#include "frame/main_frame.h"

