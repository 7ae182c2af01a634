// A Modbus RTU slave on a fresh pseudo-terminal, for the demo and the end-to-end tests.
//
// Prints the device path that a master opens (for example /dev/pts/4) as its first line on
// stdout, then serves until SIGTERM, SIGINT or the death of its parent. Linux only.
//
//   vek-demo-slave [--station N] [--lively]
//
// Input registers 30001..30010 hold 7, 42, -2, 32767, -32768, -32513, 0, 1, 2, 3; holding
// registers 40001..42000 hold 100, 4660 and then zeros, and remember writes. Other addresses
// answer exception 02. With --lively, 30002 counts up once a second.
#include <modbus/modbus.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void Stop(int)
{
    g_stop = 1;
}

int Usage()
{
    std::fprintf(stderr, "usage: vek-demo-slave [--station N] [--lively]\n");
    return 2;
}

modbus_t* NewContext(int fd, int station)
{
    modbus_t* ctx = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
    if (ctx) {
        modbus_set_slave(ctx, station);
        modbus_set_socket(ctx, fd);
    }
    return ctx;
}

} // namespace

int main(int argc, char** argv)
{
    int station = 1;
    bool lively = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--station") == 0 && i + 1 < argc)
            station = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--lively") == 0)
            lively = true;
        else
            return Usage();
    }

    // Tests start us as a child: never outlive them.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::signal(SIGTERM, Stop);
    std::signal(SIGINT, Stop);

    int master = -1;
    int slave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    // Holding the slave side open keeps the master readable while the program under test has
    // its port closed between commands (a pty without any slave opener reads as EIO).
    std::printf("%s\n", name);
    std::fflush(stdout);

    modbus_t* ctx = NewContext(master, station);
    modbus_mapping_t* map = modbus_mapping_new_start_address(0, 0, 0, 0, 0, 2000, 0, 10);
    if (!ctx || !map) {
        std::fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
        return 1;
    }

    const int inputs[10] = {7, 42, -2, 32767, -32768, -32513, 0, 1, 2, 3};
    for (int i = 0; i < 10; ++i)
        map->tab_input_registers[i] = static_cast<uint16_t>(inputs[i]);
    map->tab_registers[0] = 100;
    map->tab_registers[1] = 4660;

    std::time_t last = std::time(nullptr);
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!g_stop) {
        pollfd pfd{master, POLLIN, 0};
        const int ready = poll(&pfd, 1, 100);
        if (lively && std::time(nullptr) != last) {
            last = std::time(nullptr);
            ++map->tab_input_registers[1];
        }
        if (ready <= 0 || !(pfd.revents & POLLIN))
            continue;
        const int rc = modbus_receive(ctx, query);
        if (rc > 0) {
            modbus_reply(ctx, query, rc, map);
        } else if (rc == 0) {
            // A request for another station. libmodbus would now also ignore the next frame as
            // that station's answer, but on this line no other station answers.
            modbus_free(ctx);
            ctx = NewContext(master, station);
        } else {
            modbus_flush(ctx); // garbage or a broken frame: start afresh with the next request
        }
    }

    modbus_mapping_free(map);
    modbus_free(ctx); // the pty is ours, not libmodbus's: no modbus_close
    close(slave);
    close(master);
    return 0;
}
