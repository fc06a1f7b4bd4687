// The tool facing faults: every message names its cause on one line, with no path of the
// build machine; a command whose output is not whole exits non-zero; a failure repeated
// every frame is shown once with its count; recordings cut off by a full disk are restored
// by `ekvision recover`.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::runTool;

// Runs the tool after the shell commands @p prefix (limits such as `ulimit -f`), through
// the program @p wrapper when not empty (such as setpriv).
ektest::ToolRun runToolAfter(const ektest::TempDir& dir, const std::string& prefix,
                             const std::vector<std::string>& args,
                             const std::string& wrapper = "") {
  std::string command = prefix + " exec " + wrapper + " " + ektest::shellQuoted(EKVISION_TOOL_PATH);
  for (const std::string& arg : args) {
    command += " " + ektest::shellQuoted(arg);
  }
  const std::string out = dir.path("tool.out");
  const std::string err = dir.path("tool.err");
  command = "( " + command + " ) >" + ektest::shellQuoted(out) + " 2>" + ektest::shellQuoted(err) +
            " </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ektest::fileText(out),
          ektest::fileText(err)};
}

// Files end at @p bytes: the wrapper that sets the limit, run after the shell ignored
// SIGXFSZ, so that a write past the limit fails (EFBIG) instead of killing the tool.
const char kIgnoreFileSizeSignal[] = "trap '' XFSZ;";
std::string fileSizeLimit(int bytes) {
  return "prlimit --fsize=" + std::to_string(bytes);
}

class ToolFaults : public ::testing::Test {
 protected:
  void expectOneLine(const ektest::ToolRun& run, const std::string& line) {
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.err, line + "\n");
    EXPECT_EQ(run.err.find(EKVISION_SOURCE_DIR), std::string::npos);
  }

  // A recording of stream 0 only, @p frames frames, closed.
  std::string clip(const std::string& name, int colorSpace, unsigned frames) {
    return ektest::recordClip(dir.path(name), frames, {{160, 120, colorSpace, 8}});
  }

  ektest::TempDir dir;
};

TEST_F(ToolFaults, EveryMessageNamesItsCause) {
  const std::string folder = dir.path("folder.arv");
  std::filesystem::create_directory(folder);
  const std::string fifo = dir.path("fifo.arv");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string absent = dir.path("absent.arv");
  const std::string nowhere = dir.path("nowhere/out.arv");
  ektest::writeBytes(dir.path("text.so"), {'n', 'o', 't', '\n'});
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const std::vector<Case> cases = {
      {{"info", folder}, "ekvision info: cannot read " + folder + ": is a directory"},
      {{"info", fifo}, "ekvision info: cannot read " + fifo + ": not seekable (a FIFO)"},
      {{"info", absent}, "ekvision info: cannot read " + absent + ": no such file"},
      {{"recover", folder}, "ekvision recover: cannot recover " + folder + ": is a directory"},
      {{"convert", fifo, dir.path("out.png")},
       "ekvision convert: cannot read " + fifo + ": not seekable (a FIFO)"},
      {{"recover", fifo}, "ekvision recover: cannot recover " + fifo + ": not seekable (a FIFO)"},
      {{"export", fifo, dir.path("out")},
       "ekvision export: cannot read " + fifo + ": not seekable (a FIFO)"},
      {{"run", "--camera", folder, "--frames", "1"},
       "ekvision run: cannot play " + folder + ": is a directory"},
      {{"run", "--camera", fifo, "--frames", "1"},
       "ekvision run: cannot play " + fifo + ": not seekable (a FIFO)"},
      {{"run", "--frames", "1", "--resolution", "0", "--record", folder},
       "ekvision run: cannot record " + folder + ": is a directory"},
      {{"run", "--frames", "1", "--resolution", "0", "--record", fifo},
       "ekvision run: cannot record " + fifo + ": not seekable (a FIFO)"},
      {{"run", "--frames", "1", "--resolution", "0", "--record", nowhere},
       "ekvision run: cannot record " + nowhere + ": no such directory: " + dir.path("nowhere")},
      {{"run", "--module", folder},
       "ekvision run: cannot load the module plugin " + folder +
           ": is a directory, not a shared library"},
      {{"run", "--module", "/dev/zero"},
       "ekvision run: cannot load the module plugin /dev/zero: not a regular file, so not a "
       "shared library"},
      {{"run", "--module", dir.path("text.so")},
       "ekvision run: cannot load the module plugin " + dir.path("text.so") +
           ": not a shared library (no ELF header)"},
  };
  const std::string played = clip("played", EK::kColorSpaceYUV422, 2);
  const ektest::ToolRun same = runTool(dir, {"run", "--camera", played, "--record", played});
  EXPECT_EQ(same.exitCode, 2);
  EXPECT_EQ(same.err,
            "ekvision run: --record would overwrite the recording that --camera plays (see "
            "ekvision run --help)\n");
  EXPECT_EQ(EK::inspectVideo(played).storedFrameCount, 2u) << "the played recording is intact";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    expectOneLine(runTool(dir, c.args), c.line);
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder)) << "nothing was written over";
}

