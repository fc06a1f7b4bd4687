// The viewer's server under the clients a web surface meets: paths outside the page, huge
// and garbage requests, floods, a client that stops reading, and an address in use.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <liveview.h>
#include <netinet/in.h>
#include <recordingview.h>
#include <sys/socket.h>
#include <unistd.h>
#include <viewerpage.h>
#include <viewerserver.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>

#include "videotestsupport.h"

namespace {

using namespace std::chrono_literals;

class Warnings : public ekhost::Listener {
 public:
  void warn(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

EK::EKValue frame(long long stamp) {
  return EK::makeImageArray(64, 48, EK::kColorSpaceYUV422, stamp, 0, 0, 0, 0, 0,
                            std::vector<unsigned char>(64 * 48 * 2, 100));
}

// A raw TCP connection to the server, for requests no HTTP client would send.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Longer than the server's 5 s read timeout, after which it answers a body it was
    // promised but never sent: the client must not give up first, however slow the build.
    timeval timeout{15, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~RawClient() { ::close(fd_); }
  bool send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // The status line and headers of the server's answer (all it sent, if it closed first).
  std::string answer() {
    std::string text;
    char buffer[4096];
    for (ssize_t got; text.find("\r\n\r\n") == std::string::npos &&
                      (got = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

class ViewerServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view_.started("", 15, nullptr);
    view_.show(frame(1000));
    server_ = std::make_unique<ekviewer::ViewerServer>(
        ekviewer::ListenAddress{"127.0.0.1", 0}, ekviewer::ViewerContent{&view_, nullptr, "test"},
        warnings_);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
  }
  int status(const httplib::Result& result) { return result ? result->status : -1; }
  // The warnings once there are @p count of them, or after 5 s.
  std::vector<std::string> waitForWarnings(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (warnings_.lines().size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(5ms);
    }
    return warnings_.lines();
  }

  Warnings warnings_;
  ekviewer::LiveView view_;
  std::unique_ptr<ekviewer::ViewerServer> server_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(ViewerServerTest, ThePageLoadsNothingFromElsewhereAndFramesArrive) {
  EXPECT_EQ(server_->url(), "http://127.0.0.1:" + std::to_string(server_->port()) + "/");
  const httplib::Result page = client_->Get("/");
  ASSERT_EQ(status(page), 200);
  EXPECT_EQ(page->body, ekviewer::viewerPage());
  EXPECT_EQ(page->body.find("http:"), std::string::npos) << "an address outside the viewer";
  EXPECT_EQ(page->body.find("https:"), std::string::npos);
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"),
            std::string::npos);
  const httplib::Result first = client_->Get("/api/live/frame?after=0");
  ASSERT_EQ(status(first), 200);
  EXPECT_NE(first->body.find("\"timeStamp\":1000"), std::string::npos);
  EXPECT_EQ(status(client_->Get("/api/info")), 200);
  EXPECT_TRUE(warnings_.lines().empty());
}

TEST_F(ViewerServerTest, RequestsOutsideThePageAreRefusedAndTold) {
  struct Case {
    std::string method;
    std::string path;
    int status;
  };
  const Case cases[] = {
      {"GET", "/etc/passwd", 404},
      {"GET", "/viewer.html", 404},
      {"GET", "/api/recording/frame?index=0", 404},  // a live viewer has no recording
      {"GET", "/api/live/frame?after=x", 400},
      {"GET", "/api/live/frame?after=99999999999999999999999", 400},
      {"POST", "/api/live/call?method=exit", 400},
      {"POST", "/api/live/call?method=setFrameRate&value=1000", 400},
      {"POST", "/api/live/call?method=pause&value=maybe", 400},
      {"POST", "/api/live/call?method=pause&value=true", 503},  // no module runs
  };
  for (const Case& c : cases) {
    const httplib::Result result =
        c.method == "GET" ? client_->Get(c.path.c_str()) : client_->Post(c.path.c_str());
    EXPECT_EQ(status(result), c.status) << c.method << " " << c.path;
  }
  // A refusal is told once its answer is sent: the lines may come a moment later, in any order.
  const std::vector<std::string> lines = waitForWarnings(std::size(cases));
  ASSERT_EQ(lines.size(), std::size(cases)) << ::testing::PrintToString(lines);
  for (const char* expected :
       {"viewer: refused GET /etc/passwd from 127.0.0.1 (404: no such page)",
        "viewer: refused POST /api/live/call from 127.0.0.1 (400: a page may call pause, "
        "isPaused, setFrameRate, getFrameRate)",
        "viewer: refused POST /api/live/call from 127.0.0.1 (503: no module runs)"}) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), expected), 1)
        << expected << " in " << ::testing::PrintToString(lines);
  }
}

TEST_F(ViewerServerTest, HugeAndGarbageRequestsAreRefusedAndTheServerGoesOn) {
  {
    RawClient escape(server_->port());
    escape.send("GET /../../../etc/passwd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const std::string answer = escape.answer();
    EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u) << answer.substr(0, 80);
    EXPECT_EQ(answer.find("root:"), std::string::npos);
  }
  {
    RawClient longUri(server_->port());
    longUri.send("GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(longUri.answer().rfind("HTTP/1.1 414", 0), 0u);
  }
  {
    // A body announced as a gigabyte is refused without being stored: the server drains
    // what arrives until its read timeout, then answers.
    RawClient hugeBody(server_->port());
    hugeBody.send(
        "POST /api/live/call?method=isPaused HTTP/1.1\r\nHost: x\r\nContent-Length: "
        "1000000000\r\n\r\nxx");
    EXPECT_EQ(hugeBody.answer().rfind("HTTP/1.1 413", 0), 0u);
  }
  {
    RawClient garbage(server_->port());
    garbage.send(std::string("\x16\x03\x01\x02\x00garbage\0\xff\r\n\r\n", 19));
    EXPECT_EQ(garbage.answer().rfind("HTTP/1.1 400", 0), 0u);
  }
  EXPECT_EQ(status(client_->Get("/api/live/frame?after=0")), 200) << "still serving";
}

TEST_F(ViewerServerTest, AFloodOfBadRequestsIsCountedNotPrinted) {
  for (int i = 0; i < 80; ++i) {
    client_->Get("/nothing");
  }
  const std::vector<std::string> lines = waitForWarnings(51);
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(warnings_.lines().size(), 51u) << "the 51st line is the last";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "viewer: further refused requests are not told"),
            1);
}

