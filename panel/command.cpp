#include "panel/command.h"

std::variant<Request, std::string> RequestOf(const Command& command)
{
    Request request{command.station, 0, command.ref, 1};
    if (command.kind == CommandKind::Read) {
        const std::optional<std::uint8_t> function = ReadFunctionFor(command.ref);
        if (!function)
            return "neither an input register (3xxxx) nor a holding register (4xxxx)";
        request.function = *function;
    } else {
        const std::optional<std::uint8_t> function = WriteFunctionFor(command.ref);
        if (!function)
            return "not a holding register (4xxxx)";
        request.function = *function;
        request.data = command.value;
    }
    return request;
}
