#include "viewerserver.h"

#include <httplib.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "textio.h"
#include "viewerpage.h"

namespace ekviewer {
namespace {

// Every request the page makes fits in a URL; a body is never needed.
const std::size_t kMaxRequestBody = 4096;
// Threads answering pages: each open page holds one while it waits for a frame.
const std::size_t kServerThreads = 48;
// A page waits this long for a new frame before asking again.
const auto kFrameWait = std::chrono::seconds(2);
// A page that stops reading (or sending) is dropped after this long.
const int kSocketTimeoutSeconds = 5;
// Refused requests told to the listener; a flood is then only counted.
const int kMaxToldRefusals = 50;

// The page may load nothing from anywhere else.
const char kPagePolicy[] =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "img-src 'self' blob: data:; connect-src 'self'; media-src 'self' blob:";

int statusOf(EK::EKCause cause) {
  switch (cause) {
    case EK::EKCause::kInvalidArgument:
    case EK::EKCause::kBadFormat:
      return 400;
    case EK::EKCause::kNotFound:
      return 404;
    case EK::EKCause::kUnsupported:
      return 415;
    default:
      return 503;
  }
}

void refuse(httplib::Response& response, int status, const std::string& why) {
  response.status = status;
  response.set_content(why + "\n", "text/plain; charset=utf-8");
}

// A handler whose failures become answers: the cause's status and its one line.
httplib::Server::Handler guarded(
    std::function<void(const httplib::Request&, httplib::Response&)> handler) {
  return [handler](const httplib::Request& request, httplib::Response& response) {
    try {
      handler(request, response);
    } catch (const ekhost::HostError& failure) {
      refuse(response, statusOf(failure.status().cause()), failure.what());
    } catch (const std::exception& failure) {
      refuse(response, 500, failure.what());
    }
  };
}

// The whole of a parameter as a number; false when absent or not one.
bool numberParam(const httplib::Request& request, const char* name, long long& value) {
  return request.has_param(name) && ekhost::parseNumber(request.get_param_value(name), value);
}

}  // namespace

ListenAddress parseListenAddress(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  ListenAddress address;
  long long port = -1;
  if (colon == std::string::npos || !ekhost::parseNumber(text.substr(colon + 1), port) ||
      port < 0 || port > 65535) {
    ekhost::fail(EK::EKCause::kInvalidArgument,
                 "'" + text + "' is not ADDR:PORT with a port from 0 to 65535");
  }
  address.host = text.substr(0, colon);
  if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
    address.host = address.host.substr(1, address.host.size() - 2);
  }
  if (address.host.empty()) {
    ekhost::fail(EK::EKCause::kInvalidArgument, "'" + text + "' names no address to listen on");
  }
  address.port = static_cast<int>(port);
  return address;
}

struct ViewerServer::State {
  ViewerContent content;
  ekhost::Listener& listener;
  httplib::Server server;
  std::thread thread;
  std::string host;
  int port = 0;
  std::atomic<int> refusals{0};
  std::atomic<bool> listenReturned{false};

  State(ViewerContent c, ekhost::Listener& l) : content(std::move(c)), listener(l) {}

  void tell(const httplib::Request& request, const httplib::Response& response) {
    if (response.status < 400) {
      return;
    }
    const int count = ++refusals;
    if (count <= kMaxToldRefusals) {
      std::string why = response.body;
      while (!why.empty() && why.back() == '\n') {
        why.pop_back();
      }
      listener.warn("viewer: refused " + request.method + " " + request.path + " from " +
                    request.remote_addr + " (" + std::to_string(response.status) +
                    (why.empty() ? "" : ": " + why) + ")");
    } else if (count == kMaxToldRefusals + 1) {
      listener.warn("viewer: further refused requests are not told");
    }
  }

