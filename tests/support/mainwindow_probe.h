#pragma once

// The one place tests, benchmarks and fuzzers reach inside the tool, for what no door shows.

#include "frame_codec.h"
#include "mainwindow.h"
#include "mainwindow_431.h"
#include "serial_port.h"

#include <QTimer>

// Declared a friend by MainWindow and Serial_port.
struct MainWindow_probe
{
    MainWindow& w;

    MainWindow_431& w431() const { return *w.window_431; }

    QTimer& link_timer() const { return *w.link_timer; }

    QTimer& ack_timer() const { return w.serial_port->ack_timer; }

    Serial_port& serial_port() const { return *w.serial_port; }

    const Parcer& parcer() const { return *w.parcer; }

    const frame::Assembler& assembler() const { return w.assembler; }

    // Writes what the tool has handed to the port so far, even if the port closes next.
    void flush_line() const { w.serial_port->line.flush(); }

    // Bytes read from the line, handed over by a direct call: no meta-object dispatch.
    void receive(const QByteArray& bytes) const { w.slot_serial_port_read(bytes); }

    // One link-watchdog period, run by hand.
    void tick() const { QMetaObject::invokeMethod(w.link_timer, "timeout"); }
};
