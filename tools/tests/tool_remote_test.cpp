// ekvision serve, keys and remote camera SPECs, end to end: a server and a client run as
// two processes of the built tool over an ipc:// socket in a temporary directory.
#include <ekvision/ekvideoinspection.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <future>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::runTool;

// Runs a server for @p seconds in a process of its own, output in @p dir.
std::future<ektest::ToolRun> serveFor(const ektest::TempDir& dir, std::vector<std::string> args) {
  return std::async(std::launch::async, [&dir, args] { return runTool(dir, args); });
}

TEST(ToolRemote, RecordTakesTheServedFramesAtTheSizeItAsks) {
  ektest::TempDir serverDir;
  ektest::TempDir clientDir;
  const std::string endpoint = "ipc://" + serverDir.path("camera");
  auto server = serveFor(serverDir, {"serve", "--bind", endpoint, "--seconds", "3", "--encoding",
                                     "zstd", "--fps", "30"});
  const std::string path = clientDir.path("remote.arv");
  const ektest::ToolRun record =
      runTool(clientDir, {"record", endpoint, path, "--frames", "10", "--resolution", "1"});
  const ektest::ToolRun served = server.get();
  ASSERT_EQ(record.exitCode, 0) << record.err;
  EXPECT_EQ(record.out.rfind("camera: remote camera " + endpoint + " (", 0), 0u) << record.out;
  EXPECT_NE(record.out.find("recorded 10 frames"), std::string::npos) << record.out;
  ASSERT_EQ(served.exitCode, 0) << served.err;
  EXPECT_EQ(served.out.rfind("serving synthetic scene 640x480", 0), 0u) << served.out;
  EXPECT_NE(served.out.find(" as zstd at 30 frames/s on " + endpoint + " (settings on " + endpoint +
                            ".settings)\n"),
            std::string::npos)
      << served.out;
  EXPECT_NE(served.out.find("1 settings requests answered"), std::string::npos) << served.out;
  const EK::EKVideoInspection recording = EK::inspectVideo(path);
  EXPECT_EQ(recording.completeFrames, 10u);
  ASSERT_EQ(recording.streams.size(), 1u);
  EXPECT_EQ(recording.streams[0].resolution, 1) << "the server took the client's resolution";
}

TEST(ToolRemote, AClientWithoutTheKeyIsRefusedAndTheServerSaysSo) {
  ektest::TempDir serverDir;
  ektest::TempDir clientDir;
  const std::string keys = serverDir.path("server.key");
  ASSERT_EQ(runTool(serverDir, {"keys", keys}).exitCode, 0);
  struct stat secret {};
  ASSERT_EQ(::stat(keys.c_str(), &secret), 0);
  EXPECT_EQ(secret.st_mode & 0777, 0600u);
  const std::string clientKeys = clientDir.path("client.key");
  ASSERT_EQ(runTool(clientDir, {"keys", clientKeys, "--server", keys + ".pub"}).exitCode, 0);
  const std::string endpoint = "ipc://" + serverDir.path("camera");
  // Six seconds: both clients, each a process of its own, must come and go while it serves,
  // also on a machine busy with the rest of the suite.
  auto server =
      serveFor(serverDir, {"serve", "--bind", endpoint, "--curve", keys, "--seconds", "6"});
  const ektest::ToolRun allowed =
      runTool(clientDir, {"record", endpoint + "?curve=" + clientKeys, clientDir.path("a.arv"),
                          "--frames", "3", "--resolution", "0"});
  EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
  const ektest::ToolRun refused =
      runTool(clientDir, {"record", endpoint, clientDir.path("b.arv"), "--frames", "3"});
  const ektest::ToolRun served = server.get();
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err,
            "ekvision record: cannot open the camera " + endpoint + ": " + endpoint +
                " refused this client: the server takes CURVE clients only: add ?curve=KEYFILE "
                "to the camera address\n");
  EXPECT_EQ(served.exitCode, 0) << served.err;
  EXPECT_NE(served.out.find(", CURVE clients only\n"), std::string::npos) << served.out;
  EXPECT_EQ(served.err.rfind(
                "ekvision serve: refused a client of " + endpoint + ": the handshake failed", 0),
            0u)
      << served.err;
}

TEST(ToolRemote, CtrlCStopsTheServerCleanly) {
  ektest::TempDir dir;
  const std::string endpoint = "ipc://" + dir.path("camera");
  // Ctrl-C once the server says it serves (a loaded machine may take a while to start it).
  const std::string out = ektest::shellQuoted(dir.path("tool.out"));
  const std::string script = ektest::shellQuoted(EKVISION_TOOL_PATH) + " serve --bind " +
                             ektest::shellQuoted(endpoint) + " >" + out + " 2>" +
                             ektest::shellQuoted(dir.path("tool.err")) +
                             " </dev/null & pid=$!; for i in $(seq 600); do grep -q '^serving' " +
                             out + " && break; sleep 0.05; done; kill -INT $pid; wait $pid";
  const int status = std::system(script.c_str());
  const ektest::ToolRun served{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                               ektest::fileText(dir.path("tool.out")),
                               ektest::fileText(dir.path("tool.err"))};
  EXPECT_EQ(served.exitCode, 0) << served.err;
  EXPECT_EQ(served.err, "");
  EXPECT_NE(served.out.find("\nserved "), std::string::npos) << served.out;
}

