#pragma once

// tavolinkctl's one-shot commands, and the options of all: each command returns its exit status, having printed its
// result on standard output and any failure on standard error.

#include <QString>
#include <QStringList>

struct Command_options
{
    QString port;          // --port, empty for the one listed port
    QStringList ports;     // apply and monitor: every --port, one a box
    QStringList expect;    // monitor: every --expect, as PORT=FILE
    QString listen;        // monitor: --listen
    QString web_config;    // monitor: --web-config
    int timeout_ms = 3000; // --timeout: how long to wait for the first status frame
    bool json = false;     // --json
    bool dry_run = false;  // --dry-run
    QString file;          // save, apply and check
};

int list_ports(const Command_options& options);
int show_status(const Command_options& options);
int save_settings(const Command_options& options);
int apply_settings(const Command_options& options);
int check_settings(const Command_options& options);
int reset_errors(const Command_options& options);
