#!/usr/bin/env python3
"""Mutation run: puts small faults into a copy of the tree one at a time, builds, runs the
test suite against each, and prints which faults the suite catches.

    scripts/mutate.py [--jobs N] [--only WORD] [--tests REGEX] [--keep DIR]

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
    ("boxsim's switch keeps the model", [("tools/boxsim/commands.cpp", r"next_model\(box\.model\(\)\)", "box.model()")]),
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
     [("src/app/exchange_cycle.cpp", r"build_settings_frame\(parcer->trusted_device_id", "build_settings_frame(parcer->device_id")]),
    ("settings frame laid out for the frame before the one being handled",
     [("src/app/exchange_cycle.cpp", r"build_settings_frame\(parcer->trusted_device_id", "build_settings_frame(parcer->previous_device_id")]),
    # Link
    ("connected despite a CRC mismatch", [("src/app/exchange_cycle.cpp", r" && parcer->crc_ok\)", ")")]),
    ("version 2.0 refused", [("src/app/exchange_cycle.cpp", r"highest_unsupported_version = 0x1F", "highest_unsupported_version = 0x20")]),
    ("connected from version 1.0 on", [("src/app/exchange_cycle.cpp", r"highest_unsupported_version = 0x1F", "highest_unsupported_version = 0x0F")]),
    ("sent while not connected", [("src/app/exchange_cycle.cpp", r"    if \(!connected\)\n        return;\n", "")]),
    ("watchdog never clears its counter", [("src/app/exchange_cycle.cpp", r"\n    received_bytes = 0;\n\}", "\n}")]),
    ("no copy of the box's settings on connect",
     [("src/window430/settings_controls.cpp", r"static_cast<Audio_settings&>\(\*audio\) = \*parcer;", "static_cast<Bank_routing&>(*audio) = *parcer;")]),
    ("waiting frames kept without bound", [("src/link/serial_port.cpp", r"max_waiting_frames = 8", "max_waiting_frames = 80")]),
    ("an adapter of the same make taken for the lost one",
     [("src/link/port_identity.cpp", r"serial_number == other\.serial_number && vendor_id", "vendor_id")]),
    ("stored adapter not looked for at start",
     [("src/window_common/port_list.cpp", r"if \(adapter\.has_serial_number\(\) \|\| !adapter\.socket\.isEmpty\(\)\) \{", "if (false) {")]),
    ("lost port never looked for", [("src/app/exchange_cycle.cpp", r"    serial_port->reopen_if_back\(\);\n", "")]),
    ("rate entry 12 taken on every platform", [("src/window_common/port_list.cpp", r"int entry = combo->findData\(line_rate\);", "int entry = -1;")]),
    # Store and hand-over
    ("store key renamed", [("src/app/settings_store.cpp", r'port_key = QStringLiteral\("SerialPort"\)', 'port_key = QStringLiteral("Port")')]),
    ("model-430 window uses the other store", [("src/app/mainwindow.cpp", r'"mirelo_serial_port_431"', '"mirelo_serial_port"')]),
    ("no selection stored as -1", [("src/app/settings_store.cpp", r"    if \(port_index < 0\)\n        return;\n", "")]),
    ("off-screen position restored", [("src/app/settings_store.cpp", r"if \(title_bar_on_some_screen\(stored_pos, window_size\)\)", "if (true)")]),
    ("position kept only when its corner is on a screen",
     [("src/app/settings_store.cpp", r"title_bar_height = 30", "title_bar_height = 1")]),
    ("a run with --port stores its index", [("src/app/mainwindow.cpp", r"    if \(port_path\.isEmpty\(\)\)\n", "")]),
    ("--port path not listed after a rescan",
     [("src/window431/mainwindow_431.cpp", r"(clear\(\);\n\s*port_list::fill_port_names\(ui->comboBox_SerialPort, )port_path\)", r"\g<1>QString())")]),
    ("index not handed to the model-431 window",
     [("src/app/mainwindow.cpp", r"emit change_serial_port_index_431\(ui->comboBox_SerialPort->currentIndex\(\)\);", "emit change_serial_port_index_431(0);")]),
    # Guards and models
    ("group guard compares with its own group", [("src/model/audio.cpp", r"if \(value == out_group_2\)", "if (value == out_group_1)")]),
    ("mute 5/6 drives bit 3", [("src/model/audio.cpp", r"store_mute_bit\(2, value", "store_mute_bit(3, value")]),
    ("431 Default Set sends nothing", [("src/window431/mainwindow_431.cpp", r"    emit audio->audio_settings_changed\(\);\n", "")]),
    ("boxsim acknowledges every frame",
     [("tools/boxsim/box.cpp", r"(crc_reset_done;\n)    ack_owed = false;\n", r"\g<1>")]),
]


# Faults written by someone who read only src/, tools/ and the description of the system,
# never the tests: the honest measure of what the tests catch. Each runs as "blind: ...".
BLIND_MUTANTS = [
    # ---------------------------------------------------------------- src/app (4)
    ("the model-430 window keeps its port index and position in the model-431 window's store "
     "(organisation \"mirelo_serial_port\"), so the two windows overwrite each other's values",
     [("src/app/mainwindow.cpp",
       r'store_organisation = QStringLiteral\("mirelo_serial_port_431"\)',
       'store_organisation = QStringLiteral("mirelo_serial_port")')]),

    ("the link watchdog ticks every 200 ms instead of every 2000 ms: with a box sending ten frames "
     "a second the received status flickers between \"Ok\" and \"Fault\" and the controls blink on and off",
     [("src/app/mainwindow.cpp",
       r"link_check_interval_ms = 2000;",
       "link_check_interval_ms = 200;")]),

    ("switching to the model-431 window no longer closes the model-430 window: both windows stay "
     "visible when a model-431 box answers",
     [("src/app/mainwindow.cpp",
       r"(emit change_serial_port_index_431\(ui->comboBox_SerialPort->currentIndex\(\)\);)\n    close\(\);",
       r"\g<1>")]),

    ("choosing the first port in the list (index 0) is never written to the settings store, so the "
     "previously stored index comes back at the next start",
     [("src/app/settings_store.cpp",
       r"if \(port_index < 0\)",
       "if (port_index <= 0)")]),

    # ---------------------------------------------------------------- src/link (9)
    ("the CRC-16 starts from 0x0000 instead of 0xFFFF: every settings frame carries a CRC the box "
     "rejects, and every good status frame from the box is shown as \"Mistmatch\"",
     [("src/link/crc16.cpp",
       r"uint16_t crc = 0xFFFF;",
       "uint16_t crc = 0x0000;")]),

    ("the two CRC bytes of every frame built are sent least significant byte first (MODBUS order) "
     "instead of most significant byte first",
     [("src/link/frame_codec.cpp",
       r"frame\.append\(static_cast<char>\(crc >> 8\)\);(\s*)frame\.append\(static_cast<char>\(crc & 0xFF\)\);",
       r"frame.append(static_cast<char>(crc & 0xFF));\g<1>frame.append(static_cast<char>(crc >> 8));")]),

    ("the receive assembler checks the CRC over one byte too few (header and length plus L-1 payload "
     "bytes), so every correct status frame fails its check, shows \"Mistmatch\" and never connects",
     [("src/link/frame_codec.cpp",
       r"static_cast<std::size_t>\(length_value\) \+ 3\)",
       "static_cast<std::size_t>(length_value) + 2)")]),

    ("in a model-430 settings frame the forced-format switch and the forced-format index trade "
     "places (offsets 11 and 12 swapped)",
     [("src/link/settings_bytes.h",
       r"&Settings_values::manual_fmt_enable,(\s*)&Settings_values::manual_format,",
       r"&Settings_values::manual_format,\g<1>&Settings_values::manual_fmt_enable,")]),

    ("the one-frame-outstanding rule is lost: a second settings change is written to the line at "
     "once instead of waiting for the acknowledgement or the 3000 ms time-out",
     [("src/link/serial_port.cpp",
       r"if \(!waiting_ack\)\n        send_next_packet\(\);",
       "send_next_packet();")]),

    ("a box reporting protocol version 0x1F already counts as connected, so settings frames are "
     "sent to it and its settings are loaded",
     [("src/app/exchange_cycle.cpp",
       r"parcer->protocol_version > highest_unsupported_version",
       "parcer->protocol_version >= highest_unsupported_version")]),

    ("received frames are no longer counted for the model-431 window: its received status always "
     "shows \"Fault\" in red and its audio embedding controls stay disabled while a 431 box talks",
     [("src/app/exchange_cycle.cpp",
       r"\n        window_431->received_bytes \+= chunk_size;",
       "")]),

    ("the payload-identifier-present flag is read from bit 4 of the status flags instead of bit 5: "
     "the model-430 window shows \"Detected is Ok\" or \"Not Detected\" following the CRC error flag",
     [("src/link/status_layout.h",
       r"pid_present = 0x20;",
       "pid_present = 0x10;")]),

    ("in a model-431 status frame the colour sampling and colour depth bytes are read swapped "
     "(payload bytes 16 and 17), so the mapping label shows the wrong sampling and depth",
     [("src/link/status_layout.cpp",
       r"&Hdmi_codes::mapping,(\s*)&Hdmi_codes::depth,",
       r"&Hdmi_codes::depth,\g<1>&Hdmi_codes::mapping,")]),

    # ---------------------------------------------------------------- src/model (7)
    ("the Group B guard compares with Group B itself instead of Group A: Group B can be set to the "
     "same group as Group A (and is sent), while re-picking its current group is ignored",
     [("src/model/audio.cpp",
       r"if \(value == out_group_1\)",
       "if (value == out_group_2)")]),

    ("the Group B \"1/2 Mute\" (model 431: \"In 5/6\") switch toggles bit 3 of the mute byte "
     "instead of bit 2",
     [("src/model/audio.cpp",
       r"store_mute_bit\(2, value",
       "store_mute_bit(3, value")]),

    ("status frames of a model-431 box no longer update the box's group routing and mute copy: the "
     "431 window's Group A/B, pair and mute controls do not follow the box, and connecting loads "
     "stale values",
     [("src/model/parcer.cpp",
       r"\n        static_cast<Group_routing&>\(\*this\) = decoded\.settings;",
       "")]),

    ("the decoder forgets which model answered last: every status frame of a model-431 box switches "
     "to the 431 window again, rescanning and reopening the port each time, and a model-430 box that "
     "follows never switches back",
     [("src/model/parcer.cpp",
       r"\n        previous_device_id = device_id;",
       "")]),

    ("an interlaced 30 frame/s input (rate code 7) is shown as \"30i\" instead of the field rate "
     "\"60i\"",
     [("src/model/status_texts.cpp",
       r"rate >= 5 && rate <= 7",
       "rate >= 5 && rate < 7")]),

    ("a 3G level A 1080-line input (payload code 0x89) shows \"2048x1080\" when it is 1920 wide "
     "and \"1920x1080\" when it is 2048 wide",
     [("src/model/status_texts.cpp",
       r"\{0x89, 1, 0, 1\}",
       "{0x89, 1, 1, 0}")]),

    ("a model-431 HDMI input with format code 4 to 6 on a 3G SDI output shows \"3840x2160\" instead "
     "of \"1920x1080\"",
     [("src/model/status_texts.cpp",
       r"\(sdi_rate == 0 \|\| sdi_rate == 1\) \? 0 : 3",
       "sdi_rate == 0 ? 0 : 3")]),

    # ---------------------------------------------------------------- src/window430 (5)
    ("when the tool switches back to the model-430 window, the port index it takes over is not "
     "written to its settings store (unless the index changed)",
     [("src/window430/port_panel.cpp",
       r"\n    if \(!ui->comboBox_SerialPort->currentText\(\)\.isEmpty\(\)\)\n        settings_write\(\);",
       "")]),

    ("\"Default Set\" in the model-430 window shows the default routing but sends no settings "
     "frame, so the box keeps its old routing",
     [("src/window430/settings_controls.cpp",
       r"\n    slot_input_audio_change\(audio->input_sel\);",
       "")]),

    ("\"Not Detected\" for the payload identifier is shown in red instead of orange",
     [("src/model/status_texts.cpp",
       r"detected, Tone::missing, Tone::good",
       "detected, Tone::fault, Tone::good")]),

    ("audio group 8 (label GR8) is never updated: it keeps its last text while groups 1 to 7 follow "
     "the box",
     [("src/window430/status_display.cpp",
       r"for \(int i = 0; i < 8; \+\+i\)",
       "for (int i = 0; i < 7; ++i)")]),

    ("with no SDI input the forced-format check box is not enabled again, so after a 3G input has "
     "gone it stays greyed out",
     [("src/window430/status_display.cpp",
       r"(clear_input_status\(\);)\n            ui->checkBox_pid_ow_enable->setEnabled\(true\);",
       r"\g<1>")]),

    # ---------------------------------------------------------------- src/window431 (4)
    ("the model-431 window never clears its received counter: once a frame has arrived it shows "
     "\"Ok\" for ever, even when the box goes silent",
     [("src/window431/mainwindow_431.cpp",
       r"\n    received_bytes = 0;\n",
       "\n")]),

    ("the model-431 window shows the scan the wrong way round: a progressive HDMI input reads "
     "\"60i\" and an interlaced one \"50p\"",
     [("src/model/status_texts.cpp",
       r'hdmi_scan_texts\[\] = \{QStringLiteral\("p"\), QStringLiteral\("i"\)\}',
       'hdmi_scan_texts[] = {QStringLiteral("i"), QStringLiteral("p")}')]),

    ("\"Default Set\" in the model-431 window shows the default routing but sends nothing to the box",
     [("src/window431/mainwindow_431.cpp",
       r"\n    emit audio->audio_settings_changed\(\);",
       "")]),

    ("the third mute check box of the model-431 window reads \"In 3/4\" instead of \"In 5/6\" "
     "(two boxes labelled \"In 3/4\")",
     [("src/window431/mainwindow_431.ui",
       r"<string>In 5/6</string>",
       "<string>In 3/4</string>")]),

    # ---------------------------------------------------------------- src/window_common (3)
    ("protocol version 0x20 is shown as \"2.0, Version mistmatch\" in red and 0x21 as \"2.1, Ok\" "
     "in green, in both windows",
     [("src/model/status_texts.cpp",
       r"\{0x10, 0x11, 0x20, 0x30\}",
       "{0x10, 0x11, 0x21, 0x30}")]),

    ("both windows select 57600 in the baud-rate box and open the port at 57600 baud instead of 115200",
     [("src/link/box_line.h",
       r"line_rate = 115200;",
       "line_rate = 57600;")]),

    ("the fourth mute check box (\"3/4 Mute\" of Group B, \"In 7/8\" on model 431) never shows the "
     "box's reported mute bit 3",
     [("src/window_common/group_routing_view.h",
       r"for \(int bit = 0; bit < 4; \+\+bit\)",
       "for (int bit = 0; bit < 3; ++bit)")]),

    # ---------------------------------------------------------------- tools/boxsim (6)
    ("the simulated model-430 box ignores the forced-format switch and index of the settings frames "
     "it applies; its status frames keep reporting the old forced format",
     [("tools/boxsim/box.cpp",
       r"\n        static_cast<Format_settings&>\(current\) = values;",
       "")]),

    ("the simulated model-430 box never reports a CRC error count reset (flag bit 6) after a reset "
     "request, so the request stays pending in the tool",
     [("tools/boxsim/box.cpp",
       r"reset_owed && cfg\.model->status == models::Status_layout::m430",
       "reset_owed && cfg.model->status == models::Status_layout::m431")]),

    ("the simulated model-431 box puts the audio channel code into bits 2-0 of the status flags "
     "instead of bits 3-1, so the tool shows the wrong channel count and may see no input",
     [("tools/boxsim/box.cpp",
       r"\(in\.channels & status::flag::channels_mask\) << status::flag::channels_shift",
       "(in.channels & status::flag::channels_mask)")]),

    ("the simulated box stores a received header as \"P\" \"R\" instead of \"R\" \"P\", so it "
     "rejects every settings frame from the tool as a wrong device and never acknowledges",
     [("tools/boxsim/receiver.cpp",
       r"buffer\[0\] = frame::header_r;(\s*)buffer\[1\] = frame::header_p;",
       r"buffer[0] = frame::header_p;\g<1>buffer[1] = frame::header_r;")]),

    ("boxsim's --sdi-rate option no longer reaches a model-431 box: its status frames keep the HDMI "
     "format's own SDI output rate",
     [("tools/boxsim/options.cpp",
       r"\n    run\.box\.hdmi\.sdi_rate = run\.box\.sdi\.sdi_rate;",
       "")]),

    ("boxsim exits with status 1 instead of 2 for bad options, the same as for a line it cannot open",
     [("tools/boxsim/main.cpp",
       r"exit_usage = 2;",
       "exit_usage = 1;")]),

    # ---------------------------------------------------------------- tools/pty (2)
    ("the pseudo-terminal is left in cooked mode: carriage returns, line feeds and control bytes in "
     "the frames are translated, echoed or swallowed on the way",
     [("tools/pty/pseudo_terminal.cpp",
       r"\n    cfmakeraw\(&mode\);",
       "")]),

    ("unplugging a stand-in port removes its device node but leaves it in the system's list of "
     "serial ports, so a rescan still lists the vanished adapter",
     [("tools/pty/stand_in_ports.cpp",
       r"\n    unlink\(\(tty_class \+ '/' \+ name\(index\)\)\.toLocal8Bit\(\)\.constData\(\)\);",
       "")]),
]
MUTANTS += [("blind: " + what, edits) for what, edits in BLIND_MUTANTS]

# Written the same way later, for the shared serial line and for tavolinkctl: 30 in src/ctl and
# the alert rules ("blind-ctl: ..."), 12 in the line ("blind-line: ...").
BLIND_LINE_AND_CTL_MUTANTS = [
    # ---------------- src/ctl/main.cpp (2) ----------------
    ("blind-ctl: status/watch/save/check/reset-errors accept two --port (limit off by one) instead of a usage error (exit 2)",
     [("src/ctl/main.cpp", r"if \(!command\.many_ports && ports\.size\(\) > 1\)", r"if (!command.many_ports && ports.size() > 2)")]),
    ("blind-ctl: check is marked as not taking --json: 'check --json' ends with usage status 2",
     [("src/ctl/main.cpp", r"check_settings, box_json,", r"check_settings, box,")]),

    # ---------------- src/ctl/commands.cpp (6) ----------------
    ("blind-ctl: apply to several ports exits with the last failing box's status, not the highest",
     [("src/ctl/commands.cpp", r"worst = std::max\(worst, fail\(\*failure\)\);", r"worst = fail(*failure);")]),
    ("blind-ctl: apply --dry-run prefixes the hex frame with the port even with a single --port",
     [("src/ctl/commands.cpp", r"print_line\(options\.ports\.size\(\) > 1 \?", r"print_line(options.ports.size() > 0 ?")]),
    ("blind-ctl: check exits 7 (not applied) instead of 9 when the settings differ",
     [("src/ctl/commands.cpp", r"exit_status::done : exit_status::settings_differ;", r"exit_status::done : exit_status::not_applied;")]),
    ("blind-ctl: reset-errors sends the settings frame without the CRC-reset flag (count never clears, exit 7)",
     [("src/ctl/commands.cpp", r"\n    values\.crc_errors_reset = 1;", r"")]),
    ("blind-ctl: apply takes any status frame after the send as the acknowledgement (ack flag not checked; never exit 6)",
     [("src/ctl/commands.cpp", r"return keep\(v\) && link\.answers_send\(\) && \(v\.flags & status::flag::ack\);", r"return keep(v) && link.answers_send();")]),
    ("blind-ctl: apply checks the file's model against the box only for --dry-run: a file for the other model is sent",
     [("src/ctl/commands.cpp", r"if \(!wrong\.isEmpty\(\)\)\n        return Failure\{exit_status::bad_file, wrong\};", "if (!wrong.isEmpty() && options.dry_run)\n        return Failure{exit_status::bad_file, wrong};")]),

    # ---------------- src/ctl/settings_file.cpp (5) ----------------
    ("blind-ctl: a settings file without format_version is accepted (missing version defaults to the current one)",
     [("src/ctl/settings_file.cpp", r"const int file_version = version\.toInt\(-1\);", r"const int file_version = version.toInt(format_version);")]),
    ("blind-ctl: Group A and Group B both on 'In Gr1' (index 0) pass the same-group check",
     [("src/ctl/settings_file.cpp", r"if \(is_group_select\(setting\) && index >= 0\)", r"if (is_group_select(setting) && index > 0)")]),
    ("blind-ctl: settings files for model MRL-QDC-431 are refused as an unknown model (exit 5)",
     [("src/ctl/settings_file.cpp", r"if \(const models::Model\* named = models::by_name\(model\)\)", r"if (const models::Model* named = models::by_name(model); named && named->number == 430)")]),
    ("blind-ctl: the audio pair values are always checked against bank 1: a file with Input Source 'SDI 9..16' is refused",
     [("src/ctl/settings_file.cpp", r"const QStringList& items = setting\.items\(contents\.values\);", r"const QStringList& items = setting.items(Settings_values{});")]),
    ("blind-ctl: save writes a wrong protocol_version minor (mask 0xF0 instead of 0x0F, e.g. \"3.48\")",
     [("src/ctl/settings_file.cpp", r"\.arg\(box\.protocol_version & 0x0F\)", r".arg(box.protocol_version & 0xF0)")]),

    # ---------------- src/ctl/box_link.cpp (2) ----------------
    ("blind-ctl: several listed ports and no --port exits 4 (port) instead of 2 (usage)",
     [("src/ctl/box_link.cpp", r"return Failure\{exit_status::usage,", r"return Failure{exit_status::port,")]),
    ("blind-ctl: the no-status-frame message swaps bytes received and frames failed",
     [("src/ctl/box_link.cpp", r"\.arg\(bytes_received\)\n(\s*)\.arg\(frames_failed\)", r".arg(frames_failed)\n\g<1>.arg(bytes_received)")]),

    # ---------------- src/ctl/box_watch.cpp (2) + box_watch.h (1) ----------------
    ("blind-ctl: watch/monitor report the cumulative failed-check count every second (reported count never kept)",
     [("src/ctl/box_watch.cpp", r"\n        failed_reported = link\.frames_failed;", r"")]),
    ("blind-ctl: a port that cannot be opened at start is never tried again by watch/monitor (not marked lost)",
     [("src/ctl/box_watch.cpp", r"lost = failure\.has_value\(\);", r"lost = false;")]),
    ("blind-ctl: watch and monitor open the line read-write (talk mode) instead of read-only",
     [("src/ctl/box_watch.h", r"Box_link link\{Box_link::Mode::listen\};", r"Box_link link{Box_link::Mode::talk};")]),

    # ---------------- src/ctl/box_metrics.cpp (2) ----------------
    ("blind-ctl: tavolink_sdi_audio_group_present group label runs 0..7 instead of 1..8",
     [("src/ctl/box_metrics.cpp", r"\{\"group\", std::to_string\(group \+ 1\)\}", r'{"group", std::to_string(group)}')]),
    ("blind-ctl: tavolink_hdmi_audio_sample_rate_hertz is 0 (unit length 2 chops '48kHz' to '48k', which is no number)",
     [("src/ctl/box_metrics.cpp", r"QStringLiteral\(\"frequency\"\)\), 3\) \* 1000", r'QStringLiteral("frequency")), 2) * 1000')]),

    # ---------------- src/ctl/expected_settings.cpp (2) ----------------
    ("blind-ctl: a tavolink_setting_differs series is never removed when the setting matches again (drift-over repeats)",
     [("src/ctl/expected_settings.cpp", r"it = differs\.erase\(it\);", r"++it;")]),
    ("blind-ctl: --expect with a file for the other model is not reported (model compared with the file's own)",
     [("src/ctl/expected_settings.cpp", r"model_fault\(contents, path, last->device_id, port\)", r"model_fault(contents, path, contents.device_id, port)")]),

    # ---------------- src/monitor/web_server.cpp (2) + web_server.h (1), once metrics_server ----------------
    ("blind-ctl: the Allow header goes on no 405 answer",
     [("src/monitor/web_server.cpp", r"if \(!reply\.allow\.isEmpty\(\)\)", r"if (reply.allow.isEmpty())")]),
    ("blind-ctl: answered requests are never counted off: after 32 requests every scrape gets 503",
     [("src/monitor/web_server.cpp", r"if \(request && request->counted\)", "if (request && !request->counted)")]),
    ("blind-ctl: idle connections are closed after 50 s instead of 5 s",
     [("src/monitor/web_server.h", r"idle_seconds = 5;", r"idle_seconds = 50;")]),

    # ---------------- src/ctl/monitor.cpp (1) ----------------
    ("blind-ctl: monitor that cannot listen exits 4 instead of 8",
     [("src/ctl/monitor.cpp", r"complain\(failure->message\);\n        return failure->status;", "complain(failure->message);\n        return exit_status::port;")]),

    # ---------------- src/ctl/output.cpp (1) ----------------
    ("blind-ctl: event time stamps lose their milliseconds (ISODate instead of ISODateWithMs)",
     [("src/ctl/output.cpp", r"Qt::ISODateWithMs", r"Qt::ISODate")]),

    # ---------------- src/ctl/status_view.cpp (1) ----------------
    ("blind-ctl: input values are no longer blanked when the input is gone (status/watch/metrics show stale format)",
     [("src/ctl/status_view.cpp", r"view\.push_back\(\{key, caption, present \? text : status_texts::cleared\}\);", r"view.push_back({key, caption, text});")]),

    # ---------------- packaging/tavolink-alerts.yml (2) ----------------
    ("blind-ctl: alert TavolinkSdiCrcErrorsRising needs more than 1 new error in 5 minutes",
     [("packaging/tavolink-alerts.yml", r"delta\(tavolink_sdi_crc_errors\[5m\]\) > 0", r"delta(tavolink_sdi_crc_errors[5m]) > 1")]),
    ("blind-ctl: alert TavolinkInputLost fires only while the link is down (== 0) instead of up",
     [("packaging/tavolink-alerts.yml", r"and on \(port\) tavolink_link_up == 1", r"and on (port) tavolink_link_up == 0")]),

    # ================= the line (12) =================
    # src/link/box_line.cpp (4)
    ("blind-line: a ResourceError (adapter unplugged, pty hung up) is not taken as the port lost",
     [("src/link/box_line.cpp", r"error != QSerialPort::ReadError && error != QSerialPort::ResourceError", r"error != QSerialPort::ReadError && error != QSerialPort::TimeoutError")]),
    ("blind-line: back() reports old and new names swapped (log names the old port; list not renamed)",
     [("src/link/box_line.cpp", r"emit back\(old_name, identity\.name\);", r"emit back(identity.name, old_name);")]),
    ("blind-line: the 'adapters could be ...; none is opened' message is repeated at every look, not once",
     [("src/link/box_line.cpp", r"if \(found\.why_none != said_undecided && !found\.why_none\.isEmpty\(\)\)", r"if (!found.why_none.isEmpty())")]),
    ("blind-line: close() leaves the line looking: a port the user closed after a loss is reopened by itself",
     [("src/link/box_line.cpp", r"void Box_line::close\(\)\n\{\n    looking = false;\n", "void Box_line::close()\n{\n")]),
    # src/link/port_identity.cpp (4)
    ("blind-line: twin adapters (two with one serial number) get no socket: they cannot be told apart",
     [("src/link/port_identity.cpp", r"if \(sharing > 1 \|\|", r"if (sharing > 2 ||")]),
    ("blind-line: the stored identity text writes product id before vendor id",
     [("src/link/port_identity.cpp", r"\.arg\(vendor_id, 4, 16, QLatin1Char\('0'\)\)\n(\s*)\.arg\(product_id, 4, 16, QLatin1Char\('0'\)\)", r".arg(product_id, 4, 16, QLatin1Char('0'))\n\g<1>.arg(vendor_id, 4, 16, QLatin1Char('0'))")]),
    ("blind-line: an identity with a serial number matches an adapter without one by name alone (|| -> &&)",
     [("src/link/port_identity.cpp", r"if \(has_serial_number\(\) \|\| other\.has_serial_number\(\)\)", r"if (has_serial_number() && other.has_serial_number())")]),
    ("blind-line: a stored socket is read back with a stray '@ ' (offset 1 instead of the mark's length)",
     [("src/link/port_identity.cpp", r"identity\.socket = text\.mid\(mark \+ socket_mark\.size\(\)\);", r"identity.socket = text.mid(mark + 1);")]),
    # src/link/link_rule.h (1)
    ("blind-line: the link stays up 3 s without a good frame instead of 2 s",
     [("src/link/link_rule.h", r"good_frame_within_ms = 2000;", r"good_frame_within_ms = 3000;")]),
    # src/link/serial_port.cpp (1)
    ("blind-line: the window's port list is not renamed when the adapter comes back under another name (!= -> ==)",
     [("src/link/serial_port.cpp", r"if \(new_name != old_name\)", r"if (new_name == old_name)")]),
    # src/window_common/port_list.cpp (1)
    ("blind-line: with two stored-adapter candidates the window opens the stored index instead of none",
     [("src/window_common/port_list.cpp", r"qCDebug\(lc_link\)\.noquote\(\) << found\.why_none;\n            return -1;", "qCDebug(lc_link).noquote() << found.why_none;\n            return stored_index;")]),
    # src/app/settings_store.cpp (1)
    ("blind-line: the stored adapter identity is not read back: the window falls back to the stored index",
     [("src/app/settings_store.cpp", r"\n    values\.adapter = store\.value\(adapter_key\)\.toString\(\);", r"")]),
]
MUTANTS += BLIND_LINE_AND_CTL_MUTANTS

# Written the same way for the table of models and what asks it: the settings file's versions, the
# command and option tables, boxsim's models, the logging categories ("blind-models: ...").
BLIND_MODELS_MUTANTS = [
    # ---------------- src/link (3) ----------------
    ("blind-models: variant 1 is named 'E' and variant 2 'A' (suffixes swapped): the window and tavolinkctl's Device: line show MRL-QDC-430E for a 430A",
     [("src/link/models.cpp", r'QStringLiteral\(" "\), QStringLiteral\("A"\), QStringLiteral\("E"\)',
       r'QStringLiteral(" "), QStringLiteral("E"), QStringLiteral("A")')]),
    ("blind-models: the 431 row is given the all-settings layout: settings frames to a 431 are 23 bytes with the bank routing and format, not 15",
     [("src/link/models.cpp", r"Status_layout::m431,\n(\s*)Settings_layout::group_routing",
       r"Status_layout::m431,\n\g<1>Settings_layout::all_settings")]),
    ("blind-models: the model numbers list uses its separators swapped: boxsim's --help and --model error say '430, 431' instead of '430 or 431'",
     [("src/link/models.cpp", r"listed\.join\(separator\) \+ last_separator \+ last",
       r"listed.join(last_separator) + separator + last")]),

    # ---------------- src/ctl (4) ----------------
    ("blind-models: a settings file of the current format missing a setting is accepted (the setting left as the box has it) instead of refused with exit 5",
     [("src/ctl/settings_file.cpp", r"setting\.since_format > file_version",
       r"setting.since_format >= file_version")]),
    ("blind-models: a settings file with \"format_version\": 0 is accepted instead of refused (lower bound off by one)",
     [("src/ctl/settings_file.cpp", r"if \(file_version < 1 \|\|", r"if (file_version < 0 ||")]),
    ("blind-models: a command's own options are matched by short name: --port/-p is refused for every command ('--port is for ...', exit 2) and missing from its --help",
     [("src/ctl/main.cpp", r"command\.options\.contains\(option\.names\(\)\.last\(\)\)",
       r"command.options.contains(option.names().first())")]),
    ("blind-models: reset-errors takes --json (no usage error, listed in its --help and in '--json is for ...')",
     [("src/ctl/main.cpp", r"reset_errors, box,", r"reset_errors, box_json,")]),

    # ---------------- tools/boxsim (3) ----------------
    ("blind-models: boxsim refuses --sdi-rate 3 (12G) with exit 2: the rate is read as 0..2",
     [("tools/boxsim/options.cpp", r"number<0, 3>\(text, run\.box\.sdi\.sdi_rate\)",
       r"number<0, 2>(text, run.box.sdi.sdi_rate)")]),
    ("blind-models: boxsim's 'switch' always becomes the model after the first: from 431 it stays 431 ('now model 431' again)",
     [("tools/boxsim/commands.cpp", r"simulator->become\(next_model\(box\.model\(\)\)\);",
       r"simulator->become(next_model(first_model()));")]),
    ("blind-models: boxsim reads --pid before --sdi-format: the format's payload identifier (always read, it has a default) overrides --pid",
     [("tools/boxsim/options.cpp",
       r"(        \{\{\"sdi-format\"\}.*?\(default 1080p50\)\.\"\},\n)(        \{\{\"pid\"\}.*?\(overrides --sdi-format's\)\.\"\},\n)",
       r"\g<2>\g<1>")]),

    # ---------------- src/model (2) ----------------
    ("blind-models: the decoder starts as if a 431 were shown: a 431 box's first frames do not switch to the 431 window (and a 430 logs 'emit to 430')",
     [("src/model/parcer.cpp", r"previous_device_id\(frame::device_id_430\)",
       r"previous_device_id(frame::device_id_431)")]),
    ("blind-models: 431 settings 'Group B / GrB 1/2' and 'GrB 3/4' name each other's bytes: save/check/apply swap them",
     [("src/model/setting_names.cpp",
       r'\{"Group B", "GrB 1/2:", &S::output_56_2, -1, &setting_items::in_pairs\},\n(\s*)\{"Group B", "GrB 3/4:", &S::output_78_2,',
       r'{"Group B", "GrB 1/2:", &S::output_78_2, -1, &setting_items::in_pairs},\n\g<1>{"Group B", "GrB 3/4:", &S::output_56_2,')]),

    # ---------------- src/app, src/window_common (3) ----------------
    ("blind-models: the 'crc mismatch' debug line is under tavolink.model instead of tavolink.link",
     [("src/app/exchange_cycle.cpp", r'qCDebug\(lc_link\) << "crc mismatch"',
       r'qCDebug(lc_model) << "crc mismatch"')]),
    ("blind-models: back in the 430 window after a 431, the port list keeps its old entry instead of the one chosen in the 431 window",
     [("src/app/mainwindow.cpp", r"emit change_serial_port_index_430\(window_431->current_port_index\(\)\);",
       r"emit change_serial_port_index_430(ui->comboBox_SerialPort->currentIndex());")]),
    ("blind-models: both windows show mute bit 0 on the 3/4 check box and bit 1 on the 1/2 check box",
     [("src/window_common/group_routing_view.h", r"\{ui->checkBox_mute_12, ui->checkBox_mute_34,",
       r"{ui->checkBox_mute_34, ui->checkBox_mute_12,")]),
]
MUTANTS += BLIND_MODELS_MUTANTS

# Written the same way for tavolinkctl's debug categories, the status layouts' settings runs and the
# settings' names ("blind-runs-logs: ...").
BLIND_RUNS_LOGS_MUTANTS = [
    # tavolinkctl's logging categories
    ("blind-runs-logs: tavolinkctl prints its tavolinkctl.line debug lines (port opened, sent, status frames) on standard error without QT_LOGGING_RULES",
     [("src/ctl/log_categories.cpp",
       r'Q_LOGGING_CATEGORY\(lc_ctl_line, "tavolinkctl\.line", QtInfoMsg\)',
       r'Q_LOGGING_CATEGORY(lc_ctl_line, "tavolinkctl.line", QtDebugMsg)')]),
    ("blind-runs-logs: monitor's request lines come out under tavolinkctl.line, and tavolinkctl.http.debug=true shows nothing",
     [("src/monitor/web_server.cpp",
       r'qCDebug\(lc_ctl_http\) << QString::fromLatin1\(method\) << QString::fromUtf8\(url\) << reply',
       r'qCDebug(lc_ctl_line) << QString::fromLatin1(method) << QString::fromUtf8(url) << reply')]),
    ("blind-runs-logs: every status frame is logged as one that shows something new, even when nothing changed",
     [("src/ctl/box_link.cpp",
       r'if \(changed\)\n\s*qCDebug\(lc_ctl_line\)',
       r'qCDebug(lc_ctl_line)')]),
    ("blind-runs-logs: the line for a frame that failed its check comes out under tavolinkctl.http, not tavolinkctl.line",
     [("src/ctl/box_link.cpp",
       r'qCDebug\(lc_ctl_line\) << "a frame failed its check"',
       r'qCDebug(lc_ctl_http) << "a frame failed its check"')]),
    # the status layouts' settings runs
    ("blind-runs-logs: model 430's forced format run starts one setting late: manual_fmt_enable is never reported, manual_format shows at its byte and the reset request at manual_format's",
     [("src/link/status_layout.h",
       r'\{manual_fmt_enable, bank_routing_count, 2\}',
       r'{manual_fmt_enable, bank_routing_count + 1, 2}')]),
    ("blind-runs-logs: model 430's group routing run sits one byte early, over output_78, so the group routing and output_78 show wrong values",
     [("src/link/status_layout.h",
       r'\{group_routing, group_routing_first, group_routing_count\},',
       r'{group_routing - 1, group_routing_first, group_routing_count},')]),
    ("blind-runs-logs: model 431's status frames lose the mutes: the group routing run is one setting short",
     [("src/link/status_layout.h",
       r'\{\{group_routing, group_routing_first, group_routing_count\}\}',
       r'{{group_routing, group_routing_first, group_routing_count - 1}}')]),
    ("blind-runs-logs: decoding stops one byte short in every settings run: manual_format, output_78 and mute as the box reports them are never read",
     [("src/link/status_layout.cpp",
       r'for \(std::size_t i = 0; i < run\.count; \+\+i\)\n(\s*)settings\.\*',
       r'for (std::size_t i = 0; i + 1 < run.count; ++i)\n\1settings.*')]),
    # settings_wire_names
    ("blind-runs-logs: boxsim's `set out_group_1` changes Group B and `set out_group_2` Group A",
     [("src/link/settings_bytes.h",
       r'"out_group_1", "out_group_2"',
       r'"out_group_2", "out_group_1"')]),
    ("blind-runs-logs: boxsim offers the CRC reset request as a setting (`crc_error_reset` in help, accepted by set)",
     [("src/link/settings_bytes.h",
       r'"crc_errors_reset", "out_group_1"',
       r'"crc_error_reset", "out_group_1"')]),
]
MUTANTS += BLIND_RUNS_LOGS_MUTANTS


# Written from src/, the manual pages and the README alone, without a look at the tests: the
# adapters found again (name-only and socket identities, held ports, twins at start) and the commands' mends.
BLIND_36_MUTANTS = [
    ("blind-36: a port named at start before it was listed is not opened when an adapter with a serial number appears under that name",
     [("src/link/port_identity.cpp",
       r"    if \(!has_serial_number\(\) && socket\.isEmpty\(\) && vendor_id == 0 && product_id == 0\)\n        return name == other\.name;\n",
       r"")]),
    ("blind-36: a stored adapter without a serial number, remembered by its USB socket, is not found again at start under its new name",
     [("src/link/port_identity.cpp",
       r"\(vendor_id == 0 && product_id == 0\) \|\| \(vendor_id == other\.vendor_id",
       r"(vendor_id == other.vendor_id")]),
    ("blind-36: a listed port that is there but refuses to open (held by another program) is opened by itself later, not left closed",
     [("src/link/box_line.cpp", r"listed = present = true;", r"listed = true;")]),
    ("blind-36: a relative path with a directory (sub/pty) is taken under /dev rather than from the working directory",
     [("src/link/box_line.cpp", r"\? QFileInfo\(requested\)\.absoluteFilePath\(\) :", r"? requested :")]),
    ("blind-36: two adapters that could be the lost one: the log line is not said at first, then repeated at every look",
     [("src/link/box_line.cpp", r"found\.why_none != said_undecided", r"found.why_none == said_undecided")]),
    ("blind-36: twins at start: the window selects no port (and opens none) instead of the remembered entry",
     [("src/window_common/port_list.cpp",
       r"(\.arg\(stored_index\);\n            )return stored_index;", r"\g<1>return -1;")]),
    ("blind-36: monitor: a port held by another program at start is never tried again, the box stays down after it is freed",
     [("src/ctl/monitor.cpp", r"\n            watch\.link\.line\.keep_looking\(\);", r"")]),
    ("blind-36: a box whose status payload is longer than its model's layout is never taken for its settings (save, check, apply, reset-errors time out, exit 3)",
     [("src/ctl/box_link.cpp",
       r"whole = assembler\.payload_length\(\) >= status::payload_size",
       r"whole = assembler.payload_length() == status::payload_size")]),
    ("blind-36: exit 3 message does not count the good frames too short to carry the settings",
     [("src/ctl/box_link.cpp", r"frames_short \+= !whole;", r"frames_short += whole;")]),
    ("blind-36: any good frame counts as carrying the settings: save, check, apply, reset-errors and monitor --expect take them from a short frame",
     [("src/ctl/box_link.cpp", r">= status::payload_size\(values\.device_id\);", r">= status::common::size;")]),
    ("blind-36: status fails with exit 3 on a box whose frames are too short to carry the settings, instead of showing them",
     [("src/ctl/commands.cpp", r"first_status\(link, options, false\)", r"first_status(link, options)")]),
    ("blind-36: apply with several ports checks only the first box's model; a later box of another model is sent the file",
     [("src/ctl/commands.cpp", r"if \(!answer\.failure\)\n            wrong <<",
       r"if (!answer.failure && boxes.empty())\n            wrong <<")]),
    ("blind-36: tavolinkctl ports (text) leaves out the adapter's by_id link",
     [("src/ctl/commands.cpp", r"for \(auto it = object\.begin\(\);", r"for (auto it = std::next(object.begin());")]),
    ("blind-36: an unknown device's id is printed in decimal after 0x (save, reset-errors)",
     [("src/ctl/commands.cpp",
       r"QStringLiteral\(\"an unknown device \(0x%1\)\"\)\.arg\(device_id, 4, 16,",
       r'QStringLiteral("an unknown device (0x%1)").arg(device_id, 4, 10,')]),
    ("blind-36: reset-errors on a device the models table lacks sends it a reset frame instead of exiting 7",
     [("src/ctl/commands.cpp",
       r"if \(models::of\(model\)\.settings != models::Settings_layout::all_settings\)",
       r"if (models::known(model) && models::of(model).settings != models::Settings_layout::all_settings)")]),
    ("blind-36: a settings file of exactly 64 KiB is refused as too large",
     [("src/ctl/settings_file.cpp", r"if \(bytes\.size\(\) > max_size\)", r"if (bytes.size() >= max_size)")]),
    ("blind-36: a settings file larger than 64 KiB is read cut at 64 KiB (a JSON fault) instead of refused as too large",
     [("src/ctl/settings_file.cpp", r"bytes = file\.read\(max_size \+ 1\);", r"bytes = file.read(max_size);")]),
    ("blind-36: a FIFO named as the settings file holds up apply, check and the monitor instead of being refused",
     [("src/ctl/settings_file.cpp",
       r"    if \(QFileInfo\(path\)\.exists\(\) && !QFileInfo\(path\)\.isFile\(\)\) // a device is not even opened\n        return irregular;\n",
       r""),
      ("src/ctl/settings_file.cpp", r"O_RDONLY \| O_NONBLOCK \| O_NOCTTY", r"O_RDONLY | O_NOCTTY")]),
    ("blind-36: monitor --expect compares frames too short to carry the settings, and reports drift from them",
     [("src/ctl/expected_settings.cpp", r"if \(watch\.link\.carries_settings\(\) && \(changed \|\| !last\)\)",
       r"if (changed || !last)")]),
    ("blind-36: monitor --expect: a setting that still differs is told drift over and drift again at every new frame",
     [("src/ctl/expected_settings.cpp",
       r"if \(differs\.count\(setting\.name\(\)\) && !now\.count\(setting\.name\(\)\)\)",
       r"if (differs.count(setting.name()))")]),
]
MUTANTS += BLIND_36_MUTANTS


# Written from src/, the manual pages and the README alone, for the monitor's share: what the
# box sends to every client, the one outstanding frame, refusals, the socket and its clients.
BLIND_35_MUTANTS = [
    ("blind-35: the box's acknowledgement reaches every client but the one whose frame it answers",
     [("src/monitor/box_share.cpp", r"acks\.empty\(\) \|\| client->id == answered_client \?",
       r"acks.empty() || client->id != answered_client ?")]),
    ("blind-35: a client over its bound of waiting frames is refused, yet its frame still goes to the box",
     [("src/monitor/box_share.cpp", r"return refuse\(client, QStringLiteral\(\"more than %1 frames waiting",
       r'refuse(client, QStringLiteral("more than %1 frames waiting')]),
    ("blind-35: a frame passed to the box still counts as waiting: a client is refused after eight frames in all",
     [("src/monitor/box_share.cpp", r"    --client->waiting;\n", r"")]),
    ("blind-35: the box's acknowledgement does not let the next waiting frame go; it waits the full 3 s",
     [("src/monitor/box_share.cpp", r"    if \(!acks\.empty\(\) && outstanding\)\n        answered\(\);\n", r"")]),
    ("blind-35: frames waiting when the port was lost reach the box later, once it is back and a client sends again",
     [("src/monitor/box_share.cpp", r"(away_reason = reason;\n)    queue\.clear\(\);\n", r"\g<1>")]),
    ("blind-35: when the port comes back, clients are sent a lost record (with the location as reason) instead of back",
     [("src/monitor/box_share.cpp", r"record_of\(share_place::record::back, where\)",
       r"record_of(share_place::record::lost, where)")]),
    ("blind-35: an acknowledged frame reaches the other clients garbled: the clearing starts one byte late",
     [("src/monitor/box_share.cpp", r"frame_start = std::max\(0, i - 1\);", r"frame_start = std::max(0, i);")]),
    ("blind-35: when any client leaves, the frames other clients have waiting are dropped",
     [("src/monitor/box_share.cpp", r"\[this\]\(const Waiting& w\) \{ return !find\(w\.client\); \}",
       r"[this](const Waiting& w) { return find(w.client); }")]),
    ("blind-35: tavolink_share_clients does not fall when a client leaves",
     [("src/monitor/box_share.cpp", r"(queue\.end\(\)\);\n)    clients_gauge\.Set\(client_count\(\)\);\n", r"\g<1>")]),
    ("blind-35: the share's passed and refused frame counters are swapped",
     [("src/monitor/box_share.cpp",
       r"passed\(families\.share_frames_passed\.Add\(labels\)\)\n    , refused\(families\.share_frames_refused\.Add\(labels\)\)",
       r"passed(families.share_frames_refused.Add(labels))\n    , refused(families.share_frames_passed.Add(labels))")]),
    ("blind-35: the share's socket is readable and writable by every user, not the owner and the group alone",
     [("src/monitor/share_server.cpp", r"QFile::ReadGroup \| QFile::WriteGroup\);",
       r"QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther);")]),
    ("blind-35: the monitor takes one connection more than its bound of 64",
     [("src/monitor/share_server.cpp", r"if \(connections\(\) >= most_clients\)", r"if (connections() > most_clients)")]),
    ("blind-35: a client holds back the last record the monitor sent until more bytes come",
     [("src/link/share_client.cpp", r"if \(in\.size\(\) - at < share_place::record::header_size \+ size\)",
       r"if (in.size() - at <= share_place::record::header_size + size)")]),
    ("blind-35: a refused client says the monitor stopped sharing, not why it was refused",
     [("src/link/share_client.cpp", r"            refused_why = QString::fromUtf8\(data\);\n", r"")]),
    ("blind-35: through a share whose port is away, the reason given is the port's location",
     [("src/link/share_client.cpp", r"answer\.value\(3\)", r"answer.value(2)")]),
    ("blind-35: a line never finds a monitor a user runs ($XDG_RUNTIME_DIR/tavolink/share.sock), only the service's",
     [("src/link/share_place.cpp", r"!user\.isEmpty\(\) && !places\.contains\(user\)",
       r"!user.isEmpty() && places.contains(user)")]),
    ("blind-35: when the monitor stops or refuses, a line that was open says nothing of the port lost",
     [("src/link/box_line.cpp", r"if \(was_open\)\n        emit lost\(reason\);", r"if (!was_open)\n        emit lost(reason);")]),
    ("blind-35: a relative path given to a command goes to the monitor as given, resolved in the monitor's directory",
     [("src/link/box_line.cpp", r"asked_for = is_path\(requested\) \? QFileInfo\(requested\)\.absoluteFilePath\(\) : requested;",
       r"asked_for = requested;")]),
    ("blind-35: a sharing monitor opens its ports read-only, so no client's frame reaches the box",
     [("src/ctl/monitor.cpp", r"sharing \? Box_link::Mode::talk : Box_link::Mode::listen",
       r"sharing ? Box_link::Mode::listen : Box_link::Mode::talk")]),
    ("blind-35: ports never marks a port shared: the monitor is asked by the adapter's serial number",
     [("src/ctl/commands.cpp", r"Share_client::shares\(port\.portName\(\)\)", r"Share_client::shares(port.serialNumber())")]),
]
MUTANTS += BLIND_35_MUTANTS

# Written by a helper who read only src/, the manual page and the API's description: the web server.
BLIND_37_MUTANTS = [
    ("blind-37: a PUT body of exactly 64 KiB, the size apply allows, is refused 400 as larger than 65536 bytes",
     [("src/monitor/web_server.cpp", r"request->body\.size\(\) \+ static_cast<qint64>\(\*body_size\) > settings_file::max_size", r"request->body.size() + static_cast<qint64>(*body_size) >= settings_file::max_size")]),
    ("blind-37: the browser's first request without a login counts as a failed login and wrong passwords do not: no 429 after repeated bad logins, and a page gets locked out after a few visits",
     [("src/monitor/web_server.cpp", r"if \(given\) // a browser", r"if (!given) // a browser")]),
    ("blind-37: with users configured, GET /metrics is served without a login (200 instead of 401)",
     [("src/monitor/web_server.cpp", r"if \(settings && !settings->users\.empty\(\)\) \{", r'if (settings && !settings->users.empty() && std::strcmp(url, "/metrics") != 0) {')]),
    ("blind-37: the Origin check is inverted: the server's own page gets 403 refused on every write, while another site's page may write",
     [("src/monitor/web_server.cpp", r"if \(!origin\.isEmpty\(\) && origin != own\)", r"if (!origin.isEmpty() && origin == own)")]),
    ("blind-37: every write is refused 415, even with Content-Type application/json",
     [("src/monitor/web_server.cpp", r'if \(type != "application/json" && !type\.startsWith', r'if (type != "application/json" || !type.startsWith')]),
    ("blind-37: a reload of --web-config that adds or removes users does not change whether writes are taken: writable and the 403 follow the file read at start, and with the users removed anyone writes without a login",
     [("src/monitor/web_server.cpp", r"return config && !config->settings\(\)->users\.empty\(\);", r"return serving && !serving->users.empty();")]),
    ("blind-37: /api/events sends the first event only; after it the page is never updated live",
     [("src/monitor/web_server.cpp", r"        \+\+event_number;\n", r"")]),
    ("blind-37: a port with slashes, percent-encoded as one segment (%2Fdev%2FttyUSB0), is split at its slashes: /api/boxes/PORT and its settings get 404",
     [("src/monitor/web_server.cpp", r"const QStringList parts = QString::fromUtf8\(url\)\.mid\(1\)\.split\(QLatin1Char\('/'\)\);", r"const QStringList parts = QUrl::fromPercentEncoding(QByteArray(url)).mid(1).split(QLatin1Char('/'));")]),
    ("blind-37: each event stream keeps one of the 32 request places for good: after 32 page loads every request, scrapes too, gets 503",
     [("src/monitor/web_server.cpp", r"        --server\.answering;\n", r"")]),
    ("blind-37: a port this monitor does not have, in /api/boxes/PORT, gets 400 instead of 404 no such box",
     [("src/monitor/web_server.cpp", r'write_outcome\(MHD_HTTP_NOT_FOUND, QStringLiteral\("no such box"\)', r'write_outcome(MHD_HTTP_BAD_REQUEST, QStringLiteral("no such box")')]),
    ("blind-37: a box's crc_errors comes as a string (\"12\") instead of a JSON number",
     [("src/monitor/web_boxes.cpp", r"crc_errors = static_cast<double>\(\*view\.numbers\.crc_errors\);", r"crc_errors = QString::number(*view.numbers.crc_errors);")]),
    ("blind-37: the write log line on standard error does not name the user (\"written by a user on the web page\")",
     [("src/monitor/web_boxes.cpp", r"\.arg\(port, user, changes\.isEmpty\(\)", r'.arg(port, QStringLiteral("a user"), changes.isEmpty()')]),
    ("blind-37: a bad settings file is answered 400 bad file, yet a settings frame still goes to the box",
     [("src/monitor/web_boxes.cpp", r'if \(!fault\.isEmpty\(\)\)\n            return done\(write_outcome\(400, QStringLiteral\("bad file"\), fault\)\);', r'if (!fault.isEmpty())\n            done(write_outcome(400, QStringLiteral("bad file"), fault));')]),
    ("blind-37: a write the box acknowledges is answered 200 applied at once, even when the box then reports other values (should be 409 not applied)",
     [("src/monitor/web_boxes.cpp", r"if \(applied\(link\.last_whole\(\)\)\)", r"if (acked)")]),
    ("blind-37: with several --port, a write to any box's path goes to the first box; the named box is not written and its answer is 409",
     [("src/monitor/web_boxes.cpp", r"sources\[index\]\.share->submit\(", r"sources.front().share->submit(")]),
    ("blind-37: a box that never acknowledges a web write is answered 409 not applied some 6 s later instead of 504 not acknowledged",
     [("src/monitor/box_share.cpp", r"\[this\] \{ answered\(false\); \}", r"[this] { answered(true); }")]),
    ("blind-37: a web write in flight when the box's port is lost is never answered (the request hangs) instead of 504",
     [("src/monitor/box_share.cpp", r"    if \(owner_answered\)\n        unanswered\.push_back\(std::exchange\(owner_answered, \{\}\)\);\n", r"")]),
    ("blind-37: status.error_count (in the API and status --json) is the text \"12\" instead of the number 12",
     [("src/ctl/status_view.cpp", r'\{QStringLiteral\("error_count"\), json\(n\.crc_errors\)\}', r'{QStringLiteral("error_counts"), json(n.crc_errors)}')]),
    ("blind-37: drift.match reads true or false while the --expect file has a fault, instead of null",
     [("src/ctl/expected_settings.cpp", r"if \(reported\.isEmpty\(\) && last\)", r"if (last)")]),
    ("blind-37: a box's drift in the API and page is always empty (expected null) even under --expect",
     [("src/ctl/monitor.cpp", r"boxes\[i\]->share\.get\(\), boxes\[i\]->expected\.get\(\)\}", r"boxes[i]->share.get(), nullptr}")]),
]
MUTANTS += BLIND_37_MUTANTS


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
    parser.add_argument("--tests", help="run only the tests whose name matches this (ctest -R), for a quicker look")
    args = parser.parse_args()

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    work = args.keep or tempfile.mkdtemp(prefix="tavolink-mutate.")
    tree, build = os.path.join(work, "tree"), os.path.join(work, "build")
    if not os.path.isdir(tree):
        subprocess.run(["git", "-C", root, "worktree", "add", "--detach", tree, "HEAD"], check=True)
    subprocess.run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Debug",
                    "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"], check=True, stdout=subprocess.DEVNULL)
    ctest = ["ctest", "--test-dir", build, "-E", "fuzz_replay|code_format|install_layout|desktop_entry|metainfo|manual",
             "--stop-on-failure", "--timeout", "120"] + (["-R", args.tests] if args.tests else [])
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