  void routes() {
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
      response.set_header("Content-Security-Policy", kPagePolicy);
      response.set_header("Cache-Control", "no-store");
      response.set_content(viewerPage(), "text/html; charset=utf-8");
    });
    server.Get("/api/info", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(info(), "application/json");
    });
    using Member = void (State::*)(const httplib::Request&, httplib::Response&);
    const std::pair<const char*, Member> gets[] = {
        {"/api/live/frame", &State::liveFrame},
        {"/api/recording/frame", &State::recordingFrame},
        {"/api/recording/export.mp4", &State::recordingExport},
    };
    for (const auto& [path, member] : gets) {
      server.Get(path, guarded([this, member = member](const httplib::Request& request,
                                                       httplib::Response& response) {
                   (this->*member)(request, response);
                 }));
    }
    server.Post("/api/live/call",
                guarded([this](const httplib::Request& request, httplib::Response& response) {
                  liveCall(request, response);
                }));
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
      if (response.body.empty()) {
        response.set_content(response.status == 404 ? "no such page\n" : "refused\n",
                             "text/plain; charset=utf-8");
      }
    });
    server.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
      tell(request, response);
    });
  }

  std::string info() const {
    if (content.recording) {
      return content.recording->infoJson();
    }
    return "{\"mode\":\"live\",\"title\":" + ekhost::jsonString(content.title) + "}";
  }

  void liveFrame(const httplib::Request& request, httplib::Response& response) {
    long long after = 0;
    if (!content.live) {
      return refuse(response, 404, "this viewer shows a recording");
    }
    if (request.has_param("after") && !numberParam(request, "after", after)) {
      return refuse(response, 400, "after must be a frame number");
    }
    const std::optional<std::string> body = content.live->frameAfter(
        after, std::chrono::duration_cast<std::chrono::milliseconds>(kFrameWait));
    if (!body) {
      response.status = 204;  // none yet: the page asks again
      return;
    }
    response.set_header("Cache-Control", "no-store");
    response.set_content(*body, "application/octet-stream");
  }

  void liveCall(const httplib::Request& request, httplib::Response& response) {
    if (!content.live) {
      return refuse(response, 404, "this viewer shows a recording");
    }
    const std::string method = request.get_param_value("method");
    if (!isPageMethod(method)) {
      return refuse(response, 400, "a page may call pause, isPaused, setFrameRate, getFrameRate");
    }
    EK::EKValue arguments;
    arguments.arraySetSize(0);
    const std::string value = request.get_param_value("value");
    long long rate = 0;
    if (method == "pause") {
      if (value != "true" && value != "false") {
        return refuse(response, 400, "pause takes value=true or value=false");
      }
      arguments.arrayPush(EK::EKValue(value == "true"));
    } else if (method == "setFrameRate") {
      if (!ekhost::parseNumber(value, rate) || rate < ekhost::kMinFrameRate ||
          rate > ekhost::kMaxFrameRate) {
        return refuse(response, 400,
                      "setFrameRate takes value=" + std::to_string(ekhost::kMinFrameRate) + " to " +
                          std::to_string(ekhost::kMaxFrameRate));
      }
      arguments.arrayPush(EK::EKValue(static_cast<int>(rate)));
    }
    try {
      const EK::EKValue result = content.live->callModule(method, arguments);
      std::string json = "null";
      if (result.isBool()) {
        json = bool(result) ? "true" : "false";
      } else if (result.isInt()) {
        json = std::to_string(int(result));
      } else if (result.isFloat()) {
        json = ekhost::jsonNumber(float(result));
      }
      response.set_content("{\"result\":" + json + "}", "application/json");
    } catch (const EK::EKError& error) {
      refuse(response, 409, std::string(method) + " failed: " + error.what());
    }
  }

  void recordingFrame(const httplib::Request& request, httplib::Response& response) {
    if (!content.recording) {
      return refuse(response, 404, "this viewer shows live frames");
    }
    long long number = 0;
    if (numberParam(request, "index", number)) {
      response.set_content(content.recording->frameAt(number), "application/octet-stream");
    } else if (numberParam(request, "time", number)) {
      response.set_content(content.recording->frameAtTime(number), "application/octet-stream");
    } else {
      refuse(response, 400, "give index=FRAME or time=MICROSECONDS");
    }
  }

  void recordingExport(const httplib::Request& request, httplib::Response& response) {
    if (!content.recording) {
      return refuse(response, 404, "this viewer shows live frames");
    }
    long long from = 0;
    long long to = 0;
    if (!numberParam(request, "from", from) || !numberParam(request, "to", to) || from < 0 ||
        to < from) {
      return refuse(response, 400, "give from=FRAME and to=FRAME, from <= to");
    }
    if (static_cast<std::uint64_t>(to) >= content.recording->frames()) {
      return refuse(response, 404,
                    "frame " + std::to_string(to) + " is not in the recording (0 to " +
                        std::to_string(content.recording->frames() - 1) + ")");
    }
    // The export goes through a file of its own, removed once sent or refused.
    const char* directory = std::getenv("TMPDIR");
    std::string path =
        std::string(directory && *directory ? directory : "/tmp") + "/ekvision-view-XXXXXX.mp4";
    const int fd = ::mkstemps(path.data(), 4);
    if (fd < 0) {
      return refuse(response, 503,
                    std::string("cannot make a temporary file: ") + std::strerror(errno));
    }
    ::close(fd);
    try {
      content.recording->exportMp4(from, to, path);
    } catch (...) {
      ::unlink(path.c_str());
      throw;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ::unlink(path.c_str());  // the open file lives on until closed
    if (file == nullptr) {
      return refuse(response, 503, "the export cannot be read back");
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    response.set_header("Content-Disposition", "attachment; filename=\"frames-" +
                                                   std::to_string(from) + "-" + std::to_string(to) +
                                                   ".mp4\"");
    response.set_content_provider(
        static_cast<std::size_t>(size), "video/mp4",
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          char buffer[64 * 1024];
          std::fseek(file, static_cast<long>(offset), SEEK_SET);
          const std::size_t read = std::fread(buffer, 1, std::min(length, sizeof buffer), file);
          return read > 0 && sink.write(buffer, read);
        },
        [file](bool) { std::fclose(file); });
  }
};

