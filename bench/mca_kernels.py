#!/usr/bin/env python3
"""Models the conversion kernels' inner loops with llvm-mca on several processors.

For every kernel and x86 target compiled into the conversion objects, the loops of the
kernel (backward branches that store) are cut out of objdump's listing and given to
llvm-mca for each processor model; the report is cycles per 64 pixels, from llvm-mca's
cycles per iteration and the bytes each iteration stores. Kernels whose AVX2 and AVX-512
forms narrow their vectors at run time have one loop per width: each is listed, widest
first as the compiler laid them out.

Usage: mca_kernels.py BUILD_DIR [--cpus sapphirerapids,icelake-server,znver4]
       [--mca llvm-mca-16]
Needs Debian's llvm-16 (llvm-mca-16) and binutils (objdump).
"""
import argparse
import pathlib
import re
import shutil
import subprocess
import sys

# object file -> [(kernel, output bytes per pixel)]
KERNELS = {
    "ekconvert_yuv422_bgr.cpp.o": [("yuv422ToBgrKernel", 3)],
    "ekconvert_bgr_yuv422.cpp.o": [("bgrToYuv422Kernel", 2)],
    "ekconvert_yuv422_planar.cpp.o": [("yuv422ToYYYYUUVVKernel", 2),
                                      ("yuv422ToYYYUUUVVVKernel", 3)],
}
TARGETS = ["AVX3_DL", "AVX3", "AVX2", "SSE4", "SSSE3"]
REGISTER_BYTES = {"xmm": 16, "ymm": 32, "zmm": 64}
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$")


def listing(objdump, obj, symbol):
    """[(address, mnemonic, operands)] of the function whose demangled name ends in symbol."""
    out = subprocess.run([objdump, "-d", "-C", "--no-show-raw-insn", str(obj)], check=True,
                         capture_output=True, text=True).stdout
    body, inside = [], False
    for line in out.splitlines():
        if line.endswith(">:"):
            inside = symbol in line
            continue
        match = LINE.match(line) if inside else None
        if match:
            operands = match.group(3).split("#")[0].strip()
            body.append((int(match.group(1), 16), match.group(2), operands))
    return body


def split_operands(operands):
    """The operands of an AT&T instruction, split at the commas outside parentheses."""
    parts, depth, current = [], 0, ""
    for char in operands:
        depth += {"(": 1, ")": -1}.get(char, 0)
        if char == "," and depth == 0:
            parts.append(current)
            current = ""
        else:
            current += char
    return parts + [current]


def stored_bytes(mnemonic, operands):
    """Bytes an instruction stores to memory (its last operand is an address), else 0."""
    parts = split_operands(operands)
    if len(parts) < 2 or "(" not in parts[-1] or not mnemonic.startswith(("mov", "vmov", "vpmov")):
        return 0
    if "%rsp" in parts[-1] or "%rbp" in parts[-1]:
        return 0  # a register spilled to the stack, not output
    register = re.search(r"%([xyz]mm)\d+", parts[0])
    return REGISTER_BYTES[register.group(1)] if register else 0


def loops(body):
    """[(instructions, bytes stored an iteration)] for each backward branch that stores."""
    found = []
    for index, (address, mnemonic, operands) in enumerate(body):
        if not mnemonic.startswith("j"):
            continue
        target = re.match(r"([0-9a-f]+)", operands)
        if not target or int(target.group(1), 16) > address:
            continue
        start = next(i for i, entry in enumerate(body) if entry[0] == int(target.group(1), 16))
        block = body[start:index + 1]
        stored = sum(stored_bytes(m, o) for _, m, o in block)
        if stored:
            found.append((block, stored))
    return found


def cycles_per_iteration(mca, cpu, block):
    lines = ["loop:"]
    for _, mnemonic, operands in block[:-1]:
        lines.append(f"  {mnemonic} {operands}")
    lines.append(f"  {block[-1][1]} loop")
    result = subprocess.run([mca, f"-mcpu={cpu}", "-iterations=200"], input="\n".join(lines) + "\n",
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(result.stderr.strip().splitlines()[0])
    total = re.search(r"Total Cycles:\s+(\d+)", result.stdout)
    return int(total.group(1)) / 200


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--cpus", default="sapphirerapids,icelake-server,znver4")
    parser.add_argument("--mca", default="llvm-mca-16")
    args = parser.parse_args()
    objdump = shutil.which("objdump")
    directory = pathlib.Path(args.build, "libekvision/src/convert/CMakeFiles/ekvision_convert.dir")
    cpus = args.cpus.split(",")
    print(f"cycles per 64 pixels ({args.mca}); columns: {', '.join(cpus)}")
    for name, kernels in KERNELS.items():
        obj = directory / name
        if not obj.exists():
            sys.exit(f"mca_kernels: no {obj}: build the library first")
        for kernel, output_bytes in kernels:
            for target in TARGETS:
                body = listing(objdump, obj, f"N_{target}::{kernel}(")
                for block, stored in loops(body):
                    pixels = stored / output_bytes
                    cells = [64 * cycles_per_iteration(args.mca, cpu, block) / pixels
                             for cpu in cpus]
                    print(f"{kernel:<24} {target:<8} {int(pixels):>4} px/iteration  " +
                          "  ".join(f"{c:6.1f}" for c in cells))


if __name__ == "__main__":
    main()
