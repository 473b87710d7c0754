#!/usr/bin/env python3
"""Mutation testing for bvex: does the test suite catch the faults a maintainer could make?

Each fault below is one small text substitution in one source file of the tool. For each,
the script copies the working tree (committed or not) into a scratch folder once, puts the
fault in, builds the `check` preset there (one build folder, so each fault is an
incremental build), runs CTest with a per-test time limit and records whether a test
failed (killed) or the suite still passed (survived). It prints a table and the score:
killed / (killed + survived). Equivalent faults, which cannot change what bvex does, stay
in the list with the reason; they are run as a check of that claim but not counted.

    tools/mutate.py                    every fault
    tools/mutate.py --only 3,10-12     faults by number
    tools/mutate.py --file reader      faults in files whose path contains "reader"
    tools/mutate.py --list             check every anchor and list the faults, build nothing

A fault whose text is not found exactly once in its file is an error, reported as such and
never counted. Exit status: 0 all counted faults killed, 1 some survived, 2 errors.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

# Each fault: (file under src/, text that must occur exactly once, its replacement,
#              what the fault is[, why it is equivalent]).
# Keep anchors short: just enough text to be unique in the file.
FAULTS = [
    # The difference report.
    ("report/report.cpp", "i < length;", "i + 1 < length;",
     "first-difference scan skips a block's last byte"),
    ("report/report.cpp", "end = length;", "end = length - 1;",
     "last-difference scan starts one byte before the block's end"),
    ("report/report.cpp", "gap <= BRIDGE_GAP", "gap < BRIDGE_GAP",
     "a gap of exactly BRIDGE_GAP equal bytes no longer joins"),
    ("report/report.cpp", "(pending.length - pending.end_diff) + first",
     "(pending.length - pending.first_diff) + first",
     "gap measured from the held-back line's first difference, not its last"),
    ("report/report.cpp", "first = 0;", "",
     "a joined change widens only the first line"),
    ("report/report.cpp", "pending.end_diff = pending.length;\n            first = 0;",
     "first = 0;",
     "a joined change widens only the second line"),
    ("report/report.cpp", "pending.end_diff == 1)", "pending.end_diff == 0)",
     "a single equal byte at a line's end is no longer shown"),
    ("report/report.cpp", "pending.end_diff == 1)", "pending.end_diff <= 1)",
     "single-equal-byte rule also applied when no equal byte is left",
     "with no equal byte left the line already ends at its block's end"),
    ("report/report.cpp", "pending.address + static_cast<std::uint32_t>(first)", "pending.address",
     "line shows its block's address instead of its first shown byte's"),
    ("report/report.cpp", "pending.patched + first", "pending.original + first",
     "patched half prints the original bytes"),
    ("report/report.cpp", "if (length > 0) {", "if (length > 1) {",
     "a one-byte block is not copied into the held-back block"),
    ("report/report.cpp", "std::min(length, MAX_LINE_BYTES)", "std::min(length, 16)",
     "blocks held back only up to 16 bytes"),
    ("report/report.cpp", "at + PIECE < size;", "at + PIECE < size - PIECE;",
     "a held-back block's middle pieces left out when it has more than two"),
    ("report/report.cpp", "if (size < PIECE) {", "if (size <= PIECE) {",
     "a sixteen-byte block copied one byte at a time",
     "the same bytes are copied, one at a time"),
    ("report/report.cpp", "i < size; ++i) {\n            to[i]", "i + 1 < size; ++i) {\n            to[i]",
     "the last byte of a short block not held back"),
    ("report/report.cpp", "output_space(OUTPUT_LINE_MAX)", "output_space(2 * count)",
     "asks the output for room for one half's digits only"),
    ("report/report.cpp", "pending.end_diff - pending.first_diff)",
     "pending.end_diff - pending.first_diff - 1)",
     "line end taken as inclusive: one byte too few shown"),
    # Hex formatting.
    ("report/hex.cpp", "& 7;", "& 6;",
     "digits A to F shown as the characters before them"),
    ("report/hex.cpp", "(nibbles) > 9)", "(nibbles) >= 9)",
     "digit 9 shown as a letter"),
    ("report/hex.cpp", "digits_of(in >> 4)", "(in >> 4) + '0'",
     "high digits of bytes from A0 on shown as punctuation"),
    ("report/hex.cpp", "(high, low, 0, 16,", "(low, high, 0, 16,",
     "the two digits of the first eight bytes of a run swapped"),
    ("report/hex.cpp", "(high, low, 8, 24,", "(high, low, 8, 8,",
     "the ninth byte's low digit shown as its high digit"),
    ("report/hex.cpp", '"0123456789ABCDEF"', '"0123456789abcdef"',
     "the last few bytes of a line in lower-case digits"),
    ("report/hex.cpp", "DIGITS[original[done] & 15]", "DIGITS[original[done] >> 4]",
     "the low digit of the original's last few bytes shown as their high digit"),
    ("report/hex.cpp", "2 * done + 1] = DIGITS[patched[done] & 15]",
     "2 * done + 1] = DIGITS[original[done] & 15]",
     "the patched half's last few low digits taken from the original"),
    ("report/hex.cpp", "count - done >= sizeof(Bytes16)", "count - done > sizeof(Bytes16)",
     "a line's last whole sixteen bytes formatted one at a time",
     "the last few bytes are formatted the same way, only one at a time"),
    ("report/hex.cpp", "std::endian::little", "std::endian::big",
     "address bytes shown in memory order, least significant first on little-endian machines"),
    ("report/hex.cpp", "std::memcpy(out, digits, 8);", "std::memcpy(out, digits, 6);",
     "address loses its last two digits"),
    ("report/hex.cpp", "out + 2 * count + 1;\n    std::size_t", "out + 2 * count;\n    std::size_t",
     "the patched half written over the space between the halves"),
    ("report/hex.cpp", "return second_half + 2 * count + 1;", "return second_half + 2 * count;",
     "the line's end taken before its newline"),
    # The output buffer.
    ("report/output_posix.cpp", "text + done", "text",
     "a short write is resumed from the text's start"),
    ("report/output_posix.cpp", "size - done)", "size)",
     "a short write is resumed asking for the whole text again"),
    ("report/output_posix.cpp", "errno == EINTR", "errno == EAGAIN",
     "an interrupted write counts as a failure"),
    ("report/output.cpp", "out.used = 0;", "",
     "buffer not emptied after being written out"),
    ("report/output.cpp", "write_out();\n    }", "out.used = 0;\n    }",
     "a full buffer is emptied without being written out"),
    ("report/output.cpp", "OUTPUT_BUFFER_BYTES - out.used < n",
     "OUTPUT_BUFFER_BYTES - out.used <= n",
     "buffer written out one line earlier",
     "only where the writes split the report changes"),
    ("report/output.cpp", "return !out.failed;", "return true;",
     "final write-out never reports a failure"),
    ("report/output_posix.cpp", "return false;", "continue;",
     "a failed write is retried for ever"),
    ("report/output_posix.cpp", "if (n > 0) {", "if (n >= 0) {",
     "a write that wrote nothing counts as progress",
     "on Linux a write of at least one byte to a file, pipe or terminal never returns 0"),
    # The reader.
    ("frontend/reader.cpp", "got == 0", "got < static_cast<long>(want - available)",
     "a short read taken for the end of the file"),
    ("frontend/platform_posix.cpp", "errno != EINTR", "errno != EAGAIN",
     "an interrupted read counts as a failure"),
    ("frontend/reader.cpp", "return static_cast<long>(available);", "return 0;",
     "the end of a file counts no bytes of its last short block",
     "the block loop takes the bytes buffered, not the count, and a count short of a block "
     "says the end just the same"),
    ("frontend/reader.cpp", "r.lockstep ? want - available", "r.lockstep ? want",
     "in lock-step a block read in pieces asks for a whole block again"),
    ("frontend/reader.cpp", " || r.capacity - r.end < want - available", "",
     "leftover bytes moved to the front only when there are none"),
    ("frontend/reader.cpp", "available == 0 || ", "",
     "an emptied buffer is not restarted at its front",
     "a block that does not fit is still moved; only the size of later reads changes"),
    ("frontend/reader.cpp", "r.start = 0;", "",
     "leftover bytes moved to the front without resetting the start"),
    ("frontend/platform_posix.cpp", "fstat(fd_b, &b)", "fstat(fd_b, &a)",
     "second descriptor's status read over the first's"),
    ("frontend/platform_posix.cpp", "return a.st_dev == b.st_dev", "return fd_a == fd_b",
     "one stream recognised only when both names give the same descriptor"),
    ("frontend/platform_posix.cpp", "!S_ISREG(a.st_mode)", "S_ISREG(a.st_mode)",
     "the regular-file test is inverted"),
    ("frontend/platform_posix.cpp", " &&\n           !S_ISBLK(a.st_mode)", "",
     "a disk named twice is read in lock-step",
     "each open of a disk keeps its own position; lock-step only makes reads smaller"),
    # The block loop.
    ("frontend/compare.cpp", "std::size_t offset = width;", "std::size_t offset = 0;",
     "equal run compares the first block a second time",
     "the first block is already known equal; it is compared again, nothing else changes"),
    ("frontend/compare.cpp", "std::min(stretch, total - offset)", "std::min(stretch, total)",
     "an equal stretch may run past the bytes buffered"),
    ("frontend/compare.cpp", "std::max<std::size_t>(1, EQUAL_STRETCH_BYTES / width) * width",
     "EQUAL_STRETCH_BYTES",
     "equal stretch not rounded down to whole blocks"),
    ("frontend/compare.cpp", "bytes_equal(a, b, width)", "bytes_equal(a, b, 1)",
     "only the first byte checked before skipping the first block"),
    ("frontend/compare.cpp", "address += static_cast<std::uint32_t>(equal);",
     "address += static_cast<std::uint32_t>(width);",
     "an equal run advances the address by one block"),
    ("frontend/compare.cpp", "(void)output_flush();", "",
     "finished lines wait for a full output buffer while the loop waits for input"),
    ("frontend/compare.cpp", "while (!output_failed())", "while (true)",
     "block loop goes on reading after the output failed"),
    ("frontend/compare.cpp", "a[0] != b[0] || ", "",
     "dense differences no longer found from the first byte",
     "the whole first block is compared instead, which finds the same"),
    ("frontend/compare.cpp", "if (got < 0) {", "if (got <= 0) {",
     "a file's end taken for a read failure"),
    ("frontend/compare.cpp", "if (reader_available(patched) == 0) {", "if (false) {",
     "the patched file's end does not end the comparison: the original is read to its end"),
    ("frontend/compare.cpp", ": CompareResult::patched_unreadable);",
     ": CompareResult::original_unreadable);",
     "a failed read of the patched file blames the original"),
    ("frontend/compare.cpp", "&& !patched.at_end", "",
     "the patched file asked for more after its end"),
    ("frontend/compare.cpp", "std::min(reader_available(patched), width)",
     "reader_available(patched)",
     "after a last, short block the rest of the patched file's buffer is dropped too",
     "the comparison is over once one file has ended; the patched file is not read again"),
    ("frontend/compare.cpp", "original.at_end = patched.at_end = false;", "",
     "after a last, short block neither file is asked again",
     "a file that ended gives nothing more; only a terminal could, and it is asked again"),
    ("frontend/reader.cpp", "r.capacity - r.end < r.capacity / 2", "false",
     "a handed file's bytes are never moved to the front: its buffer fills up"),
    ("frontend/compare.cpp", "return output_flush() ? result : CompareResult::output_failed;",
     "return output_failed() ? CompareResult::output_failed : result;",
     "report not written out at the end"),
    ("frontend/compare.cpp", "report_block(c.address, nullptr, nullptr, 0);", "(void)c;",
     "last held-back line never printed"),
    ("frontend/compare.cpp",
     "std::min(reader_available(original), reader_available(patched))",
     "reader_available(original)",
     "whole blocks counted from the original's buffer only"),
    # The command line.
    ("frontend/args.cpp", "c <= '9') {", "c < '9') {",
     "hex digit 9 not recognised"),
    ("frontend/args.cpp", "c <= '9'; }", "c < '9'; }",
     "decimal digit 9 not recognised"),
    ("frontend/args.cpp", "c <= 'f'", "c < 'f'",
     "hex digit f not recognised"),
    ("frontend/args.cpp",
     "if (magnitude > 0xFFFFFFFFu) {\n            return 0xFFFFFFFFu;\n        }\n    }",
     "}\n    if (magnitude > 0xFFFFFFFFu) {\n        return 0xFFFFFFFFu;\n    }",
     "address overflow checked only after all digits: the 64-bit sum wraps"),
    ("frontend/args.cpp", "d >= 0;", "d > 0;",
     "address reading stops at a 0 digit"),
    ("frontend/args.cpp", "*text == '+' || ", "",
     "a plus sign before the address is not accepted"),
    ("frontend/args.cpp", "negative = *text == '-';", "negative = *text == '+';",
     "the two signs before the address swapped"),
    ("frontend/args.cpp", "text[1] == 'x' || text[1] == 'X'", "text[1] == 'x'",
     "an upper-case 0X prefix not recognised"),
    ("frontend/args.cpp", " && hex_digit(text[2]) >= 0", "",
     "0x skipped even when no hex digit follows",
     "the 0 that would be read instead is worth nothing either"),
    ("frontend/args.cpp", "c == '\\t' || ", "",
     "a tab before the address not skipped"),
    ("frontend/args.cpp", "next < argc && argv", "argv",
     "option loop reads past the last argument"),
    ("frontend/args.cpp", "argc - next < 2", "argc - next < 1",
     "a single file name accepted"),
    ("frontend/args.cpp", "? LARGEST :", "? digit :",
     "a line width too large for 32 bits starts again from its next digit, back in range"),
    ("frontend/args.cpp", "(LARGEST - digit) / 10", "LARGEST / 10",
     "the last digit's own size left out of the overflow check"),
    ("frontend/args.cpp", "args.line_width > MAX_LINE_BYTES", "args.line_width >= MAX_LINE_BYTES",
     "line width 256 refused"),
    ("frontend/args.cpp", "argc - next >= 3", "argc - next > 3",
     "block address read only when a fourth positional follows"),
    ("frontend/args.cpp", "option != 'V' && option != 'v'", "option != 'V'",
     "-v refused"),
    # The entry point.
    ("frontend/main.cpp", "original.lockstep = patched.lockstep = ", "original.lockstep = ",
     "only the original side read in lock-step"),
    ("frontend/platform_posix.cpp", "if (*name == '\\0') {", "if (false) {",
     "an empty file name handed to the system to open",
     "natively open(\"\") fails by itself; bvex.wasm, which opened the current folder for it, "
     "has its own Cli rows in the wasi suite"),
    ("frontend/platform_posix.cpp", "O_RDONLY", "O_RDWR",
     "inputs opened for writing too"),
    ("frontend/compare.cpp", 'fatal("cannot read original file")', 'fatal("cannot read patched file")',
     "a failed read of the original blames the patched file"),
    ("frontend/main.cpp", "args.original, args.patched", "args.original, args.original",
     "the patched name opens the original file"),
    # 4 KiB, not less: with reads of a block or two the 4 GiB rows outlast the tests' time limit.
    ("frontend/main.cpp", "std::size_t{256} * 1024", "std::size_t{256} * 16",
     "read-ahead of 4 KiB",
     "whole blocks still fit; only the size of reads changes"),
    ("frontend/main.cpp", "input_close(original_fd);", "",
     "original file not closed",
     "the process ends right after; its end closes the file"),
    # File names on Windows: UTF-16 to UTF-8 and back (built and tested on every platform).
    ("frontend/utf16.cpp", "code < 0x800", "code <= 0x800",
     "U+0800 written as two bytes"),
    ("frontend/utf16.cpp", "(code - 0xD800) << 10", "(code - 0xD800) << 11",
     "a surrogate pair joined into the wrong code point"),
    ("frontend/utf16.cpp", "is_low_surrogate(text[i + 1])", "is_low_surrogate(text[i])",
     "surrogate pairs never joined: each half written as a sequence of its own"),
    ("frontend/utf16.cpp", "code >= least && ", "least >= 0x80 && ",
     "over-long UTF-8 sequences accepted"),
    ("frontend/utf16.cpp", "++at;\n            continue;", "continue;",
     "a byte that starts no sequence is never passed"),
    # The Windows side (built with the windows preset and tested under Wine).
    ("frontend/platform_windows.cpp", " | _O_BINARY", "",
     "files opened in text mode: CR LF and Ctrl-Z are translated"),
    ("frontend/platform_windows.cpp", "file_type(fd_a) == _S_IFCHR && file_type(fd_b) == _S_IFCHR",
     "file_type(fd_a) == _S_IFREG && file_type(fd_b) == _S_IFREG",
     "two opens of one file taken for one stream, two consoles not"),
    ("report/output_windows.cpp", "chunk[used++] = '\\r';", "",
     "report lines end in LF alone"),
    ("report/output_windows.cpp", "std::_Exit(1);", "return false;",
     "a pipe whose reader has gone gives a message"),
    ("report/output_windows.cpp", "_setmode(fd, _O_BINARY);", "",
     "standard output left in text mode: CR CR LF"),
    ("frontend/entry_windows.cpp", "bvex_main(argc, ", "bvex_main(argc - 1, ",
     "the last argument of the command line lost"),
    # The equal-bytes test: memcmp natively, 128-bit SIMD under WASI (built with the wasi
    # preset and tested under Node).
    ("frontend/equal_memcmp.cpp", "memcmp(a, b, size) == 0", "memcmp(a, b, size) <= 0",
     "bytes that compare below are taken for equal"),
    ("frontend/equal_wasi.cpp", "i < size;", "i + 1 < size;",
     "the last byte of a stretch shorter than a vector is not compared"),
    ("frontend/equal_wasi.cpp", "difference(a + 48, b + 48)", "difference(a + 32, b + 32)",
     "the fourth vector of a round is not compared"),
    ("frontend/equal_wasi.cpp", "size - at >= VECTOR_BYTES;", "size - at > VECTOR_BYTES;",
     "a last whole vector is left to the part-vector step",
     "the part-vector step compares the very same 16 bytes"),
    ("frontend/equal_wasi.cpp", "return at == size ||", "return true ||",
     "the bytes after the last whole vector are not compared"),
    ("frontend/equal_wasi.cpp", "a + size - VECTOR_BYTES, b + size - VECTOR_BYTES",
     "a + at, b + at",
     "the last part vector is read from where the whole ones stopped, past the end"),
    # The WASI entry point and the end of output where SIGPIPE does not end bvex.
    ("frontend/entry_wasi.cpp", "(void)chdir(folder);", "",
     "relative names resolved against the root instead of the current folder"),
    ("report/output_posix.cpp", "std::_Exit(1);", "return false;",
     "a pipe whose reader has gone gives a message where SIGPIPE does not end bvex"),
    ("report/output_posix.cpp", "errno == EPIPE", "errno == ENOSPC",
     "a full disk ends bvex quietly, and a pipe whose reader has gone gives a message"),
    # Messages.
    ("frontend/fatal.cpp", '"%s\\n"', '"%s"',
     "no newline after a message"),
    ("frontend/fatal.cpp", "std::exit(1)", "std::exit(2)",
     "errors end with status 2"),
    ("frontend/fatal.cpp", "stderr", "stdout",
     "messages go to standard output"),
]

# The format check would fail on most faults for their layout alone.
EXCLUDED_TESTS = "^source_format$"


def parse_selection(text, count):
    """Fault numbers (1-based) from "3,10-12"."""
    chosen = set()
    for part in text.split(","):
        first, _, last = part.partition("-")
        for n in range(int(first), int(last or first) + 1):
            if not 1 <= n <= count:
                sys.exit(f"mutate.py: no fault {n} (there are {count})")
            chosen.add(n)
    return sorted(chosen)


def preset_for(path_name):
    """The build that compiles and tests a source file: Windows-only files need the
    windows preset (MinGW-w64, tests under Wine), WASI-only files the wasi preset (tests
    under Node); everything else the check preset."""
    if "_windows" in path_name:
        return "windows"
    return "wasi" if "_wasi" in path_name else "check"


def anchor_problem(source, fault):
    """None when the fault's text occurs exactly once in source, else what is wrong."""
    found = source.count(fault[1])
    if found == 1:
        return None
    return "anchor not found" if found == 0 else f"anchor found {found} times"


