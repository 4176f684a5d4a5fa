#!/usr/bin/env python3
"""Mutation run: puts small faults into a copy of the tree one at a time, builds, runs the
test suite against each, and prints which faults the suite catches.

    scripts/mutate.py [--jobs N] [--only WORD] [--keep DIR]

The copy and its build live in a temporary directory (or --keep DIR). A fault counts as
caught when any test fails; a fault that does not build is reported apart and not counted.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# (what, [(file, pattern, replacement)]): pattern is a regular expression that must match
# exactly once (DOTALL); replacement may use \g<1>.
MUTANTS = [
    # The list
    ("acknowledgement no longer stops the time-out",
     [("src/link/serial_port.cpp", r"    ack_timer\.stop\(\);\n", "")]),
    ("link watchdog at 200 ms", [("src/app/mainwindow.cpp", r"link_check_interval_ms = 2000", "link_check_interval_ms = 200")]),
    ("acknowledgement time-out at 300 ms", [("src/link/serial_port.cpp", r"ack_timeout_ms = 3000", "ack_timeout_ms = 300")]),
    ("switch back hands over the 430 window's own index",
     [("src/app/mainwindow.cpp", r"change_serial_port_index_430\(window_431->current_port_index\(\)\)",
       "change_serial_port_index_430(ui->comboBox_SerialPort->currentIndex())")]),
    ("model-431 window position not saved",
     [("src/window431/mainwindow_431.cpp", r"    settings_store::write_pos\(settings_organisation, pos\(\)\);\n", "")]),
    ("interlaced correction misses code 7", [("src/model/status_texts.cpp", r"rate >= 5 && rate <= 7", "rate >= 5 && rate <= 6")]),
    ("payload code 0xC1 decoded as 12G", [("src/model/status_texts.cpp", r"\{0xC1, 2, 0, 1\}", "{0xC1, 3, 0, 1}")]),
    ("Group A mute captions swapped in the form",
     [("src/window430/mainwindow.ui", r'(name="checkBox_mute_12">\s*<property name="text">\s*<string>)1/2 Mute', r"\g<1>3/4 Mute"),
      ("src/window430/mainwindow.ui", r'(name="checkBox_mute_34">\s*<property name="text">\s*<string>)3/4 Mute', r"\g<1>1/2 Mute")]),
    ("431 form's GrA 1/2 and GrA 3/4 captions swapped",
     [("src/window431/mainwindow_431.ui", r'(name="label_32">\s*<property name="text">\s*<string>)GrA 1/2:', r"\g<1>GrA 3/4:"),
      ("src/window431/mainwindow_431.ui", r'(name="label_31">\s*<property name="text">\s*<string>)GrA 3/4:', r"\g<1>GrA 1/2:")]),
    ("boxsim's switch keeps the model", [("tools/boxsim/commands.cpp", r"other_model\(box\.model\(\)\)", "box.model()")]),
    ("--silence-every equal to --silence accepted",
     [("tools/boxsim/options.cpp", r"run\.silence_every <= run\.silence", "run.silence_every < run.silence")]),
    # Wire layout
    ("settings frame: pairs 1/2 and 3/4 swapped",
     [("src/link/settings_bytes.h", r"&Settings_values::output_12_2,(\s*)&Settings_values::output_34_2",
       r"&Settings_values::output_34_2,\g<1>&Settings_values::output_12_2")]),
    ("status 430: group routing one byte late", [("src/link/status_layout.h", r"group_routing = 27", "group_routing = 28")]),
    ("status 431: SDI rate one byte late", [("src/link/status_layout.h", r"sdi_rate = 12;", "sdi_rate = 11;")]),
    ("status 430: CRC error count little-endian",
     [("src/link/status_layout.cpp", r"return static_cast<uint16_t>\(bytes\[0\] << 8 \| bytes\[1\]\);",
       "return static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);")]),
    ("flag: payload identifier read from bit 4", [("src/link/status_layout.h", r"pid_present = 0x20", "pid_present = 0x10")]),
    ("flag: audio channels read from bits 2-0", [("src/link/status_layout.h", r"channels_shift = 1", "channels_shift = 0")]),
    ("CRC starts from 0", [("src/link/crc16.cpp", r"uint16_t crc = 0xFFFF;", "uint16_t crc = 0;")]),
    ("CRC sent least significant byte first",
     [("src/link/frame_codec.cpp", r"frame\.append\(static_cast<char>\(crc >> 8\)\);\n(\s*)frame\.append\(static_cast<char>\(crc & 0xFF\)\);",
       r"frame.append(static_cast<char>(crc & 0xFF));\n\g<1>frame.append(static_cast<char>(crc >> 8));")]),
    ("assembler accepts a length of 0", [("src/link/frame_codec.cpp", r"if \(byte == 0 \|\| byte > max_payload_length\)", "if (byte > max_payload_length)")]),
    # Tables
    ("sampling code 10 shown unknown", [("src/model/status_texts.cpp", r"sampling <= 10 && sampling != 7", "sampling <= 9 && sampling != 7")]),
    ("bit depth read from one bit", [("src/model/status_texts.cpp", r"pid\[3\] & 0x03", "pid[3] & 0x01")]),
    ("HDMI format 15 unknown", [("src/model/status_texts.cpp", r"    case 11:\n    case 15:\n", "    case 11:\n")]),
    ("431 depth text without the blank", [("src/model/status_texts.cpp", r'" 48 bit"', '" 48bit"')]),
    ("protocol 3.1 accepted", [("src/model/status_texts.cpp", r"\{0x10, 0x11, 0x20, 0x30\}", "{0x10, 0x11, 0x20, 0x30, 0x31}")]),
    # Signal order and the decoder
    ("acknowledgement after the fields are stored",
     [("src/model/parcer.cpp", r"    if \(trusted && \(status_flags & status::flag::ack\)\)\n        emit ack_recieved\(\);\n", ""),
      ("src/model/parcer.cpp", r"\n    emit update_data_ready\(\);",
       "\n    if (trusted && (status_flags & status::flag::ack))\n        emit ack_recieved();\n    emit update_data_ready();")]),
    ("window switch before the refresh",
     [("src/model/parcer.cpp", r"\n    emit update_data_ready\(\);\n", "\n"),
      ("src/model/parcer.cpp", r"(\n        previous_device_id = device_id;\n    \}\n)", r"\g<1>    emit update_data_ready();\n")]),
    ("corrupted frame acknowledges", [("src/model/parcer.cpp", r"if \(trusted && \(status_flags & status::flag::ack\)\)", "if (status_flags & status::flag::ack)")]),
    ("corrupted frame withdraws the reset request",
     [("src/model/parcer.cpp", r"if \(trusted && \(status_flags & status::flag::crc_reset_done\)\)", "if (status_flags & status::flag::crc_reset_done)")]),
    ("corrupted frame switches windows", [("src/model/parcer.cpp", r"if \(trusted && device_id != previous_device_id\)", "if (device_id != previous_device_id)")]),
    ("forced-format rule on a corrupted frame", [("src/window430/status_display.cpp", r"if \(parcer->crc_ok\)\n\s*video->check_manual_fmt_allowed\(\);", "video->check_manual_fmt_allowed();")]),
    ("settings frame laid out for the last frame's identifier",
     [("src/link/exchange_cycle.cpp", r"build_settings_frame\(parcer->previous_device_id", "build_settings_frame(parcer->device_id")]),
    # Link
    ("connected despite a CRC mismatch", [("src/link/exchange_cycle.cpp", r" && parcer->crc_ok\)", ")")]),
    ("connected from version 1.0 on", [("src/link/exchange_cycle.cpp", r"highest_unsupported_version = 0x1F", "highest_unsupported_version = 0x0F")]),
    ("sent while not connected", [("src/link/exchange_cycle.cpp", r"    if \(!connected\)\n        return;\n", "")]),
    ("watchdog never clears its counter", [("src/link/exchange_cycle.cpp", r"\n    received_bytes = 0;\n\}", "\n}")]),
    ("no copy of the box's settings on connect",
     [("src/window430/settings_controls.cpp", r"static_cast<Audio_settings&>\(\*audio\) = \*parcer;", "static_cast<Bank_routing&>(*audio) = *parcer;")]),
    ("waiting frames kept without bound", [("src/link/serial_port.cpp", r"max_waiting_frames = 8", "max_waiting_frames = 80")]),
    ("lost port never looked for", [("src/link/exchange_cycle.cpp", r"    serial_port->reopen_if_back\(\);\n", "")]),
    ("rate entry 12 taken on every platform", [("src/window_common/port_list.cpp", r"int entry = combo->findData\(line_rate\);", "int entry = -1;")]),
    # Store and hand-over
    ("store key renamed", [("src/app/settings_store.cpp", r'port_key = QStringLiteral\("SerialPort"\)', 'port_key = QStringLiteral("Port")')]),
    ("model-430 window uses the other store", [("src/app/mainwindow.cpp", r'"mirelo_serial_port_431"', '"mirelo_serial_port"')]),
    ("no selection stored as -1", [("src/app/settings_store.cpp", r"    if \(port_index < 0\)\n        return;\n", "")]),
    ("off-screen position restored", [("src/app/settings_store.cpp", r"if \(on_some_screen\(stored_pos\)\)", "if (true)")]),
    ("index not handed to the model-431 window",
     [("src/app/mainwindow.cpp", r"emit change_serial_port_index_431\(ui->comboBox_SerialPort->currentIndex\(\)\);", "emit change_serial_port_index_431(0);")]),
    # Guards and models
    ("group guard compares with its own group", [("src/model/audio.cpp", r"if \(value == out_group_2\)", "if (value == out_group_1)")]),
    ("mute 5/6 drives bit 3", [("src/model/audio.cpp", r"store_mute_bit\(2, value", "store_mute_bit(3, value")]),
    ("431 Default Set sends nothing", [("src/window431/mainwindow_431.cpp", r"    emit audio->audio_settings_changed\(\);\n", "")]),
    ("boxsim acknowledges every frame",
     [("tools/boxsim/box.cpp", r"(crc_reset_done;\n)    ack_owed = false;\n", r"\g<1>")]),
]


def run(command, cwd, log, timeout=None):
    with open(log, "w") as out:
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode


def apply(tree, edits):
    originals = {}
    for path, pattern, replacement in edits:
        full = os.path.join(tree, path)
        text = originals.get(path) or open(full).read()
        originals.setdefault(path, text)
        current = open(full).read()
        new, count = re.subn(pattern, replacement, current, flags=re.S)
        if count != 1:
            raise SystemExit(f"mutant pattern matched {count} times in {path}: {pattern}")
        open(full, "w").write(new)
    return originals


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--only", help="run only the faults whose description contains this")
    parser.add_argument("--keep", help="work in this directory and keep it")
    args = parser.parse_args()

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    work = args.keep or tempfile.mkdtemp(prefix="tavolink-mutate.")
    tree, build = os.path.join(work, "tree"), os.path.join(work, "build")
    if not os.path.isdir(tree):
        subprocess.run(["git", "-C", root, "worktree", "add", "--detach", tree, "HEAD"], check=True)
    subprocess.run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Debug",
                    "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"], check=True, stdout=subprocess.DEVNULL)
    ctest = ["ctest", "--test-dir", build, "-E", "fuzz_replay|code_format|install_layout|desktop_entry|metainfo|manual",
             "--stop-on-failure", "--timeout", "120"]
    build_cmd = ["cmake", "--build", build, "-j", str(args.jobs)]
    if run(build_cmd, build, os.path.join(work, "build.log")) or run(ctest, build, os.path.join(work, "clean.log")):
        raise SystemExit(f"the unmutated tree does not build or pass; see {work}")

    chosen = [m for m in MUTANTS if not args.only or args.only in m[0]]
    caught, missed, broken = [], [], []
    for number, (what, edits) in enumerate(chosen, 1):
        originals = apply(tree, edits)
        log = os.path.join(work, f"mutant-{number:02d}.log")
        start = time.time()
        try:
            if run(build_cmd, build, log):
                broken.append(what)
                verdict = "does not build"
            elif run(ctest, build, log + ".ctest"):
                caught.append(what)
                verdict = "caught"
            else:
                missed.append(what)
                verdict = "MISSED"
        finally:
            for path, text in originals.items():
                open(os.path.join(tree, path), "w").write(text)
        print(f"{number:2d} {verdict:15s} {time.time() - start:5.0f} s  {what}", flush=True)

    counted = len(caught) + len(missed)
    print(f"\n{len(caught)} of {counted} faults caught ({100 * len(caught) / max(counted, 1):.1f} %), "
          f"{len(broken)} did not build; logs in {work}")
    for what in missed:
        print(f"  missed: {what}")
    if not args.keep:
        subprocess.run(["git", "-C", root, "worktree", "remove", "--force", tree])
        shutil.rmtree(work, ignore_errors=True)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
