// The commands a person types on standard input while the box runs, one a line.
#include "commands.h"

#include "console.h"
#include "numbers.h"
#include "simulator.h"

namespace boxsim {

Commands::Commands(Simulator* simulator)
    : QObject(simulator)
    , simulator(simulator)
{
    connect(input, &QSocketNotifier::activated, this, &Commands::read_input);
}

void Commands::read_input()
{
    char chunk[512];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
        input->setEnabled(false); // end of input: keep running on the options
        return;
    }
    typed.append(chunk, static_cast<int>(n));
    int end;
    while ((end = typed.indexOf('\n')) >= 0) {
        const QString command = QString::fromLocal8Bit(typed.left(end)).simplified();
        typed.remove(0, end + 1);
        if (!command.isEmpty())
            obey(command);
    }
}

void Commands::obey(const QString& command)
{
    const QStringList words = command.split(QLatin1Char(' '));
    const QString verb = words.first();
    const QString arg = words.value(1);
    uint n = 0;
    double seconds = 0.0;
    auto on_off = [&arg](bool& value) {
        if (arg != QLatin1String("on") && arg != QLatin1String("off"))
            return false;
        value = arg == QLatin1String("on");
        return true;
    };
    bool flag = false;
    Box& box = simulator->box();

    if (const Model named = models::by_number(verb)) {
        simulator->become(named);
    } else if (verb == QLatin1String("switch")) {
        simulator->become(next_model(box.model()));
    } else if (verb == QLatin1String("input") && on_off(flag)) {
        box.set_input_present(flag);
        say(flag ? QStringLiteral("input present") : QStringLiteral("input absent"));
    } else if (verb == QLatin1String("ack") && on_off(flag)) {
        box.set_acknowledge(flag);
        say(flag ? QStringLiteral("acknowledging settings") : QStringLiteral("not acknowledging settings"));
    } else if (verb == QLatin1String("silence") && parse_seconds(arg, seconds)) {
        simulator->go_silent(seconds);
    } else if (verb == QLatin1String("version") && parse_number(arg, 255, n)) {
        box.set_protocol_version(static_cast<uint8_t>(n));
        say(QStringLiteral("protocol version 0x%1").arg(n, 2, 16, QLatin1Char('0')));
    } else if (verb == QLatin1String("variant") && parse_number(arg, 255, n)) {
        box.set_variant(static_cast<uint8_t>(n));
        say(QStringLiteral("variant %1").arg(n));
    } else if (verb == QLatin1String("errors") && parse_number(arg, 0xFFFF, n)) {
        box.set_input_error_count(static_cast<uint16_t>(n));
        say(QStringLiteral("input CRC error count %1").arg(n));
    } else if (verb == QLatin1String("set") && parse_number(words.value(2), 255, n)
               && box.set_setting(arg, static_cast<int>(n))) {
        say(QStringLiteral("box settings now: %1").arg(describe(box.model(), box.settings())));
    } else if (verb == QLatin1String("stats")) {
        say(simulator->summary());
    } else if (verb == QLatin1String("quit")) {
        simulator->finish(QStringLiteral("quit"));
    } else if (verb == QLatin1String("help")) {
        say(QStringLiteral("commands: %1 | switch | input on|off | ack on|off | silence <s> | version <byte> | "
                           "variant <n> | errors <n> | set <setting> <value> | stats | quit")
                .arg(models::numbers(QStringLiteral(" | "), QStringLiteral(" | "))));
        say(QStringLiteral("settings: %1").arg(Box::setting_names().join(QLatin1Char(' '))));
    } else {
        say(QStringLiteral("unknown command \"%1\" (try help)").arg(command));
    }
}

} // namespace boxsim