TEST_F(ViewerServerTest, AClientThatStopsReadingHoldsUpNobody) {
  RawClient stalled(server_->port());
  const int small = 4096;
  ::setsockopt(stalled.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  std::string requests;
  for (int i = 0; i < 400; ++i) {
    requests += "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
  }
  stalled.send(requests);  // and never read: the server's writes to it block
  std::this_thread::sleep_for(200ms);
  for (int i = 0; i < 5; ++i) {
    view_.show(frame(2000 + i));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(status(client_->Get("/api/live/frame?after=" + std::to_string(i + 1))), 200);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s) << "others are answered at once";
  }
}

TEST(ViewerRecording, FramesAndExportsAreReachedByNumbersOnly) {
  ektest::TempDir dir;
  const std::string clip = ektest::recordClip(dir.path("clip"), 4, {{160, 120, 9, 8}});
  ekviewer::RecordingView recording({clip, "", 0});
  Warnings warnings;
  ekviewer::ViewerServer server({"127.0.0.1", 0}, {nullptr, &recording, "clip"}, warnings);
  httplib::Client client("127.0.0.1", server.port());
  const httplib::Result whole = client.Get("/api/recording/export.mp4?from=0&to=3");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->status, 200);
  EXPECT_EQ(whole->body.substr(4, 4), "ftyp") << "an MP4 file";
  EXPECT_EQ(whole->get_header_value("Content-Disposition"),
            "attachment; filename=\"frames-0-3.mp4\"");
  struct Case {
    const char* path;
    int status;
  };
  for (const Case& c :
       {Case{"/api/recording/export.mp4?from=-1&to=2", 400},
        Case{"/api/recording/export.mp4?from=2&to=1", 400},
        Case{"/api/recording/export.mp4?from=0&to=4", 404},
        Case{"/api/recording/export.mp4?from=../../etc/passwd&to=1", 400},
        Case{"/api/recording/frame?index=4", 404},
        Case{"/api/recording/frame?file=/etc/passwd", 400},
        Case{"/api/recording/frame?index=3", 200}, Case{"/api/live/frame?after=0", 404}}) {
    const httplib::Result result = client.Get(c.path);
    EXPECT_EQ(result ? result->status : -1, c.status) << c.path;
  }
}

TEST(ViewerAddress, ReadsAddrPortAndRefusesTheRest) {
  const ekviewer::ListenAddress v4 = ekviewer::parseListenAddress("127.0.0.1:8080");
  EXPECT_EQ(v4.host, "127.0.0.1");
  EXPECT_EQ(v4.port, 8080);
  const ekviewer::ListenAddress v6 = ekviewer::parseListenAddress("[::1]:0");
  EXPECT_EQ(v6.host, "::1");
  EXPECT_EQ(v6.port, 0);
  for (const char* bad : {"8080", "127.0.0.1", "127.0.0.1:", ":8080", "127.0.0.1:65536",
                          "127.0.0.1:-1", "127.0.0.1:80x", "[]:80"}) {
    EXPECT_THROW(ekviewer::parseListenAddress(bad), ekhost::HostError) << bad;
  }
}

TEST(ViewerAddress, AnAddressInUseIsNamed) {
  Warnings warnings;
  ekviewer::LiveView view;
  ekviewer::ViewerServer first({"127.0.0.1", 0}, {&view, nullptr, ""}, warnings);
  try {
    ekviewer::ViewerServer second({"127.0.0.1", first.port()}, {&view, nullptr, ""}, warnings);
    ADD_FAILURE() << "two servers on one port";
  } catch (const ekhost::HostError& error) {
    EXPECT_EQ(
        std::string(error.what()),
        "cannot listen on 127.0.0.1:" + std::to_string(first.port()) + ": address already in use");
  }
}

}  // namespace