TEST_F(ToolFaults, PermissionIsNamedForAnUnprivilegedUser) {
  const std::string locked = clip("locked", 0, 2);
  const std::string readOnly =
      ektest::recordClip(dir.path("readonly"), 2, {{160, 120, 0, 8}}, ektest::stampOf, 0, false);
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  std::filesystem::permissions(dir.path(""), std::filesystem::perms::all);
  // Root reads every file: the tool runs as nobody.
  const std::string asUser =
      geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
  if (!asUser.empty() && std::system((asUser + " true").c_str()) != 0) {
    GTEST_SKIP() << "setpriv cannot drop privileges here";
  }
  const auto runAs = [&](const std::vector<std::string>& args) {
    return runToolAfter(dir, "", args, asUser);
  };
  expectOneLine(runAs({"info", locked}),
                "ekvision info: cannot read " + locked + ": permission denied");
  expectOneLine(runAs({"recover", readOnly}),
                "ekvision recover: cannot recover " + readOnly + ": permission denied");
  expectOneLine(runAs({"run", "--camera", locked, "--frames", "1"}),
                "ekvision run: cannot play " + locked + ": permission denied");
  EXPECT_EQ(runAs({"recover", readOnly, "--dry-run"}).exitCode, 0);
}

TEST_F(ToolFaults, ARecordingBeingWrittenRefusesASecondWriter) {
  const std::string path = dir.path("busy.arv");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    EK::EKVideo video;
    char answer = 'n';
    try {
      answer = video.recordVideo(dir.path("busy"), 0, {{160, 120, 0, 8}}) ? 'y' : 'n';
    } catch (const EK::EKError&) {
    }
    if (write(ready[1], &answer, 1) == 1) {
      pause();
    }
    _exit(0);
  }
  char answer = 0;
  const bool started = read(ready[0], &answer, 1) == 1 && answer == 'y';
  close(ready[0]);
  close(ready[1]);
  const std::string refusal = path + " is being written by process " + std::to_string(writer) +
                              "; a recording takes one writer at a time";
  if (started) {
    expectOneLine(runTool(dir, {"run", "--frames", "2", "--resolution", "0", "--record", path}),
                  "ekvision run: " + refusal);
    const std::string input = dir.path("input.avi");
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -f lavfi -i testsrc=size=160x120:rate=10 "
                           "-frames:v 3 -c:v mjpeg " +
                           ektest::shellQuoted(input))
                              .c_str()),
              0);
    expectOneLine(runTool(dir, {"import", input, path, "--resolution", "0"}),
                  "ekvision import: " + refusal);
    expectOneLine(runTool(dir, {"recover", path}), "ekvision recover: cannot recover " + path +
                                                       ": being written by process " +
                                                       std::to_string(writer));
    EXPECT_EQ(std::filesystem::file_size(path), 32u) << "the writer's file was not touched";
  }
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
  ASSERT_TRUE(started);
  const ektest::ToolRun after =
      runTool(dir, {"run", "--frames", "2", "--resolution", "0", "--record", path});
  EXPECT_EQ(after.exitCode, 0) << "a dead writer's lock is gone: " << after.err;
}

