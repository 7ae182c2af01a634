#include "panel/command.h"

#include <algorithm>

namespace {

bool IsRegisterTable(const RegisterRef& ref)
{
    return ref.AreaDigit == kInputRegisterArea || ref.AreaDigit == kHoldingRegisterArea;
}

} // namespace

std::variant<Request, std::string> RequestOf(const Command& command)
{
    const bool window = command.reach == Reach::Registers;
    Request request{command.station, 0, command.ref, command.count, {}};
    std::uint16_t count = command.count;
    if (command.kind == CommandKind::Read) {
        const std::optional<std::uint8_t> function = ReadFunctionFor(command.ref);
        if (window && !IsRegisterTable(command.ref))
            return "the address is neither an input register (3xxxx) nor a holding register (4xxxx)";
        if (!function)
            return "the address is not a coil (0xxxx), discrete input (1xxxx), input register "
                   "(3xxxx) or holding register (4xxxx)";
        request.function = *function;
    } else {
        const bool several = !command.values.empty();
        const std::optional<std::uint8_t> function = WriteFunctionFor(command.ref, several);
        if (window && (several || command.ref.AreaDigit != kHoldingRegisterArea))
            return "the address is not a holding register (4xxxx)";
        if (!function)
            return "the address is neither a coil (0xxxx) nor a holding register (4xxxx)";
        request.function = *function;
        request.data = command.value;
        request.values = command.values;
        count = several ? static_cast<std::uint16_t>(std::min<std::size_t>(command.values.size(), 65535))
                        : 1;
    }
    const std::uint16_t most = MostCount(request.function);
    if (count < 1 || count > most)
        return "one request carries 1 to " + std::to_string(most) + " of these, not " +
               std::to_string(count);
    if (AddressOf(command.ref) + count > 65536)
        return "the block runs past the end of its table (address 65535)";
    return request;
}
