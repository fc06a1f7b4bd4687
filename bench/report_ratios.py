#!/usr/bin/env python3
"""Runs ekvision_bench_convert with repetitions and prints, for every instruction-set target the
benchmark measured, the medians and the ratios of our kernels to their peers (libyuv restricted
to the same instruction sets, OpenCV, memcpy of the output's size, the scalar reference).

Last, it flags every target of ours that is slower than a lower target on the same conversion and
size on this processor (the dispatcher picks the highest target, so such a target is a loss).

Usage: report_ratios.py [path/to/ekvision_bench_convert] [extra benchmark flags...]
e.g. report_ratios.py build/bench/ekvision_bench_convert --benchmark_filter=target:AVX2
"""
import json
import subprocess
import sys

# subject -> (ours, scalar, OpenCV, libyuv, memcpy of the output's size); None: no such peer.
# Ours and libyuv are measured once per target; the others once for all.
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
PER_TARGET = {names[0] for names in SUBJECTS.values()} | {names[3] for names in SUBJECTS.values()}
# libyuv writes the 4:4:4 planes in two steps; its one-step 4:2:2 unpacker, which writes a
# third fewer bytes, bounds what a single pass can do.
LOWER_BOUND = ("YUV422->YYYUUUVVV", "BM_YuvToYYYUUUVVV_Ours", "BM_YuvToPlanar_Libyuv",
               "libyuv YUY2ToI422 alone")
# A higher target is flagged when slower than a lower one by more than this fraction, so that
# run-to-run noise between targets of equal speed (SSE4 and SSSE3) does not raise flags.
SLOWER_TOLERANCE = 0.03


def run(binary, extra):
    command = [binary, "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
               "--benchmark_format=json"] + extra
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return json.loads(output)


def medians(report):
    """{(benchmark name, target or None, resolution): median pixels per second}"""
    out = {}
    for entry in report["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        name, *parts = entry["run_name"].split("/")
        fields = dict(part.split(":", 1) for part in parts)
        resolution = fields["width"] + "x" + fields["height"]
        out[(name, fields.get("target"), resolution)] = entry["items_per_second"]
    return out


def by_width(resolutions):
    return sorted(resolutions, key=lambda r: int(r.split("x")[0]))


def table(rates, target):
    def rate(name, resolution):
        if name is None:
            return None
        return rates.get((name, target if name in PER_TARGET else None, resolution))

    print(f"\ntarget: {target}")
    header = (f"{'conversion':<18} {'size':<9} {'ours':>6} {'scalar':>6} {'OpenCV':>6} "
              f"{'libyuv':>6} {'memcpy':>6} | {'/libyuv':>7} {'/OpenCV':>7} {'/memcpy':>7} "
              f"{'/scalar':>7}")
    print(header)
    print("-" * len(header))
    resolutions = by_width({r for (_, t, r) in rates if t == target})
    for resolution in resolutions:
        for subject, names in SUBJECTS.items():
            values = [rate(n, resolution) for n in names]
            if values[0] is None:
                continue
            ours = values[0]
            cells = " ".join(f"{v / 1e9:6.2f}" if v else f"{'-':>6}" for v in values)
            ratios = " ".join(f"{ours / v:7.2f}" if v else f"{'-':>7}"
                              for v in (values[3], values[2], values[4], values[1]))
            print(f"{subject:<18} {resolution:<9} {cells} | {ratios}")
    subject, ours, bound, label = LOWER_BOUND
    for resolution in resolutions:
        a, b = rate(ours, resolution), rate(bound, resolution)
        if a and b:
            print(f"{subject} {resolution}: {a / b:.2f} x {label} ({b / 1e9:.2f} Gpixel/s)")
    # Larger frames against each smaller one: throughput per pixel should not drop with size.
    for i, small in enumerate(resolutions[:-1]):
        larger = resolutions[i + 1:]
        cells = []
        for subject, names in SUBJECTS.items():
            base = rate(names[0], small)
            if base:
                cells.append(subject + " " + " ".join(
                    f"{rate(names[0], r) / base:.2f}" for r in larger if rate(names[0], r)))
        print(f"ours at {', '.join(larger)} / ours at {small}: " + "; ".join(cells))


def flag_slower_targets(rates, targets):
    """Prints a line for each (conversion, size, target) of ours that a lower target beats; the
    targets are listed best first, as the benchmark registers them."""
    flagged = 0
    for subject, names in SUBJECTS.items():
        ours = names[0]
        for resolution in by_width({r for (n, _, r) in rates if n == ours}):
            width, height = (int(side) for side in resolution.split("x"))
            micros = {t: width * height / rates[(ours, t, resolution)] * 1e6 for t in targets
                      if rates.get((ours, t, resolution))}
            ranked = [t for t in targets if t in micros]
            for i, target in enumerate(ranked):
                lower = ranked[i + 1:]
                if not lower:
                    continue
                best = min(lower, key=lambda t: micros[t])
                if micros[target] > micros[best] * (1 + SLOWER_TOLERANCE):
                    flagged += 1
                    print(f"SLOWER THAN LOWER TARGET: {subject} {resolution} {target} "
                          f"{micros[target]:.1f} us > {best} {micros[best]:.1f} us "
                          f"(+{micros[target] / micros[best] - 1:.0%})")
    if flagged == 0:
        print(f"no target slower than a lower one by more than {SLOWER_TOLERANCE:.0%}")


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "./bench/ekvision_bench_convert"
    report = run(binary, sys.argv[2:])
    rates = medians(report)
    context = report["context"]
    print("CPU:", context.get("cpu", "?"), "| dispatched target:",
          context.get("ekconvert target", "?"))
    print("medians of 5 repetitions, Gpixel/s; ratios are ours / peer, both in the same run")
    targets = []
    for (_, target, _) in rates:
        if target is not None and target not in targets:
            targets.append(target)
    for target in targets:
        table(rates, target)
    print()
    flag_slower_targets(rates, targets)


if __name__ == "__main__":
    main()