def sync_tree(root, scratch):
    """Copies the working tree's files (committed or not) into scratch, touching only
    files that changed, so that the scratch build stays incremental. A copy gets the time
    it was made, not its source's: the build of a fault put in after the source was edited
    is newer than the source, and must still be redone."""
    listed = subprocess.run(
        ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        cwd=root, check=True, capture_output=True).stdout.decode().split("\0")
    wanted = {name for name in listed if name and (root / name).is_file()}
    for name in wanted:
        source, target = root / name, scratch / name
        if target.is_file() and target.read_bytes() == source.read_bytes():
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(source, target)
    for folder, dirs, files in os.walk(scratch):
        here = Path(folder).relative_to(scratch)
        if here == Path("."):
            dirs[:] = [d for d in dirs if d not in ("build", "mutate-logs")]
        for name in files:
            if (here / name).as_posix() not in wanted:
                (scratch / here / name).unlink()


def run(command, cwd, log):
    """Runs command in cwd, appending its output to log; returns its exit status."""
    with open(log, "a") as out:
        out.write(f"$ {' '.join(command)}\n")
        out.flush()
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def build_and_test(scratch, log, jobs, timeout, preset):
    """'built' false when the build failed; else the failed tests (empty when all passed)."""
    if run(["cmake", "--build", "--preset", preset, "-j", str(jobs)], scratch, log) != 0:
        return False, []
    failed_log = scratch / f"build/{preset}/Testing/Temporary/LastTestsFailed.log"
    if failed_log.exists():
        failed_log.unlink()
    # Not stopped at the first failure under Wine: its session must be ended by the last test.
    stop = [] if preset == "windows" else ["--stop-on-failure"]
    status = run(["ctest", "--test-dir", f"build/{preset}", "--timeout", str(timeout),
                  "-E", EXCLUDED_TESTS, *stop, "-j", str(jobs)], scratch, log)
    failed = []
    if failed_log.exists():
        # "3:Name" or "3:Name  # GetParam() = ..."; keep the name.
        failed = [line.split(":", 1)[-1].split("  #")[0].strip()
                  for line in failed_log.read_text().splitlines()]
    if status != 0 and not failed:
        failed = ["(ctest failed)"]
    return True, failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", help="fault numbers, e.g. 3,10-12")
    parser.add_argument("--file", action="append", default=[],
                        help="only faults in source paths containing this text (repeatable)")
    parser.add_argument("--list", action="store_true",
                        help="check the anchors and list the faults; build nothing")
    parser.add_argument("--skip-equivalent", action="store_true",
                        help="do not run the faults marked equivalent")
    parser.add_argument("--timeout", type=int, default=30, help="seconds per test (default 30)")
    parser.add_argument("--jobs", type=int, default=2, help="build and test jobs (default 2)")
    parser.add_argument("--scratch", help="scratch copy of the tree, kept between runs "
                        "(default: a folder under the temporary directory)")
    args = parser.parse_args()

    root = Path(__file__).resolve().parent.parent
    numbers = range(1, len(FAULTS) + 1)
    if args.only:
        numbers = parse_selection(args.only, len(FAULTS))
    numbers = [n for n in numbers
               if not args.file or any(f in FAULTS[n - 1][0] for f in args.file)]
    if args.skip_equivalent:
        numbers = [n for n in numbers if len(FAULTS[n - 1]) < 5]

    # Every anchor is checked before anything is built, so a moved one is seen at once.
    problems = {}
    for n in numbers:
        path = root / "src" / FAULTS[n - 1][0]
        source = path.read_text() if path.is_file() else ""
        problem = anchor_problem(source, FAULTS[n - 1]) if source else "file not found"
        if problem:
            problems[n] = problem
            print(f"ERROR: fault {n} ({FAULTS[n - 1][0]}: {FAULTS[n - 1][3]}): {problem}: "
                  f"{FAULTS[n - 1][1]!r}", file=sys.stderr)
    if args.list:
        for n in numbers:
            fault = FAULTS[n - 1]
            note = f"  [equivalent: {fault[4]}]" if len(fault) > 4 else ""
            flag = f"  [ERROR: {problems[n]}]" if n in problems else ""
            print(f"{n:3}  {Path(fault[0]).name:20} {fault[3]}{note}{flag}")
        return 2 if problems else 0

    scratch = Path(args.scratch or Path(tempfile.gettempdir()) / f"bvex-mutate-{root.name}")
    scratch.mkdir(parents=True, exist_ok=True)
    logs = scratch / "mutate-logs"
    shutil.rmtree(logs, ignore_errors=True)
    logs.mkdir()
    sync_tree(root, scratch)
    print(f"scratch copy: {scratch} (logs in {logs})")

    started = time.monotonic()
    for preset in sorted({preset_for(FAULTS[n - 1][0]) for n in numbers}):
        log = logs / f"unchanged-{preset}.log"
        if run(["cmake", "--preset", preset], scratch, log) != 0:
            sys.exit(f"mutate.py: configure of the {preset} preset failed, see {log}")
        built, failed = build_and_test(scratch, log, args.jobs, args.timeout, preset)
        if not built or failed:
            what = f"fails {', '.join(failed)}" if built else "does not build"
            sys.exit(f"mutate.py: the unchanged tree {what} ({preset} preset), see {log}")
        print(f"unchanged tree ({preset} preset): built and passed "
              f"in {time.monotonic() - started:.0f} s")

    results = {}
    for n in numbers:
        if n in problems:
            results[n] = ("ERROR", problems[n])
            continue
        path_name, anchor, replacement = FAULTS[n - 1][:3]
        target = scratch / "src" / path_name
        original = target.read_text()
        began = time.monotonic()
        try:
            target.write_text(original.replace(anchor, replacement, 1))
            built, failed = build_and_test(scratch, logs / f"{n:02}.log", args.jobs,
                                           args.timeout, preset_for(path_name))
        finally:
            target.write_text(original)
        if not built:
            results[n] = ("ERROR", f"does not build, see {logs / f'{n:02}.log'}")
        elif failed:
            more = f" (+{len(failed) - 1})" if len(failed) > 1 else ""
            results[n] = ("killed", failed[0] + more)
        else:
            results[n] = ("survived", "")
        equivalent = len(FAULTS[n - 1]) > 4
        print(f"  fault {n:3}: {results[n][0]}{' (marked equivalent)' if equivalent else ''}"
              f" in {time.monotonic() - began:.0f} s", flush=True)

    print()
    print(f"{'#':>3}  {'file':20} {'fault':70} result")
    counted = killed = 0
    errors = []
    for n in numbers:
        fault = FAULTS[n - 1]
        outcome, detail = results[n]
        equivalent = len(fault) > 4
        if outcome == "ERROR":
            errors.append(n)
        elif equivalent and outcome == "killed":
            errors.append(n)
            outcome, detail = "ERROR", f"marked equivalent but killed by {detail}"
        elif equivalent:
            outcome, detail = "equivalent", fault[4]
        else:
            counted += 1
            killed += outcome == "killed"
        print(f"{n:3}  {Path(fault[0]).name:20} {fault[3]:70} {outcome}"
              f"{': ' + detail if detail else ''}")
    print()
    score = f"{killed}/{counted} = {100.0 * killed / counted:.1f}%" if counted else "none"
    print(f"score: {score} killed; {len(numbers) - counted - len(errors)} equivalent, "
          f"{len(errors)} errors; {time.monotonic() - started:.0f} s")
    if errors:
        print(f"ERROR: faults {', '.join(map(str, errors))} could not be judged (see above)",
              file=sys.stderr)
        return 2
    return 0 if killed == counted else 1


if __name__ == "__main__":
    sys.exit(main())