ViewerServer::ViewerServer(const ListenAddress& address, ViewerContent content,
                           ekhost::Listener& listener)
    : state_(std::make_unique<State>(std::move(content), listener)) {
  httplib::Server& server = state_->server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  // Not the library's default, which lets a second server share the port unnoticed.
  server.set_socket_options([](int socket) {
    const int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_payload_max_length(kMaxRequestBody);
  // Headers and body go out in two writes: without this the body waits for the page's
  // delayed acknowledgement of the headers, 40 ms a frame on Linux.
  server.set_tcp_nodelay(true);
  server.set_read_timeout(kSocketTimeoutSeconds, 0);
  server.set_write_timeout(kSocketTimeoutSeconds, 0);
  server.set_keep_alive_timeout(kSocketTimeoutSeconds);
  state_->routes();
  errno = 0;
  bool bound = false;
  if (address.port == 0) {
    state_->port = server.bind_to_any_port(address.host);
    bound = state_->port > 0;
  } else {
    bound = server.bind_to_port(address.host, address.port);
    state_->port = address.port;
  }
  if (!bound) {
    const int error = errno;
    const std::string where = address.host + ":" + std::to_string(address.port);
    throw ekhost::HostError(
        error != 0
            ? EK::EKStatus::fromSystemError(error, "cannot listen on " + where)
            : EK::EKStatus(EK::EKCause::kUnavailable,
                           "cannot listen on " + where + ": not an address of this machine"));
  }
  state_->host = address.host;
  state_->thread = std::thread([state = state_.get()] {
    state->server.listen_after_bind();
    state->listenReturned = true;
  });
  // Stopping a server that has not started listening yet would do nothing, and the join in
  // the destructor would then wait for ever.
  while (!state_->server.is_running() && !state_->listenReturned) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

ViewerServer::~ViewerServer() {
  if (state_->content.live) {
    state_->content.live->close();  // pages waiting for a frame answer at once
  }
  state_->server.stop();
  if (state_->thread.joinable()) {
    state_->thread.join();
  }
}

std::string ViewerServer::url() const {
  const bool v6 = state_->host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + state_->host + "]" : state_->host) + ":" +
         std::to_string(state_->port) + "/";
}

int ViewerServer::port() const {
  return state_->port;
}

}  // namespace ekviewer
