// Helpers both fuzz targets share.
#include "fuzz_support.h"

#include "fuzz_target.h"

#include <QApplication>
#include <QSet>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace fuzz_support {

namespace {

const char* target_name = "fuzz";

// The tool logs several debug lines per frame; at fuzzing speed they would bury
// everything else. Qt's own warnings are shown, each text once.
void filter_messages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    static QSet<QString> shown;
    if (type == QtWarningMsg) {
        if (shown.contains(message) || shown.size() > 100)
            return;
        shown.insert(message);
    }
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

void print_totals()
{
    std::fprintf(stderr, "%s:", target_name);
    const char* separator = " ";
    for (const fuzz_target::Count& count : fuzz_target::totals) {
        std::fprintf(stderr, "%s%llu %s", separator, static_cast<unsigned long long>(count.value), count.what);
        separator = ", ";
    }
    std::fprintf(stderr, "\n");
}

} // namespace

void start_application(const char* name)
{
    target_name = name;
    // Never the user's display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(filter_messages);
    std::atexit(print_totals);
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    // Never destroyed: at exit Qt's own globals may already be gone.
    new QApplication(argc, argv);
}

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "%s: broken: %s\n", target_name, what);
    std::fflush(stderr);
    std::abort();
}

void append_frame_record(QByteArray& records, bool crc_ok, const uint8_t* payload, uint8_t length)
{
    records.append(crc_ok ? '\1' : '\0');
    records.append(static_cast<char>(length));
    records.append(reinterpret_cast<const char*>(payload), length);
}

} // namespace fuzz_support