TEST(ToolRemote, CallPausesARunningModuleAndIsPausedSaysSo) {
  ektest::TempDir runDir;
  ektest::TempDir callDir;
  const std::string endpoint = "ipc://" + runDir.path("control");
  auto run = serveFor(
      runDir, {"run", "--control", endpoint, "--seconds", "4", "--resolution", "0", "--fps", "30"});
  // The run answers once its camera and module are built.
  ektest::ToolRun listed{};
  for (int attempt = 0; attempt < 30; ++attempt) {
    listed = runTool(callDir, {"call", endpoint, "--list", "--timeout", "0.2"});
    if (listed.exitCode == 0) {
      break;
    }
  }
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_NE(listed.out.find("methods of MotionDetector:\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("  pause(bool paused) -> void"), std::string::npos) << listed.out;
  const struct {
    std::vector<std::string> call;
    int exitCode;
    std::string printed;
  } calls[] = {
      {{"MotionDetector", "pause", "true"}, 0, "MotionDetector.pause(true) -> done\n"},
      {{"MotionDetector", "isPaused"}, 0, "MotionDetector.isPaused() -> true\n"},
      {{"MotionDetector", "pause", "maybe"},
       2,
       "ekvision call: argument paused of pause is a bool, not text ('maybe') (see ekvision call "
       "--help)\n"},
      {{"MotionDetector", "pause", "false"}, 0, "MotionDetector.pause(false) -> done\n"},
      {{"MotionDetector", "isPaused"}, 0, "MotionDetector.isPaused() -> false\n"},
      {{"Nobody", "pause"},
       1,
       "ekvision call: no module named 'Nobody' at " + endpoint + " (ekvision call " + endpoint +
           " --list lists them)\n"},
  };
  for (const auto& c : calls) {
    std::vector<std::string> args{"call", endpoint};
    args.insert(args.end(), c.call.begin(), c.call.end());
    const ektest::ToolRun called = runTool(callDir, args);
    EXPECT_EQ(called.exitCode, c.exitCode) << called.err;
    EXPECT_EQ(c.exitCode == 0 ? called.out : called.err, c.printed);
  }
  const ektest::ToolRun ran = run.get();
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  EXPECT_NE(ran.out.find("control: the remote methods of MotionDetector and EKVideoDevice on " +
                         endpoint),
            std::string::npos)
      << ran.out;
  // The run is over: nobody answers.
  const ektest::ToolRun late =
      runTool(callDir, {"call", endpoint, "MotionDetector", "isPaused", "--timeout", "0.3"});
  EXPECT_EQ(late.exitCode, 1);
  EXPECT_EQ(late.err, "ekvision call: no answer from " + endpoint +
                          " within 300 ms: is a host answering there (ekvision run --control)?\n");
}

struct BadServe {
  std::vector<std::string> args;
  int exitCode;
  std::string err;
};

TEST(ToolRemote, BadArgumentsGetOneLine) {
  ektest::TempDir dir;
  const std::string taken = dir.path("taken.key");
  ASSERT_EQ(runTool(dir, {"keys", taken}).exitCode, 0);
  const std::vector<BadServe> cases = {
      {{"serve", "--encoding", "jpeg:0"},
       2,
       "ekvision serve: --encoding: the JPEG quality must be a whole number from 1 to 100, not "
       "'0'\n"},
      {{"serve", "--bind", "udp://127.0.0.1:5"},
       2,
       "ekvision serve: cannot serve: cannot place the settings socket next to "
       "'udp://127.0.0.1:5': give tcp://HOST:PORT with a port from 1 to 65534, or ipc://PATH\n"},
      {{"serve", "--curve", dir.path("none.key"), "--bind", "ipc://" + dir.path("s")},
       1,
       "ekvision serve: cannot serve: cannot read the key file " + dir.path("none.key") +
           ": no such file\n"},
      {{"keys", taken},
       2,
       "ekvision keys: " + taken + " exists already; keys are never overwritten\n"},
      {{"record", "tcp://127.0.0.1", dir.path("x.arv")},
       2,
       "ekvision record: cannot open the camera tcp://127.0.0.1: 'tcp://127.0.0.1' needs a host "
       "and a port from 1 to 65535: tcp://HOST:PORT\n"},
  };
  for (const BadServe& bad : cases) {
    const ektest::ToolRun run = runTool(dir, bad.args);
    EXPECT_EQ(run.exitCode, bad.exitCode) << bad.args[0] << " " << bad.args[1];
    EXPECT_EQ(run.err.substr(0, run.err.find(" (see ekvision")) +
                  (run.err.find(" (see ekvision") == std::string::npos ? "" : "\n"),
              bad.err);
  }
}

}  // namespace
