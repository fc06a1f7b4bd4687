// The tool facing bad input and faults: every message names its cause on one line, with no
// path of the build machine; a command whose output is not whole exits non-zero; a failure
// repeated every frame is shown once with its count; recordings cut off by a full disk are
// restored by `ekvision recover`. A second writer is refused in tests/reliability.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::runTool;

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

// Bad input of every command, run in the folder that holds the files named.
TEST_F(ToolFaults, EveryBadInputGetsOneLineNamingItsCause) {
  std::filesystem::create_directory(dir.path("folder.arv"));
  ASSERT_EQ(mkfifo(dir.path("fifo.arv").c_str(), 0600), 0);
  ektest::writeBytes(dir.path("text.arv"), {'h', 'e', 'l', 'l', 'o'});
  ektest::writeBytes(dir.path("two.arv"), {'1', 'V'});
  ektest::writeBytes(dir.path("fake.ari"), std::vector<unsigned char>(64, 1));
  ektest::writeBytes(dir.path("short.arv"), {0x31, 0x56, 0x52, 0x41, 0, 0});
  ektest::writeBytes(dir.path("noise.avi"), std::vector<unsigned char>(1000, 0x42));
  // Three frames of a YUV422, a grey and an 8-bit three-layer stream.
  ektest::recordClip(dir.path("c"), 3, {{320, 240, 9, 8}, {160, 120, 0, 8}, {160, 120, 10, 8}});
  clip("played", EK::kColorSpaceYUV422, 2);
  // The command line split at spaces; exit code 2 (a bad command line) adds
  // " (see ekvision COMMAND --help)" to the message.
  struct Case {
    int exitCode;
    const char* command;
    std::string message;
  };
  const Case cases[] = {
      {2, "info", "FILE is required"},
      {1, "info folder.arv", "cannot read folder.arv: is a directory"},
      {1, "info fifo.arv", "cannot read fifo.arv: not seekable (a FIFO)"},
      {1, "info absent.arv", "cannot read absent.arv: no such file"},
      {1, "info two.arv", "cannot read two.arv: shorter than any header"},
      {1, "info text.arv", "text.arv is neither a .ari picture nor a .arv recording"},
      {1, "recover short.arv",
       "cannot recover short.arv: This arv file is shorter than its header"},
      {1, "convert fake.ari x.png", "cannot read fake.ari: not an .ari format"},
      {2, "convert fake.ari b.jpg", "OUT must end with .png or .ppm: b.jpg"},
      {1, "export c.arv out --to 3", "--to 3 is past the last complete frame, 2"},
      {1, "export c.arv out --stream 2",
       "stream 2 has color space 10, which has no known pixel layout: only YUV422 (9) and "
       "one-layer color spaces can be exported"},
      {2, "export c.arv out --from one",
       "--from: must be a whole number from 0 to 4294967295, not 'one'"},
      {2, "export c.arv out --at 1 --to 2", "--to excludes --at"},
      {2, "export c.arv out --bogus", "The following argument was not expected: --bogus"},
      {1, "import noise.avi x",
       "cannot open the video noise.avi: Invalid data found when processing input"},
      {2, "record a.arv b.arv",
       "a.arv is a recording already; record a camera, a pipeline, a stream or a video file"},
      {2, "run --fps 0", "--fps: must be a whole number from 1 to 120, not '0'"},
      {2, "run --seconds -1",
       "--seconds: must be a number of seconds above 0 and at most 604800, not '-1'"},
      {2, "record /dev/video0 x --resolution 3",
       "--resolution: 1280x960 recordings cannot be played back (Unsupported resolution); use "
       "--resolution 2 or below"},
      {2, "import noise.avi x --fps 121", "--fps: must be a whole number from 1 to 120, not '121'"},
      {2, "run --camera played.arv --record played.arv",
       "--record would overwrite the recording that --camera plays (played.arv)"},
      {2, "run --camera played.arv --detections played.arv",
       "--detections would overwrite the recording that --camera plays (played.arv)"},
      {1, "run --camera none.mp4",
       "cannot open the camera none.mp4: cannot open the video file none.mp4: no such file"},
      {1, "import folder.arv x", "cannot open the video folder.arv: is a directory"},
      {1, "record . x", "cannot open the camera .: cannot open the video file .: is a directory"},
      {1, "record noise.avi x",
       "cannot open the camera noise.avi: cannot open the video file noise.avi: FFmpeg cannot read "
       "it"},
      {1, "record http://127.0.0.1:1/x.mp4 x",
       "cannot open the camera http://127.0.0.1:1/x.mp4: cannot open the network stream "
       "http://127.0.0.1:1/x.mp4: Connection to tcp://127.0.0.1:1 failed: Connection refused"},
      {1, "record gst:nosuchelement x",
       "cannot open the camera gst:nosuchelement: cannot open the GStreamer pipeline "
       "nosuchelement: no element \"nosuchelement\""},
      {1, "record gst:videotestsrc!( x",
       "cannot open the camera gst:videotestsrc!(: cannot open the GStreamer pipeline "
       "videotestsrc!(: syntax error"},
      {1, "run --resolution 0 --record no/o.arv", "cannot record no/o.arv: no such directory: no"},
      {1, "run --detections no/d.jsonl", "cannot write no/d.jsonl: no such file"},
      {1, "run --module absent.so", "cannot load the module plugin absent.so: no such file"},
      {1, "run --module NOENTRY",
       EKVISION_NO_ENTRY_PLUGIN " is not a vision module plugin: it "
                                "exports no ekvisionCreateModule (build it with EKVISION_PLUGIN)"},
      {1, "run --module WRONGABI",
       EKVISION_WRONG_ABI_PLUGIN " was built for plugin ABI 2; this "
                                 "ekvision loads ABI 1: rebuild the plugin against this version"},
      {1, "run --call nosuch",
       "the module MotionDetector has no remote method 'nosuch' (ekvision run --list-methods "
       "lists them)"},
      {2, "run --call pause maybe", "argument paused of pause is a bool, not text ('maybe')"},
      {2, "run --view 127.0.0.1",
       "--view: '127.0.0.1' is not ADDR:PORT with a port from 0 to 65535"},
      {2, "run --camera played.arv --every-frame --view", "--every-frame excludes --view"},
      {2, "view --listen :8080", "--listen: ':8080' names no address to listen on"},
      {1, "view absent.arv", "cannot read absent.arv: no such file"},
      {1, "view played.arv --detections absent.jsonl", "cannot read absent.jsonl: no such file"},
      {1, "view played.arv --listen 192.0.2.1:8080",
       "cannot listen on 192.0.2.1:8080: cannot assign requested address"},
      {2, "view --detections d.jsonl", "--detections applies to a recording FILE.arv"},
      {2, "view played.arv --fps 10",
       "--fps applies to a camera: a recording shows its own frames"},
  };
  const std::string here = "cd " + ektest::shellQuoted(dir.path("")) + ";";
  for (const Case& c : cases) {
    std::vector<std::string> args;
    std::istringstream words(c.command);
    for (std::string word; words >> word;) {
      args.push_back(word == "NOENTRY"    ? EKVISION_NO_ENTRY_PLUGIN
                     : word == "WRONGABI" ? EKVISION_WRONG_ABI_PLUGIN
                                          : word);
    }
    if (args[0] == "run" && std::find(args.begin(), args.end(), "--frames") == args.end()) {
      args.insert(args.end(), {"--frames", "1"});  // a run that starts stops at once
    }
    const ektest::ToolRun run = runTool(dir, args, here);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.command;
    EXPECT_EQ(run.err, "ekvision " + args[0] + ": " + c.message +
                           (c.exitCode == 2 ? " (see ekvision " + args[0] + " --help)" : "") +
                           "\n");
    EXPECT_EQ(run.out.find("frames:"), std::string::npos) << "nothing ran: " << run.out;
  }
  const ektest::ToolRun unknown = runTool(dir, {"play", "x.arv"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_EQ(unknown.err, "ekvision: unknown command 'play' (see ekvision --help)\n");
  EXPECT_EQ(EK::inspectVideo(dir.path("played.arv")).storedFrameCount, 2u) << "played is intact";
  for (const char* made : {"out/frame_000000.png", "x.arv", "x.png"}) {
    EXPECT_FALSE(std::filesystem::exists(dir.path(made))) << made;
  }
}

// The media libraries' own lines appear only when asked for, before the tool's line.
TEST_F(ToolFaults, LibrariesSpeakOnlyWhenAskedTo) {
  ektest::writeBytes(dir.path("noise.avi"), std::vector<unsigned char>(1000, 0x42));
  const std::string here = "cd " + ektest::shellQuoted(dir.path("")) + ";";
  const std::string line =
      "ekvision record: cannot open the camera noise.avi: cannot open the video file noise.avi: "
      "FFmpeg cannot read it\n";
  const struct {
    const char* environment;
    bool verbose;
    const char* before;  // what stands before the tool's line
  } cases[] = {
      {"", false, ""},
      {"", true, "media.ffmpeg: [avi @ "},
      {"export EKVISION_LOG=debug;", false, "media.ffmpeg: [avi @ "},
      {"export EKVISION_LOG=loud;", false,
       "ekvision: EKVISION_LOG=loud is not a log level the tool knows (debug); ignored\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"record", "noise.avi", "x"};
    if (c.verbose) {
      args.push_back("--verbose");
    }
    const ektest::ToolRun run = runTool(dir, args, here + c.environment);
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_GE(run.err.size(), line.size()) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - line.size()), line) << "the tool's line comes last";
    const std::string before = run.err.substr(0, run.err.size() - line.size());
    EXPECT_EQ(before.empty(), *c.before == '\0') << c.environment << run.err;
    EXPECT_NE(before.find(c.before), std::string::npos) << c.environment << run.err;
  }
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
    return runTool(dir, args, "", asUser);
  };
  expectOneLine(runAs({"info", locked}),
                "ekvision info: cannot read " + locked + ": permission denied");
  expectOneLine(runAs({"recover", readOnly}),
                "ekvision recover: cannot recover " + readOnly + ": permission denied");
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
                    ": Can't write the file header (no space left on the device)");

  // 40 KiB hold the header and one 38400-byte frame of 160x120 YUV422; with SIGXFSZ ignored, a
  // write past the limit fails (EFBIG) instead of killing the tool.
  const std::string limited = dir.path("limited.arv");
  const ektest::ToolRun run = runTool(
      dir, {"run", "--frames", "20", "--fps", "60", "--resolution", "0", "--record", limited},
      "trap '' XFSZ;", "prlimit --fsize=40960");
  expectOneLine(run, "ekvision run: cannot write " + limited +
                         ": file too large; 1 complete frames reached the file "
                         "('ekvision recover " +
                         limited + "' restores them)");
  EXPECT_NE(run.out.find("(a write failed)"), std::string::npos) << run.out;
  EXPECT_EQ(EK::inspectVideo(limited).state, EK::EKRecordingState::kOpen);

  const ektest::ToolRun recover = runTool(dir, {"recover", limited});
  EXPECT_EQ(recover.exitCode, 0) << recover.err;
  EXPECT_EQ(recover.out.rfind("recovered " + limited + ": 1 frames", 0), 0u) << recover.out;
  EK::EKVideo video;
  ASSERT_TRUE(video.readVideo(limited));
  ASSERT_EQ(video.frameCount, 1u);
  EK::EKImage image(EK::kResolution160x120, EK::kColorSpaceYUV422);
  EXPECT_TRUE(video.getFrame(image, 0, 0, true));
}

}  // namespace
