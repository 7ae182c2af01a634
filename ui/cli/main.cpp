// vek-cli: the panel's read and write from a terminal or a script, a scan for the station,
// speed and parity of a device, and a listener to other devices' conversation.
#include "listen.h"
#include "options.h"
#include "platform.h"
#include "report.h"
#include "scan.h"
#include "watch.h"

#include "panel/traffic_log.h"

#include <csignal>
#include <cstdio>
#include <variant>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt()
{
    g_interrupted = 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::variant<Options, std::string> parsed = ParseArguments(Arguments(argc, argv));
    if (const std::string* why = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "vek-cli: %s (vek-cli --help tells more)\n", why->c_str());
        return kExitUsage;
    }
    Options options = std::get<Options>(parsed);
    if (options.verb == Verb::Help) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    if (options.verb == Verb::Version) {
        std::printf("vek-cli %s\n", VEK_VERSION);
        return kExitOk;
    }

#ifdef SIGPIPE
    // A reader that goes away (`| head`) ends a watch through the failed write, quietly.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::unique_ptr<Platform> platform = MakePlatform(argc, argv);
    platform->CatchInterrupts(OnInterrupt);
    Line line{platform->Port(), platform->Wait()};
    line.wait.abandoned = [] { return g_interrupted != 0; };
    if (options.verb == Verb::Scan)
        return Scan(line, options, IsTerminal(stderr));
    if (options.verb == Verb::Watch) {
        const bool terminal = IsTerminal(stdout);
        if (!options.formatGiven)
            options.format = terminal ? Format::Table : Format::Csv;
        return Watch(line, options, terminal);
    }
    if (options.verb == Verb::Listen)
        return Listen(line, options, stdout, stderr);

    const Outcome outcome = Run(line, options.command);
    if (const auto error = LogCommand(options.portName, options.command, outcome))
        std::fprintf(stderr, "vek-cli: log not written: %s\n", error->c_str());
    if (outcome.result == Result::Abandoned) {
        // Given up during its wait, the command leaves the port open.
        line.port.Close();
        std::fputs("vek-cli: interrupted\n", stderr);
        return kExitInterrupted;
    }
    PrintOutcome(options, outcome);
    return StatusOf(outcome.result);
}
