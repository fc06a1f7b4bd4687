// The viewer's web server: one static page, embedded in the binary, and the few requests it
// makes for frames, remote-method calls and exports. Nothing on disk is reachable from it.
#ifndef EKVISION_TOOLS_VIEWER_VIEWERSERVER_H
#define EKVISION_TOOLS_VIEWER_VIEWERSERVER_H

#include <memory>
#include <string>

#include "host.h"
#include "liveview.h"
#include "recordingview.h"

namespace ekviewer {

/// Where the viewer listens unless told otherwise: this machine only.
const char kDefaultViewerAddress[] = "127.0.0.1:8080";

/// An address and port to listen on.
struct ListenAddress {
  std::string host;
  int port = 0;  ///< 0: any free port
};

/// @brief Reads "ADDR:PORT" (an IPv6 address in brackets, "[::1]:8080").
/// @throws ekhost::HostError (kInvalidArgument) naming what is wrong
ListenAddress parseListenAddress(const std::string& text);

/// What the viewer serves: a live view or a recording (exactly one).
struct ViewerContent {
  LiveView* live = nullptr;            ///< frames of a run or of a camera
  RecordingView* recording = nullptr;  ///< a recording to scrub
  std::string title;                   ///< the camera, the module or the file, for the page
};

/// @brief Serves the viewer on its own threads until destroyed.
///
/// Requests outside the page's own get 404; bodies over a few kilobytes, malformed numbers
/// and unknown methods get 4xx. Every refused request is told to the listener's warn(), up
/// to a limit. A page that stops reading is dropped after a few seconds; it never holds up
/// the others or the module.
class ViewerServer {
 public:
  /// @brief Listens on @p address.
  /// @throws ekhost::HostError (kUnavailable) "cannot listen on ADDR:PORT: <cause>"
  ViewerServer(const ListenAddress& address, ViewerContent content, ekhost::Listener& listener);
  ~ViewerServer();
  ViewerServer(const ViewerServer&) = delete;
  ViewerServer& operator=(const ViewerServer&) = delete;

  /// The page's address, e.g. "http://127.0.0.1:8080/".
  std::string url() const;
  /// The port listened on.
  int port() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ekviewer

#endif  // EKVISION_TOOLS_VIEWER_VIEWERSERVER_H
