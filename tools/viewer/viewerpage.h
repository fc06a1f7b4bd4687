// The viewer's page (viewer.html), built into the binary so that nothing is read from disk
// or loaded from elsewhere.
#ifndef EKVISION_TOOLS_VIEWER_VIEWERPAGE_H
#define EKVISION_TOOLS_VIEWER_VIEWERPAGE_H

#include <string>

namespace ekviewer {

/// The page, as served.
const std::string& viewerPage();

}  // namespace ekviewer

#endif  // EKVISION_TOOLS_VIEWER_VIEWERPAGE_H
