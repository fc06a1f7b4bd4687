#!/usr/bin/env python3
"""Runs ekvision_bench_convert with repetitions and prints the medians and the ratios of our
kernels to their peers (libyuv, OpenCV, memcpy of the output's size, the scalar reference).

Usage: report_ratios.py [path/to/ekvision_bench_convert] [extra benchmark flags...]
"""
import json
import subprocess
import sys

# subject -> (ours, scalar, OpenCV, libyuv, memcpy of the output's size); None: no such peer.
SUBJECTS = {
    "YUV422->BGR": ("BM_YuvToBgr_Ours", "BM_YuvToBgr_Scalar", "BM_YuvToBgr_OpenCV",
                    "BM_YuvToBgr_Libyuv", "BM_Memcpy_3BytesPerPixel"),
    "BGR->YUV422": ("BM_BgrToYuv_Ours", "BM_BgrToYuv_Scalar", None, "BM_BgrToYuv_Libyuv",
                    "BM_Memcpy_2BytesPerPixel"),
    "YUV422->YYYYUUVV": ("BM_YuvToYYYYUUVV_Ours", "BM_YuvToYYYYUUVV_Scalar", None,
                         "BM_YuvToPlanar_Libyuv", "BM_Memcpy_2BytesPerPixel"),
    "YUV422->YYYUUUVVV": ("BM_YuvToYYYUUUVVV_Ours", "BM_YuvToYYYUUUVVV_Scalar", None,
                          "BM_YuvToYYYUUUVVV_Libyuv", "BM_Memcpy_3BytesPerPixel"),
}
# libyuv writes the 4:4:4 planes in two steps; its one-step 4:2:2 unpacker, which writes a
# third fewer bytes, bounds what a single pass can do.
LOWER_BOUND = ("YUV422->YYYUUUVVV", "BM_YuvToYYYUUUVVV_Ours", "BM_YuvToPlanar_Libyuv",
               "libyuv YUY2ToI422 alone")


def run(binary, extra):
    command = [binary, "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
               "--benchmark_format=json"] + extra
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return json.loads(output)


def medians(report):
    """{(benchmark name, resolution): median pixels per second}"""
    out = {}
    for entry in report["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        name, width, height = entry["run_name"].split("/")
        resolution = width.split(":")[1] + "x" + height.split(":")[1]
        out[(name, resolution)] = entry["items_per_second"]
    return out


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "./bench/ekvision_bench_convert"
    report = run(binary, sys.argv[2:])
    rates = medians(report)
    print("target:", report["context"].get("ekconvert target", "?"))
    print("medians of 5 repetitions, Gpixel/s; ratios are ours / peer")
    header = (f"{'conversion':<18} {'size':<9} {'ours':>6} {'scalar':>6} {'OpenCV':>6} "
              f"{'libyuv':>6} {'memcpy':>6} | {'/libyuv':>7} {'/OpenCV':>7} {'/memcpy':>7} "
              f"{'/scalar':>7}")
    print(header)
    print("-" * len(header))
    for resolution in sorted({r for (_, r) in rates}, key=lambda r: int(r.split("x")[0])):
        for subject, names in SUBJECTS.items():
            values = [rates.get((n, resolution)) if n else None for n in names]
            if values[0] is None:
                continue
            ours = values[0]
            cells = " ".join(f"{v / 1e9:6.2f}" if v else f"{'-':>6}" for v in values)
            ratios = " ".join(f"{ours / v:7.2f}" if v else f"{'-':>7}"
                              for v in (values[3], values[2], values[4], values[1]))
            print(f"{subject:<18} {resolution:<9} {cells} | {ratios}")
    subject, ours, bound, label = LOWER_BOUND
    for resolution in sorted({r for (_, r) in rates}, key=lambda r: int(r.split("x")[0])):
        if (ours, resolution) in rates and (bound, resolution) in rates:
            print(f"{subject} {resolution}: {rates[(ours, resolution)] / rates[(bound, resolution)]:.2f}"
                  f" x {label} ({rates[(bound, resolution)] / 1e9:.2f} Gpixel/s)")


if __name__ == "__main__":
    main()
