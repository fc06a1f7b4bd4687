// ekvision run: a vision module on a camera, in a process of its own.
#include <ostream>

#include "runoptions.h"
#include "runsession.h"
#include "tool.h"

namespace ektool {
namespace {

const char kRunUsage[] =
    "usage: ekvision run [--module PLUGIN.so] [--camera SPEC] [--seconds S] [--frames N]\n"
    "                    [--fps N] [--resolution R] [--call METHOD [ARG...]]...\n"
    "                    [--record OUT.arv] [--contact-sheet OUT.png] [--name NAME]\n"
    "                    [--detections OUT.jsonl] [--list-methods]\n"
    "\n"
    "Runs a vision module as the robot's framework would: builds a broker, the camera module\n"
    "EKVideoDevice and the module, subscribes to the module (which starts detection), lets\n"
    "it run, unsubscribes and shuts everything down.\n"
    "\n"
    "  --module PLUGIN.so    a vision module plugin (built with EKVISION_PLUGIN); default:\n"
    "                        the built-in example motion detector\n"
    "  --camera SPEC         default: the synthetic scene, a bright rectangle moving over a\n"
    "                        dark texture. FILE.arv: play a recording in a loop, at its own\n"
    "                        size. /dev/videoN: a V4L2 camera; gst:PIPELINE: a GStreamer\n"
    "                        pipeline (YUY2 or BGR at its appsink); rtsp://..., http://...: a\n"
    "                        network stream; any other file: a video played in a loop at its\n"
    "                        own rate. Live frames are scaled to --resolution when the camera\n"
    "                        cannot give that size (see ekvision cameras)\n"
    "  --seconds S           run for S seconds (default 5 when --frames is not given)\n"
    "  --frames N            run until N frames were processed; with --seconds, whichever\n"
    "                        comes first\n"
    "  --fps N               frames per second, 1 to 120 (default 15)\n"
    "  --resolution R        0: 160x120, 1: 320x240, 2: 640x480 (default), 3: 1280x960\n"
    "  --call METHOD ARG...  call a remote method of the module once detection runs; repeat\n"
    "                        for more calls, made in order. Arguments are read as true or\n"
    "                        false, whole or decimal numbers, or else text (always text for\n"
    "                        a string parameter); e.g. --call setFrameRate 30 --call pause true\n"
    "  --record OUT.arv      record every frame the module fetched, on a thread of its own:\n"
    "                        when the disk falls behind frames are dropped, never the pace\n"
    "  --contact-sheet OUT.png\n"
    "                        a grid of 8 frames spread over the run, detected boxes in green\n"
    "  --detections OUT.jsonl\n"
    "                        write every detection as one line of JSON: timeStamp (us), x,\n"
    "                        y, w, h (pixels), leftAngle, topAngle, rightAngle, bottomAngle\n"
    "                        (radians), pixelCount\n"
    "  --name NAME           the module's name (default: MotionDetector, or the plugin's file\n"
    "                        name without lib and extension)\n"
    "  --list-methods        list the module's remote methods and exit\n"
    "  --every-frame         offline: hand every frame of the --camera recording to the\n"
    "                        module once, in order, as fast as it goes (no pacing, no\n"
    "                        loop thread), each with its recorded time stamp, camera and\n"
    "                        angles; the run ends at the last frame (or --frames/--seconds)\n"
    "\n"
    "Prints the camera and the module, each call with its result, one line per detection\n"
    "(modules with the remote method getDetections, see ekvision/ekdetection.h):\n"
    "  detection t=SECONDS.MICROS (+S since the first frame) box x= y= w= h=\n"
    "            angles left= top= right= bottom= rad pixels=N\n"
    "and a summary: frames processed, the frame rate achieved, the pacing (|period - asked\n"
    "period| between fetches, mean, 99th percentile and maximum; repeated and skipped camera\n"
    "frames by their time stamps), the detections, on the synthetic scene their mean\n"
    "intersection over union with the rectangle drawn at each one's time stamp, and the\n"
    "files written. Library failures are shown on standard error as they happen. Ctrl-C\n"
    "ends the run early, cleanly. A file that could not be written whole makes the run\n"
    "exit 1 with one line naming the cause.\n";

}  // namespace

int runRun(const std::vector<std::string>& args, Output& output) {
  const RunOptions options = parseRunOptions(args);
  if (options.help) {
    output.out << kRunUsage;
    return 0;
  }
  RunSession session(options, output);
  return session.run();
}

}  // namespace ektool