TEST_F(ToolFaults, ARunInWhichNoFrameReachesTheModuleFailsAndSaysItOnce) {
  // Color space 10 has three layers of unknown layout: the camera cannot make the module's
  // YUV422 from it, at every frame.
  const std::string path = clip("threelayers", 10, 3);
  const ektest::ToolRun run =
      runTool(dir, {"run", "--camera", path, "--seconds", "1.5", "--fps", "30"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("frames:      0 processed"), std::string::npos) << run.out;
  std::vector<std::string> lines;
  std::istringstream text(run.err);
  for (std::string line; std::getline(text, line);) {
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 3u) << run.err;
  EXPECT_NE(lines[0].find("cannot make color space 9 from a recording of color space 10"),
            std::string::npos)
      << lines[0];
  EXPECT_EQ(lines[1].rfind(lines[0] + " (", 0), 0u) << "the count follows, once: " << lines[1];
  EXPECT_EQ(lines[1].find(" times in all)"), lines[1].size() - 14);
  EXPECT_EQ(lines[2], "ekvision run: no frame reached the module MotionDetector");
  EXPECT_EQ(run.err.find(EKVISION_SOURCE_DIR), std::string::npos) << "no build path";
  EXPECT_NE(run.err.find("camera/src/ekarvsource.cpp:"), std::string::npos)
      << "sources are named from the top of the tree";
}

TEST_F(ToolFaults, AFullDiskFailsTheRecordingAndRecoverRestoresItsFrames) {
  const std::string full = dir.path("full.arv");
  std::filesystem::create_symlink("/dev/full", full);
  expectOneLine(runTool(dir, {"run", "--frames", "3", "--resolution", "0", "--record", full}),
                "ekvision run: cannot record " + full +
                    ": Can't write the file header (No space left on device)");

  // 40 KiB hold the header and one 38400-byte frame of 160x120 YUV422, 80 KiB two.
  const std::string limited = dir.path("limited.arv");
  const ektest::ToolRun run = runToolAfter(
      dir, kIgnoreFileSizeSignal,
      {"run", "--frames", "20", "--fps", "60", "--resolution", "0", "--record", limited},
      fileSizeLimit(40960));
  expectOneLine(run, "ekvision run: cannot write " + limited +
                         ": a write failed (File too large); 1 complete frames reached the file "
                         "('ekvision recover " +
                         limited + "' restores them)");
  EXPECT_NE(run.out.find("(a write failed: the disk may be full)"), std::string::npos) << run.out;
  EXPECT_EQ(EK::inspectVideo(limited).state, EK::EKRecordingState::kOpen);

  const std::string input = dir.path("input.avi");
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -f lavfi -i testsrc=size=160x120:rate=10 "
                         "-frames:v 12 -c:v mjpeg " +
                         ektest::shellQuoted(input))
                            .c_str()),
            0);
  const std::string imported = dir.path("imported.arv");
  expectOneLine(
      runToolAfter(dir, kIgnoreFileSizeSignal, {"import", input, imported, "--resolution", "0"},
                   fileSizeLimit(81920)),
      "ekvision import: cannot write " + imported +
          ": a write failed (File too large); 2 complete frames reached the file "
          "('ekvision recover " +
          imported + "' restores them)");
  expectOneLine(runTool(dir, {"import", input, full, "--resolution", "0"}),
                "ekvision import: cannot record " + full +
                    ": Can't write the file header (No space left on device)");

  for (const auto& [path, frames] : {std::pair{limited, 1u}, std::pair{imported, 2u}}) {
    const ektest::ToolRun recover = runTool(dir, {"recover", path});
    EXPECT_EQ(recover.exitCode, 0) << recover.err;
    EXPECT_EQ(recover.out.rfind("recovered " + path + ": " + std::to_string(frames) + " frames", 0),
              0u)
        << recover.out;
    EK::EKVideo video;
    ASSERT_TRUE(video.readVideo(path));
    EXPECT_EQ(video.frameCount, frames);
    EK::EKImage image(EK::kResolution160x120, EK::kColorSpaceYUV422);
    for (unsigned f = 0; f < frames; ++f) {
      EXPECT_TRUE(video.getFrame(image, f, 0, true));
    }
  }
}

}  // namespace
